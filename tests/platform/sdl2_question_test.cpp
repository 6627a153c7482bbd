// The full-screen question through the SDL backend's own box: the offscreen
// driver has no 640 x 480 mode, so the shell asks, and the test presses the
// button the box offers under a given label (or closes the box, or fails as
// SDL does where no box can be shown). What the shell then does is checked.
#include "platform/platform.h"
#include "platform/sdl2/sdl2_platform.h"
#include "shell/shell.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace plat;

constexpr const char* kQuestion =
    "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed Mode Instead?";

struct Row {
    const char* name;
    const char* press;  // the label of the button pressed; "" closes the box, null: no box can be shown
    bool windowed;      // the show goes on in a window
    int status;
    std::vector<std::string> boxes;  // captions and texts, in order
};

const Row kRows[] = {
    {"Yes", "Yes", true, 0, {std::string("Tamber GL: ") + kQuestion}},
    {"No", "No", false, 1, {std::string("Tamber GL: ") + kQuestion, "ERROR: Program Will Now Close."}},
    {"BoxClosed", "", false, 1, {std::string("Tamber GL: ") + kQuestion, "ERROR: Program Will Now Close."}},
    {"NoBoxPossible", nullptr, false, 1, {}},
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

const Row* current = nullptr;
std::vector<std::string> shown;

// Presses the button labelled as the row says; an OK box gets its OK.
int pressButton(const SDL_MessageBoxData* box, int* buttonId) {
    if (!current->press) return -1;
    shown.push_back(std::string(box->title) + ": " + box->message);
    const std::string label = box->numbuttons == 1 ? "OK" : current->press;
    *buttonId = -1;
    for (int i = 0; i < box->numbuttons; ++i)
        if (label == box->buttons[i].text) *buttonId = box->buttons[i].buttonid;
    return 0;
}

class SdlQuestion : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setPlatform(sdl2Platform());
        setBoxShower(pressButton);
        setScene({.initScene = [] { return true; }, .drawScene = [] { return true; }});
    }
    static void TearDownTestSuite() {
        setScene({});
        setBoxShower(nullptr);
        setPlatform(nullptr);
        unsetenv("SDL_VIDEODRIVER");
    }
};

TEST_P(SdlQuestion, AnswerDecidesBetweenAWindowAndTheEnd) {
    const Row& row = GetParam();
    current = &row;
    shown.clear();
    resetShell();
    const bool started = shellStart();
    EXPECT_EQ(started, row.windowed);
    if (started) {
        EXPECT_FALSE(fullscreen);
        EXPECT_NE(hWnd, nullptr);
        EXPECT_FALSE(SDL_GetWindowFlags(static_cast<SDL_Window*>(hWnd)) & SDL_WINDOW_FULLSCREEN);
    }
    EXPECT_EQ(shellEnd(), row.status);
    EXPECT_EQ(shown, row.boxes);
    // The program ends after such an answer with its window class still
    // registered; the next row starts as a new program would.
    if (!row.windowed) killGLWindow();
}

INSTANTIATE_TEST_SUITE_P(Rows, SdlQuestion, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
