// frame_compare.cpp - the frame-against-reference rule (frame_compare.h).
#include "tests/support/frame_compare.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace frames {

namespace {

Picture readPng(const std::string& file) {
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str())) return p;
    image.format = PNG_FORMAT_RGB;
    p.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) return {};
    p.width = static_cast<int>(image.width);
    p.height = static_cast<int>(image.height);
    return p;
}

Picture readPpm(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, max = 0;
    if (!(in >> magic >> width >> height >> max) || magic != "P6" || max != 255 || width <= 0 || height <= 0)
        return {};
    in.get();  // the one white-space character before the pixels
    Picture p{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 3)};
    if (!in.read(reinterpret_cast<char*>(p.rgb.data()), static_cast<std::streamsize>(p.rgb.size())))
        return {};
    return p;
}

}  // namespace

Picture readPicture(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    char magic[2] = {};
    in.read(magic, 2);
    return magic[0] == 'P' && magic[1] == '6' ? readPpm(file) : readPng(file);
}

bool Difference::withinTolerance() const { return mean < 1.0 && off <= pixels / 200 && off <= 16 + lit / 20; }

bool Difference::sameShape() const { return litOverlap >= 0.95; }

std::string Difference::describe() const {
    char text[160];
    std::snprintf(text, sizeof text,
                  "mean %.3f, %zu pixels off by more than 8 (of %zu lit), lit overlap %.1f %%", mean, off,
                  lit, litOverlap * 100);
    return text;
}

Difference compare(const Picture& got, const Picture& want) {
    Difference d;
    d.pixels = got.rgb.size() / 3;
    size_t both = 0, either = 0;
    double sum = 0;
    for (size_t i = 0; i < got.rgb.size(); i += 3) {
        int worst = 0, brightest = 0, grayGot = 0, grayWant = 0;
        for (size_t c = 0; c < 3; ++c) {
            const int a = got.rgb[i + c], b = want.rgb[i + c], diff = std::abs(a - b);
            worst = std::max(worst, diff);
            brightest = std::max({brightest, a, b});
            grayGot += a;
            grayWant += b;
            sum += diff;
        }
        d.off += worst > 8;
        d.lit += brightest > 16;
        const bool litGot = grayGot * 100 > 3 * 255 * 8, litWant = grayWant * 100 > 3 * 255 * 8;
        both += litGot && litWant;
        either += litGot || litWant;
    }
    d.mean = got.rgb.empty() ? 0.0 : sum / static_cast<double>(got.rgb.size());
    d.litOverlap = either == 0 ? 1.0 : static_cast<double>(both) / static_cast<double>(either);
    return d;
}

}  // namespace frames
