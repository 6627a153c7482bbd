// dib_image.cpp - BMP files read into bottom-up RGB pixel arrays.
#include "image/image.h"

#include "platform/dib.h"
#include "platform/mapped_file.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

const char kOutOfMemory[] = "Out of memory.";
const char kUnknownFormat[] = "Unknown DIB file format.";
const char kConversionError[] = "Image file conversion error.";

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t read32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void showError(const char* text) {
    const plat::PlatformApi& p = plat::platform();
    p.messageBox(p.getFocus(), text, "Error", plat::MB_OK);
}

int64_t rowCount(const DibHeader& header) {
    return header.height < 0 ? -int64_t{header.height} : int64_t{header.height};
}

// Our conversion walks and checks every byte it reads. Where the system has a
// DIB engine (GDI), that engine then makes the picture, from data that has
// passed those checks.
const char* convert(const DibSource& source, uint8_t* pixels) {
    if (!convertDib(source, pixels)) return kConversionError;
    const plat::DibConversion system = plat::systemDibConversion();
    return system ? system(source.info, source.bits, source.bitsLength, pixels) : nullptr;
}

// Whether `bitsLength` bytes of pixel data can fill the picture the header
// declares (width * rows already within kMaxDibPixels, so nothing overflows).
bool dataCanFill(const DibHeader& header, int64_t rows, size_t bitsLength) {
    if (header.compression == kDibRle8 || header.compression == kDibRle4) return true;  // see kMaxDibPixels
    // Everything else stores whole rows padded to 4 bytes, at one bit a pixel at the least.
    const uint64_t bits = header.bitCount ? header.bitCount : 1;
    const uint64_t stride = (uint64_t(header.width) * bits + 31) / 32 * 4;
    return stride * uint64_t(rows) <= bitsLength;
}

ImageRGB* loadMapped(const plat::MappedFile& file) {
    DibSource source;
    const char* failure = readDib(file.data(), file.size(), &source);
    if (failure) {
        showError(failure);
        return nullptr;
    }
    const DibHeader header = *source.info;
    const int64_t rows = rowCount(header);  // readDib has checked width * rows against the data
    auto* pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(header.width * rows * 3)));
    ImageRGB* record = nullptr;
    if (!pixels) {
        failure = kOutOfMemory;
    } else {
        failure = convert(source, pixels);
        if (!failure && !(record = static_cast<ImageRGB*>(std::malloc(sizeof(ImageRGB))))) failure = kOutOfMemory;
    }
    if (failure) showError(failure);
    std::free(source.info);
    if (!record) {
        std::free(pixels);
        return nullptr;
    }
    record->width = header.width;
    record->height = static_cast<int32_t>(rows);
    record->pixels = pixels;
    return record;
}

}  // namespace

bool dibFileMissing(const char* path) {
    if (!path) return true;
    const std::string native = plat::nativePath(path);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(native, error);
    if (!std::filesystem::exists(status)) return true;
    // Opening a FIFO for reading waits for a writer, so only regular files are
    // tried; those never block.
    if (!std::filesystem::is_regular_file(status)) return false;
    std::FILE* probe = std::fopen(native.c_str(), "r");
    if (!probe) return true;
    std::fclose(probe);
    return false;
}

uint16_t dibColorCount(uint32_t headerSize, uint16_t bitCount, uint32_t colorsUsed) {
    if (headerSize == 40 && colorsUsed != 0) return static_cast<uint16_t>(colorsUsed & 0xFFFF);
    switch (bitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

const char* readDib(const uint8_t* file, size_t length, DibSource* source) {
    *source = DibSource{};
    // Every offset below is checked against `length` before it is read.
    size_t headerAt = 0;
    size_t bitsAt = 0;
    const bool fileHeader = length >= 2 && file[0] == 'B' && file[1] == 'M';
    if (fileHeader) {
        if (length < 14) return kConversionError;
        headerAt = 14;
        bitsAt = read32(file + 10);
    }
    if (length - headerAt < 4) return kConversionError;
    const uint8_t* h = file + headerAt;
    const uint32_t headerSize = read32(h);
    if (headerSize != 12 && headerSize != 40) return kUnknownFormat;
    if (length - headerAt < headerSize) return kConversionError;

    DibHeader header{};
    header.size = 40;
    if (headerSize == 12) {
        header.width = read16(h + 4);
        header.height = read16(h + 6);
        header.planes = read16(h + 8);
        header.bitCount = read16(h + 10);
    } else {
        header.width = static_cast<int32_t>(read32(h + 4));
        header.height = static_cast<int32_t>(read32(h + 8));
        header.planes = read16(h + 12);
        header.bitCount = read16(h + 14);
        header.compression = read32(h + 16);
        header.imageSize = read32(h + 20);
        header.xPelsPerMeter = static_cast<int32_t>(read32(h + 24));
        header.yPelsPerMeter = static_cast<int32_t>(read32(h + 28));
        header.colorsUsed = read32(h + 32);
        header.colorsImportant = read32(h + 36);
    }
    const uint16_t count = dibColorCount(headerSize, header.bitCount, header.colorsUsed);
    if (headerSize == 12) header.colorsUsed = header.colorsImportant = count;

    const size_t entrySize = headerSize == 12 ? 3 : 4;
    const size_t tableAt = headerAt + headerSize;
    if (length - tableAt < count * entrySize) return kConversionError;
    if (!fileHeader) bitsAt = tableAt + count * entrySize;
    if (bitsAt > length) return kConversionError;

    // The size decides the output array's size, so it is checked here, before
    // anything is allocated.
    const int64_t rows = rowCount(header);
    if (header.width <= 0 || rows == 0 || header.width > kMaxDibPixels / rows ||
        !dataCanFill(header, rows, length - bitsAt)) {
        return kConversionError;
    }
    if (header.imageSize == 0) {
        // Rows rounded up to whole bytes, not to 4-byte multiples.
        const uint64_t size = (uint64_t{header.bitCount} * uint64_t(header.width) + 7) / 8 *
                              uint64_t(rows);
        header.imageSize = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
    }
    if (header.colorsUsed == 0) header.colorsUsed = count;

    auto* info = static_cast<DibHeader*>(std::malloc(sizeof(DibHeader) + 4 * size_t{count}));
    if (!info) return kOutOfMemory;
    *info = header;
    auto* table = reinterpret_cast<uint8_t*>(info + 1);
    const uint8_t* from = file + tableAt;
    if (entrySize == 4) {
        std::memcpy(table, from, 4 * size_t{count});
    } else {
        for (size_t i = 0; i < count; ++i, from += 3, table += 4) {
            table[0] = from[0];
            table[1] = from[1];
            table[2] = from[2];
            table[3] = 0;
        }
    }
    source->info = info;
    source->colorCount = count;
    source->bits = file + bitsAt;
    source->bitsLength = length - bitsAt;
    return nullptr;
}

ImageRGB* loadDibImage(const char* path) {
    {
        const plat::MappedFile file(path, kMaxDibFileBytes);
        if (file.ok()) return loadMapped(file);
    }
    char text[256];
    std::snprintf(text, sizeof text, "Failed to open DIB file %s.\n", path ? path : "");
    showError(text);
    return nullptr;
}
