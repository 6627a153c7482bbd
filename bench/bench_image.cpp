// loadDibImage against stb_image on 512 x 512 pictures, both giving bottom-up RGB rows.
//
// Both read the same file on disk (in the page cache after the first load) in a
// process set up as the demo sets itself up (plat::tuneAllocator). The files: the
// show's title card and a sky-box face as the data folder holds them (24-bit),
// the title card reduced to a 256-colour palette (8-bit), and a 24-bit and an
// 8-bit picture of random bytes. For each, the two loaders run in turns and the
// ratio of their times is printed first (bench/race.h); Google Benchmark's own
// runs follow.
//
//   contrail_bench_image [--benchmark_...]      (CONTRAIL_DATA=DIR: another data folder)
#include "bench/race.h"
#include "image/image.h"
#include "platform/platform.h"
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

struct Picture {
    const char* name;
    std::string path;
};
std::vector<Picture> pictures;

void put(std::vector<uint8_t>& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> 8 * i));
}

// A bottom-up BMP of kSize x kSize from its rows' bytes (already padded) and colour table.
std::string writeBmp(const char* name, int bits, const std::vector<uint32_t>& table,
                     const std::vector<uint8_t>& rows) {
    std::vector<uint8_t> b = {'B', 'M'};
    const uint32_t tableBytes = uint32_t(table.size()) * 4;
    put(b, 54 + tableBytes + uint32_t(rows.size()), 4);
    put(b, 0, 4);
    put(b, 54 + tableBytes, 4);
    for (uint32_t v : {40u, uint32_t(kSize), uint32_t(kSize)}) put(b, v, 4);
    put(b, 1, 2);
    put(b, uint32_t(bits), 2);
    for (uint32_t v : {0u, 0u, 2835u, 2835u, 0u, 0u}) put(b, v, 4);
    for (uint32_t entry : table) put(b, entry, 4);
    b.insert(b.end(), rows.begin(), rows.end());
    const std::string path = (folder / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

std::string writeRandom(const char* name, int bits) {
    std::vector<uint32_t> table;
    if (bits == 8)
        for (uint32_t i = 0; i < 256; ++i) table.push_back(i * 0x010203u & 0xFFFFFF);
    std::vector<uint8_t> rows(size_t(kSize) * kSize * bits / 8);
    uint32_t seed = 12345;
    for (uint8_t& byte : rows) {
        seed = seed * 1664525u + 1013904223u;
        byte = uint8_t(seed >> 24);
    }
    return writeBmp(name, bits, table, rows);
}

// The picture at `from` (24-bit, kSize x kSize) on a 6 x 7 x 6 colour cube, as a
// palette picture; "" when there is no such picture.
std::string writePaletted(const char* name, const std::string& from) {
    ImageRGB* image = loadDibImage(from.c_str());
    if (!image || image->width != kSize || image->height != kSize) {
        if (image) std::free(image->pixels);
        std::free(image);
        return "";
    }
    std::vector<uint32_t> table;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 7; ++g)
            for (int b = 0; b < 6; ++b)
                table.push_back(uint32_t(r * 51) << 16 | uint32_t(g * 255 / 6) << 8 | uint32_t(b * 51));
    std::vector<uint8_t> rows(size_t(kSize) * kSize);
    for (size_t i = 0; i < rows.size(); ++i) {
        const uint8_t* p = image->pixels + 3 * i;
        rows[i] = uint8_t(((p[0] * 5 + 127) / 255 * 7 + (p[1] * 6 + 127) / 255) * 6 + (p[2] * 5 + 127) / 255);
    }
    std::free(image->pixels);
    std::free(image);
    return writeBmp(name, 8, table, rows);
}

bool loadOurs(const std::string& path) {
    ImageRGB* image = loadDibImage(path.c_str());
    if (!image) return false;
    benchmark::DoNotOptimize(image->pixels);
    std::free(image->pixels);
    std::free(image);
    return true;
}

bool loadTheirs(const std::string& path) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (!pixels) return false;
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
    return true;
}

void contrail(benchmark::State& state, const std::string* path) {
    for (auto _ : state) {
        if (!loadOurs(*path)) {
            state.SkipWithError("loadDibImage failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 3);
}

void stb(benchmark::State& state, const std::string* path) {
    for (auto _ : state) {
        if (!loadTheirs(*path)) {
            state.SkipWithError("stbi_load failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSize * kSize * 3);
}

// Both readers must give the same bytes, or the comparison means nothing.
bool sameResult(const std::string& path) {
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

int main(int argc, char** argv) {
    plat::tuneAllocator();                        // as the demo sets itself up
    plat::setPlatform(plat::scriptedPlatform());  // a failure is recorded, never shown
    stbi_set_flip_vertically_on_load(1);
    std::string pattern = (std::filesystem::temp_directory_path() / "contrail-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    folder = pattern;
    const char* dataEnv = std::getenv("CONTRAIL_DATA");
    const std::filesystem::path data = dataEnv ? dataEnv : CONTRAIL_DATA_DIR;
    const std::string title = (data / "images" / "press.bmp").string();
    const std::string face = (data / "images" / "skybox" / "ft.bmp").string();
    if (std::filesystem::is_regular_file(title)) {
        pictures.push_back({"title card, 24-bit", title});
        pictures.push_back({"title card, 8-bit", writePaletted("title8.bmp", title)});
    } else {
        std::fprintf(stderr, "no data folder at %s: random pictures only (CONTRAIL_DATA=DIR)\n",
                     data.string().c_str());
    }
    if (std::filesystem::is_regular_file(face)) pictures.push_back({"sky-box face, 24-bit", face});
    pictures.push_back({"random, 24-bit", writeRandom("rgb24.bmp", 24)});
    pictures.push_back({"random, 8-bit", writeRandom("indexed8.bmp", 8)});

    int status = 0;
    for (const Picture& p : pictures) {
        if (p.path.empty() || !sameResult(p.path)) {
            std::fprintf(stderr, "%s: loadDibImage and stb_image disagree\n", p.name);
            status = 1;
        }
    }
    if (status == 0) {
        std::printf(
            "512 x 512 pictures from files, the two loaders in turns (ratio = stb_image / contrail)\n");
        for (const Picture& p : pictures) {
            const race::Result r = race::run([&] { loadOurs(p.path); }, [&] { loadTheirs(p.path); }, 21, 40);
            race::print(p.name, "stb_image", r);
        }
        std::printf("\n");
        for (const Picture& p : pictures) {
            benchmark::RegisterBenchmark((std::string("contrail/") + p.name).c_str(), contrail, &p.path);
            benchmark::RegisterBenchmark((std::string("stb/") + p.name).c_str(), stb, &p.path);
        }
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
