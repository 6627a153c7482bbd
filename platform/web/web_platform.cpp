// web_platform.cpp - the window layer on a web page.
//
// PLATFORM: a browser page (emscripten). The "window" is the page's one canvas,
// 640 x 480 pixels, scaled to fit by the page's style sheet; its GL context is
// the canvas's WebGL context, made once by emscripten's built-in GLFW (which
// also sets up the GL 1.x emulation) and kept for the page's life. Keys come
// from the page's keydown/keyup events: a DOM keyCode is already the Win32
// virtual-key code, so they go into the queue unchanged. Full-screen display is
// the Fullscreen API on the canvas's stage.
// LIMITATIONS: a frame can take longer than a key tap (SwiftShader draws the
// first flight at about 10 frames a second), so a key released in the frame
// it went down in stays down until the next frame. A browser grants
// full-screen only right after a key or click, so the first window (made at
// page load) is refused full-screen and goes on in the page, answering the
// shell's question with Yes; F1 asks again inside its gesture. While
// full-screen the browser keeps Escape to itself: it leaves full-screen,
// which the window takes as F1 (back to a window, restarting the show).
// Releasing the context deletes the textures made in it and puts GL's state
// back, as the desktop's context takes its textures and state with it. Message boxes
// go to the console; a question is answered Yes.
// DEPENDENCIES: emscripten html5.h, GLFW 3 (-sUSE_GLFW=3), the page's
// #stage element around the canvas.
#include "platform/web/web.h"

#include <GLFW/glfw3.h>
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <deque>
#include <string>

namespace plat {

namespace {

struct Token {
    bool alive = false;
};

struct WebWindowSystem {
    WindowClass windowClass;
    bool classRegistered = false;
    std::string className;
    Token module{true}, window, dc, rc;
    GLFWwindow* glfw = nullptr;  // the canvas's context, made once
    bool listening = false;
    bool fullscreen = false;  // the window asked for full-screen and has not given it back
    int cursorCount = 0;
    std::deque<Message> queue;
    bool downThisFrame[256] = {};  // keys whose key-down was taken in this frame
};
WebWindowSystem ws;

EM_JS(int, jsRequestFullscreen, (), {
    var stage = document.getElementById('stage') || Module['canvas'];
    if (!document.fullscreenEnabled || !stage.requestFullscreen) return 0;
    if (navigator.userActivation && !navigator.userActivation.isActive) return 0;
    stage.requestFullscreen().catch(function(e) { console.info('full-screen refused: ' + e.message); });
    return 1;
});

EM_JS(void, jsExitFullscreen, (), {
    if (document.fullscreenElement) document.exitFullscreen().catch(function(){});
});

EM_JS(void, jsShowCursor, (int show), { Module['canvas'].style.cursor = show ? "auto" : "none"; });

EM_JS(void, jsMessageBox, (const char* caption, const char* text, int error), {
    var line = UTF8ToString(caption) + ': ' + UTF8ToString(text).split(String.fromCharCode(10)).join(' ');
    if (error) {
        console.error(line);
        if (Module['onMessageBox']) Module['onMessageBox'](line);
    } else {
        console.info(line);
    }
});

void post(uint32_t message, uintptr_t wParam, intptr_t lParam = 0) {
    ws.queue.push_back(Message{&ws.window, message, wParam, lParam});
}

EM_BOOL onKey(int eventType, const EmscriptenKeyboardEvent* e, void*) {
    const unsigned long code = e->keyCode;
    if (code == 0 || code > 255 || !ws.window.alive) return EM_FALSE;
    post(eventType == EMSCRIPTEN_EVENT_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, code);
    // Escape and F1 are the show's; every other key keeps its browser meaning.
    return code == VK_ESCAPE || code == VK_F1;
}

EM_BOOL onVisibility(int, const EmscriptenVisibilityChangeEvent* e, void*) {
    // A hidden page is a minimised window: no frames are drawn.
    if (ws.window.alive) post(WM_ACTIVATE, e->hidden ? (uintptr_t{1} << 16) | WA_INACTIVE : WA_ACTIVE);
    return EM_FALSE;
}

EM_BOOL onFullscreenChange(int, const EmscriptenFullscreenChangeEvent* e, void*) {
    // The browser left full-screen by itself (its own Escape): for the show
    // that is F1, back to a window, with the cursor shown again.
    if (!e->isFullscreen && ws.fullscreen && ws.window.alive) {
        ws.fullscreen = false;
        post(WM_KEYDOWN, VK_F1);
        post(WM_KEYUP, VK_F1);
    }
    return EM_FALSE;
}

void listen() {
    if (ws.listening) return;
    ws.listening = true;
    emscripten_set_fullscreenchange_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE,
                                             onFullscreenChange);
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, onKey);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, onKey);
    emscripten_set_visibilitychange_callback(nullptr, EM_FALSE, onVisibility);
}

// The canvas's WebGL context through GLFW, which also starts the GL emulation.
bool makeContext(int width, int height) {
    if (ws.glfw) return true;
    if (!glfwInit()) return false;
    glfwWindowHint(GLFW_DEPTH_BITS, 16);
    glfwWindowHint(GLFW_ALPHA_BITS, 0);
    ws.glfw = glfwCreateWindow(width, height, "contrail", nullptr, nullptr);
    return ws.glfw != nullptr;
}

