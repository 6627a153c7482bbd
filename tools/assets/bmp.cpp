// Picture pixels and the 24-bit BMP writer.
#include "tools/assets/assets.h"

#include "tools/common/files.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>

namespace assets {

using files::put16;
using files::put32;

void Picture::add(int x, int y, double r, double g, double b, double a) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    float* p = at(x, y);
    p[0] += float(r * a);
    p[1] += float(g * a);
    p[2] += float(b * a);
}

void Picture::blend(int x, int y, double r, double g, double b, double a) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    float* p = at(x, y);
    p[0] = float(p[0] + (r - p[0]) * a);
    p[1] = float(p[1] + (g - p[1]) * a);
    p[2] = float(p[2] + (b - p[2]) * a);
}

static uint8_t toByte(float v) {
    // A soft shoulder keeps bright glows from clipping into flat patches.
    double x = v < 0 ? 0 : v;
    if (x > 0.8) x = 0.8 + 0.2 * std::tanh((x - 0.8) / 0.2);
    return uint8_t(std::lround(clamp01(x) * 255.0));
}

std::vector<uint8_t> encodeBmp(const Picture& picture) {
    const uint32_t w = uint32_t(picture.width), h = uint32_t(picture.height);
    const uint32_t stride = (w * 3 + 3) & ~3u;
    const uint32_t dataSize = stride * h;
    std::vector<uint8_t> out;
    out.reserve(54 + dataSize);
    out.push_back('B');
    out.push_back('M');
    put32(out, 54 + dataSize);   // file size
    put32(out, 0);               // reserved
    put32(out, 54);              // pixel data offset
    put32(out, 40);              // BITMAPINFOHEADER
    put32(out, w);
    put32(out, h);               // positive: bottom-up
    put16(out, 1);               // planes
    put16(out, 24);              // bits per pixel
    put32(out, 0);               // BI_RGB
    put32(out, dataSize);
    put32(out, 2835);            // 72 dpi
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (uint32_t row = 0; row < h; ++row) {
        const float* src = &picture.rgb[size_t(h - 1 - row) * w * 3];
        for (uint32_t x = 0; x < w; ++x) {
            out.push_back(toByte(src[x * 3 + 2]));
            out.push_back(toByte(src[x * 3 + 1]));
            out.push_back(toByte(src[x * 3 + 0]));
        }
        for (uint32_t pad = w * 3; pad < stride; ++pad) out.push_back(0);
    }
    return out;
}

namespace {

void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    const size_t start = out.size();
    for (int shift : {24, 16, 8, 0}) out.push_back(uint8_t(data.size() >> shift));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + start + 4, uInt(4 + data.size()));
    for (int shift : {24, 16, 8, 0}) out.push_back(uint8_t(crc >> shift));
}

}  // namespace

std::vector<uint8_t> encodePng(const Picture& picture) {
    const uint32_t w = uint32_t(picture.width), h = uint32_t(picture.height);
    std::vector<uint8_t> rows;  // filter type 0 before each top-down row
    for (uint32_t y = 0; y < h; ++y) {
        rows.push_back(0);
        const float* p = &picture.rgb[size_t(y) * w * 3];
        for (uint32_t i = 0; i < w * 3; ++i) rows.push_back(toByte(p[i]));
    }
    uLongf packedSize = compressBound(uLong(rows.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, rows.data(), uLong(rows.size()), 9) != Z_OK) return {};
    packed.resize(packedSize);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    for (uint32_t v : {w, h})
        for (int shift : {24, 16, 8, 0}) header.push_back(uint8_t(v >> shift));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no interlace
    chunk(out, "IHDR", header);
    chunk(out, "IDAT", packed);
    chunk(out, "IEND", {});
    return out;
}

Picture makeIcon(const Picture& card, int size) {
    Picture icon(size, size);
    const int side = std::min(card.width, card.height);
    const int left = (card.width - side) / 2, top = (card.height - side) / 2;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int x0 = left + x * side / size, x1 = left + (x + 1) * side / size;
            const int y0 = top + y * side / size, y1 = top + (y + 1) * side / size;
            double sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c) sum[c] += card.rgb[(size_t(sy) * card.width + sx) * 3 + c];
            const double n = double(x1 - x0) * (y1 - y0);
            for (int c = 0; c < 3; ++c) icon.at(x, y)[c] = float(sum[c] / n);
        }
    }
    return icon;
}

}  // namespace assets
