// The SDL backend's event translation, driven through the shell's own loop:
// WinMain runs on SDL's offscreen video driver (real windows and GL contexts,
// no display), and SDL events are pushed a batch at a time, one batch on each
// pass that finds the queue empty. What reaches the window procedure, the
// number of F1 rebuilds and the exit status are checked.
#include "platform/platform.h"
#include "shell/shell.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

enum class Ev { KeyDown, KeyRepeat, KeyUp, Minimised, Restored, FocusLost, MouseMotion, Exposed };

struct Push {
    Ev ev;
    SDL_Keycode key = SDLK_UNKNOWN;
};

struct Seen {
    uint32_t message;
    uintptr_t wParam;
    bool operator==(const Seen& o) const { return message == o.message && wParam == o.wParam; }
};

void PrintTo(const Seen& s, std::ostream* os) {
    char text[48];
    std::snprintf(text, sizeof text, "{0x%04x, 0x%lx}", s.message, static_cast<unsigned long>(s.wParam));
    *os << text;
}

struct Row {
    const char* name;
    std::vector<std::vector<Push>> batches;
    std::vector<Seen> seen;  // key, activation and close messages dispatched, in order
    int toggles;
    int status;
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

using namespace plat;
constexpr uintptr_t kMinimised = WA_INACTIVE | (uintptr_t{1} << 16);
constexpr SDL_Keycode kUnmapped[] = {SDLK_F13, SDLK_LGUI, SDLK_PRINTSCREEN};

const Row kRows[] = {
    {"EscapeThenDroppedEvents",
     {{{Ev::KeyDown, SDLK_ESCAPE}, {Ev::MouseMotion}, {Ev::KeyDown, SDLK_F13}, {Ev::Exposed}}},
     {{WM_KEYDOWN, VK_ESCAPE}},
     0,
     27},
    // Escape comes and goes while minimised: not acted on.
    {"MinimiseAndRestore",
     {{{Ev::Minimised}},
      {{Ev::KeyDown, SDLK_ESCAPE}},
      {{Ev::KeyUp, SDLK_ESCAPE}},
      {{Ev::Restored}},
      {{Ev::KeyDown, SDLK_ESCAPE}}},
     {{WM_ACTIVATE, kMinimised},
      {WM_KEYDOWN, VK_ESCAPE},
      {WM_KEYUP, VK_ESCAPE},
      {WM_ACTIVATE, WA_ACTIVE},
      {WM_KEYDOWN, VK_ESCAPE}},
     0,
     27},
    {"FocusLostWithoutMinimising",
     {{{Ev::FocusLost}}, {{Ev::KeyDown, SDLK_ESCAPE}}},
     {{WM_ACTIVATE, WA_INACTIVE}, {WM_KEYDOWN, VK_ESCAPE}},
     0,
     27},
    // Each repeat that arrives after the loop cleared the entry toggles again.
    {"F1AutoRepeat",
     {{{Ev::KeyDown, SDLK_F1}},
      {{Ev::KeyRepeat, SDLK_F1}},
      {{Ev::KeyRepeat, SDLK_F1}},
      {{Ev::KeyUp, SDLK_F1}},
      {{Ev::KeyDown, SDLK_ESCAPE}}},
     {{WM_KEYDOWN, VK_F1},
      {WM_KEYDOWN, VK_F1},
      {WM_KEYDOWN, VK_F1},
      {WM_KEYUP, VK_F1},
      {WM_KEYDOWN, VK_ESCAPE}},
     3,
     27},
    {"KeysWithNoMapping",
     {{{Ev::KeyDown, kUnmapped[0]},
       {Ev::KeyDown, kUnmapped[1]},
       {Ev::KeyDown, kUnmapped[2]},
       {Ev::KeyDown, SDLK_a},
       {Ev::KeyUp, kUnmapped[0]},
       {Ev::KeyUp, kUnmapped[1]},
       {Ev::KeyUp, kUnmapped[2]}},
      {{Ev::KeyDown, SDLK_ESCAPE}}},
     {{WM_KEYDOWN, 'A'}, {WM_KEYDOWN, VK_ESCAPE}},
     0,
     27},
};

// What the running row sees and feeds.
struct RowRun {
    const Row* row = nullptr;
    size_t emptyPasses = 0;
    std::vector<Seen> seen;
    int inits = 0;
    std::vector<std::string> boxes;
};
RowRun run;

// After the batches, a loop that has not ended is closed like the close box,
// so a wrong translation shows as a wrong status instead of a hang.
constexpr size_t kGraceEmptyPasses = 200;

SDL_Event eventOf(const Push& p) {
    SDL_Event e{};
    const Uint32 window = hWnd ? SDL_GetWindowID(static_cast<SDL_Window*>(hWnd)) : 0;
    switch (p.ev) {
    case Ev::KeyDown:
    case Ev::KeyRepeat:
    case Ev::KeyUp:
        e.type = p.ev == Ev::KeyUp ? SDL_KEYUP : SDL_KEYDOWN;
        e.key.state = p.ev == Ev::KeyUp ? SDL_RELEASED : SDL_PRESSED;
        e.key.repeat = p.ev == Ev::KeyRepeat;
        e.key.windowID = window;
        e.key.keysym.sym = p.key;
        e.key.keysym.scancode = SDL_GetScancodeFromKey(p.key);
        break;
    case Ev::MouseMotion:
        e.type = SDL_MOUSEMOTION;
        e.motion.windowID = window;
        e.motion.x = 10;
        e.motion.y = 20;
        break;
    default:
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = window;
        e.window.event = p.ev == Ev::Minimised   ? SDL_WINDOWEVENT_MINIMIZED
                         : p.ev == Ev::Restored  ? SDL_WINDOWEVENT_RESTORED
                         : p.ev == Ev::FocusLost ? SDL_WINDOWEVENT_FOCUS_LOST
                                                 : SDL_WINDOWEVENT_EXPOSED;
        break;
    }
    return e;
}

bool peekAndFeed(Message* m) {
    if (sdl2Platform()->peekMessage(m)) return true;
    const size_t pass = run.emptyPasses++;
    if (pass < run.row->batches.size()) {
        for (const Push& p : run.row->batches[pass]) {
            SDL_Event e = eventOf(p);
            SDL_PushEvent(&e);
        }
    } else if (pass == run.row->batches.size() + kGraceEmptyPasses) {
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
    }
    return false;
}

intptr_t dispatchAndRecord(const Message& m) {
    if (m.message == WM_KEYDOWN || m.message == WM_KEYUP || m.message == WM_ACTIVATE || m.message == WM_CLOSE)
        run.seen.push_back({m.message, m.wParam});
    return sdl2Platform()->dispatchMessage(m);
}

// The offscreen driver has no 640 x 480 mode to switch to; pretend it has, so
// F1 can go full-screen and back.
long pretendDisplayChange(const DisplayMode*, uint32_t) { return DISP_CHANGE_SUCCESSFUL; }

int recordBox(Handle, const char* text, const char* caption, uint32_t) {
    run.boxes.push_back(std::string(caption) + ": " + text);
    return IDOK;
}

bool countInit() {
    ++run.inits;
    return true;
}

PlatformApi underTest;

class SdlEvents : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite() {
        // Asked for by name, the offscreen driver is taken even without a display.
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        underTest = *sdl2Platform();
        underTest.name = "sdl2, events fed by the test";
        underTest.peekMessage = peekAndFeed;
        underTest.dispatchMessage = dispatchAndRecord;
        underTest.changeDisplaySettings = pretendDisplayChange;
        underTest.messageBox = recordBox;
        setPlatform(&underTest);
        setScene({.initScene = countInit, .drawScene = [] { return true; }});
    }
    static void TearDownTestSuite() {
        setScene({});
        setPlatform(nullptr);
        unsetenv("SDL_VIDEODRIVER");
    }
};

TEST_P(SdlEvents, ReachTheShellAsWindowMessages) {
    const Row& row = GetParam();
    run = RowRun();
    run.row = &row;
    resetShell();
    fullscreen = false;  // the offscreen driver has no full-screen mode
    if (SDL_WasInit(SDL_INIT_EVENTS)) SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);

    const int status = WinMain(nullptr, nullptr, nullptr, 0);

    EXPECT_EQ(status, row.status);
    EXPECT_EQ(run.seen, row.seen);
    EXPECT_EQ(run.inits - 1, row.toggles);
    EXPECT_TRUE(run.boxes.empty()) << run.boxes.front();
    EXPECT_LT(run.emptyPasses, row.batches.size() + kGraceEmptyPasses) << "the loop had to be closed";
}

INSTANTIATE_TEST_SUITE_P(Rows, SdlEvents, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
