// web_sound.cpp - the web page's stream engine (platform/audio.h) on Web Audio.
//
// PLATFORM: a browser page; the sound layer's rules (sound/fsound.cpp) drive
// this engine instead of the desktop's mixer, whose decoder thread and device
// thread a page without threads cannot run. Decoding and output are the
// browser's (web_audio.js): the play position is the AudioContext's clock
// since the stream started, never going backwards, so no ring, mixer or
// PlayClock is needed here. A file that cannot be decoded plays silently on
// the page's clock; the clock runs on after the music ends; nothing moves
// before the page's first gesture, when the music starts.
// LIMITATIONS: nothing to mix offline (the browser mixes).
// DEPENDENCIES: web_audio.js (linked with --js-library).
#include "platform/audio.h"
#include "platform/whole_file.h"
#include "platform/web/web_sound.h"

#include <memory>
#include <vector>

extern "C" {
void contrail_audio_gesture();
int contrail_audio_open(const char* path, int rate);
void contrail_audio_play(int id);
int contrail_audio_position(int id);
int contrail_audio_length(int id);
void contrail_audio_stop(int id);
}

struct plat::EngineStream {
    int id = -1;  // the browser's stream
    bool stopped = false;
};

namespace plat {

namespace {

struct Engine {
    int rate = 48000;
    std::vector<std::unique_ptr<EngineStream>> streams;  // every stream lives on, stopped or not
};
Engine engine;

void stop(EngineStream* s) {
    if (s->stopped) return;
    contrail_audio_stop(s->id);
    s->stopped = true;
}

const StreamEngineApi api = {
    .name = "web audio",
    .start =
        [](int rate, int, bool) {
            webSoundStopAll();  // a new start: nothing of the previous one goes on playing
            engine.rate = rate;
        },
    .open =
        [](const char* path) {
            auto s = std::make_unique<EngineStream>();
            s->id = contrail_audio_open(nativePath(path).c_str(), engine.rate);
            engine.streams.push_back(std::move(s));
            return engine.streams.back().get();
        },
    .play = [](EngineStream* s, int) { contrail_audio_play(s->id); },
    .stop = stop,
    .positionMs = [](EngineStream* s) { return contrail_audio_position(s->id); },
    .lengthMs = [](EngineStream* s) { return contrail_audio_length(s->id); },
    .mix = [](int16_t*, int) { return false; },
};

}  // namespace

const StreamEngineApi* webStreamEngine() { return &api; }

}  // namespace plat

void webSoundGesture() { contrail_audio_gesture(); }

void webSoundStopAll() {
    for (const auto& s : plat::engine.streams) plat::stop(s.get());
}
