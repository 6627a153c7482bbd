// files.cpp - writing whole files and making folders, for the tools and tests.
#include "tools/common/files.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace files {

bool writeFile(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

bool isDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool makeDirs(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (isDirectory(path)) return true;
    if (error) errno = error.value();  // callers report strerror(errno)
    return false;
}

}  // namespace files
