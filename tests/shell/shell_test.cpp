// The shell against the scripted window system, with a scene of the test's own.
#include "shell/shell.h"

#include "platform/offscreen/offscreen_gl.h"
#include "platform/scripted/scripted_platform.h"

#include "platform/gl.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace plat;

// The scene the shell drives in these tests.
namespace {
int initCalls = 0;
bool initResult = true;
int drawCalls = 0;
std::function<void(int)> onDraw;  // called with the frame number

bool initTestScene() {
    ++initCalls;
    script().calls.push_back("initScene");
    return initResult;
}

bool drawTestScene() {
    ++drawCalls;
    if (onDraw) onDraw(drawCalls);
    return true;
}

Message msg(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) {
    Message m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    return m;
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        setPlatform(scriptedPlatform());
        setScene({.initScene = initTestScene, .drawScene = drawTestScene});
        resetScript();
        resetShell();
        initCalls = 0;
        initResult = true;
        drawCalls = 0;
        onDraw = nullptr;
    }
    void TearDown() override {
        setPlatform(nullptr);
        setScene({});
    }

    static long count(const std::string& call) {
        const auto& c = script().calls;
        return std::count(c.begin(), c.end(), call);
    }
    static std::vector<std::string> boxTexts() {
        std::vector<std::string> texts;
        for (const auto& b : script().boxes) texts.push_back(b.text);
        return texts;
    }
};

// --- the window procedure -------------------------------------------------

