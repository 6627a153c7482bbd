// test_assets.cpp - scratch folders, small files and BMP pictures for the tests.
#include "tests/support/test_assets.h"

#include "tools/common/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

namespace testassets {

namespace {
// Every scratch folder goes when the test program ends (not when a death
// test's forked child ends, which would pull it from under the parent).
struct ScratchDirs {
    std::vector<std::string> paths;
    const pid_t owner = getpid();
    ~ScratchDirs() {
        if (getpid() != owner) return;
        std::error_code ignored;
        for (const std::string& p : paths) std::filesystem::remove_all(p, ignored);
    }
};
ScratchDirs scratchDirs;
}  // namespace

std::string makeScratchDir() {
    const char* base = std::getenv("TMPDIR");
    const std::filesystem::path folder = uniqueFolder(base && *base ? std::filesystem::path(base)
                                                                    : std::filesystem::temp_directory_path(),
                                                      "contrail-test-");
    scratchDirs.paths.push_back(folder.string());
    return folder.string();
}

std::filesystem::path uniqueFolder(const std::filesystem::path& parent, const std::string& prefix) {
    std::random_device random;
    for (int tries = 0; tries < 100; ++tries) {
        const std::filesystem::path folder = parent / (prefix + std::to_string(random()));
        if (std::filesystem::create_directory(folder)) return folder;
    }
    throw std::runtime_error("cannot make a folder under " + parent.string());
}

void writeFile(const std::string& path, const std::string& bytes) {
    if (!files::writeFile(path, bytes)) throw std::runtime_error("cannot write " + path);
}

void writeBmpRows(const std::string& path, int width, int height, const uint32_t* rgb) {
    using files::put16;
    using files::put32;
    const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t imageSize = stride * static_cast<uint32_t>(height);
    std::string s;
    s += "BM";
    put32(s, 54 + imageSize);
    put32(s, 0);
    put32(s, 54);
    put32(s, 40);
    put32(s, static_cast<uint32_t>(width));
    put32(s, static_cast<uint32_t>(height));
    put16(s, 1);
    put16(s, 24);
    put32(s, 0);  // BI_RGB
    put32(s, imageSize);
    put32(s, 2835);
    put32(s, 2835);
    put32(s, 0);
    put32(s, 0);
    for (int y = 0; y < height; ++y) {
        size_t rowStart = s.size();
        for (int x = 0; x < width; ++x) {
            const uint32_t p = rgb[y * width + x];
            s += static_cast<char>(p & 0xff);          // blue
            s += static_cast<char>((p >> 8) & 0xff);   // green
            s += static_cast<char>((p >> 16) & 0xff);  // red
        }
        while (s.size() - rowStart < stride) s += '\0';
    }
    writeFile(path, s);
}

}  // namespace testassets
