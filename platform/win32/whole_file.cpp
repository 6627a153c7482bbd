// Reading files on Win32: whole files through read-only mappings, pieces through ReadFile.
//
// PLATFORM: Windows. LIMITATIONS: only a file on disk is taken; a pipe, a
//   console or a device is refused at once (GetFileType) rather than read, so
//   nothing here waits on one. Paths keep "\"; "/" works as well on Windows.
// DEPENDENCIES: kernel32 (CreateFileA, CreateFileMappingA, MapViewOfFile, ReadFile).
#include "platform/whole_file.h"

#include <windows.h>

namespace plat {

std::string nativePath(const char* path) { return std::string(path ? path : ""); }

namespace {

void (*openedHook)(const char* path) = nullptr;

// A file on disk open for reading, or INVALID_HANDLE_VALUE; `size` gets its length.
HANDLE openOnDisk(const char* path, uint64_t* size, bool* onDisk) {
    *size = 0;
    *onDisk = false;
    if (!path) return INVALID_HANDLE_VALUE;
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    LARGE_INTEGER length{};
    *onDisk = GetFileType(file) == FILE_TYPE_DISK;
    if (!*onDisk) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    if (GetFileSizeEx(file, &length) && length.QuadPart > 0) *size = static_cast<uint64_t>(length.QuadPart);
    if (*size > 0 && openedHook) openedHook(path);
    return file;
}

}  // namespace

void setFileOpenedHook(void (*hook)(const char* path)) { openedHook = hook; }

WholeFile::WholeFile(const char* path, size_t limit) {
    uint64_t length = 0;
    const HANDLE file = openOnDisk(path, &length, &opened_);
    if (file == INVALID_HANDLE_VALUE) return;
    // An empty file cannot be mapped; the size check says so first.
    if (length > 0 && length <= SIZE_MAX) {
        const size_t viewLength = length < limit ? static_cast<size_t>(length) : limit;
        const HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping) {
            const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, viewLength);
            if (view) {
                data_ = static_cast<const uint8_t*>(view);
                size_ = viewLength;
            }
            CloseHandle(mapping);  // the view keeps the mapping alive
        }
    }
    CloseHandle(file);
}

WholeFile::~WholeFile() {
    if (data_) UnmapViewOfFile(data_);
}

InputFile::InputFile(const char* path) {
    const HANDLE file = openOnDisk(path, &size_, &opened_);
    if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<intptr_t>(file);
}

InputFile::~InputFile() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

size_t InputFile::read(uint64_t offset, void* to, size_t length) {
    if (handle_ == -1) return 0;
    auto* bytes = static_cast<uint8_t*>(to);
    size_t got = 0;
    while (got < length) {
        const size_t rest = length - got;
        const DWORD ask = rest < 0x40000000 ? static_cast<DWORD>(rest) : 0x40000000;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>((offset + got) & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
        DWORD n = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(handle_), bytes + got, ask, &n, &at) || n == 0) break;
        got += n;
    }
    return got;
}

}  // namespace plat
