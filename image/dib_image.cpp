// dib_image.cpp - BMP files read into bottom-up RGB pixel arrays.
#include "image/image.h"

#include "platform/dib.h"
#include "platform/whole_file.h"
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

namespace {

// Marks a head too short for its colour table (parseDib).
const char kNeedMore[] = "";

// readDib on a file of `length` bytes of which the first `available` are in
// `file`, at least min(length, kHeadBytes) of them. Every check is against
// `length`, so the result is readDib's on the whole file, except that it
// returns kNeedMore with the bytes it needs in `needed` when the colour table
// runs past `available`. `bitsAt` gets the offset of the pixel data.
const char* parseDib(const uint8_t* file, size_t available, size_t length, DibSource* source,
                     size_t* bitsAtOut, size_t* needed) {
    *source = DibSource{};
    // Every offset below is checked against `length` before it is read; the
    // head holds every byte up to the colour table whenever the file does.
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
        const uint64_t size = (uint64_t{header.bitCount} * uint64_t(header.width) + 7) / 8 * uint64_t(rows);
        header.imageSize = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
    }
    if (header.colorsUsed == 0) header.colorsUsed = count;
    if (tableAt + count * entrySize > available) {
        *needed = tableAt + count * entrySize;
        return kNeedMore;
    }

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
    source->bits = bitsAt < available ? file + bitsAt : nullptr;
    source->bitsLength = length - bitsAt;
    *bitsAtOut = bitsAt;
    return nullptr;
}

}  // namespace

const char* readDib(const uint8_t* file, size_t length, DibSource* source) {
    size_t bitsAt = 0, needed = 0;
    const char* failure = parseDib(file, length, length, source, &bitsAt, &needed);
    source->bits = failure ? nullptr : file + bitsAt;
    return failure;
}

namespace {

// The first read: any header and colour table of up to 1,010 entries.
constexpr size_t kHeadBytes = 4096;
// Uncompressed rows are read this many bytes at a time (one row at the least):
// small enough to stay in the cache for their conversion, and a heap block of
// its own size every time, never a fresh mapping (see tuneAllocator).
constexpr size_t kRowBytes = 64 * 1024;

// The file as the loader has it: what was read of its head, and its length,
// which shrinks when a read comes short (a file cut short since it was opened).
struct Head {
    uint8_t* bytes;
    size_t available;
    size_t length;
};

// parseDib again on a file found shorter than it was: the failure a file of
// that length gives.
const char* failureWhenShort(const Head& head, size_t length) {
    DibSource source;
    size_t bitsAt = 0, needed = 0;
    const char* failure = parseDib(head.bytes, head.available < length ? head.available : length, length,
                                   &source, &bitsAt, &needed);
    std::free(source.info);
    return failure && failure != kNeedMore ? failure : kConversionError;
}

// Uncompressed rows, a few at a time, converted from the row buffer into `pixels`.
const char* readRows(plat::InputFile& file, const Head& head, const DibSource& source, size_t bitsAt,
                     uint8_t* pixels) {
    const DibHeader& header = *source.info;
    const size_t stride = static_cast<size_t>(dibRowStride(header));
    const int64_t rows = rowCount(header);
    const int64_t batch = stride < kRowBytes ? static_cast<int64_t>(kRowBytes / stride) : 1;
    auto* buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(batch) * stride));
    if (!buffer) return kOutOfMemory;
    const char* failure = nullptr;
    for (int64_t r = 0; r < rows; r += batch) {
        const int64_t count = rows - r < batch ? rows - r : batch;
        const size_t at = bitsAt + static_cast<size_t>(r) * stride,
                     want = static_cast<size_t>(count) * stride;
        const size_t got = file.read(at, buffer, want);
        if (got < want) {
            failure = failureWhenShort(head, at + got);
            break;
        }
        convertDibRows(source, buffer, r, count, pixels);
    }
    std::free(buffer);
    return failure;
}

// The rest of the file in one piece, then the whole conversion (run-length
// data, data the conversion refuses, and data for a system DIB engine).
const char* readRest(plat::InputFile& file, const Head& head, DibSource source, size_t bitsAt,
                     uint8_t* pixels) {
    const size_t want = head.length - bitsAt;
    auto* bits = static_cast<uint8_t*>(std::malloc(want ? want : 1));
    if (!bits) return kOutOfMemory;
    const size_t got = file.read(bitsAt, bits, want);
    const char* failure = nullptr;
    if (got < want) {
        // A shorter run-length file may still be whole; then it converts as it is.
        DibSource shorter;
        size_t shorterBitsAt = 0, needed = 0;
        failure = parseDib(head.bytes, head.available < bitsAt + got ? head.available : bitsAt + got,
                           bitsAt + got, &shorter, &shorterBitsAt, &needed);
        std::free(shorter.info);
        if (failure == kNeedMore) failure = kConversionError;
    }
    if (!failure) {
        source.bits = bits;
        source.bitsLength = got;
        failure = convert(source, pixels);
    }
    std::free(bits);
    return failure;
}

}  // namespace

ImageRGB* loadDibImage(const char* path) {
    plat::InputFile file(path);
    uint8_t first[kHeadBytes];
    Head head{first, 0, file.size() < kMaxDibFileBytes ? static_cast<size_t>(file.size()) : kMaxDibFileBytes};
    if (head.length > 0) {
        const size_t want = head.length < kHeadBytes ? head.length : kHeadBytes;
        head.available = file.read(0, first, want);
        if (head.available < want) head.length = head.available;
    }
    if (head.length == 0) {
        char text[256];
        std::snprintf(text, sizeof text, "Failed to open DIB file %s.\n", path ? path : "");
        showError(text);
        return nullptr;
    }

    DibSource source;
    size_t bitsAt = 0, needed = 0;
    uint8_t* longHead = nullptr;
    const char* failure;
    while ((failure = parseDib(head.bytes, head.available, head.length, &source, &bitsAt, &needed)) ==
           kNeedMore) {
        // A long colour table: the head again, up to its end.
        auto* grown = static_cast<uint8_t*>(std::realloc(longHead, needed));
        if (!grown) {
            failure = kOutOfMemory;
            break;
        }
        if (!longHead) std::memcpy(grown, first, head.available);
        longHead = grown;
        head.bytes = grown;
        head.available += file.read(head.available, grown + head.available, needed - head.available);
        if (head.available < needed) head.length = head.available;
    }
    ImageRGB* record = nullptr;
    uint8_t* pixels = nullptr;
    if (!failure) {
        const DibHeader header = *source.info;
        const int64_t rows = rowCount(header);  // parseDib has checked width * rows against the data
        pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(header.width * rows * 3)));
        if (!pixels) {
            failure = kOutOfMemory;
        } else {
            failure = dibRowStride(header) != 0 && !plat::systemDibConversion()
                          ? readRows(file, head, source, bitsAt, pixels)
                          : readRest(file, head, source, bitsAt, pixels);
        }
        if (!failure && !(record = static_cast<ImageRGB*>(std::malloc(sizeof(ImageRGB)))))
            failure = kOutOfMemory;
        if (record) {
            record->width = header.width;
            record->height = static_cast<int32_t>(rows);
            record->pixels = pixels;
        }
    }
    if (failure) showError(failure);
    std::free(source.info);
    std::free(longHead);
    if (!record) std::free(pixels);
    return record;
}
