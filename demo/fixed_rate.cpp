// fixed_rate.cpp - the fixed-rate clock in place of the music's, and the
// one-pixel frames of the ones nobody keeps.
#include "demo/fixed_rate.h"

#include "platform/gl.h"
#include "sound/sound.h"

namespace fixedrate {

namespace {

int32_t frameClockMs = 0;
int frameClock(void*) { return frameClockMs; }

}  // namespace

void start() {
    frameClockMs = 0;
    soundSetClockOverride(frameClock, nullptr);
}

void stop() {
    soundSetClockOverride(nullptr, nullptr);
    glDisable(GL_SCISSOR_TEST);
}

void beginFrame(int64_t n, int fps, bool keep) {
    frameClockMs = static_cast<int32_t>(clockOfFrame(n, fps));
    if (keep) {
        glDisable(GL_SCISSOR_TEST);
    } else {
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 1, 1);
    }
}

int32_t clockMs() { return frameClockMs; }

}  // namespace fixedrate
