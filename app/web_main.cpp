// contrail in a web page: the demo on the browser's backends, and the page's
// loop around the shell's.
//
// The page owns the loop, so the shell's loop runs one step per animation
// frame: every waiting message, then the pass that draws a frame. The ends
// that finish the process on the desktop stop the loop here instead: the end
// of the show (through the end-process hook), Escape, the close of the page.
// The window is released, the music silenced, and the page offers "Play
// again", which starts the show as a fresh process would: every module puts
// its state back to its start-up values.
//
// Fixed-rate mode (?fps=N&stop=MS[&snap=MS,MS...][&skip=1]): the music clock
// is replaced by the fixed-rate one (demo/fixed_rate.h), frames follow each
// other as fast as the browser runs them, and the loop stops after the frame
// on screen at MS. The frames on screen at the snap moments and at MS are read
// back into the page (Module.contrailSnapshots) so a test can compare them;
// with skip the frames in between draw one pixel only. It plays no sound.
#include "demo/demo.h"
#include "demo/fixed_rate.h"
#include "mesh/mesh.h"
#include "motion/motion.h"
#include "platform/web/web.h"
#include "platform/web/web_sound.h"
#include "shell/shell.h"
#include "show/show.h"
#include "sound/sound.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct Page {
    bool running = false;
    bool showOver = false;  // the end-process hook ran
    int status = 0;
    int64_t frames = 0;  // frames drawn since the start
    // Fixed-rate mode.
    int fps = 0;
    int64_t stopMs = -1;
    bool skip = false;
    std::vector<int64_t> snapFrames;
};
Page page;

bool fixedRate() { return page.fps > 0; }

int clockNow() { return FSOUND_Stream_GetTime(demoState.musicStream); }

void onEndProcess(int status) {
    page.showOver = true;
    page.status = status;
}

void finish(const char* why) {
    plat::stopFrames();
    page.running = false;
    webSoundStopAll();
    if (fixedRate()) fixedrate::stop();
    int status = shellEnd();
    if (page.showOver) status = page.status;
    plat::pageEnded(status, why);
}

void frame() {
    plat::webNewFrame();
    bool keep = true;
    if (fixedRate()) {
        const int64_t last = fixedrate::frameShownAt(page.stopMs, page.fps);
        keep = page.frames == last || std::find(page.snapFrames.begin(), page.snapFrames.end(),
                                                page.frames) != page.snapFrames.end();
        fixedrate::beginFrame(page.frames, page.fps, keep || !page.skip);
    }
    // Every waiting message, then the pass that finds the queue empty draws.
    bool drew = false, goOn = true;
    while (!drew && !page.showOver && (goOn = runOnePass(&drew))) {
    }
    if (!goOn) return finish("left");
    if (page.showOver) return finish("over");
    const int clock = clockNow();
    plat::pageFrameDrawn(clock, static_cast<int>(phaseAt(clock)), page.frames + 1);
    if (fixedRate() && keep) plat::pageSnapshot(clock, page.frames, show::kWidth, show::kHeight);
    ++page.frames;
    if (fixedRate() && page.frames > fixedrate::frameShownAt(page.stopMs, page.fps)) finish("stopped");
}

void begin() {
    page.showOver = false;
    page.frames = 0;
    if (fixedRate()) fixedrate::start();
    plat::setEndProcessHook(onEndProcess);
    if (!shellStart()) {
        plat::pageEnded(shellEnd(), "no window");
        return;
    }
    page.running = true;
    plat::runEveryFrame(frame, fixedRate());
}

// The page is going away: the window is closed as a desktop window would be,
// and the loop runs to its end at once. Each pass that draws is a frame of
// its own, so a key-up held back for the next frame is let through.
void closePage() {
    if (!page.running) return;
    plat::webNewFrame();
    plat::webPostMessage(plat::WM_CLOSE, 0);
    bool drew = false;
    for (int guard = 0; runOnePass(&drew) && !page.showOver && guard < 1000; ++guard)
        if (drew) plat::webNewFrame();
    finish("closed");
}

// "Play again": every module back to its start-up state, as in a new process.
void playAgain() {
    if (page.running) return;
    resetShell();
    fullscreen = false;  // the new show stays in the page, like the first; F1 goes full-screen
    resetDemo();
    resetMesh();
    resetParticles();
    webSoundGesture();
    begin();
}

}  // namespace

int main() {
    plat::setPlatform(plat::webPlatform());
    setScene({.initScene = initScene, .drawScene = drawScene});
    plat::setPageEvents(
        {.gesture = webSoundGesture, .close = closePage, .restart = playAgain, .clock = clockNow});
    page.fps = std::clamp(plat::pageOption("fps", 0), 0, 1000);
    if (fixedRate()) {
        page.stopMs = std::clamp(plat::pageOption("stop", show::kEndMs), 0, show::kEndMs);
        page.skip = plat::pageOption("skip", 0) != 0;
        for (const int ms : plat::pageListOption("snap"))
            if (ms >= 0 && ms <= page.stopMs)
                page.snapFrames.push_back(fixedrate::frameShownAt(ms, page.fps));
    }
    begin();
    return 0;
}
