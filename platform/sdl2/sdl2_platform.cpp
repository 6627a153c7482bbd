// The desktop backend: SDL2 windows, OpenGL contexts, events and message boxes.
//
// Window-system ideas that SDL has no word for are rebuilt here: the window
// class is a name plus its window procedure, a device context is the window
// itself, SDL events become the messages the window procedure expects, and the
// display-mode change is done by making a full-screen window and checking that
// it really got 640 x 480 - SDL reports success while quietly giving another
// size. Whatever way the process ends, the desktop gets its mode back. With no
// display to open, video does not start (rather than on a driver that shows
// nothing), and the box that reports it says why on standard error.
//
// PLATFORM: Linux desktops with SDL2 (X11; Wayland where SDL picks it).
// LIMITATIONS: a display that goes away is noticed on X11 only (Xlib's I/O
//   error); the process then ends at once with status 1, without the at-exit
//   display restore, which would wait forever on the dead connection. SIGTERM
//   and SIGINT end the show as closing the window does, whatever handlers SDL
//   installed (SDL_NO_SIGNAL_HANDLERS) and whatever their action was at
//   start; while a box waits (SDL shows X11 boxes from a child process) the
//   box is taken down and the process ends with status 0.
// DEPENDENCIES: SDL2's video subsystem; Xlib, when SDL uses it, is looked up
//   at run time only to set its I/O error handler.
#include "platform/platform.h"
#include "platform/sdl2/sdl2_platform.h"

#include <SDL.h>
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

namespace plat {

namespace {

struct State {
    bool videoUp = false;
    std::string className;
    WindowProc windowProc = nullptr;
    SDL_Window* fullscreenWindow = nullptr;  // made by the mode change, adopted by createWindow
    bool pixelFormatSet = false;
    int cursorCount = 0;
    std::deque<Message> posted;
    std::string noDisplay;  // why video could not start, for the text of boxes that cannot be shown
};

State state;

// The ends of the process that cannot wait for the main loop. Xlib calls its
// I/O error handler when the connection breaks and exits if the handler
// returns; the program's at-exit restore would then call into SDL on the dead
// connection and never return. So the handler says so on one line and leaves
// with _exit. SIGTERM and SIGINT are the program's own: the handler only
// marks them, and the next look at the queue turns the mark into a close.
// While a box waits the program sits in SDL's waitpid for the box's child
// process, so the handler takes the child down itself.
struct BoxChild {  // one page shared with the child process that shows a box
    int pid;          // written by the child as it starts
    int displayLost;  // written by the child when its display goes away
    int terminated;   // written by the handler
};
BoxChild* boxChild = nullptr;
volatile sig_atomic_t boxWaiting = 0;
volatile sig_atomic_t terminated = 0;
bool closePosted = false;  // the close that a signal asks for, once
pid_t mainPid = 0;
char lostLine[200] = "display: the display went away\n";
BoxShower boxShower = SDL_ShowMessageBox;

// The handler and a box's newborn child race: the signal may come after the
// fork but before the child has said who it is. Each side writes its own
// field and then reads the other's, in that order and in one total order
// (the page is shared across the fork), so one of them always sees the
// other: the handler kills the child, or the child leaves by itself.
void storeShared(int* field, int value) { __atomic_store_n(field, value, __ATOMIC_SEQ_CST); }
int loadShared(const int* field) { return __atomic_load_n(field, __ATOMIC_SEQ_CST); }

void sayDisplayLost() {
    const ssize_t written = ::write(STDERR_FILENO, lostLine, std::strlen(lostLine));
    (void)written;
}

int onDisplayLost(void*) {
    if (::getpid() != mainPid) {  // a box's child: the program says it
        if (boxChild) storeShared(&boxChild->displayLost, 1);
        _exit(1);
    }
    sayDisplayLost();
    _exit(1);
}

void onTerminate(int) {
    const int saved = errno;
    terminated = 1;
    if (boxWaiting && boxChild) {
        storeShared(&boxChild->terminated, 1);
        const int child = loadShared(&boxChild->pid);
        if (child > 0) ::kill(child, SIGKILL);
    }
    errno = saved;
}

// Runs in every child made by fork; only a box's child is marked.
void inForkedChild() {
    if (!boxWaiting || !boxChild) return;
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);  // Ctrl+C reaches the whole process group
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the program
#endif
    storeShared(&boxChild->pid, ::getpid());
    if (loadShared(&boxChild->terminated)) _exit(1);
}

void watchForTheEnd() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    mainPid = ::getpid();
    void* page = ::mmap(nullptr, sizeof(BoxChild), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page != MAP_FAILED) boxChild = static_cast<BoxChild*>(page);
    pthread_atfork(nullptr, nullptr, inForkedChild);

