// whole_file.h - reading files: all of one in memory, or a file read piece by piece.
//
// The loaders read through an InputFile: the picture reader takes the header
// and then a few pixel rows at a time, the OBJ reader pieces of whole lines,
// each into a small buffer that stays in the cache, so no file is ever held
// whole. A file cut short under the reader reads as a short file: the read
// comes short, where a mapping's page past the new end would end the process
// with SIGBUS. A WholeFile holds all of a file at once, for a reader that
// wants every byte at hand (the MP3 decoder on Windows); on Windows it is a
// mapping (Windows refuses to shorten a mapped file), elsewhere one read.
//
// Only regular files are taken: a named pipe, socket, device or folder is
// refused without ever waiting on it. Paths are written with "\" or "/"
// between folders; `nativePath` turns them into the host's form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// The path with every "\" turned into "/" where "/" is the only separator.
std::string nativePath(const char* path);

// For tests: called with the path once a file (WholeFile or InputFile) is open,
// not empty, and before any of it is read (null: nothing).
void setFileOpenedHook(void (*hook)(const char* path));

class WholeFile {
public:
    // Holds all of the file, or its first `limit` bytes when it is longer, or
    // nothing: a missing, unreadable, non-regular or empty file leaves the
    // object !ok().
    explicit WholeFile(const char* path, size_t limit = SIZE_MAX);
    ~WholeFile();
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    bool ok() const { return data_ != nullptr; }
    // The path named a regular file that could be opened for reading, even if
    // it is empty or could not be read.
    bool opened() const { return opened_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool opened_ = false;
};

class InputFile {
public:
    // Opens a regular file for reading; anything else leaves it !opened().
    explicit InputFile(const char* path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool opened() const { return opened_; }
    // The length when it was opened (0 when not opened).
    uint64_t size() const { return size_; }
    // Copies up to `length` bytes from `offset` on into `to`; returns how many
    // came. Fewer come only where the file ends, or where it has been cut
    // short since it was opened, or when it can no longer be read.
    size_t read(uint64_t offset, void* to, size_t length);

private:
    intptr_t handle_ = -1;
    uint64_t size_ = 0;
    bool opened_ = false;
};

}  // namespace plat