TEST_F(Shell, ActivateFollowsTheMinimisedFlagOnly) {
    EXPECT_EQ(WndProc(nullptr, WM_ACTIVATE, WA_INACTIVE | (1u << 16), 0), 0);
    EXPECT_FALSE(active);
    WndProc(nullptr, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_TRUE(active);
    WndProc(nullptr, WM_ACTIVATE, WA_INACTIVE, 0);  // focus lost, still visible
    EXPECT_TRUE(active);
}

TEST_F(Shell, ScreenSaverAndMonitorPowerAreSwallowedOtherCommandsAreNot) {
    WndProc(nullptr, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    WndProc(nullptr, WM_SYSCOMMAND, SC_MONITORPOWER, 0);
    EXPECT_EQ(count("defWindowProc 274"), 0);
    WndProc(nullptr, WM_SYSCOMMAND, SC_SCREENSAVE | 2, 0);  // the whole wParam is compared
    WndProc(nullptr, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(count("defWindowProc 274"), 2);
    WndProc(nullptr, 0x0020, 0, 0);  // any other message
    EXPECT_EQ(count("defWindowProc 32"), 1);
}

TEST_F(Shell, KeysAndCloseBox) {
    WndProc(nullptr, WM_KEYDOWN, VK_ESCAPE, 0);
    WndProc(nullptr, WM_KEYDOWN, VK_F1, 0);
    EXPECT_TRUE(keys[VK_ESCAPE]);
    EXPECT_TRUE(keys[VK_F1]);
    WndProc(nullptr, WM_KEYUP, VK_ESCAPE, 0);
    EXPECT_TRUE(keys[VK_ESCAPE]) << "a tap is held until the loop has looked at the keys";
    WndProc(nullptr, WM_KEYDOWN, 300, 0);  // never indexes past the table
    WndProc(nullptr, WM_KEYUP, static_cast<uintptr_t>(-1), 0);

    EXPECT_EQ(WndProc(nullptr, WM_CLOSE, 0, 0), 0);
    ASSERT_EQ(script().messages.size(), 1u);
    EXPECT_EQ(script().messages.front().message, WM_QUIT);
    EXPECT_EQ(script().messages.front().wParam, 0u);
}

TEST(ResizeScene, ZeroHeightCountsAsOneAndSetsTheProjection) {
    OffscreenGl gl(64, 64);
    ASSERT_TRUE(gl.ok()) << gl.error();
    GLint viewport[4];

    resizeScene(0, 0);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 0);
    EXPECT_EQ(viewport[3], 1);

    // A WM_SIZE carries the client size in lParam.
    WndProc(nullptr, WM_SIZE, 0, (480 << 16) | 640);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    GLfloat p[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    EXPECT_NEAR(p[0], f / (640.0 / 480.0), 1e-5);
    EXPECT_NEAR(p[5], f, 1e-5);
    EXPECT_NEAR(p[10], -(500.0 + 1.0) / (500.0 - 1.0), 1e-5);
    GLint mode;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    resizeScene(300, 0);
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    EXPECT_NEAR(p[0], f / 300.0, 1e-6);
}

// --- creating and releasing the window ------------------------------------

TEST_F(Shell, FullscreenCreationInOrder) {
    ASSERT_TRUE(createGLWindow("Tamber's OpenGL Framework", 640, 480, 16, true));
    const std::vector<std::string> expected = {
        "registerClass OpenGL", "changeDisplaySettings 640x480x16", "showCursor 0", "createWindow", "getDC",
        "choosePixelFormat", "setPixelFormat", "createContext", "makeCurrent", "showWindow",
        "setForegroundWindow", "setFocus", "initScene"};
    EXPECT_EQ(script().calls, expected);
    EXPECT_EQ(script().lastMode.fields, DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT);
    EXPECT_EQ(script().lastStyle, WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    EXPECT_EQ(script().lastExStyle, WS_EX_APPWINDOW);
    EXPECT_EQ(script().lastWidth, 640);
    EXPECT_EQ(script().lastHeight, 480);
    const PixelFormat& pf = script().lastPixelFormat;
    EXPECT_EQ(pf.flags, PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER);
    EXPECT_EQ(pf.colorBits, 16);
    EXPECT_EQ(pf.depthBits, 16);
    EXPECT_EQ(pf.alphaBits + pf.accumBits + pf.stencilBits + pf.auxBuffers, 0);
    EXPECT_TRUE(fullscreen);
    EXPECT_TRUE(hWnd && hDC && hRC);

    script().calls.clear();
    killGLWindow();
    const std::vector<std::string> released = {"changeDisplaySettings restore", "showCursor 1", "makeCurrent null",
                                               "deleteContext", "releaseDC", "destroyWindow",
                                               "unregisterClass OpenGL"};
    EXPECT_EQ(script().calls, released);
    EXPECT_EQ(script().cursorCount, 0);
    EXPECT_FALSE(script().displayChanged);
    EXPECT_TRUE(hWnd == nullptr && hDC == nullptr && hRC == nullptr);
    EXPECT_TRUE(script().boxes.empty());
}

TEST_F(Shell, RefusedModeAnsweredYesGivesAFramedWindowWithTheCursor) {
    script().refuseDisplayMode = true;
    script().boxAnswers = {IDYES};
    ASSERT_TRUE(createGLWindow("t", 640, 480, 16, true));
    ASSERT_EQ(script().boxes.size(), 1u);
    const RecordedBox& box = script().boxes[0];
    EXPECT_EQ(box.text, "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed Mode Instead?");
    EXPECT_EQ(box.caption, "Tamber GL");
    EXPECT_EQ(box.type, MB_YESNO | MB_ICONEXCLAMATION);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_FALSE(fullscreen);
    EXPECT_EQ(count("showCursor 0"), 0);
    EXPECT_EQ(script().lastStyle, WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    EXPECT_EQ(script().lastExStyle, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE);
    // The frame is added around a 640 x 480 client area.
    EXPECT_EQ(script().lastWidth, 648);
    EXPECT_EQ(script().lastHeight, 507);
    killGLWindow();
    EXPECT_EQ(count("changeDisplaySettings restore"), 0);  // windowed: nothing to restore
}

TEST_F(Shell, RefusedModeAnsweredNoClosesWithoutChangingAnything) {
    script().refuseDisplayMode = true;
    EXPECT_FALSE(createGLWindow("t", 640, 480, 16, true));
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{
                              "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed Mode Instead?",
                              "Program Will Now Close."}));
    EXPECT_EQ(script().boxes[1].caption, "ERROR");
    EXPECT_EQ(script().boxes[1].type, MB_OK | MB_ICONSTOP);
    EXPECT_FALSE(script().displayChanged);
    EXPECT_EQ(count("createWindow"), 0);
    EXPECT_TRUE(script().classRegistered);  // left for the process to end
}

struct FailureRow {
    bool Script::*fail;
    const char* text;
    int liveWindowsAfter;
};

TEST_F(Shell, EveryFailingStepReleasesWhatWasMadeAndSaysWhy) {
    const FailureRow rows[] = {
        {&Script::failCreateWindow, "Window Creation Error.", 0},
        {&Script::failGetDC, "Can't Create A GL Device Context.", 0},
        {&Script::failChoosePixelFormat, "Can't Find A Suitable PixelFormat.", 0},
        {&Script::failSetPixelFormat, "Can't Set The PixelFormat.", 0},
        {&Script::failCreateContext, "Can't Create A GL Rendering Context.", 0},
        {&Script::failMakeCurrent, "Can't Activate The GL Rendering Context.", 0},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.text);
        resetScript();
        resetShell();
        script().*row.fail = true;
        EXPECT_FALSE(createGLWindow("t", 640, 480, 16, true));
        ASSERT_EQ(script().boxes.size(), 1u);
        EXPECT_EQ(script().boxes[0].text, row.text);
        EXPECT_EQ(script().boxes[0].caption, "ERROR");
        EXPECT_EQ(script().boxes[0].type, MB_OK | MB_ICONEXCLAMATION);
        // killGLWindow ran before the box: mode, cursor, context, window and class all back.
        EXPECT_FALSE(script().displayChanged);
        EXPECT_EQ(script().cursorCount, 0);
        EXPECT_EQ(script().liveContexts, 0);
        EXPECT_EQ(script().liveWindows, row.liveWindowsAfter);
        EXPECT_FALSE(script().classRegistered);
        EXPECT_EQ(count("initScene"), 0);
        EXPECT_TRUE(hWnd == nullptr && hDC == nullptr && hRC == nullptr);
    }
}

TEST_F(Shell, ClassRegistrationAndSetUpFailures) {
    script().failRegisterClass = true;
    EXPECT_FALSE(createGLWindow("t", 640, 480, 16, true));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Failed To Register The Window Class."});
    EXPECT_EQ(count("changeDisplaySettings 640x480x16"), 0);

    resetScript();
    resetShell();
    initResult = false;
    EXPECT_FALSE(createGLWindow("t", 640, 480, 16, true));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Initialization Failed."});
    EXPECT_EQ(script().liveWindows, 0);
    EXPECT_EQ(script().liveContexts, 0);
}

TEST_F(Shell, FailedReleasesAreEachReportedAndTheHandlesStillCleared) {
    ASSERT_TRUE(createGLWindow("t", 640, 480, 16, true));
    script().failReleaseCurrent = script().failDeleteContext = script().failReleaseDC =
        script().failDestroyWindow = script().failUnregisterClass = true;
    killGLWindow();
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Release Of DC And RC Failed.", "Release Rendering Context Failed.",
                                                    "Release Device Context Failed.", "Could Not Release hWnd.",
                                                    "Could Not Unregister Class."}));
    for (const RecordedBox& b : script().boxes) {
        EXPECT_EQ(b.caption, "SHUTDOWN ERROR");
        EXPECT_EQ(b.type, MB_OK | MB_ICONINFORMATION);
    }
    EXPECT_TRUE(hWnd == nullptr && hDC == nullptr && hRC == nullptr);
    // A second kill finds nothing left to release but the class.
    script().calls.clear();
    killGLWindow();
    EXPECT_EQ(count("deleteContext") + count("releaseDC") + count("destroyWindow"), 0);
}

