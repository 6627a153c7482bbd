// dib_image_test.cpp - the BMP loader against hand-made files, good and broken.
#include "image/image.h"

#include "platform/whole_file.h"
#include "tests/image/bmp_files.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

using bmp::Bytes;
using bmp::Layout;

std::vector<uint32_t> randomTable(size_t entries, unsigned seed) {
    return bmp::randomPicture(int(entries), 1, 0x1000000, seed).values;
}

class DibLoader : public bmp::ScriptedTest {
protected:
    struct Result {
        bool ok = false;
        int32_t width = 0, height = 0;
        Bytes pixels;
    };
    static Result loadPath(const std::string& path) {
        ImageRGB* image = loadDibImage(path.c_str());
        if (!image) return {};
        Result r{true, image->width, image->height,
                 Bytes(image->pixels, image->pixels + size_t(image->width) * image->height * 3)};
        std::free(image->pixels);
        std::free(image);
        return r;
    }
    Result load(const Bytes& file) const { return loadPath(write("picture.bmp", file)); }

    // Refused through the file and, where AddressSanitizer sees every byte,
    // from a heap block of exactly the file's length. `early`: by readDib
    // itself, before the output array would be allocated.
    void expectRejected(const Bytes& file, const char* text = "Image file conversion error.", bool early = false) {
        plat::resetScript();
        EXPECT_FALSE(load(file).ok);
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].text, text);
        EXPECT_EQ(boxes()[0].caption, "Error");
        EXPECT_EQ(boxes()[0].type, plat::MB_OK);

        auto* exact = static_cast<uint8_t*>(std::malloc(file.size()));
        std::memcpy(exact, file.data(), file.size());
        DibSource source;
        if (const char* failure = readDib(exact, file.size(), &source)) {
            if (early) {
                EXPECT_STREQ(failure, text);
            }
        } else {
            EXPECT_FALSE(early) << "refused only after the output array was allocated";
            const int64_t rows = source.info->height < 0 ? -int64_t{source.info->height} : source.info->height;
            auto* rgb = static_cast<uint8_t*>(std::malloc(size_t(source.info->width * rows * 3)));
            EXPECT_FALSE(convertDib(source, rgb));
            std::free(rgb);
            std::free(source.info);
        }
        std::free(exact);
    }
};

TEST_F(DibLoader, TrueColourRowsLoseTheirPaddingAndTurnToRgb) {
    Layout s{5, 2};
    for (int i = 0; i < 32; ++i) s.data.push_back(uint8_t(i % 16 == 15 ? 0xAA : i + 1));
    const auto r = load(bmp::encode(s));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.width, 5);
    EXPECT_EQ(r.height, 2);
    ASSERT_EQ(r.pixels.size(), 30u);
    for (int px = 0; px < 10; ++px) {
        const int stored = px / 5 * 16 + px % 5 * 3 + 1;  // blue, green, red in the file
        EXPECT_EQ(r.pixels[3 * px], stored + 2);
        EXPECT_EQ(r.pixels[3 * px + 1], stored + 1);
        EXPECT_EQ(r.pixels[3 * px + 2], stored);
    }
}

TEST_F(DibLoader, EveryLayoutGivesItsPictureUpright) {
    struct Case {
        int width, height, bits;
        uint32_t headerSize, colorsUsed, entries;
        bool fileHeader;
    } const cases[] = {
        {7, 3, 8, 40, 0, 256, true},      {9, 2, 8, 40, 2, 2, true},   {5, 3, 4, 40, 0, 16, true},
        {19, 3, 1, 40, 0, 2, true},       {9, 2, 1, 40, 1, 1, true},   {7, 5, 24, 40, 0, 0, true},
        {3, 2, 32, 40, 0, 0, true},       {2, 2, 24, 40, 3, 3, true},  // a table the pixels do not use
        {40, 3, 24, 40, 0, 0, true},      // 24-bit rows long enough for every row converter
        {33001, 2, 4, 12, 0, 16, true},   // core header: 16-bit width past 32767
        {3, 3, 8, 12, 0, 256, false},     {6, 2, 8, 40, 0, 256, false},  // packed: data at 40 + 1024
        {9, 2, 8, 40, 3000, 3000, true},  // a colour table longer than the loader's first read
        {1001, 70, 8, 40, 0, 256, true},  // padded rows, more than one buffer of them
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.width << " x " << c.height << ", header " << c.headerSize);
        Layout s{c.width, c.height, uint16_t(c.bits)};
        s.headerSize = c.headerSize;
        s.fileHeader = c.fileHeader;
        s.colorsUsed = c.colorsUsed;
        s.gap = 6;  // the data is found through bfOffBits, not right after the table
        s.table = randomTable(c.entries, ++seed);
        const auto picture = bmp::randomPicture(c.width, c.height, c.bits > 8 ? 0x1000000 : 1u << c.bits, ++seed);
        const auto want = bmp::expected(picture, c.bits > 8 ? std::vector<uint32_t>{} : s.table);
        for (bool topDown : {false, true}) {
            if (topDown && c.headerSize == 12) continue;
            s.height = topDown ? -c.height : c.height;
            s.data = bmp::store(picture, c.bits, topDown);
            const auto r = load(bmp::encode(s));
            ASSERT_TRUE(r.ok);
            EXPECT_EQ(r.width, c.width);
            EXPECT_EQ(r.height, c.height);
            EXPECT_EQ(r.pixels, want);
        }
    }
    EXPECT_TRUE(boxes().empty());
}