int messageBox(Handle, const char* text, const char* caption, uint32_t type) {
    // Everything but a question or a note with the information icon is an error.
    const bool question = (type & 0x0F) == MB_YESNO;
    const bool error = !question && (type & 0xF0) != MB_ICONINFORMATION;
    jsMessageBox(caption ? caption : "", text ? text : "", error);
    return question ? IDYES : IDOK;
}

const PlatformApi api = {
    .name = "web",
    .getModuleHandle = [] { return Handle{&ws.module}; },
    .registerClass =
        [](const WindowClass& windowClass) {
            if (ws.classRegistered || !windowClass.windowProc || !windowClass.className) return false;
            ws.windowClass = windowClass;
            ws.className = windowClass.className;
            ws.classRegistered = true;
            return true;
        },
    .unregisterClass =
        [](const char* className, Handle) {
            if (!ws.classRegistered || !className || ws.className != className || ws.window.alive)
                return false;
            ws.classRegistered = false;
            return true;
        },
    .changeDisplaySettings =
        [](const DisplayMode* mode, uint32_t) {
            if (!mode) {
                ws.fullscreen = false;
                jsExitFullscreen();
                return DISP_CHANGE_SUCCESSFUL;
            }
            ws.fullscreen = jsRequestFullscreen() != 0;
            return ws.fullscreen ? DISP_CHANGE_SUCCESSFUL : DISP_CHANGE_FAILED;
        },
    .showCursor =
        [](bool show) {
            ws.cursorCount += show ? 1 : -1;
            jsShowCursor(ws.cursorCount >= 0);
            return ws.cursorCount;
        },
    .adjustWindowRect = [](Rect*, uint32_t, bool, uint32_t) { return true; },  // a page has no frame
    .createWindow = [](uint32_t, const char* className, const char*, uint32_t, int, int, int width,
                       int height, Handle) -> Handle {
        if (!ws.classRegistered || !className || ws.className != className || ws.window.alive) return nullptr;
        if (!makeContext(width, height)) return nullptr;
        listen();
        ws.queue.clear();
        ws.window.alive = true;
        return &ws.window;
    },
    .destroyWindow =
        [](Handle window) {
            if (window != &ws.window || !ws.window.alive) return false;
            ws.window.alive = false;
            return true;
        },
    .showWindow = [](Handle) {},
    .setForegroundWindow = [](Handle window) { return window == &ws.window && ws.window.alive; },
    .setFocus = [](Handle) { return Handle{}; },
    .getFocus = [] { return ws.window.alive ? Handle{&ws.window} : Handle{}; },
    .getDC = [](Handle window) -> Handle {
        if (window != &ws.window || !ws.window.alive) return nullptr;
        ws.dc.alive = true;
        return &ws.dc;
    },
    .releaseDC =
        [](Handle, Handle dc) {
            if (dc != &ws.dc || !ws.dc.alive) return false;
            ws.dc.alive = false;
            return true;
        },
    .choosePixelFormat = [](Handle dc, const PixelFormat&) { return dc == &ws.dc ? 1 : 0; },
    .setPixelFormat = [](Handle dc, int format, const PixelFormat&) { return dc == &ws.dc && format == 1; },
    .createContext = [](Handle dc) -> Handle {
        if (dc != &ws.dc || !ws.dc.alive || ws.rc.alive) return nullptr;
        ws.rc.alive = true;
        return &ws.rc;
    },
    .makeCurrent =
        [](Handle dc, Handle rc) {
            if (!dc && !rc) return true;
            if (dc != &ws.dc || rc != &ws.rc || !ws.rc.alive) return false;
            glfwMakeContextCurrent(ws.glfw);
            return true;
        },
    .deleteContext =
        [](Handle rc) {
            if (rc != &ws.rc || !ws.rc.alive) return false;
            webGlReleaseContext();  // what a desktop context takes with it
            ws.rc.alive = false;
            return true;
        },
    .swapBuffers =
        [](Handle dc) { return dc == &ws.dc; },  // the browser shows the frame when the pass returns
    .peekMessage =
        [](Message* message) {
            if (ws.queue.empty()) return false;
            const Message& next = ws.queue.front();
            // A tap shorter than a frame would be pressed and released before
            // the loop ever looks at the keys; its key-up waits a frame.
            if (next.message == WM_KEYUP && next.wParam < 256 && ws.downThisFrame[next.wParam]) return false;
            if (next.message == WM_KEYDOWN && next.wParam < 256) ws.downThisFrame[next.wParam] = true;
            *message = next;
            ws.queue.pop_front();
            return true;
        },
    .translateMessage = [](const Message&) {},
    .dispatchMessage =
        [](const Message& m) {
            if (!ws.classRegistered || m.window != &ws.window) return intptr_t{0};
            return ws.windowClass.windowProc(m.window, m.message, m.wParam, m.lParam);
        },
    .postQuitMessage = [](int code) { post(WM_QUIT, static_cast<uintptr_t>(code)); },
    .defWindowProc = [](Handle, uint32_t, uintptr_t, intptr_t) { return intptr_t{0}; },
    .messageBox = messageBox,
};

}  // namespace

const PlatformApi* webPlatform() { return &api; }

void webPostMessage(uint32_t message, uintptr_t wParam) { post(message, wParam); }

void webNewFrame() {
    for (bool& down : ws.downThisFrame) down = false;
}

}  // namespace plat
