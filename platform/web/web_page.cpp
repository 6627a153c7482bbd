// web_page.cpp - the page around the program: its animation frames, its URL
// options, what the page is told (frames, the end, read-back frames), and the
// page's own events (first gesture, "play again", closing).
//
// PLATFORM: a browser page (emscripten). The page owns the loop: the program
// hands it a function to run once per animation frame (or as fast as the
// browser runs them) and returns from main; the page keeps it alive.
// LIMITATIONS: one loop at a time (emscripten's main loop).
// DEPENDENCIES: emscripten.h, the page's Module.contrail* functions (app/index.html).
#include "platform/gl.h"
#include "platform/web/web.h"

#include <emscripten/emscripten.h>
#include <malloc.h>

#include <cstdint>
#include <vector>

namespace plat {

namespace {

PageEvents events;
std::vector<uint8_t> pixels;

EM_JS(int, jsOptionInt, (const char* name, int fallback), {
    var v = (Module['contrailOptions'] || {})[UTF8ToString(name)];
    return typeof v == 'number' && isFinite(v) ? v : fallback;
});
EM_JS(int, jsListLength, (const char* name), {
    var v = (Module['contrailOptions'] || {})[UTF8ToString(name)];
    return Array.isArray(v) ? v.length : 0;
});
EM_JS(int, jsListAt, (const char* name, int i),
      { return Module['contrailOptions'][UTF8ToString(name)][i] | 0; });
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

}  // namespace

int pageOption(const char* name, int fallback) { return jsOptionInt(name, fallback); }

std::vector<int> pageListOption(const char* name) {
    std::vector<int> list;
    for (int i = 0, n = jsListLength(name); i < n; ++i) list.push_back(jsListAt(name, i));
    return list;
}

void runEveryFrame(void (*frame)(), bool asFastAsPossible) {
    emscripten_set_main_loop(frame, 0, 0);
    if (asFastAsPossible) emscripten_set_main_loop_timing(EM_TIMING_SETIMMEDIATE, 0);
}

void stopFrames() { emscripten_cancel_main_loop(); }

void pageFrameDrawn(int clockMs, int phase, int64_t frames) {
    jsFrameDrawn(clockMs, phase, static_cast<double>(frames));
}

void pageEnded(int status, const char* why) { jsEnded(status, why); }

void pageSnapshot(int clockMs, int64_t frame, int width, int height) {
    pixels.resize(size_t(width) * size_t(height) * 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    jsSnapshot(clockMs, static_cast<double>(frame), pixels.data(), width, height);
}

void setPageEvents(const PageEvents& e) { events = e; }

}  // namespace plat

extern "C" {

// The page's first click or key: the show may start (its music and its clock).
EMSCRIPTEN_KEEPALIVE void contrail_page_gesture() {
    if (plat::events.gesture) plat::events.gesture();
}

// The page is going away.
EMSCRIPTEN_KEEPALIVE void contrail_page_close() {
    if (plat::events.close) plat::events.close();
}

// "Play again": a fresh show in the same page, started by a gesture.
EMSCRIPTEN_KEEPALIVE void contrail_page_restart() {
    if (plat::events.restart) plat::events.restart();
}

// The heap in use, in bytes (for the page's tests).
EMSCRIPTEN_KEEPALIVE int contrail_page_heap_bytes() { return static_cast<int>(mallinfo().uordblks); }

// The show's clock now, in ms (for the page's tests).
EMSCRIPTEN_KEEPALIVE int contrail_page_clock() { return plat::events.clock ? plat::events.clock() : 0; }

}  // extern "C"
