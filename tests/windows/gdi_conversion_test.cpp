// GDI's DIB conversion against our own, pixel for pixel, on pictures of every
// uncompressed depth and both run-length codings.
#include "image/image.h"
#include "platform/dib.h"

#include "tests/image/bmp_files.h"

#include <random>

namespace {

using bmp::Bytes;
using bmp::Layout;

// Run-length data that uses every escape: runs, literals (odd and even
// lengths), end of line, jumps right and up (leaving pixels no run reaches),
// and the end mark, sometimes before the last row.
Bytes randomRunLength(int width, int height, bool nibbles, unsigned seed) {
    std::mt19937 random(seed);
    const unsigned limit = nibbles ? 16 : 256;
    Bytes data;
    int x = 0, y = 0;
    while (y < height) {
        const unsigned kind = random() % 8;
        if (kind == 0 || x >= width) {
            data.insert(data.end(), {0, 0});
            x = 0;
            ++y;
        } else if (kind == 1 && y + 1 < height) {
            const uint8_t right = uint8_t(random() % 3), up = uint8_t(random() % 2);
            data.insert(data.end(), {0, 2, right, up});
            x += right;
            y += up;
        } else if (kind <= 4) {
            const uint8_t count = uint8_t(1 + random() % 5);
            data.insert(data.end(), {count, uint8_t(random() % 256 & (nibbles ? 0xFF : limit - 1))});
            x += count;
        } else {
            const uint8_t count = uint8_t(3 + random() % 5);
            data.insert(data.end(), {0, count});
            const size_t bytes = nibbles ? (count + 1) / 2 : count;
            for (size_t i = 0; i < bytes; ++i) data.push_back(uint8_t(random() % 256 & (nibbles ? 0xFF : limit - 1)));
            if (bytes % 2) data.push_back(0);
            x += count;
        }
    }
    data.insert(data.end(), {0, 1});
    return data;
}

TEST(GdiConversion, MatchesOurOwnOnEveryDepthAndCoding) {
    const plat::DibConversion gdi = plat::systemDibConversion();
    ASSERT_NE(gdi, nullptr);
    struct Case {
        int width, height, bits;
        uint32_t compression, headerSize, entries;
        bool topDown;
    } const cases[] = {
        {7, 3, 8, 0, 40, 256, false},  {9, 2, 8, 0, 40, 2, true},    {5, 3, 4, 0, 40, 16, false},
        {19, 3, 1, 0, 40, 2, false},   {9, 2, 1, 0, 40, 1, true},    {7, 5, 24, 0, 40, 0, false},
        {3, 2, 32, 0, 40, 0, true},    {13, 4, 16, 0, 40, 0, false}, {33001, 2, 4, 0, 12, 16, false},
        {3, 3, 8, 0, 12, 256, false},  {64, 64, 24, 0, 40, 0, true}, {17, 9, 8, kDibRle8, 40, 256, false},
        {23, 7, 8, kDibRle8, 40, 7, false}, {17, 9, 4, kDibRle4, 40, 16, false},
        {30, 11, 4, kDibRle4, 40, 5, false},
    };
    unsigned seed = 100;
    for (const Case& c : cases) {
        for (int variant = 0; variant < 3; ++variant) {
            SCOPED_TRACE(testing::Message() << c.bits << " bits, compression " << c.compression << ", " << c.width
                                            << " x " << c.height << ", variant " << variant);
            Layout s{c.width, c.topDown ? -c.height : c.height, uint16_t(c.bits)};
            s.headerSize = c.headerSize;
            s.compression = c.compression;
            s.table = bmp::randomPicture(int(c.entries), 1, 0x1000000, ++seed).values;
            s.colorsUsed = c.headerSize == 40 ? c.entries : 0;
            if (c.bits == 16) {  // any 16 bits per pixel: the top bit is ignored
                s.data = Bytes(size_t(c.width * 2 + 3) / 4 * 4 * size_t(c.height));
                std::mt19937 random(++seed);
                for (uint8_t& b : s.data) b = uint8_t(random());
            } else if (c.compression == 0) {
                const uint32_t limit = c.bits > 8 ? 0x1000000 : 1u << c.bits;
                s.data = bmp::store(bmp::randomPicture(c.width, c.height, limit, ++seed), c.bits, c.topDown);
            } else {
                s.data = randomRunLength(c.width, c.height, c.compression == kDibRle4, ++seed);
                s.imageSize = variant == 0 ? uint32_t(s.data.size()) : 0;  // 0: filled in too small
            }
            const Bytes file = bmp::encode(s);
            DibSource source;
            ASSERT_EQ(readDib(file.data(), file.size(), &source), nullptr);
            const size_t size = size_t(c.width) * size_t(c.height) * 3;
            Bytes ours(size, 0x5A), theirs(size, 0xA5);
            EXPECT_TRUE(convertDib(source, ours.data()));
            EXPECT_EQ(gdi(source.info, source.bits, source.bitsLength, theirs.data()), nullptr);
            std::free(source.info);
            size_t differing = 0;
            for (size_t i = 0; i < size; ++i) differing += ours[i] != theirs[i];
            EXPECT_EQ(differing, 0u);
        }
    }
}

}  // namespace
