// Picture pixels and the 24-bit BMP writer.
#include "tools/assets/assets.h"

#include "tools/common/files.h"

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

}  // namespace assets
