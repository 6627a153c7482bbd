// loadDibImage against stb_image on 512 x 512 pictures, both giving bottom-up RGB rows.
#include "image/image.h"
#include "platform/scripted/scripted_platform.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb/stb_image.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 512;
std::filesystem::path folder;
std::string trueColourPath, indexedPath;

void put(std::vector<uint8_t>& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> 8 * i));
}

std::string writeBmp(const char* name, int bits) {
    const uint32_t table = bits == 8 ? 256 * 4 : 0;
    const uint32_t stride = (kSize * bits / 8 + 3) & ~3u;
    std::vector<uint8_t> b = {'B', 'M'};
    put(b, 54 + table + stride * kSize, 4);
    put(b, 0, 4);
    put(b, 54 + table, 4);
    for (uint32_t v : {40u, uint32_t(kSize), uint32_t(kSize)}) put(b, v, 4);
    put(b, 1, 2);
    put(b, uint32_t(bits), 2);
    for (uint32_t v : {0u, 0u, 2835u, 2835u, 0u, 0u}) put(b, v, 4);
    for (uint32_t i = 0; i < table / 4; ++i) put(b, i * 0x010203u & 0xFFFFFF, 4);
    uint32_t seed = 12345;
    for (uint32_t i = 0; i < stride * kSize; ++i) {
        seed = seed * 1664525u + 1013904223u;
        b.push_back(uint8_t(seed >> 24));
    }
    const std::string path = (folder / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

void contrail(benchmark::State& state, const std::string* path) {
    for (auto _ : state) {
        ImageRGB* image = loadDibImage(path->c_str());
        if (!image) {
            state.SkipWithError("loadDibImage failed");
            break;
        }
        benchmark::DoNotOptimize(image->pixels);
        std::free(image->pixels);
        std::free(image);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 3);
}

void stb(benchmark::State& state, const std::string* path) {
    stbi_set_flip_vertically_on_load(1);
    for (auto _ : state) {
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels = stbi_load(path->c_str(), &width, &height, &channels, 3);
        if (!pixels) {
            state.SkipWithError("stbi_load failed");
            break;
        }
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 3);
}

// Both readers must give the same bytes, or the comparison means nothing.
bool sameResult(const std::string& path) {
    stbi_set_flip_vertically_on_load(1);
    int width = 0, height = 0, channels = 0;
    stbi_uc* theirs = stbi_load(path.c_str(), &width, &height, &channels, 3);
    ImageRGB* ours = loadDibImage(path.c_str());
    const bool same = theirs && ours && width == ours->width && height == ours->height &&
                      std::memcmp(theirs, ours->pixels, size_t(width) * height * 3) == 0;
    stbi_image_free(theirs);
    if (ours) std::free(ours->pixels);
    std::free(ours);
    return same;
}

}  // namespace

BENCHMARK_CAPTURE(contrail, 24bit, &trueColourPath);
BENCHMARK_CAPTURE(stb, 24bit, &trueColourPath);
BENCHMARK_CAPTURE(contrail, 8bit, &indexedPath);
BENCHMARK_CAPTURE(stb, 8bit, &indexedPath);

int main(int argc, char** argv) {
    plat::setPlatform(plat::scriptedPlatform());  // a failure is recorded, never shown
    std::string pattern = (std::filesystem::temp_directory_path() / "contrail-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    folder = pattern;
    trueColourPath = writeBmp("rgb24.bmp", 24);
    indexedPath = writeBmp("indexed8.bmp", 8);
    int status = 0;
    if (!sameResult(trueColourPath) || !sameResult(indexedPath)) {
        std::fprintf(stderr, "loadDibImage and stb_image disagree\n");
        status = 1;
    } else {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    if (!plat::script().boxes.empty()) {
        std::fprintf(stderr, "message box: %s\n", plat::script().boxes.front().text.c_str());
        status = 1;
    }
    std::filesystem::remove_all(folder);
    return status;
}
