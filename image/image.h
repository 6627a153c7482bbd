// image.h - pictures and textures.
//
// `loadDibImage` reads a BMP file (or a packed DIB without the file header)
// and returns it as tightly packed 24-bit RGB rows, bottom row first. It reads
// the header and colour table, then uncompressed pixel rows a few at a time
// into a small buffer that their conversion empties straight into the output;
// only run-length data (and, on Windows, data for GDI) is read in one piece.
// Every failure shows one message box (caption "Error") through the platform
// layer and returns null; nothing ever reads outside the file. `loadTexture`
// turns a picture into a linear-filtered GL texture, and `EnvironmentCubeMap`
// loads the six sky-box faces into the default cube map.
//
// Inside the loader, `readDib` checks the file's structure against its length
// and turns its header into the 40-byte info form with a 4-byte colour table
// (the form GDI takes), and `convertDib` turns the pixel data into RGB rows.
// The conversion is kept apart so a native build can hand it to GDI instead.
// It takes uncompressed 1-, 4-, 8-, 16- (5-5-5), 24- and 32-bit data, RLE8 and
// RLE4; top-down files come out upright like bottom-up ones, with a positive
// height in the record. No picture may claim more memory than its file can
// fill: `readDib` refuses sizes over `kMaxDibPixels` and uncompressed data
// shorter than its rows, before the output array is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

struct ImageRGB {
    int32_t width;
    int32_t height;
    uint8_t* pixels;  // width * height * 3 bytes; record and array both released with free()
};

// "\" and "/" both separate folders. Returns null after showing its message box.
ImageRGB* loadDibImage(const char* path);

// True when `path` names no file or a regular file this process may not read:
// the case that texture and cube-face loading pass over without a box. Other
// kinds of file (folders, FIFOs, devices) count as present and go on to the
// loader, which refuses them with its box; the check never waits on them.
bool dibFileMissing(const char* path);

// Returns the new GL texture name, or -1 (no message for a missing file).
// Needs a current GL context; the new texture is left bound to GL_TEXTURE_2D.
// Rows of any width upload as they are: the unpack alignment is 1 for the
// upload and restored afterwards.
int32_t loadTexture(const char* path);

// A sky-box face's pixel array (free() it), or null. Only a 512 x 512 picture
// gives an array; any other size counts as missing, without a message.
uint8_t* loadCubeFace(const char* path);

class EnvironmentCubeMap {
public:
    EnvironmentCubeMap();  // needs a current GL context
};

// ---- The loader's two halves ----

constexpr uint32_t kDibRgb = 0, kDibRle8 = 1, kDibRle4 = 2;  // compression

// 16 Mpixels (4096 x 4096, 48 MB of output): 64 times the show's largest
// picture (512 x 512) and as large as any texture GL 1.3-era hardware takes,
// so no real picture comes near it, while the worst claim stays far below the
// memory the program can afford.
constexpr int64_t kMaxDibPixels = int64_t{1} << 24;

// Run-length data cannot bound its picture: jumps, line ends and an early end
// mark leave pixels black for free, so a few bytes can make a valid, mostly
// blank picture of any size. Such a picture is taken up to kMaxDibPixels
// whatever its data; the ceiling alone bounds the output array.

// A picture file is read up to this many bytes: more than any picture within
// kMaxDibPixels needs (32-bit rows come to 64 MB), so with the output array
// the loader's memory stays below 200 MB whatever the file. A longer file is
// read as its first 128 MB.
constexpr size_t kMaxDibFileBytes = size_t{128} << 20;

// A DIB header in the 40-byte info form (BITMAPINFOHEADER).
struct DibHeader {
    uint32_t size;
    int32_t width;
    int32_t height;  // negative when the top row is stored first
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t imageSize;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t colorsUsed;
    uint32_t colorsImportant;
};
static_assert(sizeof(DibHeader) == 40, "DibHeader must keep the file layout");

// A DIB found in a file image.
struct DibSource {
    // One malloc'd block: the header, then `colorCount` colour entries of four
    // bytes (blue, green, red, 0). The owner free()s it.
    DibHeader* info = nullptr;
    uint16_t colorCount = 0;
    const uint8_t* bits = nullptr;  // the pixel data, inside the file image
    size_t bitsLength = 0;          // bytes from `bits` to the end of the file
};

// Colour-table length: a 40-byte header's non-zero colours-used field (low 16
// bits), else 2, 16 or 256 for 1, 4 or 8 bits per pixel, else 0.
uint16_t dibColorCount(uint32_t headerSize, uint16_t bitCount, uint32_t colorsUsed);

// Finds the DIB in `length` bytes of a BMP file or packed DIB and fills
// `source` (an image size or colours-used field of 0 is filled in). Returns
// null, or the failure's message text with `source->info` left null. A size
// the pixel data cannot fill (see above) is a conversion error.
const char* readDib(const uint8_t* file, size_t length, DibSource* source);

// Writes the picture into `rgb`: |height| rows of width * 3 bytes, bottom row
// first, each pixel red, green, blue. False if the data is of a kind it does
// not take or does not fit in `bitsLength`.
bool convertDib(const DibSource& source, uint8_t* rgb);

// The bytes of one stored row (padded to 4) of uncompressed data of a depth
// convertDib takes, or 0 for any other data.
uint64_t dibRowStride(const DibHeader& header);

// Converts such data's stored rows [first, first + count), in file order, read
// one after another from `rows`, into their places in `rgb`: the same bytes
// convertDib writes for them. `source.bits` is not read.
void convertDibRows(const DibSource& source, const uint8_t* rows, int64_t first, int64_t count, uint8_t* rgb);
