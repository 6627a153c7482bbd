// fixed_rate.h - the show on a fixed-rate clock instead of the music's, for
// the capture tool, the show benchmark and the web page's test mode.
//
// At `fps` frames per second, frame n shows the music position n * 1000 / fps
// milliseconds, rounded down, and starts that frame's sound at sample
// n * rate / fps, rounded down. Everything is 64-bit integer arithmetic, so a
// frame number always maps to the same clock reading and the same sample,
// whatever the range being run: frame 0 is music position 0.
#pragma once

#include <cstdint>

namespace fixedrate {

// The demo clock (ms) that frame n shows.
constexpr int64_t clockOfFrame(int64_t n, int64_t fps) { return n * 1000 / fps; }

// The first frame whose clock is at or after ms (ms >= 0).
constexpr int64_t firstFrameFrom(int64_t ms, int64_t fps) { return (ms * fps + 999) / 1000; }

// The frame on screen at ms (ms >= 0): the last one whose clock is not after it.
constexpr int64_t frameShownAt(int64_t ms, int64_t fps) { return ((ms + 1) * fps - 1) / 1000; }

// The first sample of frame n's sound at `rate` samples per second.
constexpr int64_t sampleOfFrame(int64_t n, int64_t fps, int64_t rate) { return n * rate / fps; }

// From here on every music stream's clock reads the clock of the frame last
// begun (0 before the first).
void start();
// The music's own clock again, and every pixel drawn.
void stop();
// Sets the clock to frame n's. A frame that is not kept still has to run (its
// particles and the ship's tumble carry over to the next), but draws only one
// pixel; every frame clears the whole buffer, so no pixel carries over.
void beginFrame(int64_t n, int fps, bool keep = true);
// The clock of the frame last begun.
int32_t clockMs();

}  // namespace fixedrate