    // Installed unconditionally: SDL may have put its own in place, or none
    // (SDL_NO_SIGNAL_HANDLERS, or an action other than the default at start,
    // which SDL leaves alone), and either way a plain kill must end the show.
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A write to a dead connection then fails with EPIPE, which Xlib reports
    // to the handler below, instead of killing the process silently.
    ::signal(SIGPIPE, SIG_IGN);

    if (SDL_strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0) return;
    const char* display = SDL_getenv("DISPLAY");
    std::snprintf(lostLine, sizeof lostLine, "display: the display at %s went away\n",
                  display ? display : "");
    if (void* x11 = ::dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD)) {
        using IOErrorHandler = int (*)(void*);
        using SetIOErrorHandler = IOErrorHandler (*)(IOErrorHandler);
        if (auto set = reinterpret_cast<SetIOErrorHandler>(::dlsym(x11, "XSetIOErrorHandler")))
            set(onDisplayLost);
        ::dlclose(x11);  // still loaded: SDL holds it
    }
}

SDL_Window* asWindow(Handle h) { return static_cast<SDL_Window*>(h); }

void restoreDisplayAtExit() {
    // Leaving the desktop at 640 x 480 would be rude; SDL's video shutdown puts
    // the original mode back and takes the windows down.
    if (state.videoUp) {
        if (state.fullscreenWindow) SDL_SetWindowFullscreen(state.fullscreenWindow, 0);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        state.videoUp = false;
    }
}

// Drivers that draw into memory only. SDL falls back on them when no display
// can be opened, and the show would then play to nobody.
bool showsNothing(const char* driver) {
    return SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0 ||
           SDL_strcmp(driver, "evdev") == 0;
}

// Without a socket to look for, libwayland complains on standard error before
// it gives up, so SDL is not asked to try.
bool waylandReachable() {
    const char* named = SDL_getenv("WAYLAND_DISPLAY");
    return SDL_getenv("WAYLAND_SOCKET") != nullptr || SDL_getenv("XDG_RUNTIME_DIR") != nullptr ||
           (named != nullptr && named[0] == '/');
}

bool noDisplay() {
    const char* display = SDL_getenv("DISPLAY");
    state.noDisplay = display && *display ? std::string("no display could be opened at ") + display
                                          : "no display could be opened; DISPLAY is not set";
    return false;
}

bool videoUp() {
    if (state.videoUp) return true;
    // A driver asked for by name (SDL_VIDEODRIVER) is taken as it is, the
    // offscreen one included; otherwise only drivers with a display are tried.
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    if (asked == nullptr || *asked == '\0') {
        std::string drivers;
        for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
            const char* d = SDL_GetVideoDriver(i);
            if (showsNothing(d) || (SDL_strcmp(d, "wayland") == 0 && !waylandReachable())) continue;
            drivers += (drivers.empty() ? "" : ",") + std::string(d);
        }
        if (drivers.empty()) return noDisplay();
        SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return noDisplay();
    state.noDisplay.clear();
    state.videoUp = true;
    watchForTheEnd();
    static bool registered = false;
    if (!registered) {
        std::atexit(restoreDisplayAtExit);
        registered = true;
    }
    // The pixel format of an SDL window is fixed when the window is made, so
    // ask for the smallest that meets the request: 16-bit RGB, 16-bit depth,
    // double-buffered, no alpha, stencil or accumulation buffer.
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    return true;
}

uintptr_t virtualKey(SDL_Keycode k) {
    if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
    if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
    if (k >= SDLK_F1 && k <= SDLK_F12) return VK_F1 + (k - SDLK_F1);
    if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return VK_NUMPAD0 + 1 + (k - SDLK_KP_1);
    switch (k) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_RETURN: case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL: case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT: case SDLK_RALT: return VK_MENU;
    case SDLK_PAUSE: return VK_PAUSE;
    case SDLK_CAPSLOCK: return VK_CAPITAL;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_KP_0: return VK_NUMPAD0;
    default: return 0;  // no equivalent: the event is dropped
    }
}

