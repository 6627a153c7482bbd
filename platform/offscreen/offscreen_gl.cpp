// offscreen_gl.cpp - a 640 x 480 GL context without a window, on EGL (see offscreen_gl.h).
#include "platform/offscreen/offscreen_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include "platform/gl.h"

#include <cstring>

#ifndef GL_PACK_INVERT_MESA
#define GL_PACK_INVERT_MESA 0x8758
#endif

namespace plat {

namespace {

EGLDisplay openDisplay() {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay) {
        EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d != EGL_NO_DISPLAY) return d;
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

}  // namespace

OffscreenGl::OffscreenGl(int width, int height) : width_(width), height_(height) {
    EGLDisplay display = openDisplay();
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        error_ = "no EGL display";
        return;
    }
    display_ = display;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error_ = "EGL offers no desktop GL";
        return;
    }
    EGLConfig config = nullptr;
    EGLint found = 0;
    for (EGLint depth : {16, 24}) {
        const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RED_SIZE, 8,
                                     EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_DEPTH_SIZE, depth,
                                     EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        if (eglChooseConfig(display, attributes, &config, 1, &found) && found == 1) break;
    }
    if (found != 1) {
        error_ = "no pbuffer configuration";
        return;
    }
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    surface_ = eglCreatePbufferSurface(display, config, surfaceAttributes);
    if (surface_ == EGL_NO_SURFACE) {
        surface_ = nullptr;
        error_ = "no pbuffer";
        return;
    }
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        error_ = "no GL context";
        return;
    }
    context_ = context;
    if (!makeCurrent()) error_ = "cannot make the context current";
}

OffscreenGl::~OffscreenGl() {
    if (!display_) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_) eglDestroyContext(display_, context_);
    if (surface_) eglDestroySurface(display_, surface_);
    // The display is left initialised: other contexts of the process may share it.
}

bool OffscreenGl::makeCurrent() {
    if (!context_) return false;
    if (!eglMakeCurrent(display_, surface_, surface_, context_)) return false;
    glViewport(0, 0, width_, height_);
    return true;
}

std::vector<uint8_t> OffscreenGl::readRgbTopDown() const {
    const size_t row = static_cast<size_t>(width_) * 3;
    std::vector<uint8_t> bottomUp(row * height_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    std::vector<uint8_t> topDown(bottomUp.size());
    for (int y = 0; y < height_; ++y)
        std::memcpy(&topDown[y * row], &bottomUp[(height_ - 1 - y) * row], row);
    return topDown;
}

void OffscreenGl::readRgbaTopDown(uint8_t* out) const {
    // Mesa turns the rows over itself while it copies them out.
    static const bool invert = [] {
        const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
        return extensions != nullptr && std::strstr(extensions, "GL_MESA_pack_invert") != nullptr;
    }();
    const size_t row = static_cast<size_t>(width_) * 4;
    if (invert) glPixelStorei(GL_PACK_INVERT_MESA, GL_TRUE);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, out);
    if (invert) {
        glPixelStorei(GL_PACK_INVERT_MESA, GL_FALSE);
        return;
    }
    std::vector<uint8_t> swap(row);
    for (int y = 0; y < height_ / 2; ++y) {
        uint8_t* top = out + y * row;
        uint8_t* bottom = out + (height_ - 1 - y) * row;
        std::memcpy(swap.data(), top, row);
        std::memcpy(top, bottom, row);
        std::memcpy(bottom, swap.data(), row);
    }
}

}  // namespace plat
