// The whole BMP loader, file reading and message boxes included, on a scratch file.
#include "fuzz_support.h"
#include "image/image.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietBoxes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImageRGB* image = loadDibImage(fuzz::writeScratch(".bmp", data, size).c_str());
    if (!image) return 0;
    if (image->width <= 0 || image->height <= 0 || !image->pixels) std::abort();
    std::free(image->pixels);
    std::free(image);
    return 0;
}
