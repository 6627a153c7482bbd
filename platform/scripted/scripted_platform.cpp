// scripted_platform.cpp - a window system that plays a test's script and logs every call.
#include "platform/scripted/scripted_platform.h"

#include <string>

namespace plat {

namespace {

Script theScript;

Handle fakeHandle(uintptr_t kind, int serial) { return reinterpret_cast<Handle>(kind + serial); }

void log(const std::string& call) { theScript.calls.push_back(call); }

const PlatformApi api = {
    .name = "scripted",
    .getModuleHandle = [] { return fakeHandle(0x1000, 0); },
    .registerClass = [](const WindowClass& c) {
        log(std::string("registerClass ") + (c.className ? c.className : ""));
        if (theScript.failRegisterClass || theScript.classRegistered) return false;
        theScript.classRegistered = true;
        theScript.windowProc = c.windowProc;
        return true;
    },
    .unregisterClass = [](const char* name, Handle) {
        log(std::string("unregisterClass ") + (name ? name : ""));
        if (theScript.failUnregisterClass || !theScript.classRegistered) return false;
        theScript.classRegistered = false;
        return true;
    },
    .changeDisplaySettings = [](const DisplayMode* mode, uint32_t) {
        if (!mode) {
            log("changeDisplaySettings restore");
            theScript.displayChanged = false;
            return DISP_CHANGE_SUCCESSFUL;
        }
        log("changeDisplaySettings " + std::to_string(mode->pelsWidth) + "x" +
            std::to_string(mode->pelsHeight) + "x" + std::to_string(mode->bitsPerPel));
        theScript.lastMode = *mode;
        if (theScript.refuseDisplayMode) return DISP_CHANGE_BADMODE;
        theScript.displayChanged = true;
        return DISP_CHANGE_SUCCESSFUL;
    },
    .showCursor = [](bool show) {
        log(show ? "showCursor 1" : "showCursor 0");
        theScript.cursorCount += show ? 1 : -1;
        return theScript.cursorCount;
    },
    .adjustWindowRect = [](Rect* r, uint32_t style, bool, uint32_t) {
        if (style & WS_OVERLAPPEDWINDOW) {  // a caption and a thin frame
            r->left -= 4;
            r->right += 4;
            r->top -= 23;
            r->bottom += 4;
        }
        return true;
    },
    .createWindow = [](uint32_t exStyle, const char*, const char*, uint32_t style, int, int, int w, int h, Handle) {
        log("createWindow");
        if (theScript.failCreateWindow) return Handle{};
        theScript.lastExStyle = exStyle;
        theScript.lastStyle = style;
        theScript.lastWidth = w;
        theScript.lastHeight = h;
        return fakeHandle(0x2000, ++theScript.liveWindows);
    },
    .destroyWindow = [](Handle) {
        log("destroyWindow");
        if (theScript.failDestroyWindow) return false;
        --theScript.liveWindows;
        return true;
    },
    .showWindow = [](Handle window) {
        log("showWindow");
        // Showing activates and sizes the window, as a real window system does.
        if (theScript.windowProc) {
            theScript.windowProc(window, WM_ACTIVATE, WA_ACTIVE, 0);
            theScript.windowProc(window, WM_SIZE, 0, (theScript.lastHeight << 16) | theScript.lastWidth);
        }
    },
    .setForegroundWindow = [](Handle) {
        log("setForegroundWindow");
        return true;
    },
    .setFocus = [](Handle) {
        log("setFocus");
        return Handle{};
    },
    .getFocus = [] { return Handle{}; },
    .getDC = [](Handle) {
        log("getDC");
        return theScript.failGetDC ? Handle{} : fakeHandle(0x3000, 1);
    },
    .releaseDC = [](Handle, Handle) {
        log("releaseDC");
        return !theScript.failReleaseDC;
    },
    .choosePixelFormat = [](Handle, const PixelFormat& request) {
        log("choosePixelFormat");
        theScript.lastPixelFormat = request;
        return theScript.failChoosePixelFormat ? 0 : 1;
    },
    .setPixelFormat = [](Handle, int, const PixelFormat&) {
        log("setPixelFormat");
        return !theScript.failSetPixelFormat;
    },
    .createContext = [](Handle) {
        log("createContext");
        if (theScript.failCreateContext) return Handle{};
        return fakeHandle(0x4000, ++theScript.liveContexts);
    },
    .makeCurrent = [](Handle, Handle rc) {
        log(rc ? "makeCurrent" : "makeCurrent null");
        if (rc ? theScript.failMakeCurrent : theScript.failReleaseCurrent) return false;
        theScript.currentContext = rc;
        return true;
    },
    .deleteContext = [](Handle) {
        log("deleteContext");
        if (theScript.failDeleteContext) return false;
        --theScript.liveContexts;
        return true;
    },
    .swapBuffers = [](Handle) {
        ++theScript.swaps;
        return true;
    },
    .peekMessage = [](Message* m) {
        if (theScript.messages.empty()) return false;
        *m = theScript.messages.front();
        theScript.messages.pop_front();
        return true;
    },
    .translateMessage = [](const Message&) {},
    .dispatchMessage = [](const Message& m) {
        theScript.dispatched.push_back(m);
        return theScript.windowProc ? theScript.windowProc(m.window, m.message, m.wParam, m.lParam)
                                    : intptr_t{0};
    },
    .postQuitMessage = [](int code) {
        log("postQuitMessage " + std::to_string(code));
        Message quit;
        quit.message = WM_QUIT;
        quit.wParam = static_cast<uintptr_t>(code);
        theScript.messages.push_back(quit);
    },
    .defWindowProc = [](Handle, uint32_t message, uintptr_t, intptr_t) {
        log("defWindowProc " + std::to_string(message));
        return intptr_t{0};
    },
    .messageBox = [](Handle owner, const char* text, const char* caption, uint32_t type) {
        theScript.boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
        if (!theScript.boxAnswers.empty()) {
            const int answer = theScript.boxAnswers.front();
            theScript.boxAnswers.pop_front();
            return answer;
        }
        return (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
    },
};

}  // namespace

Script& script() { return theScript; }

void resetScript() { theScript = Script(); }

const PlatformApi* scriptedPlatform() { return &api; }

}  // namespace plat
