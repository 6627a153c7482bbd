// platform.h - the window-system layer.
//
// The shell is written against a small Win32-shaped vocabulary: a window class
// with a window procedure, a display mode, a window with a device context and a
// GL rendering context, a message queue, message boxes and a buffer swap. Each
// backend (SDL2 for the desktop, Win32 on Windows, the browser for the web
// page, a scripted one for tests) fills in one table of functions,
// `PlatformApi`, and the rest of the program calls through `platform()`. Backends never call application code directly:
// the only way in is the window procedure registered with the window class.
//
// Message ids, styles and answers carry their Win32 values so a native backend
// can pass them straight through. (A native backend includes <windows.h> after
// this header, because the Win32 macros would otherwise rewrite these names.)
#pragma once

#include <cstdint>

namespace plat {

using Handle = void*;  // module, window, device context or rendering context

struct Message {
    Handle window = nullptr;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

using WindowProc = intptr_t (*)(Handle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Window messages.
constexpr uint32_t WM_SIZE = 0x0005;
constexpr uint32_t WM_ACTIVATE = 0x0006;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_CHAR = 0x0102;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;

constexpr uint32_t WA_INACTIVE = 0;
constexpr uint32_t WA_ACTIVE = 1;
constexpr uintptr_t SC_SCREENSAVE = 0xF140;
constexpr uintptr_t SC_MONITORPOWER = 0xF170;
constexpr uintptr_t SC_MINIMIZE = 0xF020;

// Virtual-key codes; every code is below 256.
constexpr uintptr_t VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                    VK_CONTROL = 0x11, VK_MENU = 0x12, VK_PAUSE = 0x13, VK_CAPITAL = 0x14,
                    VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22,
                    VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26,
                    VK_RIGHT = 0x27, VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E,
                    VK_NUMPAD0 = 0x60, VK_F1 = 0x70;

// Window class and window styles.
constexpr uint32_t CS_VREDRAW = 0x0001, CS_HREDRAW = 0x0002, CS_OWNDC = 0x0020;
constexpr uint32_t WS_OVERLAPPEDWINDOW = 0x00CF0000, WS_POPUP = 0x80000000,
                   WS_CLIPSIBLINGS = 0x04000000, WS_CLIPCHILDREN = 0x02000000;
constexpr uint32_t WS_EX_WINDOWEDGE = 0x00000100, WS_EX_APPWINDOW = 0x00040000;

// Display modes.
constexpr uint32_t DM_BITSPERPEL = 0x00040000, DM_PELSWIDTH = 0x00080000,
                   DM_PELSHEIGHT = 0x00100000;
constexpr uint32_t CDS_FULLSCREEN = 0x00000004;
constexpr long DISP_CHANGE_SUCCESSFUL = 0, DISP_CHANGE_FAILED = -1, DISP_CHANGE_BADMODE = -2;

// Message boxes.
constexpr uint32_t MB_OK = 0x00, MB_YESNO = 0x04, MB_ICONSTOP = 0x10,
                   MB_ICONEXCLAMATION = 0x30, MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1, IDYES = 6, IDNO = 7;

// Pixel format request.
constexpr uint32_t PFD_DOUBLEBUFFER = 0x01, PFD_DRAW_TO_WINDOW = 0x04, PFD_SUPPORT_OPENGL = 0x20;
constexpr uint8_t PFD_TYPE_RGBA = 0, PFD_MAIN_PLANE = 0;

struct WindowClass {
    uint32_t style = 0;
    WindowProc windowProc = nullptr;
    Handle instance = nullptr;
    const char* className = nullptr;
};

struct DisplayMode {  // the fields of a display-mode request that are ever set
    uint32_t fields = 0;
    uint32_t bitsPerPel = 0;
    uint32_t pelsWidth = 0;
    uint32_t pelsHeight = 0;
};

struct PixelFormat {
    uint16_t size = 40;
    uint16_t version = 1;
    uint32_t flags = 0;
    uint8_t pixelType = PFD_TYPE_RGBA;
    uint8_t colorBits = 0;
    uint8_t alphaBits = 0;
    uint8_t accumBits = 0;
    uint8_t depthBits = 0;
    uint8_t stencilBits = 0;
    uint8_t auxBuffers = 0;
    uint8_t layerType = PFD_MAIN_PLANE;
};

struct Rect {
    long left = 0, top = 0, right = 0, bottom = 0;
};

struct PlatformApi {
    const char* name;

    Handle (*getModuleHandle)();
    bool (*registerClass)(const WindowClass& windowClass);
    bool (*unregisterClass)(const char* className, Handle instance);

    // mode == nullptr returns the display to its stored mode.
    long (*changeDisplaySettings)(const DisplayMode* mode, uint32_t flags);
    int (*showCursor)(bool show);

    bool (*adjustWindowRect)(Rect* rect, uint32_t style, bool menu, uint32_t exStyle);
    Handle (*createWindow)(uint32_t exStyle, const char* className, const char* title,
                           uint32_t style, int x, int y, int width, int height, Handle instance);
    bool (*destroyWindow)(Handle window);
    void (*showWindow)(Handle window);
    bool (*setForegroundWindow)(Handle window);
    Handle (*setFocus)(Handle window);
    Handle (*getFocus)();

    Handle (*getDC)(Handle window);
    bool (*releaseDC)(Handle window, Handle dc);
    int (*choosePixelFormat)(Handle dc, const PixelFormat& request);
    bool (*setPixelFormat)(Handle dc, int format, const PixelFormat& request);
    Handle (*createContext)(Handle dc);
    bool (*makeCurrent)(Handle dc, Handle rc);  // (nullptr, nullptr) releases the current one
    bool (*deleteContext)(Handle rc);
    bool (*swapBuffers)(Handle dc);

    bool (*peekMessage)(Message* message);  // removes the message it returns
    void (*translateMessage)(const Message& message);
    intptr_t (*dispatchMessage)(const Message& message);
    void (*postQuitMessage)(int exitCode);
    intptr_t (*defWindowProc)(Handle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

    // Modal. Where no box can be shown the text goes to standard error and the
    // answer is IDNO for a question, IDOK otherwise.
    int (*messageBox)(Handle owner, const char* text, const char* caption, uint32_t type);
};

// The backend in use. Until one is set, a headless backend answers every box
// on standard error and fails everything else.
const PlatformApi& platform();
void setPlatform(const PlatformApi* api);

// Every end of the process from inside the show goes through here: the end of
// the show, a sound output that cannot start, a ship without its texture. The
// default is std::exit; the capture tool and tests set a hook of their own,
// after which endProcess returns and the caller carries on as best it can.
using EndProcessHook = void (*)(int status);
void endProcess(int status);
void setEndProcessHook(EndProcessHook hook);  // null: std::exit again

// Call once at start-up, before anything big is allocated. Every F1 makes and
// frees picture-sized blocks again (pixel arrays, the GL driver's texture
// copies). With glibc's default, the first such block freed raises the mmap
// threshold above it, so the later ones land in the heap, where the scene's
// smaller long-lived objects settle among them and the freed space no longer
// fits the next round: the heap grows with every toggle. Fixing the threshold
// keeps blocks of 1 MiB and more (the driver's texture copies, large meshes)
// in mappings of their own, returned to the system when freed. Smaller ones,
// up to a 512 x 512 picture's pixel array, stay in the heap, whose top is kept
// up to 2 MiB: the next picture reuses the memory of the one before, where a
// fresh mapping would fault in every page again, which costs more than
// reading and converting the picture. A no-op where the C library has nothing
// to tune.
void tuneAllocator();

// Backends built into this program.
const PlatformApi* sdl2Platform();
const PlatformApi* win32Platform();

inline uint16_t loWord(uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
inline uint16_t hiWord(uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }

}  // namespace plat