intptr_t packSize(int w, int h) {
    const auto clamp16 = [](int v) { return static_cast<uintptr_t>(v < 0 ? 0 : (v > 0xFFFF ? 0xFFFF : v)); };
    return static_cast<intptr_t>(clamp16(w) | (clamp16(h) << 16));
}

// Turns one SDL event into a window message; false for events with no message.
bool translateEvent(const SDL_Event& e, Message* m) {
    *m = Message();
    switch (e.type) {
    case SDL_QUIT:  // e.g. Ctrl+C in the terminal: close like the close box
        m->window = state.fullscreenWindow;
        m->message = WM_CLOSE;
        return true;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const uintptr_t vk = virtualKey(e.key.keysym.sym);
        if (vk == 0) return false;
        m->window = SDL_GetWindowFromID(e.key.windowID);
        m->message = e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP;
        m->wParam = vk;
        return true;
    }
    case SDL_WINDOWEVENT: {
        SDL_Window* w = SDL_GetWindowFromID(e.window.windowID);
        m->window = w;
        switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            m->message = WM_CLOSE;
            return true;
        case SDL_WINDOWEVENT_MINIMIZED:
            m->message = WM_ACTIVATE;
            m->wParam = WA_INACTIVE | (uintptr_t{1} << 16);
            return true;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            m->message = WM_ACTIVATE;
            m->wParam = WA_ACTIVE;
            return true;
        case SDL_WINDOWEVENT_FOCUS_LOST: {
            const bool minimised = w && (SDL_GetWindowFlags(w) & SDL_WINDOW_MINIMIZED);
            m->message = WM_ACTIVATE;
            m->wParam = WA_INACTIVE | (minimised ? uintptr_t{1} << 16 : 0);
            return true;
        }
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            m->message = WM_SIZE;
            m->lParam = packSize(e.window.data1, e.window.data2);
            return true;
        default:
            return false;
        }
    }
    default:
        return false;
    }
}

intptr_t sendMessage(Handle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return state.windowProc ? state.windowProc(window, message, wParam, lParam) : 0;
}

// Only the size is compared; the requested 16-bit depth is ignored, here and
// in makeFullscreenWindow. X servers rarely list 16-bit modes (a 24-bit
// desktop lists only 24-bit ones), so asking for the depth as well would refuse
// full-screen almost everywhere; the GL window still gets the 16-bit pixel
// format asked for in videoUp.
bool hasDisplayMode(int width, int height) {
    const int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(0, i, &mode) == 0 && mode.w == width && mode.h == height) return true;
    }
    return false;
}

// Makes a full-screen window at exactly width x height, or nothing.
SDL_Window* makeFullscreenWindow(int width, int height) {
    SDL_Window* w = SDL_CreateWindow("", 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!w) return nullptr;
    SDL_DisplayMode wanted = {};
    wanted.w = width;
    wanted.h = height;
    SDL_DisplayMode closest;
    if (!SDL_GetClosestDisplayMode(0, &wanted, &closest) || closest.w != width || closest.h != height ||
        SDL_SetWindowDisplayMode(w, &closest) != 0 || SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN) != 0) {
        SDL_DestroyWindow(w);
        return nullptr;
    }
    SDL_ShowWindow(w);
    // The window manager answers asynchronously; give it time to settle. The
    // wait is by the clock, not by a count of tries, and generous: on a busy
    // machine the answer can take well over half a second, and giving up too
    // soon would ask the user about a mode the screen has.
    constexpr Uint64 kSettleMs = 3000;
    const Uint64 deadline = SDL_GetTicks64() + kSettleMs;
    int gotW = 0, gotH = 0;
    for (;;) {
        SDL_PumpEvents();
        SDL_GetWindowSize(w, &gotW, &gotH);
        if (gotW == width && gotH == height && (SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN)) return w;
        if (SDL_GetTicks64() >= deadline) break;
        SDL_Delay(10);
    }
    SDL_SetWindowFullscreen(w, 0);
    SDL_DestroyWindow(w);
    return nullptr;
}