TEST_F(DibLoader, SixteenBitAndRunLengthData) {
    Layout s{3, 1, 16, {0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x42, 0, 0}};  // white, red, 5-5-5 grey 16
    auto r = load(bmp::encode(s));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.pixels, (Bytes{255, 255, 255, 255, 0, 0, 132, 132, 132}));

    // Row 0: literal 2 1 2 (padded); a jump one row up; one 2 at x = 3; end
    // of line; row 2: a run of five 1s, the last one past the edge; end.
    s = Layout{4, 3, 8, {0, 3, 2, 1, 2, 0, 0, 2, 0, 1, 1, 2, 0, 0, 5, 1, 0, 1}, {0, 0x112233, 0x445566}};
    s.compression = kDibRle8;
    s.colorsUsed = 3;
    r = load(bmp::encode(s));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.pixels, bmp::expected({4, 3, {1, 1, 1, 1, 0, 0, 0, 2, 2, 1, 2, 0}}, s.table));

    s.width = 8;
    s.height = 1;
    s.bitCount = 4;
    s.compression = kDibRle4;
    s.data = {5, 0x12, 0, 3, 0x21, 0x20, 0, 1};  // 1 2 1 2 1, then literal 2 1 2
    r = load(bmp::encode(s));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.pixels, bmp::expected({8, 1, {1, 2, 1, 2, 1, 2, 1, 2}}, s.table));
    EXPECT_TRUE(boxes().empty());
}

TEST_F(DibLoader, WorkingHeaderFillIns) {
    Layout s{5, -3, 4, Bytes(12), randomTable(16, 5)};
    for (uint32_t headerSize : {40u, 12u}) {
        for (uint32_t imageSize : {0u, 1234u}) {
            s.headerSize = headerSize;
            s.height = headerSize == 12 ? 3 : -3;
            s.imageSize = imageSize;
            const Bytes file = bmp::encode(s);
            DibSource source;
            ASSERT_EQ(readDib(file.data(), file.size(), &source), nullptr);
            const bool given = headerSize == 40 && imageSize;
            EXPECT_EQ(source.info->imageSize, given ? imageSize : 9u);  // 3 bytes a row, unpadded
            EXPECT_EQ(source.info->colorsUsed, 16u);
            EXPECT_EQ(source.info->height, s.height);
            uint32_t last;  // core entries widen to blue, green, red, 0
            std::memcpy(&last, reinterpret_cast<const uint8_t*>(source.info + 1) + 4 * 15, 4);
            EXPECT_EQ(last, s.table[15]);
            std::free(source.info);
        }
    }
}

TEST_F(DibLoader, FailureTextsAndPaths) {
    Layout s{1, 1, 24, Bytes(4)};
    for (uint32_t size : {108u, 124u}) {
        s.headerSize = size;
        expectRejected(bmp::encode(s), "Unknown DIB file format.");
        EXPECT_EQ(boxes()[0].owner, plat::platform().getFocus());
    }
    std::vector<std::string> paths = bmp::specialFiles(folder);  // none of them may stall the loader
    const std::string fifo = paths[0];
    paths.insert(paths.end(), {(folder / "absent.bmp").string(), write("empty.bmp", {}),
                               (folder / (std::string(400, 'x') + ".bmp")).string()});
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        plat::resetScript();
        EXPECT_FALSE(bmp::withoutStall(fifo, [&] { return loadPath(path); }).ok);
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].text, ("Failed to open DIB file " + path + ".\n").substr(0, 255));
        EXPECT_EQ(boxes()[0].caption, "Error");
    }
    s.headerSize = 40;
    write("sub/dir/pic.bmp", bmp::encode(s));
    EXPECT_TRUE(loadPath(folder.string() + "\\sub/dir\\pic.bmp").ok);
}

