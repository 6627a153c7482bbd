// platform.cpp - the chosen window system (headless until one is chosen) and the process's end.
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace plat {

namespace {

// Until a backend is chosen nothing can be made, but a message box still
// reaches the user through standard error.
int headlessMessageBox(Handle, const char* text, const char* caption, uint32_t type) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
}

const PlatformApi headless = {
    .name = "headless",
    .getModuleHandle = [] { return Handle{}; },
    .registerClass = [](const WindowClass&) { return false; },
    .unregisterClass = [](const char*, Handle) { return false; },
    .changeDisplaySettings = [](const DisplayMode*, uint32_t) { return DISP_CHANGE_FAILED; },
    .showCursor = [](bool show) { return show ? 0 : -1; },
    .adjustWindowRect = [](Rect*, uint32_t, bool, uint32_t) { return false; },
    .createWindow = [](uint32_t, const char*, const char*, uint32_t, int, int, int, int,
                       Handle) { return Handle{}; },
    .destroyWindow = [](Handle) { return false; },
    .showWindow = [](Handle) {},
    .setForegroundWindow = [](Handle) { return false; },
    .setFocus = [](Handle) { return Handle{}; },
    .getFocus = [] { return Handle{}; },
    .getDC = [](Handle) { return Handle{}; },
    .releaseDC = [](Handle, Handle) { return false; },
    .choosePixelFormat = [](Handle, const PixelFormat&) { return 0; },
    .setPixelFormat = [](Handle, int, const PixelFormat&) { return false; },
    .createContext = [](Handle) { return Handle{}; },
    .makeCurrent = [](Handle, Handle) { return false; },
    .deleteContext = [](Handle) { return false; },
    .swapBuffers = [](Handle) { return false; },
    .peekMessage = [](Message*) { return false; },
    .translateMessage = [](const Message&) {},
    .dispatchMessage = [](const Message&) { return intptr_t{0}; },
    .postQuitMessage = [](int) {},
    .defWindowProc = [](Handle, uint32_t, uintptr_t, intptr_t) { return intptr_t{0}; },
    .messageBox = headlessMessageBox,
};

struct State {
    const PlatformApi* current = &headless;
    EndProcessHook endHook = nullptr;
};
State state;

}  // namespace

const PlatformApi& platform() { return *state.current; }

void setPlatform(const PlatformApi* api) { state.current = api ? api : &headless; }

void endProcess(int status) {
    if (state.endHook)
        state.endHook(status);
    else
        std::exit(status);
}

void setEndProcessHook(EndProcessHook hook) { state.endHook = hook; }

void tuneAllocator() {
#if defined(__GLIBC__)
    // A 512 x 512 RGB picture (768 KiB) stays below it, the GL driver's RGBA
    // copy of one (1 MiB and its header) above.
    constexpr int kHeapBlockLimit = 1024 * 1024;
    // Setting the thresholds at all turns their dynamic rise off.
    mallopt(M_MMAP_THRESHOLD, kHeapBlockLimit);
    mallopt(M_TRIM_THRESHOLD, 2 * kHeapBlockLimit);
#endif
}

}  // namespace plat
