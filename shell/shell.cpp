// shell.cpp - WinMain's loop, the window procedure, and the GL window's
// making and release.
#include "shell/shell.h"

#include "platform/gl.h"
#include "show/show.h"

using namespace plat;

namespace {
// The start-up values, here and in resetShell.
constexpr bool kActiveAtStart = true;
constexpr bool kFullscreenAtStart = true;  // the show starts full-screen without asking
}  // namespace

bool keys[256];
bool active = kActiveAtStart;
bool fullscreen = kFullscreenAtStart;

Handle hInstance = nullptr;
Handle hWnd = nullptr;
Handle hDC = nullptr;
Handle hRC = nullptr;

namespace {

constexpr const char* kTitle = "Tamber's OpenGL Framework";
constexpr const char* kClassName = "OpenGL";

// A key pressed and released between two looks at the table (a tap shorter
// than a frame) would never be seen down: its release waits for the next look.
bool downSinceLook[256];
bool releaseAfterLook[256];

bool noInit() { return true; }
bool noDraw() { return true; }
Scene scene{noInit, noDraw};

void errorBox(const char* text) {
    platform().messageBox(nullptr, text, "ERROR", MB_OK | MB_ICONEXCLAMATION);
}

void shutdownBox(const char* text) {
    platform().messageBox(nullptr, text, "SHUTDOWN ERROR", MB_OK | MB_ICONINFORMATION);
}

// Releases what was made, then tells why creation stopped.
bool failCreation(const char* text) {
    killGLWindow();
    errorBox(text);
    return false;
}

}  // namespace

void setScene(const Scene& s) {
    scene.initScene = s.initScene ? s.initScene : noInit;
    scene.drawScene = s.drawScene ? s.drawScene : noDraw;
}

void resetShell() {
    for (int k = 0; k < 256; ++k) keys[k] = downSinceLook[k] = releaseAfterLook[k] = false;
    active = kActiveAtStart;
    fullscreen = kFullscreenAtStart;
    hInstance = hWnd = hDC = hRC = nullptr;
}

void resizeScene(int width, int height) {
    if (height == 0) height = 1;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height), 1.0, 500.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void killGLWindow() {
    const PlatformApi& p = platform();
    if (fullscreen) {
        p.changeDisplaySettings(nullptr, 0);
        p.showCursor(true);
    }
    if (hRC) {
        if (!p.makeCurrent(nullptr, nullptr)) shutdownBox("Release Of DC And RC Failed.");
        if (!p.deleteContext(hRC)) shutdownBox("Release Rendering Context Failed.");
        hRC = nullptr;
    }
    if (hDC) {
        if (!p.releaseDC(hWnd, hDC)) shutdownBox("Release Device Context Failed.");
        hDC = nullptr;
    }
    if (hWnd) {
        if (!p.destroyWindow(hWnd)) shutdownBox("Could Not Release hWnd.");
        hWnd = nullptr;
    }
    if (!p.unregisterClass(kClassName, hInstance)) shutdownBox("Could Not Unregister Class.");
}

