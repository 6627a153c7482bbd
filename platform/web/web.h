// web.h - the browser backend: window layer, page loop and the page's hooks.
//
// PLATFORM: WebAssembly in a web page (emscripten), WebGL 2 through the GL 1.x
// emulation, Web Audio for the music.
// LIMITATIONS: one canvas, one WebGL context for the page's whole life; the
// page owns the loop, so the program runs one step per animation frame.
// DEPENDENCIES: emscripten's html5.h, its built-in GLFW and GL emulation; no ports.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <vector>

namespace plat {

const PlatformApi* webPlatform();

// Puts a message on the web window's queue (the page's close, for one).
void webPostMessage(uint32_t message, uintptr_t wParam);
// A new animation frame begins (see the key-up rule in web_platform.cpp).
void webNewFrame();

// The window's context is released: every texture made since the last call
// is deleted and the GL state the show sets is back at its defaults
// (web_gl.cpp).
void webGlReleaseContext();

// The page around the program (web_page.cpp).

// A URL option of the page (?name=N; ?name=A,B,... for a list), as the page
// parsed it, or `fallback` / an empty list when it is missing.
int pageOption(const char* name, int fallback);
std::vector<int> pageListOption(const char* name);
// Runs `frame` once per animation frame, or as fast as the browser runs them,
// until stopFrames.
void runEveryFrame(void (*frame)(), bool asFastAsPossible);
void stopFrames();
// What the page is told: a frame was drawn, the show ended (and why), and a
// frame read back from the canvas (Module.contrailSnapshots[clockMs]).
void pageFrameDrawn(int clockMs, int phase, int64_t frames);
void pageEnded(int status, const char* why);
void pageSnapshot(int clockMs, int64_t frame, int width, int height);

// What the page's own events call.
struct PageEvents {
    void (*gesture)() = nullptr;  // the first click or key: the music may start
    void (*close)() = nullptr;    // the page is going away
    void (*restart)() = nullptr;  // "Play again"
    int (*clock)() = nullptr;     // the show's clock in ms, for tests
};
void setPageEvents(const PageEvents& events);

}  // namespace plat
