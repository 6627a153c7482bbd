// DIB conversion through GDI.
//
// PLATFORM: Windows (and Wine).
// LIMITATIONS: GDI trusts the lengths in the header it is given, so callers
//   check the pixel data against the file first. The target header keeps the
//   sign of the source's height: a top-down picture gives a top-down section,
//   whose rows are read back in reverse so the result is bottom row first like
//   every other picture's.
// DEPENDENCIES: gdi32 (CreateCompatibleDC, CreateDIBSection, SelectObject,
//   SetDIBits, GdiFlush), kernel32 (LocalAlloc).
#include "platform/dib.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace plat {

namespace {

const char kOutOfMemory[] = "Out of memory.";
const char kConversionError[] = "Image file conversion error.";

const char* convertThrough(const BITMAPINFO* source, const uint8_t* bits, uint8_t* rgb);

// GDI is handed a copy of the header whose colour table it cannot read past:
// it takes 2, 16 or 256 entries whenever the colours-used field is 0 or too
// big, so a shorter table is padded with black (what our own conversion gives
// an index past the table). And GDI reads run-length data only as far as the
// header's image size, which a file may give as 0 (then filled in as if the
// data were uncompressed) or too small; the caller has walked the data to its
// end mark, so GDI is told the length up to the end of the file instead.
const char* gdiConvert(const void* info, const uint8_t* bits, size_t bitsLength, uint8_t* rgb) {
    const auto* source = static_cast<const BITMAPINFO*>(info);
    const BITMAPINFOHEADER& header = source->bmiHeader;
    const size_t entries = header.biClrUsed & 0xFFFF;  // the table the caller has
    const size_t full = header.biBitCount <= 8 ? size_t{1} << header.biBitCount : 0;
    const size_t table = std::max(entries, full);
    auto* copy = static_cast<BITMAPINFO*>(LocalAlloc(LPTR, sizeof(BITMAPINFOHEADER) + 4 * table));
    if (!copy) return kOutOfMemory;
    std::memcpy(copy, source, sizeof(BITMAPINFOHEADER) + 4 * entries);
    copy->bmiHeader.biClrUsed = static_cast<DWORD>(table);
    if ((header.biCompression == BI_RLE8 || header.biCompression == BI_RLE4) && header.biSizeImage < bitsLength)
        copy->bmiHeader.biSizeImage = static_cast<DWORD>(std::min<size_t>(bitsLength, MAXDWORD));
    const char* failure = convertThrough(copy, bits, rgb);
    LocalFree(copy);
    return failure;
}

const char* convertThrough(const BITMAPINFO* source, const uint8_t* bits, uint8_t* rgb) {
    const LONG width = source->bmiHeader.biWidth;
    const LONG height = source->bmiHeader.biHeight;
    const LONG rows = height < 0 ? -height : height;

    const char* failure = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    auto* target = static_cast<BITMAPINFOHEADER*>(LocalAlloc(LPTR, sizeof(BITMAPINFOHEADER)));
    HBITMAP section = nullptr;
    void* memory = nullptr;
    if (dc && target) {
        target->biSize = sizeof(BITMAPINFOHEADER);
        target->biWidth = width;
        target->biHeight = height;
        target->biPlanes = 1;
        target->biBitCount = 24;
        target->biCompression = BI_RGB;
        target->biSizeImage = static_cast<DWORD>(rows * width * 3);
        section = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(target), DIB_RGB_COLORS, &memory, nullptr, 0);
    }
    if (!dc || !target || !section || !memory || !SelectObject(dc, section)) {
        failure = kOutOfMemory;
    } else if (SetDIBits(dc, section, 0, static_cast<UINT>(rows), bits, source, DIB_RGB_COLORS) == 0) {
        failure = kConversionError;
    } else {
        GdiFlush();
        // Section rows are padded to four bytes: 3 * width + width % 4.
        const size_t stride = size_t(width) * 3 + size_t(width) % 4;
        const auto* in = static_cast<const uint8_t*>(memory);
        for (LONG r = 0; r < rows; ++r) {
            const uint8_t* row = in + size_t(height < 0 ? rows - 1 - r : r) * stride;
            uint8_t* out = rgb + size_t(r) * size_t(width) * 3;
            for (LONG x = 0; x < width; ++x, row += 3, out += 3) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
            }
        }
    }
    if (dc) DeleteDC(dc);
    if (section) DeleteObject(section);
    if (target) LocalFree(target);
    return failure;
}

}  // namespace

DibConversion systemDibConversion() { return gdiConvert; }

}  // namespace plat
