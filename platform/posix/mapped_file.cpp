// mapped_file.cpp - read-only file mapping and path separators on POSIX systems.
#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace plat {

namespace {
void (*openedHook)(const char* path) = nullptr;
}

void MappedFile::setOpenedHook(void (*hook)(const char* path)) { openedHook = hook; }

std::string nativePath(const char* path) {
    std::string native(path ? path : "");
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

MappedFile::MappedFile(const char* path, size_t limit) {
    if (!path) return;
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer, and
    // some devices wait too. It has no effect on reading a regular file.
    const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return;
    struct stat info {};
    opened_ = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (opened_ && info.st_size > 0) {
        if (openedHook) openedHook(path);
        const size_t length =
            static_cast<uintmax_t>(info.st_size) < limit ? static_cast<size_t>(info.st_size) : limit;
        // A large block is a mapping of its own (tuneAllocator), so its memory
        // goes back to the system with the object.
        auto* bytes = static_cast<uint8_t*>(std::malloc(length));
        size_t got = 0;
        while (bytes && got < length) {
            const ssize_t n = ::read(fd, bytes + got, length - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // cut short since it was opened: a shorter file
            got += static_cast<size_t>(n);
        }
        if (got > 0) {
            data_ = bytes;
            size_ = got;
        } else {
            std::free(bytes);
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile() { std::free(const_cast<uint8_t*>(data_)); }

}  // namespace plat
