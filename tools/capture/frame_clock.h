// frame_clock.h - the capture's fixed-rate clock.
//
// A capture at `fps` frames per second shows frame n at the music position
// n * 1000 / fps milliseconds, rounded down, and starts that frame's sound at
// sample n * rate / fps, rounded down. Everything is 64-bit integer arithmetic,
// so a frame number always maps to the same clock reading and the same sample,
// whatever the range being captured: frame 0 is music position 0.
#pragma once

#include <cstdint>

namespace capture {

// The demo clock (ms) that frame n shows.
constexpr int64_t clockOfFrame(int64_t n, int64_t fps) { return n * 1000 / fps; }

// The first frame whose clock is at or after ms (ms >= 0).
constexpr int64_t firstFrameFrom(int64_t ms, int64_t fps) { return (ms * fps + 999) / 1000; }

// The frame on screen at ms (ms >= 0): the last one whose clock is not after it.
constexpr int64_t frameShownAt(int64_t ms, int64_t fps) { return ((ms + 1) * fps - 1) / 1000; }

// The first sample of frame n's sound at `rate` samples per second.
constexpr int64_t sampleOfFrame(int64_t n, int64_t fps, int64_t rate) { return n * rate / fps; }

}  // namespace capture
