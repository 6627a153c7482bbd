// web_rand.cpp - rand() and srand() with the desktop's sequence.
//
// PLATFORM: the web build's C library (musl) draws rand() from a different
// generator than the desktop's glibc, so the particle trail, which is drawn
// from rand() (seeded 1 as in every new process), would speckle differently
// from the reference frames. This is glibc's default generator (an additive
// feedback generator over 31 words, seeded by a Lehmer sequence, first 310
// outputs dropped), linked into the web executable in place of musl's.
// LIMITATIONS: not thread-safe; the web build has one thread.
// DEPENDENCIES: none.
#include <cstdint>
#include <cstdlib>

namespace {

struct Generator {
    uint32_t r[34] = {};
    unsigned at = 0;  // r[at] is the oldest of the 34 words kept

    void seed(unsigned s) {
        if (s == 0) s = 1;
        int32_t w[34];
        w[0] = static_cast<int32_t>(s);
        for (int i = 1; i < 31; ++i) {
            const int64_t next = (16807LL * w[i - 1]) % 2147483647;
            w[i] = static_cast<int32_t>(next < 0 ? next + 2147483647 : next);
        }
        for (int i = 31; i < 34; ++i) w[i] = w[i - 31];
        for (int i = 0; i < 34; ++i) r[i] = static_cast<uint32_t>(w[i]);
        at = 0;
        for (int i = 34; i < 344; ++i) next();
    }

    uint32_t next() {
        // r[i] = r[i - 31] + r[i - 3], i being the slot of the oldest word.
        const uint32_t value = r[(at + 3) % 34] + r[(at + 31) % 34];
        r[at] = value;
        at = (at + 1) % 34;
        return value;
    }

    Generator() { seed(1); }
};
Generator generator;

}  // namespace

extern "C" {

void srand(unsigned seed) { generator.seed(seed); }
int rand() { return static_cast<int>(generator.next() >> 1); }

}  // extern "C"
