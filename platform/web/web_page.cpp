// web_page.cpp - the show's loop under the page's animation frames.
//
// PLATFORM: a browser page (emscripten). The page owns the loop, so the
// shell's loop runs one step per animation frame (emscripten_set_main_loop):
// every waiting message, then the pass that draws a frame. The ends that
// finish the process on the desktop stop the loop here instead: the end of
// the show (through the end-process hook), Escape, the close of the page. The
// window is released, the music silenced, and the page offers "play again",
// which starts a fresh show in the same page.
//
// Fixed-rate mode (?fps=N&stop=MS[&snap=MS,MS...]): the music clock is
// replaced by one that moves 1000 / N ms per frame (frame n shows
// n * 1000 / N ms, rounded down), frames follow each other as fast as the
// browser runs them, and the loop stops after the frame on screen at MS. The
// frames on screen at the snap moments and at MS are read back into the page
// (Module.contrailSnapshots) so a test can compare them. With &skip=1 the
// frames in between are drawn into one pixel only (they still run, since the
// particles and the ship's tumble follow the frame count).
// LIMITATIONS: the fixed-rate mode plays no sound.
// DEPENDENCIES: emscripten.h, the page's Module.contrail* functions (index.html).
#include "platform/web/web.h"
#include "platform/web/web_sound.h"
#include "show/show.h"
#include "sound/sound.h"

#include <GL/gl.h>
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace plat {

namespace {

struct Page {
    PageHooks hooks;
    bool running = false;
    bool showOver = false;  // the end-process hook ran
    int status = 0;
    int64_t frames = 0;  // frames drawn since the start
    // Fixed-rate mode.
    int fps = 0;
    int64_t stopMs = -1;
    bool skip = false;
    std::vector<int64_t> snapFrames;
    int32_t clockMs = 0;
    std::vector<uint8_t> pixels;
};
Page page;

EM_JS(int, jsOptionInt, (const char* name, int fallback), {
    var v = (Module['contrailOptions'] || {})[UTF8ToString(name)];
    return typeof v == 'number' && isFinite(v) ? v : fallback;
});
EM_JS(int, jsSnapCount, (), { return ((Module['contrailOptions'] || {})['snap'] || []).length; });
EM_JS(int, jsSnapAt, (int i), { return Module['contrailOptions']['snap'][i]; });

EM_JS(void, jsFrameDrawn, (int clockMs, int phase, double frames), {
    if (Module['contrailFrame']) Module['contrailFrame'](clockMs, phase, frames);
});
EM_JS(void, jsEnded, (int status, const char* why), {
    if (Module['contrailEnded']) Module['contrailEnded'](status, UTF8ToString(why));
});
EM_JS(void, jsSnapshot, (int clockMs, double frame, const uint8_t* rgba, int width, int height), {
    var snaps = Module['contrailSnapshots'] = Module['contrailSnapshots'] || {};
    snaps[clockMs] = {frame: frame, width: width, height: height,
                      rgba: HEAPU8.slice(rgba, rgba + width * height * 4)};
});

int64_t clockOfFrame(int64_t n) { return n * 1000 / page.fps; }
int64_t frameShownAt(int64_t ms) { return ((ms + 1) * page.fps - 1) / 1000; }

int fixedClock(void*) { return page.clockMs; }

void onEndProcess(int status) {
    page.showOver = true;
    page.status = status;
}

void finish(const char* why) {
    emscripten_cancel_main_loop();
    page.running = false;
    webSoundStopAll();
    glDisable(GL_SCISSOR_TEST);
    int status = page.hooks.end();
    if (page.showOver) status = page.status;
    jsEnded(status, why);
}

void snapshot() {
    page.pixels.resize(size_t{show::kWidth} * show::kHeight * 4);
    glReadPixels(0, 0, show::kWidth, show::kHeight, GL_RGBA, GL_UNSIGNED_BYTE, page.pixels.data());
    jsSnapshot(page.clockMs, static_cast<double>(page.frames), page.pixels.data(), show::kWidth,
               show::kHeight);
}

void frame() {
    webNewFrame();
    const bool fixed = page.fps > 0;
    bool keep = true;
    if (fixed) {
        page.clockMs = static_cast<int32_t>(clockOfFrame(page.frames));
        const bool last = page.frames == frameShownAt(page.stopMs);
        keep = last || std::find(page.snapFrames.begin(), page.snapFrames.end(), page.frames) !=
                           page.snapFrames.end();
        if (page.skip && !keep) {
            glEnable(GL_SCISSOR_TEST);
            glScissor(0, 0, 1, 1);
        } else {
            glDisable(GL_SCISSOR_TEST);
        }
    }
    // Every waiting message, then the pass that finds the queue empty draws.
    bool drew = false, goOn = true;
    while (!drew && !page.showOver && (goOn = page.hooks.pass(&drew))) {
    }
    if (!goOn) return finish("left");
    if (page.showOver) return finish("over");
    jsFrameDrawn(page.hooks.clock(), page.hooks.phase(), static_cast<double>(page.frames + 1));
    if (fixed && keep) snapshot();
    ++page.frames;
    if (fixed && page.frames > frameShownAt(page.stopMs)) finish("stopped");
}

void begin() {
    page.showOver = false;
    page.frames = 0;
    page.clockMs = 0;
    setEndProcessHook(onEndProcess);
    if (!page.hooks.start()) {
        jsEnded(page.hooks.end(), "no window");
        return;
    }
    page.running = true;
    emscripten_set_main_loop(frame, 0, 0);
    if (page.fps > 0) emscripten_set_main_loop_timing(EM_TIMING_SETIMMEDIATE, 0);
}

}  // namespace

void runPage(const PageHooks& hooks) {
    page.hooks = hooks;
    page.fps = std::clamp(jsOptionInt("fps", 0), 0, 1000);
    if (page.fps > 0) {
        page.stopMs = std::clamp(jsOptionInt("stop", show::kEndMs), 0, show::kEndMs);
        page.skip = jsOptionInt("skip", 0) != 0;
        for (int i = 0, n = jsSnapCount(); i < n; ++i) {
            const int ms = jsSnapAt(i);
            if (ms >= 0 && ms <= page.stopMs) page.snapFrames.push_back(frameShownAt(ms));
        }
        soundSetClockOverride(fixedClock, nullptr);
    }
    begin();
}

}  // namespace plat

extern "C" {

// The page's first click or key: the show starts (its music and its clock).
EMSCRIPTEN_KEEPALIVE void contrail_page_gesture() { webSoundGesture(); }

// The page is going away: the window is closed as a desktop window would be,
// and the loop runs to its end at once.
EMSCRIPTEN_KEEPALIVE void contrail_page_close() {
    using namespace plat;
    if (!page.running) return;
    webPostMessage(WM_CLOSE, 0);
    bool drew = false;
    int guard = 0;
    while (page.hooks.pass(&drew) && !page.showOver && ++guard < 1000) {
    }
    finish("closed");
}

// The show's clock now, in ms (for the page's tests).
EMSCRIPTEN_KEEPALIVE int contrail_page_clock() { return plat::page.hooks.clock(); }

// "Play again": a fresh show in the same page, started by a gesture.
EMSCRIPTEN_KEEPALIVE void contrail_page_restart() {
    using namespace plat;
    if (page.running) return;
    page.hooks.reset();
    webSoundGesture();
    begin();
}

}  // extern "C"
