// mapped_file.cpp - read-only file mapping and path separators on POSIX systems.
#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace plat {

std::string nativePath(const char* path) {
    std::string native(path ? path : "");
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

MappedFile::MappedFile(const char* path) {
    if (!path) return;
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer, and
    // some devices wait too. It has no effect on a regular file's mapping.
    const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return;
    struct stat info {};
    opened_ = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (opened_ && info.st_size > 0 && static_cast<uintmax_t>(info.st_size) <= SIZE_MAX) {
        const size_t length = static_cast<size_t>(info.st_size);
        int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
        flags |= MAP_POPULATE;  // the loaders read every byte once; fault it all in at one go
#endif
        void* view = ::mmap(nullptr, length, PROT_READ, flags, fd, 0);
        if (view != MAP_FAILED) {
            data_ = static_cast<const uint8_t*>(view);
            size_ = length;
        }
    }
    ::close(fd);  // the mapping keeps the file's pages alive by itself
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

}  // namespace plat
