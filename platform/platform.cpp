#include "platform/platform.h"

#include <cstdio>

namespace plat {

namespace {

// Until a backend is chosen nothing can be made, but a message box still
// reaches the user through standard error.
int headlessMessageBox(Handle, const char* text, const char* caption, uint32_t type) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
}

const PlatformApi headless = {
    "headless",
    [] { return Handle{}; },
    [](const WindowClass&) { return false; },
    [](const char*, Handle) { return false; },
    [](const DisplayMode*, uint32_t) { return DISP_CHANGE_FAILED; },
    [](bool show) { return show ? 0 : -1; },
    [](Rect*, uint32_t, bool, uint32_t) { return false; },
    [](uint32_t, const char*, const char*, uint32_t, int, int, int, int, Handle) { return Handle{}; },
    [](Handle) { return false; },
    [](Handle) {},
    [](Handle) { return false; },
    [](Handle) { return Handle{}; },
    [] { return Handle{}; },
    [](Handle) { return Handle{}; },
    [](Handle, Handle) { return false; },
    [](Handle, const PixelFormat&) { return 0; },
    [](Handle, int, const PixelFormat&) { return false; },
    [](Handle) { return Handle{}; },
    [](Handle, Handle) { return false; },
    [](Handle) { return false; },
    [](Handle) { return false; },
    [](Message*) { return false; },
    [](const Message&) {},
    [](const Message&) { return intptr_t{0}; },
    [](int) {},
    [](Handle, uint32_t, uintptr_t, intptr_t) { return intptr_t{0}; },
    headlessMessageBox,
};

const PlatformApi* current = &headless;

}  // namespace

const PlatformApi& platform() { return *current; }

void setPlatform(const PlatformApi* api) { current = api ? api : &headless; }

}  // namespace plat
