// bmp_files.h - BMP files built in memory and written to a private folder, for the image tests.
#pragma once

#include "platform/scripted/scripted_platform.h"
#include "tests/support/test_assets.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace bmp {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes& b, uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> 8 * i));
}

struct Layout {
    Layout(int32_t width = 0, int32_t height = 0, uint16_t bitCount = 24, Bytes data = {},
         std::vector<uint32_t> table = {})
        : width(width), height(height), bitCount(bitCount), data(std::move(data)), table(std::move(table)) {}
    int32_t width, height;  // height < 0: top row stored first
    uint16_t bitCount;
    Bytes data;                   // pixel data as stored
    std::vector<uint32_t> table;  // 0xRRGGBB
    uint32_t headerSize = 40, compression = 0, imageSize = 0, colorsUsed = 0;
    bool fileHeader = true;
    uint32_t gap = 0;               // unused bytes before the pixel data, after a file header
};

inline Bytes encode(const Layout& s) {
    const size_t entry = s.headerSize == 12 ? 3 : 4;
    const uint32_t headerAt = s.fileHeader ? 14 : 0;
    const uint32_t bitsAt = headerAt + s.headerSize + uint32_t(s.table.size() * entry) + (s.fileHeader ? s.gap : 0);
    Bytes b;
    if (s.fileHeader) {
        b = {'B', 'M'};
        for (uint32_t v : {bitsAt + uint32_t(s.data.size()), 0u, bitsAt}) put(b, v);
    }
    put(b, s.headerSize);
    if (s.headerSize == 12) {
        for (uint32_t v : {uint32_t(s.width), uint32_t(s.height), 1u, uint32_t{s.bitCount}}) put(b, v, 2);
    } else {
        for (uint32_t v : {uint32_t(s.width), uint32_t(s.height), 1u | uint32_t{s.bitCount} << 16,
                           s.compression, s.imageSize, 2835u, 2835u, s.colorsUsed, 0u}) {
            put(b, v);
        }
        b.resize(headerAt + s.headerSize);  // 108- and 124-byte headers: zeros after the 40
    }
    for (uint32_t c : s.table) put(b, c, int(entry));
    b.resize(bitsAt, 0xEE);
    b.insert(b.end(), s.data.begin(), s.data.end());
    return b;
}

// A picture, top row first: colours (0xRRGGBB) for 24 and 32 bits, table indices below.
struct Picture {
    int width, height;
    std::vector<uint32_t> values;
};

inline Picture randomPicture(int width, int height, uint32_t limit, unsigned seed) {
    std::mt19937 random(seed);
    Picture p{width, height, {}};
    for (int i = 0; i < width * height; ++i) p.values.push_back(random() % limit);
    return p;
}

// Stored rows, padded to 4 bytes, bottom row first unless `topDown`.
inline Bytes store(const Picture& p, int bits, bool topDown = false) {
    const size_t stride = (size_t(p.width) * bits + 31) / 32 * 4;
    Bytes data(stride * p.height, 0);
    for (int r = 0; r < p.height; ++r) {
        const int y = topDown ? r : p.height - 1 - r;
        for (int x = 0; x < p.width; ++x) {
            const uint32_t v = p.values[size_t(y) * p.width + x];
            uint8_t* at = &data[stride * r + size_t(x) * bits / 8];
            if (bits >= 24) {
                for (int k = 0; k < 3; ++k) at[k] = uint8_t(v >> 8 * k);
            } else {
                *at |= uint8_t(v << (8 - bits - x * bits % 8));
            }
        }
    }
    return data;
}

// What the loader should give: RGB rows, bottom row first; indices past the table are black.
inline Bytes expected(const Picture& p, const std::vector<uint32_t>& table) {
    Bytes out;
    for (int y = p.height - 1; y >= 0; --y) {
        for (int x = 0; x < p.width; ++x) {
            uint32_t c = p.values[size_t(y) * p.width + x];
            if (!table.empty()) c = c < table.size() ? table[c] : 0;
            for (int shift : {16, 8, 0}) out.push_back(uint8_t(c >> shift));
        }
    }
    return out;
}

#ifdef _WIN32
// Windows has no FIFO or socket files; a folder is what names no regular file.
inline std::vector<std::string> specialFiles(const std::filesystem::path& folder) {
    const std::string directory = (folder / "folder.bmp").string();
    std::filesystem::create_directory(directory);
    return {directory};
}

template <class Load>
auto withoutStall(const std::string&, Load load) {
    return load();
}
#else
// Paths that name no regular file, made in `folder`: a FIFO first (opening it
// for reading waits for a writer), then a socket, a folder and a device.
inline std::vector<std::string> specialFiles(const std::filesystem::path& folder) {
    const std::string fifo = (folder / "fifo.bmp").string(), socket = (folder / "socket.bmp").string();
    const std::string directory = (folder / "folder.bmp").string();
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    EXPECT_LT(socket.size(), sizeof address.sun_path);
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(fd);  // the socket file stays
    std::filesystem::create_directory(directory);
    return {fifo, socket, directory, "/dev/zero"};
}

// Runs `load` on a thread of its own. If it has not returned within seconds it
// is stuck opening `fifo`: the test fails, and a writer that comes and goes
// lets each blocked open return, so a regression fails instead of hanging.
template <class Load>
auto withoutStall(const std::string& fifo, Load load) {
    auto pending = std::async(std::launch::async, load);
    if (pending.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "loading waited on " << fifo;
        while (pending.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
        }
    }
    return pending.get();
}
#endif

// Each test gets a private folder and records its boxes instead of showing them.
class ScriptedTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::setPlatform(plat::scriptedPlatform());
        plat::resetScript();
        folder = testassets::uniqueFolder(std::filesystem::temp_directory_path(), "contrail-image-");
    }
    void TearDown() override {
        plat::setPlatform(nullptr);
        std::filesystem::remove_all(folder);
    }
    std::string write(const std::string& name, const Bytes& bytes) const {
        const std::filesystem::path file = folder / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return file.string();
    }
    static const std::vector<plat::RecordedBox>& boxes() { return plat::script().boxes; }
    std::filesystem::path folder;
};

}  // namespace bmp
