// The BMP reader on raw bytes: readDib, then convertDib into an array sized as
// the loader sizes it. libFuzzer hands over a heap copy of exactly the input's
// length, so AddressSanitizer sees any read past the end of the "file".
#include "image/image.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DibSource source;
    if (readDib(data, size, &source)) return 0;
    const DibHeader& header = *source.info;
    const int64_t rows = header.height < 0 ? -int64_t{header.height} : int64_t{header.height};
    // What readDib promises before the loader allocates anything.
    if (header.width <= 0 || rows <= 0 || header.width * rows > kMaxDibPixels) std::abort();
    if (source.bits < data || source.bits + source.bitsLength != data + size) std::abort();
    auto* rgb = static_cast<uint8_t*>(std::malloc(size_t(header.width * rows * 3)));
    if (rgb) convertDib(source, rgb);
    std::free(rgb);
    std::free(source.info);
    return 0;
}
