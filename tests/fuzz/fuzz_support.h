// fuzz_support.h - what the fuzz targets share: quiet message boxes and a
// scratch file for the loaders that only take a path.
#pragma once

#include "platform/platform.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzz {

// Almost every input fails with a box; the headless backend would print each
// one on standard error, which costs more than the load. These boxes vanish.
inline void quietBoxes() {
    static plat::PlatformApi quiet = plat::platform();
    quiet.messageBox = [](plat::Handle, const char*, const char*, uint32_t) { return plat::IDOK; };
    plat::setPlatform(&quiet);
}

// One file per process, rewritten for each input and removed at exit. It lives
// in shared memory where there is some: on a disk the writes cost several
// times what the load does.
inline const std::string& scratchPath(const char* suffix) {
    static const std::string path = [suffix] {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::is_directory("/dev/shm", error)
                                                 ? std::filesystem::path("/dev/shm")
                                                 : std::filesystem::temp_directory_path();
        std::string p = (folder / ("contrail-fuzz-" + std::to_string(getpid()) + suffix)).string();
        static std::string remove;
        remove = p;
        std::atexit([] { std::remove(remove.c_str()); });
        return p;
    }();
    return path;
}

inline const std::string& writeScratch(const char* suffix, const uint8_t* data, size_t size) {
    const std::string& path = scratchPath(suffix);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) std::abort();
    return path;
}

}  // namespace fuzz