// --- the main loop ---------------------------------------------------------

TEST_F(Shell, CloseBoxEndsWithStatusZero) {
    onDraw = [](int frame) {
        if (frame == 3) script().messages.push_back(msg(WM_CLOSE));
    };
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(drawCalls, 3);
    EXPECT_EQ(script().swaps, 3);
    EXPECT_EQ(script().liveWindows, 0);
    EXPECT_FALSE(script().displayChanged);
}

TEST_F(Shell, EscapeEndsWithTheLastMessagesWParam) {
    onDraw = [](int frame) {
        if (frame == 2) script().messages.push_back(msg(WM_KEYDOWN, VK_ESCAPE));
    };
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 27);
    EXPECT_EQ(drawCalls, 2);  // nothing is drawn once Escape is down
    EXPECT_EQ(script().liveWindows, 0);
}

TEST_F(Shell, EscapeIsIgnoredWhileMinimisedButF1IsNot) {
    onDraw = [](int frame) {
        if (frame == 1) {
            // Minimised: Escape comes and goes unseen, F1 still toggles.
            script().messages.push_back(msg(WM_ACTIVATE, WA_INACTIVE | (1u << 16)));
            script().messages.push_back(msg(WM_KEYDOWN, VK_ESCAPE));
            script().messages.push_back(msg(WM_KEYUP, VK_ESCAPE));
            script().messages.push_back(msg(WM_KEYDOWN, VK_F1));
        }
        if (frame == 2) script().messages.push_back(msg(WM_CLOSE));
    };
    // The toggle's new window is active again once it is shown.
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(initCalls, 2);
    EXPECT_FALSE(fullscreen);  // toggled to a window
}

