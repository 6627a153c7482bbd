// Read-only file mappings on Win32.
//
// PLATFORM: Windows. LIMITATIONS: only a file on disk is mapped; a pipe, a
//   console or a device is refused at once (GetFileType) rather than read, so
//   nothing here waits on one. Paths keep "\"; "/" works as well on Windows.
// DEPENDENCIES: kernel32 (CreateFileA, CreateFileMappingA, MapViewOfFile).
#include "platform/mapped_file.h"

#include <windows.h>

namespace plat {

std::string nativePath(const char* path) { return std::string(path ? path : ""); }

namespace {
void (*openedHook)(const char* path) = nullptr;
}

void MappedFile::setOpenedHook(void (*hook)(const char* path)) { openedHook = hook; }

MappedFile::MappedFile(const char* path, size_t limit) {
    if (!path) return;
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER length{};
    opened_ = GetFileType(file) == FILE_TYPE_DISK;
    if (opened_ && GetFileSizeEx(file, &length) && length.QuadPart > 0 &&
        static_cast<unsigned long long>(length.QuadPart) <= SIZE_MAX) {
        // An empty file cannot be mapped; the size check above says so first.
        if (openedHook) openedHook(path);
        const size_t viewLength = static_cast<unsigned long long>(length.QuadPart) < limit
                                      ? static_cast<size_t>(length.QuadPart)
                                      : limit;
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

MappedFile::~MappedFile() {
    if (data_) UnmapViewOfFile(data_);
}

}  // namespace plat
