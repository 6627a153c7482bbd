// The native window system: USER32, GDI32 and WGL, call for call.
//
// PLATFORM: 64-bit Windows (and Wine), built with MinGW-w64.
// LIMITATIONS: the shell's window procedure is registered as it is; its
//   signature matches WNDPROC only where there is one calling convention (x64),
//   so 32-bit builds are refused at compile time. A message is handed to the
//   shell as plat::Message and dispatched as the MSG it came from (time and
//   cursor position included) when the shell passes it back unchanged.
//   wglSwapIntervalEXT(1) is asked for whenever a context becomes current; a
//   driver without it swaps unpaced.
// DEPENDENCIES: user32, gdi32, opengl32 (all part of every Windows).
//
// With CONTRAIL_FPS=1 in the environment the buffer swap prints "fps 0 0" at
// the first frame and then, once a second, "fps <second> <frames in it>".
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static_assert(sizeof(void*) == 8, "the window procedure is registered as WNDPROC: x64 only");

namespace plat {

namespace {

struct State {
    MSG last{};             // the message peekMessage handed out last
    bool modeChanged = false;
    bool fpsWanted = false;
    LARGE_INTEGER frequency{};
    LONGLONG firstSwap = 0;
    LONGLONG secondStart = 0;
    int framesThisSecond = 0;
    int seconds = 0;
};
State state;

HWND asWindow(Handle h) { return static_cast<HWND>(h); }
HDC asDC(Handle h) { return static_cast<HDC>(h); }
HGLRC asRC(Handle h) { return static_cast<HGLRC>(h); }

// A process that ends from inside the show (exit) must not leave the desktop
// in the show's display mode.
void restoreDisplayAtExit() {
    if (state.modeChanged) ChangeDisplaySettingsA(nullptr, 0);
    state.modeChanged = false;
}

PIXELFORMATDESCRIPTOR descriptor(const PixelFormat& r) {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = r.size;
    pfd.nVersion = r.version;
    pfd.dwFlags = r.flags;
    pfd.iPixelType = r.pixelType;
    pfd.cColorBits = r.colorBits;
    pfd.cAlphaBits = r.alphaBits;
    pfd.cAccumBits = r.accumBits;
    pfd.cDepthBits = r.depthBits;
    pfd.cStencilBits = r.stencilBits;
    pfd.cAuxBuffers = r.auxBuffers;
    pfd.iLayerType = r.layerType;
    return pfd;
}

// Frames are paced by the buffer swap; on a normal display that is the refresh rate.
void requestSwapInterval() {
    using SwapIntervalExt = BOOL(WINAPI*)(int);
    const PROC proc = wglGetProcAddress("wglSwapIntervalEXT");
    if (proc) reinterpret_cast<SwapIntervalExt>(reinterpret_cast<void (*)()>(proc))(1);
}

void countFrame() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (state.firstSwap == 0) {
        state.firstSwap = state.secondStart = now.QuadPart;
        std::printf("fps 0 0\n");  // the first frame: the show's clock has just started
        std::fflush(stdout);
        return;
    }
    ++state.framesThisSecond;
    if (now.QuadPart - state.secondStart >= state.frequency.QuadPart) {
        ++state.seconds;
        std::printf("fps %d %d\n", state.seconds, state.framesThisSecond);
        std::fflush(stdout);
        state.framesThisSecond = 0;
        state.secondStart = now.QuadPart;
    }
}

const PlatformApi api = {
    .name = "win32",
    .getModuleHandle = [] { return static_cast<Handle>(GetModuleHandleA(nullptr)); },
    .registerClass = [](const WindowClass& c) {
        WNDCLASSA wc{};
        wc.style = c.style;
        wc.lpfnWndProc = reinterpret_cast<WNDPROC>(c.windowProc);
        wc.cbClsExtra = 0;
        wc.cbWndExtra = 0;
        wc.hInstance = static_cast<HINSTANCE>(c.instance);
        wc.hIcon = LoadIconA(nullptr, IDI_WINLOGO);
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = nullptr;
        wc.lpszMenuName = nullptr;
        wc.lpszClassName = c.className;
        return RegisterClassA(&wc) != 0;
    },
    .unregisterClass = [](const char* name, Handle instance) {
        return UnregisterClassA(name, static_cast<HINSTANCE>(instance)) != FALSE;
    },
    .changeDisplaySettings = [](const DisplayMode* mode, uint32_t flags) -> long {
        if (!mode) {
            state.modeChanged = false;
            return ChangeDisplaySettingsA(nullptr, 0);
        }
        DEVMODEA dm;
        std::memset(&dm, 0, sizeof dm);
        dm.dmSize = sizeof dm;
        dm.dmPelsWidth = mode->pelsWidth;
        dm.dmPelsHeight = mode->pelsHeight;
        dm.dmBitsPerPel = mode->bitsPerPel;
        dm.dmFields = mode->fields;
        const LONG result = ChangeDisplaySettingsA(&dm, flags);
        if (result == DISP_CHANGE_SUCCESSFUL && !state.modeChanged) {
            static bool registered = false;
            if (!registered) registered = std::atexit(restoreDisplayAtExit) == 0;
            state.modeChanged = true;
        }
        return result;
    },
    .showCursor = [](bool show) { return ShowCursor(show ? TRUE : FALSE); },
    .adjustWindowRect = [](Rect* rect, uint32_t style, bool menu, uint32_t exStyle) {
        RECT r{static_cast<LONG>(rect->left), static_cast<LONG>(rect->top), static_cast<LONG>(rect->right),
               static_cast<LONG>(rect->bottom)};
        const bool ok = AdjustWindowRectEx(&r, style, menu ? TRUE : FALSE, exStyle) != FALSE;
        rect->left = r.left;
        rect->top = r.top;
        rect->right = r.right;
        rect->bottom = r.bottom;
        return ok;
    },
    .createWindow = [](uint32_t exStyle, const char* className, const char* title, uint32_t style, int x, int y,
                       int width, int height, Handle instance) {
        return static_cast<Handle>(CreateWindowExA(exStyle, className, title, style, x, y, width, height, nullptr,
                                                   nullptr, static_cast<HINSTANCE>(instance), nullptr));
    },
    .destroyWindow = [](Handle window) { return DestroyWindow(asWindow(window)) != FALSE; },
    .showWindow = [](Handle window) { ShowWindow(asWindow(window), SW_SHOW); },
    .setForegroundWindow = [](Handle window) { return SetForegroundWindow(asWindow(window)) != FALSE; },
    .setFocus = [](Handle window) { return static_cast<Handle>(SetFocus(asWindow(window))); },
    .getFocus = [] { return static_cast<Handle>(GetFocus()); },
    .getDC = [](Handle window) { return static_cast<Handle>(GetDC(asWindow(window))); },
    .releaseDC = [](Handle window, Handle dc) { return ReleaseDC(asWindow(window), asDC(dc)) == 1; },
    .choosePixelFormat = [](Handle dc, const PixelFormat& request) {
        const PIXELFORMATDESCRIPTOR pfd = descriptor(request);
        return ChoosePixelFormat(asDC(dc), &pfd);
    },
    .setPixelFormat = [](Handle dc, int format, const PixelFormat& request) {
        const PIXELFORMATDESCRIPTOR pfd = descriptor(request);
        return SetPixelFormat(asDC(dc), format, &pfd) != FALSE;
    },
    .createContext = [](Handle dc) { return static_cast<Handle>(wglCreateContext(asDC(dc))); },
    .makeCurrent = [](Handle dc, Handle rc) {
        const bool ok = wglMakeCurrent(asDC(dc), asRC(rc)) != FALSE;
        if (ok && rc) requestSwapInterval();
        return ok;
    },
    .deleteContext = [](Handle rc) { return wglDeleteContext(asRC(rc)) != FALSE; },
    .swapBuffers = [](Handle dc) {
        const bool ok = SwapBuffers(asDC(dc)) != FALSE;
        if (state.fpsWanted) countFrame();
        return ok;
    },
    .peekMessage = [](Message* m) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
        state.last = msg;
        m->window = msg.hwnd;
        m->message = msg.message;
        m->wParam = msg.wParam;
        m->lParam = msg.lParam;
        return true;
    },
    .translateMessage = [](const Message& m) {
        MSG msg = state.last;
        if (msg.hwnd != m.window || msg.message != m.message || msg.wParam != m.wParam || msg.lParam != m.lParam) {
            msg = MSG{asWindow(m.window), m.message, m.wParam, m.lParam, 0, {}};
        }
        TranslateMessage(&msg);
    },
    .dispatchMessage = [](const Message& m) -> intptr_t {
        MSG msg = state.last;
        if (msg.hwnd != m.window || msg.message != m.message || msg.wParam != m.wParam || msg.lParam != m.lParam) {
            msg = MSG{asWindow(m.window), m.message, m.wParam, m.lParam, 0, {}};
        }
        return DispatchMessageA(&msg);
    },
    .postQuitMessage = [](int code) { PostQuitMessage(code); },
    .defWindowProc = [](Handle window, uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t {
        return DefWindowProcA(asWindow(window), message, wParam, lParam);
    },
    .messageBox = [](Handle owner, const char* text, const char* caption, uint32_t type) {
        return MessageBoxA(asWindow(owner), text, caption, type);
    },
};

}  // namespace

const PlatformApi* win32Platform() {
    const char* fps = std::getenv("CONTRAIL_FPS");
    state.fpsWanted = fps && std::strcmp(fps, "1") == 0;
    QueryPerformanceFrequency(&state.frequency);
    return &api;
}

}  // namespace plat
