// whole_file.cpp - reading regular files, and path separators, on POSIX systems.
#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace plat {

namespace {

void (*openedHook)(const char* path) = nullptr;

// The descriptor of a regular file open for reading, or -1; `size` gets its length.
int openRegular(const char* path, uint64_t* size, bool* regular) {
    *size = 0;
    *regular = false;
    if (!path) return -1;
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer, and
    // some devices wait too. It has no effect on reading a regular file.
    const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat info {};
    *regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!*regular) {
        ::close(fd);
        return -1;
    }
    *size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
    if (*size > 0 && openedHook) openedHook(path);
    return fd;
}

size_t readAt(int fd, uint64_t offset, void* to, size_t length) {
    auto* bytes = static_cast<uint8_t*>(to);
    size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, bytes + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the end, or cut short since it was opened: a shorter file
        got += static_cast<size_t>(n);
    }
    return got;
}

}  // namespace

void setFileOpenedHook(void (*hook)(const char* path)) { openedHook = hook; }

std::string nativePath(const char* path) {
    std::string native(path ? path : "");
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

WholeFile::WholeFile(const char* path, size_t limit) {
    uint64_t size = 0;
    const int fd = openRegular(path, &size, &opened_);
    if (fd < 0) return;
    if (size > 0) {
        const size_t length = size < limit ? static_cast<size_t>(size) : limit;
        // A large block is a mapping of its own (tuneAllocator), so its memory
        // goes back to the system with the object.
        auto* bytes = static_cast<uint8_t*>(std::malloc(length));
        const size_t got = bytes ? readAt(fd, 0, bytes, length) : 0;
        if (got > 0) {
            data_ = bytes;
            size_ = got;
        } else {
            std::free(bytes);
        }
    }
    ::close(fd);
}

WholeFile::~WholeFile() { std::free(const_cast<uint8_t*>(data_)); }

InputFile::InputFile(const char* path) {
    const int fd = openRegular(path, &size_, &opened_);
    handle_ = fd;
}

InputFile::~InputFile() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

size_t InputFile::read(uint64_t offset, void* to, size_t length) {
    return handle_ >= 0 ? readAt(static_cast<int>(handle_), offset, to, length) : 0;
}

}  // namespace plat
