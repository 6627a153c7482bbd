// test_assets.h - small files the GL tests need: a scratch folder and BMP pictures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testassets {

// Makes a fresh folder under the system's temp folder and returns its path.
std::string makeScratchDir();

// Makes a new folder named prefix + a random number under parent (which the
// caller removes); the standard library's way, so it works on every platform.
std::filesystem::path uniqueFolder(const std::filesystem::path& parent, const std::string& prefix);

// Writes text (bytes as given) to path.
void writeFile(const std::string& path, const std::string& bytes);

// Writes a 24-bit uncompressed BMP of width x height; pixel(x, y) gives 0xRRGGBB
// with y = 0 the bottom row.
void writeBmpRows(const std::string& path, int width, int height, const uint32_t* rgbBottomUp);

template <class Pixel>
void writeBmp(const std::string& path, int width, int height, Pixel pixel) {
    std::vector<uint32_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) rgb[static_cast<size_t>(y * width + x)] = pixel(x, y);
    writeBmpRows(path, width, height, rgb.data());
}

}  // namespace testassets
