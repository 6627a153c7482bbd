// shell.h - the application shell: entry point, main loop, window and GL context.
//
// `WinMain` makes the 640 x 480 window (full-screen first, or windowed if the
// user accepts the fallback), then polls the message queue: whenever it is empty
// and the window is not minimised it draws a frame with drawScene() and swaps.
// Escape ends the loop, F1 rebuilds window, context and scene in the other
// display mode. `createGLWindow` runs initScene() as its last step, so every
// new context gets its own textures and objects. All window-system calls go
// through platform/platform.h; the scene is whatever `setScene` was handed
// (the executable hands it the demo, tests a scene of their own).
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Key table indexed by virtual-key code, fed by WndProc.
extern bool keys[256];
extern bool active;      // false while the window is minimised
extern bool fullscreen;  // the current window is full-screen

extern plat::Handle hInstance;
extern plat::Handle hWnd;
extern plat::Handle hDC;
extern plat::Handle hRC;

// What the shell draws: set-up for each new GL context, and one frame. Both
// return true whenever they return.
struct Scene {
    bool (*initScene)() = nullptr;
    bool (*drawScene)() = nullptr;
};
// Until a scene is set, set-up succeeds and frames stay black.
void setScene(const Scene& scene);

// Returns the process's exit status.
int WinMain(plat::Handle instance, plat::Handle previousInstance, char* commandLine, int showCommand);

// WinMain's loop in three steps, for a host that owns the loop (a browser
// calls one pass per frame): WinMain is shellStart, then runOnePass until it
// returns false, then shellEnd. A pass either handles one message or, when
// the queue is empty (*queueWasEmpty set), draws a frame and looks at F1.
bool shellStart();  // false: no window; shellEnd still gives the status
bool runOnePass(bool* queueWasEmpty = nullptr);
int shellEnd();  // releases the window if one is left; the exit status

intptr_t WndProc(plat::Handle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// True when window, context and scene set-up are all in place; otherwise the
// user has been told why and whatever was made has been released.
bool createGLWindow(const char* title, int width, int height, int bits, bool fullscreenRequest);
void killGLWindow();
void resizeScene(int width, int height);

// Puts the shell's globals back to their start-up values (tests, and the
// web page's "Play again").
void resetShell();