bool createGLWindow(const char* title, int width, int height, int bits, bool fullscreenRequest) {
    const PlatformApi& p = platform();
    fullscreen = fullscreenRequest;
    hInstance = p.getModuleHandle();

    WindowClass windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.windowProc = WndProc;
    windowClass.instance = hInstance;
    windowClass.className = kClassName;
    if (!p.registerClass(windowClass)) {
        errorBox("Failed To Register The Window Class.");
        return false;
    }

    if (fullscreen) {
        DisplayMode mode;
        mode.pelsWidth = static_cast<uint32_t>(width);
        mode.pelsHeight = static_cast<uint32_t>(height);
        mode.bitsPerPel = static_cast<uint32_t>(bits);
        mode.fields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
        if (p.changeDisplaySettings(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL) {
            const int answer = p.messageBox(
                nullptr,
                "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed Mode Instead?",
                "Tamber GL", MB_YESNO | MB_ICONEXCLAMATION);
            if (answer == IDYES) {
                fullscreen = false;
            } else {
                p.messageBox(nullptr, "Program Will Now Close.", "ERROR", MB_OK | MB_ICONSTOP);
                return false;
            }
        }
    }

    uint32_t exStyle;
    uint32_t style;
    if (fullscreen) {
        exStyle = WS_EX_APPWINDOW;
        style = WS_POPUP;
        p.showCursor(false);
    } else {
        exStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
        style = WS_OVERLAPPEDWINDOW;
    }

    Rect rect;
    rect.right = width;
    rect.bottom = height;
    p.adjustWindowRect(&rect, style, false, exStyle);

    hWnd = p.createWindow(exStyle, kClassName, title, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                          static_cast<int>(rect.right - rect.left),
                          static_cast<int>(rect.bottom - rect.top), hInstance);
    if (!hWnd) return failCreation("Window Creation Error.");

    hDC = p.getDC(hWnd);
    if (!hDC) return failCreation("Can't Create A GL Device Context.");

    PixelFormat request;
    request.flags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    request.pixelType = PFD_TYPE_RGBA;
    request.colorBits = static_cast<uint8_t>(bits);
    request.depthBits = 16;
    request.layerType = PFD_MAIN_PLANE;
    const int format = p.choosePixelFormat(hDC, request);
    if (format == 0) return failCreation("Can't Find A Suitable PixelFormat.");
    if (!p.setPixelFormat(hDC, format, request)) return failCreation("Can't Set The PixelFormat.");

    hRC = p.createContext(hDC);
    if (!hRC) return failCreation("Can't Create A GL Rendering Context.");
    if (!p.makeCurrent(hDC, hRC)) return failCreation("Can't Activate The GL Rendering Context.");

    p.showWindow(hWnd);
    p.setForegroundWindow(hWnd);
    p.setFocus(hWnd);
    resizeScene(width, height);

    if (!scene.initScene()) return failCreation("Initialization Failed.");
    return true;
}

intptr_t WndProc(Handle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case WM_ACTIVATE:
        active = hiWord(wParam) == 0;
        return 0;
    case WM_SYSCOMMAND:
        if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;
        break;
    case WM_CLOSE:
        platform().postQuitMessage(0);
        return 0;
    case WM_KEYDOWN:
        if (wParam < 256) {  // backends only send codes below 256
            keys[wParam] = true;
            downSinceLook[wParam] = true;
            releaseAfterLook[wParam] = false;
        }
        return 0;
    case WM_KEYUP:
        if (wParam < 256) {
            if (downSinceLook[wParam])
                releaseAfterLook[wParam] = true;
            else
                keys[wParam] = false;
        }
        return 0;
    case WM_SIZE:
        resizeScene(loWord(static_cast<uintptr_t>(lParam)), hiWord(static_cast<uintptr_t>(lParam)));
        return 0;
    default:
        break;
    }
    return platform().defWindowProc(window, message, wParam, lParam);
}

namespace {

// The loop's state between passes: the one message record (its wParam is the
// exit status after Escape or a close), and how the loop ended.
struct Loop {
    Message msg;
    bool done = false;    // Escape was seen
    bool release = true;  // the window is still there for shellEnd to release
    int status = 0;       // the status when the window could not be (re)made
};
Loop loop;

}  // namespace

bool shellStart() {
    loop = Loop{};
    // A window that cannot be made is a failure, so the status says so.
    if (createGLWindow(kTitle, show::kWidth, show::kHeight, show::kBits, fullscreen)) return true;
    loop.release = false;
    loop.status = 1;
    return false;
}

bool runOnePass(bool* queueWasEmpty) {
    const PlatformApi& p = platform();
    if (queueWasEmpty) *queueWasEmpty = false;
    if (p.peekMessage(&loop.msg)) {
        if (loop.msg.message == WM_QUIT) return false;
        p.translateMessage(loop.msg);
        p.dispatchMessage(loop.msg);
        return true;
    }
    if (queueWasEmpty) *queueWasEmpty = true;
    if (active) {
        if (keys[VK_ESCAPE]) {
            loop.done = true;
        } else {
            scene.drawScene();
            p.swapBuffers(hDC);
        }
    }
    const bool toggle = keys[VK_F1];
    // The keys have been looked at: taps are released now.
    for (int k = 0; k < 256; ++k) {
        if (releaseAfterLook[k]) keys[k] = false;
        downSinceLook[k] = releaseAfterLook[k] = false;
    }
    if (toggle) {
        keys[VK_F1] = false;
        killGLWindow();
        fullscreen = !fullscreen;
        if (!createGLWindow(kTitle, show::kWidth, show::kHeight, show::kBits, fullscreen)) {
            loop.release = false;  // nothing is left to release
            loop.status = 1;
            return false;
        }
    }
    return !loop.done;
}

int shellEnd() {
    if (!loop.release) return loop.status;
    loop.release = false;
    killGLWindow();
    return static_cast<int>(loop.msg.wParam);
}

int WinMain(Handle, Handle, char*, int) {
    if (shellStart())
        while (runOnePass()) {
        }
    return shellEnd();
}
