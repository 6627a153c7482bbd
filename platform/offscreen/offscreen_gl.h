// offscreen_gl.h - a GL rendering context without a display.
//
// Tests and the capture tool render the real scene code into a pbuffer of an
// EGL display on Mesa's surfaceless platform (llvmpipe), so they need neither
// an X server nor a GPU. The context is a compatibility-profile desktop GL
// context, so the fixed-function calls the demo makes work unchanged.
#pragma once

#include <cstdint>
#include <vector>

namespace plat {

class OffscreenGl {
public:
    // Makes a width x height RGBA8 pbuffer with a 16-bit depth buffer (24 where
    // 16 is not offered) and makes its context current on this thread.
    OffscreenGl(int width, int height);
    ~OffscreenGl();
    OffscreenGl(const OffscreenGl&) = delete;
    OffscreenGl& operator=(const OffscreenGl&) = delete;

    bool ok() const { return context_ != nullptr; }
    const char* error() const { return error_; }
    int width() const { return width_; }
    int height() const { return height_; }

    bool makeCurrent();
    // Reads the colour buffer as tightly packed RGB rows, top row first.
    std::vector<uint8_t> readRgbTopDown() const;
    // The same as RGBA rows into `out` (width * height * 4 bytes): the form
    // the driver hands over fastest, for a caller that reads every frame.
    void readRgbaTopDown(uint8_t* out) const;

private:
    void* display_ = nullptr;
    void* surface_ = nullptr;
    void* context_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    const char* error_ = nullptr;
};

}  // namespace plat
