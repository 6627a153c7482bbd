// mapped_file.h - a whole file mapped read-only into memory.
//
// Loaders that walk a file's structure (the BMP reader) or scan a large text
// (the OBJ reader) map it instead of reading it into a buffer: the bytes are
// available at once without a copy, and the mapping's length is the hard limit
// for every offset the file itself declares. Only regular files are taken: a
// named pipe, socket, device or folder is refused without ever waiting on it.
// Paths are written with "\" or "/" between folders; `nativePath` turns them
// into the host's form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// The path with every "\" turned into "/" where "/" is the only separator.
std::string nativePath(const char* path);

class MappedFile {
public:
    // Maps all of the file, or nothing: a missing, unreadable, non-regular or
    // empty file (an empty file cannot be mapped) leaves the object !ok().
    explicit MappedFile(const char* path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool ok() const { return data_ != nullptr; }
    // The path named a regular file that could be opened for reading, even if
    // it is empty or could not be mapped.
    bool opened() const { return opened_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool opened_ = false;
};

}  // namespace plat
