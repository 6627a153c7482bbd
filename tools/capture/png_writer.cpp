// The frames as PNG files, compressed and written on threads of their own.
#include "tools/capture/capture.h"

#include "tools/common/files.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace capture {

std::string encodePng(const uint8_t* rgba) {
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(
            png, &bytes,
            [](png_structp p, png_bytep data, png_size_t n) {
                static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
            },
            nullptr);
        // Speed over size: a frame must be written faster than the show plays.
        // Run-length matches after the "sub" filter take half the time of
        // zlib's fastest level on the starry cards, and the black flight
        // frames shrink just as well.
        png_set_compression_level(png, 1);
        png_set_compression_strategy(png, Z_RLE);
        png_set_filter(png, 0, PNG_FILTER_SUB);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_filler(png, 0, PNG_FILLER_AFTER);  // the rows carry alpha; the file does not
        for (int y = 0; y < kHeight; ++y) png_write_row(png, rgba + static_cast<size_t>(y) * kWidth * 4);
        png_write_end(png, nullptr);
    } else {
        bytes.clear();
    }
    png_destroy_write_struct(&png, &info);
    return bytes;
}

PngWriters::PngWriters(const std::string& out) : out_(out) {
    const unsigned count = std::max(2u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { run(); });
}

void PngWriters::finish() {
    queue_.close();
    for (auto& t : threads_) t.join();
    threads_.clear();
}

void PngWriters::run() {
    FramePtr f;
    while (queue_.pop(f)) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%05lld.png", static_cast<long long>(f->number));
        EncodedPng& png = *f->png;
        std::call_once(png.once, [&] { png.bytes = encodePng(f->rgba.get()); });
        if (!failed_ && (png.bytes.empty() || !files::writeFile(out_ + name, png.bytes))) {
            std::fprintf(stderr, "\ncontrail-capture: cannot write %s%s\n", out_.c_str(), name);
            failed_ = true;
        }
    }
}

}  // namespace capture
