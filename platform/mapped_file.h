// mapped_file.h - a whole file in memory, read-only.
//
// Loaders that walk a file's structure (the BMP reader) or scan a large text
// (the OBJ reader) get all of its bytes at once, and the length in memory is
// the hard limit for every offset the file itself declares. On Windows the
// file is mapped (Windows refuses to shorten a mapped file). Elsewhere it is
// read whole: another process may shorten a file while it is mapped, and a
// page past the new end then ends the process with SIGBUS; read, a file cut
// short under the reader is simply a short file. Only regular files are
// taken: a named pipe, socket, device or folder is refused without ever
// waiting on it. Paths are written with "\" or "/" between folders;
// `nativePath` turns them into the host's form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// The path with every "\" turned into "/" where "/" is the only separator.
std::string nativePath(const char* path);

class MappedFile {
public:
    // Holds all of the file, or its first `limit` bytes when it is longer, or
    // nothing: a missing, unreadable, non-regular or empty file leaves the
    // object !ok().
    explicit MappedFile(const char* path, size_t limit = SIZE_MAX);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool ok() const { return data_ != nullptr; }
    // The path named a regular file that could be opened for reading, even if
    // it is empty or could not be mapped.
    bool opened() const { return opened_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

    // For tests: called with the path once a file is open and before any of
    // it is read (null: nothing).
    static void setOpenedHook(void (*hook)(const char* path));

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool opened_ = false;
};

}  // namespace plat
