// The portable DIB conversion: what GDI's SetDIBits into a 24-bit section,
// followed by a blue-green-red to red-green-blue copy, does on Windows.
#include "image/image.h"

#include <cstring>

// CONTRAIL_PORTABLE (the CMake option) leaves only the plain byte-by-byte rows.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(CONTRAIL_PORTABLE)
#include <immintrin.h>
#define CONTRAIL_SHUFFLE_ROWS 1
#endif

namespace {

using Palette = uint8_t[256][4];  // red, green, blue, 0: four bytes so one store writes a pixel

// Copies the table into `palette`; indices past its end stay black.
void buildPalette(const DibSource& source, Palette& palette) {
    std::memset(palette, 0, sizeof(Palette));
    const unsigned entries = source.colorCount < 256 ? source.colorCount : 256;
    const auto* table = reinterpret_cast<const uint8_t*>(source.info + 1);
    for (unsigned i = 0; i < entries; ++i, table += 4) {
        palette[i][0] = table[2];
        palette[i][1] = table[1];
        palette[i][2] = table[0];
    }
}

// Row converters: `width` pixels from `in` to `out`. A palette pixel is stored
// as four bytes, the fourth overwritten by the next pixel, except for the last
// pixel of the row, which must not touch the next row.

void rowIndexed4(const uint8_t* in, uint8_t* out, int32_t width, const Palette& palette) {
    const int32_t last = width - 1;
    for (int32_t x = 0; x < last; ++x, out += 3) {
        std::memcpy(out, palette[x & 1 ? in[x >> 1] & 15 : in[x >> 1] >> 4], 4);
    }
    std::memcpy(out, palette[last & 1 ? in[last >> 1] & 15 : in[last >> 1] >> 4], 3);
}

void rowIndexed1(const uint8_t* in, uint8_t* out, int32_t width, const Palette& palette) {
    const int32_t last = width - 1;
    for (int32_t x = 0; x < last; ++x, out += 3) {
        std::memcpy(out, palette[(in[x >> 3] >> (7 - (x & 7))) & 1], 4);
    }
    std::memcpy(out, palette[(in[last >> 3] >> (7 - (last & 7))) & 1], 3);
}

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Whether words may be read and written four bytes at a time, first byte lowest.
bool littleEndian() {
#ifdef CONTRAIL_PORTABLE
    return false;
#else
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
#endif
}

#ifdef CONTRAIL_SHUFFLE_ROWS
// Four pixels per step where the processor inserts words into a vector: the
// four entries side by side, packed to 12 bytes by one byte shuffle. The store
// writes the four bytes after them as it found them, and the next step (or
// the tail) overwrites them; six pixels must remain, so no store leaves the row.
__attribute__((target("sse4.1"))) int32_t rowIndexed8Packed(const uint8_t* in, uint8_t* out, int32_t width,
                                                            const Palette& palette) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int32_t x = 0;
    for (; x + 6 <= width; x += 4, out += 12) {
        __m128i v = _mm_cvtsi32_si128(static_cast<int>(load32(palette[in[x]])));
        v = _mm_insert_epi32(v, static_cast<int>(load32(palette[in[x + 1]])), 1);
        v = _mm_insert_epi32(v, static_cast<int>(load32(palette[in[x + 2]])), 2);
        v = _mm_insert_epi32(v, static_cast<int>(load32(palette[in[x + 3]])), 3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, pack));
    }
    return x;
}

const bool kHasInsert = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.1") != 0;
}();
#endif

void rowIndexed8(const uint8_t* in, uint8_t* out, int32_t width, const Palette& palette) {
    int32_t x = 0;
#ifdef CONTRAIL_SHUFFLE_ROWS
    if (kHasInsert) {
        x = rowIndexed8Packed(in, out, width, palette);
        out += size_t(x) * 3;
    }
#endif
    if (littleEndian()) {
        // Four pixels (12 bytes) per step, as three 32-bit words made of the
        // entries' red, green, blue bytes (the fourth, 0, shifted out):
        // out r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3
        for (; x + 4 <= width; x += 4, out += 12) {
            const uint32_t a = load32(palette[in[x]]), b = load32(palette[in[x + 1]]);
            const uint32_t c = load32(palette[in[x + 2]]), d = load32(palette[in[x + 3]]);
            store32(out, a | b << 24);
            store32(out + 4, b >> 8 | c << 16);
            store32(out + 8, c >> 16 | d << 8);
        }
    }
    if (x == width) return;
    const int32_t last = width - 1;
    for (; x < last; ++x, out += 3) std::memcpy(out, palette[in[x]], 4);
    std::memcpy(out, palette[in[last]], 3);
}

#ifdef CONTRAIL_SHUFFLE_ROWS
// Five pixels per step with one byte shuffle, where the processor has it: a
// 16-byte load holds five whole pixels and the first byte of the sixth, which
// the store writes as it found it and the next step (or the tail) overwrites.
// Six pixels must remain, so neither the load nor the store leaves the row.
__attribute__((target("ssse3"))) int32_t rowBgr24Shuffled(const uint8_t* in, uint8_t* out, int32_t width) {
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int32_t x = 0;
    for (; x + 6 <= width; x += 5, in += 15, out += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, swap));
    }
    return x;
}

const bool kHasShuffle = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
}();
#endif