const PlatformApi api = {
    .name = "sdl2",
    .getModuleHandle = [] { return Handle{}; },
    .registerClass = [](const WindowClass& c) {
        if (!c.className || !state.className.empty() || !videoUp()) return false;
        state.className = c.className;
        state.windowProc = c.windowProc;
        return true;
    },
    .unregisterClass = [](const char* name, Handle) {
        if (!name || state.className != name) return false;
        state.className.clear();
        state.windowProc = nullptr;
        return true;
    },
    .changeDisplaySettings = [](const DisplayMode* mode, uint32_t) {
        if (!mode) {
            if (state.fullscreenWindow) SDL_SetWindowFullscreen(state.fullscreenWindow, 0);
            return DISP_CHANGE_SUCCESSFUL;
        }
        if (!videoUp()) return DISP_CHANGE_FAILED;
        const int w = static_cast<int>(mode->pelsWidth), h = static_cast<int>(mode->pelsHeight);
        if (!hasDisplayMode(w, h)) return DISP_CHANGE_BADMODE;
        if (!state.fullscreenWindow) state.fullscreenWindow = makeFullscreenWindow(w, h);
        return state.fullscreenWindow ? DISP_CHANGE_SUCCESSFUL : DISP_CHANGE_FAILED;
    },
    .showCursor = [](bool show) {
        state.cursorCount += show ? 1 : -1;
        SDL_ShowCursor(state.cursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
        return state.cursorCount;
    },
    // SDL sizes windows by their client area, so no frame is added.
    .adjustWindowRect = [](Rect*, uint32_t, bool, uint32_t) { return true; },
    .createWindow = [](uint32_t, const char* className, const char* title, uint32_t style, int x, int y, int w, int h,
       Handle) -> Handle {
        if (!className || state.className != className || !videoUp()) return nullptr;
        state.pixelFormatSet = false;
        if ((style & WS_POPUP) && state.fullscreenWindow) {
            SDL_SetWindowTitle(state.fullscreenWindow, title ? title : "");
            return state.fullscreenWindow;
        }
        Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
        if (style & WS_OVERLAPPEDWINDOW) flags |= SDL_WINDOW_RESIZABLE;
        else flags |= SDL_WINDOW_BORDERLESS;
        return SDL_CreateWindow(title ? title : "", x, y, w, h, flags);
    },
    .destroyWindow = [](Handle window) {
        if (!window) return false;
        if (asWindow(window) == state.fullscreenWindow) state.fullscreenWindow = nullptr;
        SDL_DestroyWindow(asWindow(window));
        return true;
    },
    .showWindow = [](Handle window) {
        SDL_ShowWindow(asWindow(window));
        // Showing a window activates and sizes it; the window procedure hears
        // of both before ShowWindow returns.
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(asWindow(window), &w, &h);
        sendMessage(window, WM_ACTIVATE, WA_ACTIVE, 0);
        sendMessage(window, WM_SIZE, 0, packSize(w, h));
    },
    .setForegroundWindow = [](Handle window) {
        SDL_RaiseWindow(asWindow(window));
        return true;
    },
    .setFocus = [](Handle window) {
        SDL_SetWindowInputFocus(asWindow(window));
        return Handle{};
    },
    .getFocus = [] { return static_cast<Handle>(SDL_GetKeyboardFocus()); },
    .getDC = [](Handle window) { return window; },  // the window is its own device context
    .releaseDC = [](Handle window, Handle dc) { return dc != nullptr && dc == window; },
    .choosePixelFormat = [](Handle dc, const PixelFormat& request) {
        const uint32_t needed = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
        if (!dc || (request.flags & needed) != needed || request.pixelType != PFD_TYPE_RGBA) return 0;
        return 1;  // the one format the window was made with
    },
    .setPixelFormat = [](Handle dc, int format, const PixelFormat&) {
        if (!dc || format != 1 || state.pixelFormatSet) return false;  // set once per window
        state.pixelFormatSet = true;
        return true;
    },
    .createContext = [](Handle dc) -> Handle {
        if (!dc) return nullptr;
        SDL_GLContext previous = SDL_GL_GetCurrentContext();
        SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
        SDL_GLContext rc = SDL_GL_CreateContext(asWindow(dc));
        // Creating must not change which context is current; that is makeCurrent's job.
        SDL_GL_MakeCurrent(previousWindow, previous);
        return rc;
    },
    .makeCurrent = [](Handle dc, Handle rc) {
        if (!rc) return SDL_GL_MakeCurrent(nullptr, nullptr) == 0;
        if (!dc || SDL_GL_MakeCurrent(asWindow(dc), rc) != 0) return false;
        SDL_GL_SetSwapInterval(1);  // paced by the display's refresh where the driver can
        return true;
    },
    .deleteContext = [](Handle rc) {
        if (!rc) return false;
        SDL_GL_DeleteContext(rc);
        return true;
    },
    .swapBuffers = [](Handle dc) {
        if (!dc) return false;
        SDL_GL_SwapWindow(asWindow(dc));
        return true;
    },
    .peekMessage = [](Message* m) {
        if (terminated && !closePosted) {  // SIGTERM or SIGINT: a close, as the close box
            closePosted = true;
            *m = Message();
            m->window = state.fullscreenWindow;
            m->message = WM_CLOSE;
            return true;
        }
        if (!state.posted.empty()) {
            *m = state.posted.front();
            state.posted.pop_front();
            return true;
        }
        if (!state.videoUp) return false;
        // The caller's message keeps the last one returned until another is:
        // WinMain's status is its wParam, which events dropped here must not clear.
        SDL_Event e;
        Message next;
        while (SDL_PollEvent(&e)) {
            if (translateEvent(e, &next)) {
                *m = next;
                return true;
            }
        }
        return false;
    },
    .translateMessage = [](const Message&) {},
    .dispatchMessage = [](const Message& m) { return sendMessage(m.window, m.message, m.wParam, m.lParam); },
    .postQuitMessage = [](int code) {
        Message quit;
        quit.message = WM_QUIT;
        quit.wParam = static_cast<uintptr_t>(code);
        state.posted.push_back(quit);
    },
    .defWindowProc = [](Handle window, uint32_t message, uintptr_t wParam, intptr_t) {
        if (message == WM_SYSCOMMAND && wParam == SC_MINIMIZE && window) SDL_MinimizeWindow(asWindow(window));
        return intptr_t{0};
    },
    .messageBox = [](Handle, const char* text, const char* caption, uint32_t type) {
        const bool question = (type & 0x0F) == MB_YESNO;
        Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
        const uint32_t icon = type & 0xF0;
        if (icon == MB_ICONSTOP) flags = SDL_MESSAGEBOX_ERROR;
        else if (icon == MB_ICONEXCLAMATION) flags = SDL_MESSAGEBOX_WARNING;
        const SDL_MessageBoxButtonData yesNo[] = {
            {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDYES, "Yes"},
            {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDNO, "No"},
        };
        const SDL_MessageBoxButtonData ok[] = {
            {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDOK, "OK"},
        };
        SDL_MessageBoxData box = {};
        box.flags = flags;
        box.title = caption ? caption : "";
        box.message = text ? text : "";
        box.numbuttons = question ? 2 : 1;
        box.buttons = question ? yesNo : ok;
        int answer = 0;
        if (boxChild) {
            storeShared(&boxChild->pid, 0);
            storeShared(&boxChild->displayLost, 0);
            storeShared(&boxChild->terminated, terminated);
        }
        boxWaiting = 1;
        const int shown = boxShower(&box, &answer);
        boxWaiting = 0;
        if (boxChild && loadShared(&boxChild->displayLost)) {
            sayDisplayLost();
            _exit(1);
        }
        // Told to end while the box waited: as a close would, with the
        // desktop's mode given back on the way out.
        if (terminated) std::exit(0);
        if (shown == 0) {
            if (answer > 0) return answer;
            return question ? IDNO : IDOK;  // closed without a button
        }
        // No display to show it on: the text still reaches the user, on one
        // line with the reason when no display could be opened at all.
        std::string line = std::string(box.title) + ": " + box.message;
        if (!state.noDisplay.empty()) {
            while (!line.empty() && line.back() == '\n') line.pop_back();
            line += " (" + state.noDisplay + ")";
        }
        std::fprintf(stderr, "%s%s", line.c_str(), !line.empty() && line.back() == '\n' ? "" : "\n");
        return question ? IDNO : IDOK;
    },
};

}  // namespace

const PlatformApi* sdl2Platform() { return &api; }

void setBoxShower(BoxShower show) { boxShower = show ? show : SDL_ShowMessageBox; }

}  // namespace plat
