// scripted_platform.h - a window system that exists only in memory, for tests.
//
// Every call is logged by name, every step of window creation and release can
// be made to fail, messages are queued by the test, and every message box is
// recorded and answered from a list (IDNO for a question, IDOK otherwise, once
// the list runs out). No window, display or GL context is ever made.
#pragma once

#include "platform/platform.h"

#include <deque>
#include <string>
#include <vector>

namespace plat {

struct RecordedBox {
    Handle owner;
    std::string text;
    std::string caption;
    uint32_t type;
};

struct Script {
    // Steps that fail when set.
    bool failRegisterClass = false;
    bool refuseDisplayMode = false;
    bool failCreateWindow = false;
    bool failGetDC = false;
    bool failChoosePixelFormat = false;
    bool failSetPixelFormat = false;
    bool failCreateContext = false;
    bool failMakeCurrent = false;
    // Releases that fail when set.
    bool failReleaseCurrent = false;
    bool failDeleteContext = false;
    bool failReleaseDC = false;
    bool failDestroyWindow = false;
    bool failUnregisterClass = false;

    std::deque<int> boxAnswers;       // taken from the front, one per box
    std::deque<Message> messages;     // what peekMessage hands out, in order

    // What happened.
    std::vector<std::string> calls;   // e.g. "registerClass OpenGL", "createWindow", "showCursor 0"
    std::vector<RecordedBox> boxes;
    std::vector<Message> dispatched;
    bool displayChanged = false;      // a full-screen mode is in force
    int cursorCount = 0;              // ShowCursor's counter: below 0 hides it
    bool classRegistered = false;
    int liveWindows = 0;
    int liveContexts = 0;
    Handle currentContext = nullptr;
    int swaps = 0;
    DisplayMode lastMode;
    uint32_t lastStyle = 0, lastExStyle = 0;
    int lastWidth = 0, lastHeight = 0;
    PixelFormat lastPixelFormat;
    WindowProc windowProc = nullptr;
};

// The one script, reset to its defaults by resetScript().
Script& script();
void resetScript();
const PlatformApi* scriptedPlatform();

}  // namespace plat
