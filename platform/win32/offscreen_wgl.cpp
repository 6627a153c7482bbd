// An offscreen GL context for tests on Windows: a hidden window with a WGL
// context, standing in for the EGL pbuffer of the Linux tests.
//
// PLATFORM: Windows (and Wine). LIMITATIONS: the window is never shown, so on
//   a real desktop pixels may fail the ownership test; reading state back
//   (matrices, bindings, texture images) is what the tests use it for.
// DEPENDENCIES: user32, gdi32, opengl32.
#include "platform/offscreen/offscreen_gl.h"

#include "platform/gl.h"

#include <windows.h>

#include <cstring>

namespace plat {

namespace {
const char kClass[] = "contrail-offscreen";
}

OffscreenGl::OffscreenGl(int width, int height) : width_(width), height_(height) {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        return RegisterClassA(&wc) != 0;
    }();
    if (!registered) {
        error_ = "RegisterClassA failed";
        return;
    }
    HWND window = CreateWindowExA(0, kClass, "", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window) {
        error_ = "CreateWindowExA failed";
        return;
    }
    display_ = window;
    HDC dc = GetDC(window);
    surface_ = dc;
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    pfd.cDepthBits = 16;
    const int format = dc ? ChoosePixelFormat(dc, &pfd) : 0;
    if (format == 0 || !SetPixelFormat(dc, format, &pfd)) {
        error_ = "no pixel format";
        return;
    }
    HGLRC rc = wglCreateContext(dc);
    if (!rc || !wglMakeCurrent(dc, rc)) {
        if (rc) wglDeleteContext(rc);
        error_ = "no WGL context";
        return;
    }
    context_ = rc;
}

OffscreenGl::~OffscreenGl() {
    if (context_) {
        if (wglGetCurrentContext() == static_cast<HGLRC>(context_)) wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(static_cast<HGLRC>(context_));
    }
    if (surface_) ReleaseDC(static_cast<HWND>(display_), static_cast<HDC>(surface_));
    if (display_) DestroyWindow(static_cast<HWND>(display_));
}

bool OffscreenGl::makeCurrent() {
    return context_ && wglMakeCurrent(static_cast<HDC>(surface_), static_cast<HGLRC>(context_));
}

std::vector<uint8_t> OffscreenGl::readRgbTopDown() const {
    const size_t row = static_cast<size_t>(width_) * 3;
    std::vector<uint8_t> bottomUp(row * height_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width_, height_, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    std::vector<uint8_t> topDown(bottomUp.size());
    for (int y = 0; y < height_; ++y)
        std::memcpy(&topDown[y * row], &bottomUp[(height_ - 1 - y) * row], row);
    return topDown;
}

}  // namespace plat