TEST_F(DibLoader, TruncatedFilesAreRefusedAtEveryLength) {
    Layout s{5, 2, 24, Bytes(32, 7)};
    std::vector<Bytes> files = {bmp::encode(s)};
    s = Layout{5, 2, 8, Bytes(16, 1), {0xFF0000, 0x0000FF}};
    s.colorsUsed = 2;
    s.gap = 3;
    files.push_back(bmp::encode(s));
    s.compression = kDibRle8;
    s.data = {2, 1, 0, 3, 1, 0, 1, 0, 0, 0, 0, 2, 1, 0, 0, 1};
    files.push_back(bmp::encode(s));
    s = Layout{5, 2, 4, Bytes(8, 0x12), randomTable(16, 3)};
    s.headerSize = 12;
    s.fileHeader = false;
    files.push_back(bmp::encode(s));
    for (const Bytes& file : files) {
        ASSERT_TRUE(load(file).ok);
        for (size_t length = 1; length < file.size(); ++length) {
            SCOPED_TRACE(length);
            expectRejected(Bytes(file.begin(), file.begin() + std::ptrdiff_t(length)));
        }
    }
}

TEST_F(DibLoader, InconsistentHeadersAreRefused) {
    const Bytes endOnly = {0, 1};  // run-length data that claims nothing, so only the size can be wrong
    const std::vector<std::function<void(Layout&)>> faults = {
        [](Layout& s) { s.width = 0; },
        [](Layout& s) { s.height = 0; },
        [](Layout& s) { s.width = -4; },
        [](Layout& s) { s.height = INT_MIN; },
        [&](Layout& s) { s.compression = kDibRle8, s.data = endOnly, s.width = s.height = INT_MAX; },
        [&](Layout& s) { s.compression = kDibRle8, s.data = endOnly, s.width = 1 << 14, s.height = (1 << 12) + 1; },
        [](Layout& s) { s.headerSize = 12, s.width = s.height = 65535; },
        [](Layout& s) { s.colorsUsed = 0xFFFF; },
        [](Layout& s) { s.colorsUsed = 0xFFFFFFFF; },
        [](Layout& s) { s.bitCount = 0; },
        [](Layout& s) { s.bitCount = 7; },
        [](Layout& s) { s.compression = 3; },
        [](Layout& s) { s.compression = kDibRle8, s.bitCount = 24; },
        [](Layout& s) { s.compression = kDibRle8, s.height = -2; },
        [](Layout& s) { s.compression = kDibRle8, s.data = {0, 5, 1, 1}; },                      // literal past the end
        [](Layout& s) { s.compression = kDibRle4, s.bitCount = 4, s.data = {4, 0x11, 0, 0, 0, 2}; },  // cut jump
        [](Layout& s) { s.compression = kDibRle8, s.data = {4, 1, 0, 0, 4, 1}; },                // no end mark
    };
    for (size_t i = 0; i < faults.size(); ++i) {
        SCOPED_TRACE(i);
        Layout s{4, 2, 8, Bytes(8, 3), randomTable(256, 8)};
        faults[i](s);
        expectRejected(bmp::encode(s));
    }

    // Sizes the data cannot fill, and next to each the largest one it can,
    // which loads. Run-length data need not fill its picture at all: a few
    // jumps and line ends make a valid, mostly blank picture of any size up to
    // the ceiling. `padTo`: the file is made that long (a hole of zeros).
    const size_t rowsOf1Bit = 4096 / 8 * 4096;  // 4096 rows of 4096 pixels at one bit
    auto endThen = [](size_t bytes) {
        Bytes data(bytes, 0);
        data[1] = 1;
        return data;
    };
    Bytes jumps;  // 15 jumps of 255 rows, then the end: 62 bytes reach 3825 rows
    for (int i = 0; i < 15; ++i) jumps.insert(jumps.end(), {0, 2, 0, 255});
    jumps.insert(jumps.end(), {0, 1});
    Bytes rowEnds;  // every row ended after one pixel
    for (int i = 0; i < 1024; ++i) rowEnds.insert(rowEnds.end(), {1, 1, 0, 0});
    rowEnds.insert(rowEnds.end(), {0, 1});
    struct Claim {
        int32_t width, height;
        uint16_t bits;
        uint32_t compression;
        Bytes data;
        bool fits;
        size_t padTo = 0;
    } const claims[] = {
        {8192, 8192, 8, kDibRle8, endOnly, false},  // 64 bytes once took 200 MB
        {4097, 4096, 8, kDibRle8, endOnly, false},
        {4096, 4096, 8, kDibRle8, endOnly, true},   // the largest size taken
        {4097, 4095, 8, kDibRle8, endOnly, true},   // one pixel under it
        {65281, 257, 8, kDibRle8, endOnly, false},  // one pixel over it (97 x 673 x 257)
        {1025, 1024, 8, kDibRle8, endOnly, true},
        {2048, 1024, 8, kDibRle8, rowEnds, true},
        {4096, 4000, 8, kDibRle8, jumps, true},
        {2048, 2048, 4, kDibRle4, endThen(2 * 16448), true},
        {4096, 4096, 8, kDibRgb, Bytes(8, 1), false},
        {4096, 4096, 1, kDibRgb, Bytes(rowsOf1Bit - 1, 0x5A), false},
        {4096, 4096, 1, kDibRgb, Bytes(rowsOf1Bit, 0x5A), true},
        {4096, 4097, 1, kDibRgb, Bytes(rowsOf1Bit + 512, 0x5A), false},
        {64, 64, 0, kDibRgb, Bytes(64 * 8 - 1), false},  // no bit count still needs a bit a pixel
        {4096, 4096, 32, kDibRgb, Bytes(16, 9), true,
         size_t{300} << 20},  // read only as far as it can matter
    };
    for (const Claim& c : claims) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", " << c.data.size() << " bytes");
        Layout s{c.width, c.height, c.bits, c.data, {0x123456, 0x654321}};
        s.compression = c.compression;
        s.colorsUsed = 2;
        if (!c.fits) {
            expectRejected(bmp::encode(s), "Image file conversion error.", true);
            continue;
        }
        plat::resetScript();
        const std::string path = write("claim.bmp", bmp::encode(s));
        if (c.padTo) std::filesystem::resize_file(path, c.padTo);
        ImageRGB* image = loadDibImage(path.c_str());
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
        EXPECT_TRUE(boxes().empty());
        std::free(image->pixels);
        std::free(image);
    }
