// frame_compare.h - one frame of the show against a reference frame: the rule
// the golden test and the web test both hold frames to (the web test through
// the contrail_compare_frames program).
//
// Renderers round a little differently, so a frame matches its reference
// when the mean difference is below 1 level per channel and the pixels off by
// more than 8 levels in a channel are at most 0.5 % of the picture and at
// most 16 + 5 % of its lit ones (brighter than 16 in either frame). The shape
// check is for frames whose pixels may round further apart: the lit pixels
// (gray above 8 %) of both frames must overlap by at least 95 % (intersection
// over union), so a trail in the wrong place still fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace frames {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first
};

// An 8-bit PNG, or a binary PPM (P6, 255); an empty picture when it cannot be read.
Picture readPicture(const std::string& file);

struct Difference {
    double mean = 0;  // per channel, in levels
    size_t off = 0;   // pixels off by more than 8 levels in a channel
    size_t lit = 0;   // pixels brighter than 16 in either frame
    size_t pixels = 0;
    double litOverlap = 1.0;  // intersection over union of the pixels whose gray is above 8 %

    bool withinTolerance() const;
    bool sameShape() const;
    std::string describe() const;
};

// Both pictures must have the same size.
Difference compare(const Picture& got, const Picture& want);

}  // namespace frames
