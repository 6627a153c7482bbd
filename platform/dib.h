// dib.h - the system's DIB conversion, where the platform has one.
//
// On Windows GDI turns a DIB's pixel data into a 24-bit DIB section, and the
// picture loader hands its conversion to it; elsewhere there is none and the
// loader converts by itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// `info` is a 40-byte info header followed by its colour table of four-byte
// entries (the BITMAPINFO form); `bits` is the pixel data it describes, whose
// bounds the caller has already checked, and `bitsLength` the bytes from there
// to the end of the file (run-length data is read up to its end mark, which
// may lie past the header's image size). Writes |height| rows of width * 3
// bytes into `rgb`, bottom row first, each pixel red, green, blue. Returns
// null, or the failure's message: "Out of memory." when a device context or
// section cannot be made, "Image file conversion error." when no line converts.
using DibConversion = const char* (*)(const void* info, const uint8_t* bits, size_t bitsLength, uint8_t* rgb);

// Null where the platform has no DIB engine.
DibConversion systemDibConversion();

}  // namespace plat