void rowBgr24(const uint8_t* in, uint8_t* out, int32_t width) {
    int32_t x = 0;
#ifdef CONTRAIL_SHUFFLE_ROWS
    if (kHasShuffle) {
        x = rowBgr24Shuffled(in, out, width);
        in += size_t(x) * 3;
        out += size_t(x) * 3;
    }
#endif
    if (littleEndian()) {
        // Four pixels (12 bytes) per step, as three 32-bit words:
        // in  b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3
        // out r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3
        for (; x + 4 <= width; x += 4, in += 12, out += 12) {
            const uint32_t a = load32(in), b = load32(in + 4), c = load32(in + 8);
            store32(out, (a >> 16 & 0xFF) | (a & 0xFF00) | (a & 0xFF) << 16 | (b >> 8 & 0xFF) << 24);
            store32(out + 4, (b & 0xFF) | (a >> 24) << 8 | (c & 0xFF) << 16 | (b & 0xFF000000));
            store32(out + 8, (b >> 16 & 0xFF) | (c >> 24) << 8 | (c & 0xFF0000) | (c >> 8 & 0xFF) << 24);
        }
    }
    for (; x < width; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

void rowBgrx32(const uint8_t* in, uint8_t* out, int32_t width) {
    for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

void rowRgb555(const uint8_t* in, uint8_t* out, int32_t width) {
    for (int32_t x = 0; x < width; ++x, in += 2, out += 3) {
        const unsigned v = in[0] | in[1] << 8;
        const unsigned r = v >> 10 & 31, g = v >> 5 & 31, b = v & 31;
        out[0] = static_cast<uint8_t>(r << 3 | r >> 2);
        out[1] = static_cast<uint8_t>(g << 3 | g >> 2);
        out[2] = static_cast<uint8_t>(b << 3 | b >> 2);
    }
}

bool takenDepth(uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Stored rows [first, first + count) from `in` into their places in `rgb`.
void convertRows(const DibSource& source, const uint8_t* in, int64_t first, int64_t count, uint8_t* rgb) {
    const DibHeader& header = *source.info;
    const uint16_t bits = header.bitCount;
    const int32_t width = header.width;
    const bool topDown = header.height < 0;
    const int64_t rows = topDown ? -int64_t{header.height} : header.height;
    // width * rows is capped, so none of this overflows.
    const size_t stride = size_t((uint64_t(width) * bits + 31) / 32 * 4);
    Palette palette;
    if (bits <= 8) buildPalette(source, palette);
    const size_t outStride = size_t(width) * 3;
    for (int64_t r = first; r < first + count; ++r, in += stride) {
        uint8_t* out = rgb + size_t(topDown ? rows - 1 - r : r) * outStride;
        switch (bits) {
        case 1: rowIndexed1(in, out, width, palette); break;
        case 4: rowIndexed4(in, out, width, palette); break;
        case 8: rowIndexed8(in, out, width, palette); break;
        case 16: rowRgb555(in, out, width); break;
        case 24: rowBgr24(in, out, width); break;
        default: rowBgrx32(in, out, width); break;
        }
    }
}

bool convertUncompressed(const DibSource& source, uint8_t* rgb) {
    const DibHeader& header = *source.info;
    const uint64_t stride = dibRowStride(header);
    if (stride == 0) return false;
    const int64_t rows = header.height < 0 ? -int64_t{header.height} : header.height;
    // Source rows are padded to 4 bytes.
    if (stride * uint64_t(rows) > source.bitsLength) return false;
    convertRows(source, source.bits, 0, rows, rgb);
    return true;
}

// RLE8 and RLE4: runs of one index (RLE4: two alternating nibbles), literal
// runs padded to 16 bits, and escapes for end of line, end of picture and a
// jump. Pixels that no run reaches stay black, pixels past the edges are
// dropped, and data that ends before its end-of-picture mark is refused.
bool convertRunLength(const DibSource& source, uint8_t* rgb, bool nibbles) {
    const DibHeader& header = *source.info;
    if (header.bitCount != (nibbles ? 4 : 8) || header.height < 0) return false;
    const int64_t width = header.width, rows = header.height;
    Palette palette;
    buildPalette(source, palette);
    std::memset(rgb, 0, size_t(width * rows * 3));

    int64_t x = 0, y = 0;
    auto put = [&](unsigned index) {
        if (x < width && y < rows) std::memcpy(rgb + size_t(y * width + x) * 3, palette[index], 3);
        ++x;
    };
    const uint8_t* p = source.bits;
    const uint8_t* const end = p + source.bitsLength;
    while (end - p >= 2) {
        const unsigned count = p[0], code = p[1];
        p += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) put(nibbles ? (i & 1 ? code & 15 : code >> 4) : code);
            continue;
        }
        switch (code) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of picture
            return true;
        case 2:  // jump right and up
            if (end - p < 2) return false;
            x += p[0];
            y += p[1];
            p += 2;
            break;
        default: {  // `code` literal pixels
            const size_t bytes = nibbles ? (code + 1) / 2 : code;
            const size_t padded = (bytes + 1) & ~size_t{1};
            if (size_t(end - p) < padded) return false;
            for (unsigned i = 0; i < code; ++i) {
                put(nibbles ? (i & 1 ? p[i >> 1] & 15 : p[i >> 1] >> 4) : p[i]);
            }
            p += padded;
        }
        }
    }
    return false;
}

}  // namespace

uint64_t dibRowStride(const DibHeader& header) {
    if (header.compression != kDibRgb || !takenDepth(header.bitCount)) return 0;
    return (uint64_t(header.width) * header.bitCount + 31) / 32 * 4;
}

void convertDibRows(const DibSource& source, const uint8_t* rows, int64_t first, int64_t count,
                    uint8_t* rgb) {
    convertRows(source, rows, first, count, rgb);
}

bool convertDib(const DibSource& source, uint8_t* rgb) {
    switch (source.info->compression) {
    case kDibRgb: return convertUncompressed(source, rgb);
    case kDibRle8: return convertRunLength(source, rgb, false);
    case kDibRle4: return convertRunLength(source, rgb, true);
    default: return false;
    }
}