// AddressSanitizer keeps freed blocks; under an emulator the process's peak
// is mostly the emulator's own.
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(CONTRAIL_EMULATED)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "peak memory in KiB";
#endif
    Bytes file = bmp::encode(Layout{2, 2, 8, Bytes(8, 3), randomTable(256, 9)});
    for (uint32_t offset : {uint32_t(file.size()) + 1, 0xFFFFFFFFu, uint32_t(file.size()) - 7}) {
        std::memcpy(&file[10], &offset, 4);
        expectRejected(file);
    }
}

#ifndef _WIN32  // Windows refuses to shorten a file that is open for mapping
// A file cut short between opening and reading reads as the shorter file it
// became: the same box, and no SIGBUS from a page past its new end.
TEST_F(DibLoader, FilesCutShortWhileOpenReadAsShortFiles) {
    Layout s{300, 200, 24, Bytes(size_t(900) * 200, 7)};
    const Bytes file = bmp::encode(s);
    static size_t cutTo = 0;
    for (size_t length : {size_t{1}, size_t{13}, size_t{30}, size_t{60}, size_t{4096}, file.size() - 1}) {
        SCOPED_TRACE(length);
        cutTo = length;
        plat::resetScript();
        plat::setFileOpenedHook([](const char* path) { std::filesystem::resize_file(path, cutTo); });
        const bool cutLoads = load(file).ok;
        plat::setFileOpenedHook(nullptr);
        const std::vector<plat::RecordedBox> cutBoxes = boxes();
        plat::resetScript();
        EXPECT_EQ(cutLoads, load(Bytes(file.begin(), file.begin() + std::ptrdiff_t(length))).ok);
        ASSERT_EQ(cutBoxes.size(), boxes().size());
        for (size_t i = 0; i < cutBoxes.size(); ++i) EXPECT_EQ(cutBoxes[i].text, boxes()[i].text);
        EXPECT_EQ(cutBoxes.size(), 1u);
    }
}
#endif

}  // namespace
