// web.h - the browser backend: window layer, page loop and the page's hooks.
//
// PLATFORM: WebAssembly in a web page (emscripten), WebGL 2 through the GL 1.x
// emulation, Web Audio for the music.
// LIMITATIONS: one canvas, one WebGL context for the page's whole life; the
// page owns the loop, so the shell runs one pass per animation frame.
// DEPENDENCIES: emscripten's html5.h, its built-in GLFW and GL emulation; no ports.
#pragma once

#include "platform/platform.h"

namespace plat {

const PlatformApi* webPlatform();

// Puts a message on the web window's queue (the page's close, for one).
void webPostMessage(uint32_t message, uintptr_t wParam);
// A new animation frame begins (see the key-up rule in web_platform.cpp).
void webNewFrame();

// What the page loop drives: the shell's loop in steps, plus what the page
// needs to restart the show and to say where it is.
struct PageHooks {
    bool (*start)() = nullptr;                    // window and scene; false when they cannot be made
    bool (*pass)(bool* queueWasEmpty) = nullptr;  // one pass of the loop; false when it is over
    int (*end)() = nullptr;                       // releases what is left; the exit status
    void (*reset)() = nullptr;                    // back to a fresh process's state, for "play again"
    int (*clock)() = nullptr;                     // the show's clock (ms) and its phase, for the page
    int (*phase)() = nullptr;
};

// Starts the show under the page's animation frames and returns; the page
// keeps the program alive. The end of the show, Escape and the close of the
// page stop the loop, release the window and silence the music.
void runPage(const PageHooks& hooks);

}  // namespace plat
