// contrail_compare_frames: one frame against its reference, by the golden
// test's rule (tests/support/frame_compare.h), for tests in other languages.
//
//   contrail_compare_frames GOT WANT [--mean-only] [--shape]
//
// GOT and WANT are PNG or binary PPM pictures of one size. --mean-only holds
// the frame to the mean difference alone; --shape adds the lit-pixel overlap.
// Prints the measurements; exits 0 when the frame passes, 1 when it does not,
// 2 when a picture cannot be read.
#include "tests/support/frame_compare.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: contrail_compare_frames GOT WANT [--mean-only] [--shape]\n");
        return 2;
    }
    bool meanOnly = false, shape = false;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mean-only") == 0)
            meanOnly = true;
        else if (std::strcmp(argv[i], "--shape") == 0)
            shape = true;
        else {
            std::fprintf(stderr, "contrail_compare_frames: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    const frames::Picture got = frames::readPicture(argv[1]), want = frames::readPicture(argv[2]);
    for (const auto* p : {&got, &want})
        if (p->width == 0) {
            std::fprintf(stderr, "contrail_compare_frames: cannot read %s\n", p == &got ? argv[1] : argv[2]);
            return 2;
        }
    if (got.width != want.width || got.height != want.height) {
        std::printf("sizes differ: %dx%d against %dx%d\n", got.width, got.height, want.width, want.height);
        return 1;
    }
    const frames::Difference d = frames::compare(got, want);
    std::printf("%s\n", d.describe().c_str());
    const bool ok = (meanOnly ? d.mean < 1.0 : d.withinTolerance()) && (!shape || d.sameShape());
    return ok ? 0 : 1;
}
