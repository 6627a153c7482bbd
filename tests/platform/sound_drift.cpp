// sound_drift - how far the music clock strays from the monotonic clock.
//
//   sound_drift [seconds] [file]   FSOUND_Stream_GetTime of `file` (default
//                                  "music.mp3"), read every 16 ms, against
//                                  steady_clock since FSOUND_Stream_Play.
//   sound_drift [seconds] --dummy  the bare clock fed by SDL's "dummy" driver,
//                                  for comparison: that driver keeps no real time.
#include "platform/audio.h"
#include "sound/sound.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace {

struct Stats {
    double maxAbs = 0;
    double last = 0;
    double at = 0;
};

// Reads `position` (ms) every 16 ms for `seconds` against the time since `t0`.
Stats measure(double seconds, const std::function<double()>& position, int64_t t0) {
    Stats s;
    double nextReport = 5;
    for (;;) {
        const double before = (snd::steadyNanos() - t0) / 1e6;
        const double pos = position();
        const double after = (snd::steadyNanos() - t0) / 1e6;
        const double err = pos - (before + after) / 2;
        s.maxAbs = std::max(s.maxAbs, std::abs(err));
        s.last = err;
        s.at = after / 1000;
        if (s.at >= nextReport) {
            std::printf("  %5.1f s: clock - real = %+8.2f ms\n", s.at, err);
            std::fflush(stdout);
            nextReport += 5;
        }
        if (s.at >= seconds) return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
}

snd::PlayClock dummyClock(48000);

void dummyCallback(void*, Uint8* stream, int len) {
    std::memset(stream, 0, len);
    dummyClock.consumed(len / 4, snd::steadyNanos());
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 50.0;
    const char* const what = argc > 2 ? argv[2] : "music.mp3";
    plat::setAudioOutput(plat::sdl2AudioOutput());
    plat::setMp3Decoder(plat::mpg123Decoder());
    Stats s;
    if (std::strcmp(what, "--dummy") == 0) {
        SDL_setenv("SDL_AUDIODRIVER", "dummy", 1);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 1;
        SDL_AudioSpec want{};
        want.freq = 48000;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = 512;
        want.callback = dummyCallback;
        const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        if (dev == 0) return 1;
        std::printf("SDL \"dummy\" driver, %.0f s:\n", seconds);
        SDL_PauseAudioDevice(dev, 0);
        while (dummyClock.positionFrames(snd::steadyNanos()) == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        // The first callback is frame 0; measure from its time.
        const int64_t t0 = snd::steadyNanos() - dummyClock.positionFrames(snd::steadyNanos()) *
                                                    1000000000LL / 48000;
        s = measure(seconds, [] { return dummyClock.positionMs(snd::steadyNanos()) * 1.0; }, t0);
        SDL_CloseAudioDevice(dev);
    } else {
        if (!FSOUND_Init(48000, 32, 0)) return 1;
        FSOUND_STREAM* const stream = FSOUND_Stream_Open(what, FSOUND_LOOP_OFF, 0, 0);
        std::printf("FSOUND_Stream_GetTime(\"%s\"), %.0f s:\n", what, seconds);
        const int64_t t0 = snd::steadyNanos();
        FSOUND_Stream_Play(5, stream);
        s = measure(seconds, [stream] { return FSOUND_Stream_GetTime(stream) * 1.0; }, t0);
    }
    std::printf("after %.1f s: clock - real = %+.2f ms, largest |difference| %.2f ms\n", s.at, s.last,
                s.maxAbs);
    return 0;
}