TEST_F(Shell, EscapeAndF1OnTheSamePassToggleThenEnd) {
    onDraw = [](int frame) {
        if (frame == 1) {
            script().messages.push_back(msg(WM_KEYDOWN, VK_F1));
            script().messages.push_back(msg(WM_KEYDOWN, VK_ESCAPE));
        }
    };
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 27);
    EXPECT_EQ(initCalls, 2);
    EXPECT_EQ(count("unregisterClass OpenGL"), 2);
    EXPECT_EQ(script().liveWindows, 0);
    EXPECT_FALSE(keys[VK_F1]);
}

// A key pressed and released between two frames is seen once, as if held
// for one frame: both messages are handled before the loop looks at the keys.
TEST_F(Shell, ATapBetweenTwoFramesCountsOnce) {
    struct Row {
        uintptr_t key;
        int status, inits, draws;
        bool fullscreenAfter;
    };
    const Row rows[] = {
        {VK_ESCAPE, 27, 1, 1, true},  // Escape's key-up carries 27 too
        {VK_F1, 0, 2, 3, false},      // one toggle, then the close at frame 3
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        resetScript();
        resetShell();
        initCalls = drawCalls = 0;
        static uintptr_t key;
        key = row.key;
        onDraw = [](int frame) {
            if (frame == 1) {
                script().messages.push_back(msg(WM_KEYDOWN, key));
                script().messages.push_back(msg(WM_KEYUP, key));
            }
            if (frame == 3) script().messages.push_back(msg(WM_CLOSE));
        };
        EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), row.status);
        EXPECT_EQ(initCalls, row.inits);
        EXPECT_EQ(drawCalls, row.draws);
        EXPECT_EQ(fullscreen, row.fullscreenAfter);
        EXPECT_FALSE(keys[row.key]);  // released after the frame that saw it
    }
}

TEST_F(Shell, F1TogglesBackAndForthAndAHeldF1TogglesAgain) {
    onDraw = [](int frame) {
        if (frame <= 2) script().messages.push_back(msg(WM_KEYDOWN, VK_F1));  // auto-repeat
        if (frame == 3) script().messages.push_back(msg(WM_CLOSE));
    };
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(initCalls, 3);
    EXPECT_TRUE(fullscreen);  // full, windowed, full
    EXPECT_EQ(count("changeDisplaySettings 640x480x16"), 2);
    EXPECT_EQ(count("changeDisplaySettings restore"), 2);
}

TEST_F(Shell, FailedCreationEndsWithStatusOne) {
    script().failCreateContext = true;
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 1);
    EXPECT_EQ(drawCalls, 0);

    resetScript();
    resetShell();
    onDraw = [](int frame) {
        if (frame == 1) {
            script().messages.push_back(msg(WM_KEYDOWN, VK_F1));
            script().failGetDC = true;
        }
    };
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 1);
    EXPECT_EQ(count("unregisterClass OpenGL"), 2);  // the toggle's kill and the failure's own
}

}  // namespace
