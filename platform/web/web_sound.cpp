// web_sound.cpp - the four stream calls of sound/sound.h in a web page.
//
// PLATFORM: a browser page; the web build uses this file instead of
// sound/fsound.cpp, whose decoder thread and device thread a page without
// threads cannot run. Decoding and output are the browser's (web_audio.js):
// the play position is the AudioContext's clock since the stream started,
// never going backwards, so no ring, mixer or PlayClock is needed here.
// The rules are those of the desktop: a file that cannot be decoded plays
// silently on the page's clock; a second FSOUND_Init stops every earlier
// stream and holds its clock; the clock runs on after the music ends; nothing
// moves before the page's first gesture, when the music starts.
// LIMITATIONS: soundMix has nothing to mix (the browser mixes) and returns
// false; the clock override works as on the desktop.
// DEPENDENCIES: web_audio.js (linked with --js-library).
#include "platform/web/web_sound.h"
#include "sound/sound.h"

#include <memory>
#include <string>
#include <vector>

extern "C" {
void contrail_audio_gesture();
int contrail_audio_open(const char* path, int rate);
void contrail_audio_play(int id);
int contrail_audio_position(int id);
int contrail_audio_length(int id);
void contrail_audio_stop(int id);
}

struct FSOUND_STREAM {
    int id = -1;  // the browser's stream
    int channel = -1;
    bool stopped = false;
};

namespace {

constexpr int kMinRate = 8000, kMaxRate = 192000, kMaxChannels = 1024;

struct Library {
    bool initialised = false;
    int rate = 48000;
    std::vector<FSOUND_STREAM*> channels;
    std::vector<std::unique_ptr<FSOUND_STREAM>> streams;  // every handle stays valid
    SoundClockOverride clockOverride = nullptr;
    void* clockUser = nullptr;
};
Library lib;

FSOUND_STREAM* find(const FSOUND_STREAM* s) {
    for (const auto& p : lib.streams)
        if (p.get() == s) return p.get();
    return nullptr;
}

void stop(FSOUND_STREAM& s) {
    contrail_audio_stop(s.id);
    if (s.channel >= 0 && s.channel < static_cast<int>(lib.channels.size()))
        lib.channels[s.channel] = nullptr;
    s.channel = -1;
    s.stopped = true;
}

}  // namespace

signed char FSOUND_Init(int mixRate, int maxSoftwareChannels, unsigned int) {
    if (mixRate < kMinRate || mixRate > kMaxRate || maxSoftwareChannels < 1 ||
        maxSoftwareChannels > kMaxChannels)
        return 0;
    webSoundStopAll();  // a new start: nothing of the previous one goes on playing
    lib.rate = mixRate;
    lib.channels.assign(static_cast<size_t>(maxSoftwareChannels), nullptr);
    lib.initialised = true;
    return 1;
}

FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int, int, int) {
    if (!lib.initialised) return nullptr;
    auto s = std::make_unique<FSOUND_STREAM>();
    std::string path = name ? name : "";
    for (char& c : path)
        if (c == '\\') c = '/';
    s->id = contrail_audio_open(path.c_str(), lib.rate);
    lib.streams.push_back(std::move(s));
    return lib.streams.back().get();
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
    FSOUND_STREAM* const s = find(stream);
    if (s == nullptr || s->stopped) return -1;
    if (s->channel >= 0) return s->channel;
    const int count = static_cast<int>(lib.channels.size());
    if (channel == FSOUND_FREE)
        for (int i = 0; i < count && channel < 0; ++i)
            if (lib.channels[i] == nullptr) channel = i;
    if (channel < 0 || channel >= count) return -1;
    if (FSOUND_STREAM* const old = lib.channels[channel]) stop(*old);  // one stream per channel
    s->channel = channel;
    lib.channels[channel] = s;
    contrail_audio_play(s->id);
    return channel;
}

int FSOUND_Stream_GetTime(FSOUND_STREAM* stream) {
    if (stream == nullptr) return 0;
    if (lib.clockOverride) return lib.clockOverride(lib.clockUser);
    const FSOUND_STREAM* const s = find(stream);
    return s != nullptr ? contrail_audio_position(s->id) : 0;
}

int FSOUND_Stream_GetLengthMs(FSOUND_STREAM* stream) {
    const FSOUND_STREAM* const s = find(stream);
    return s != nullptr ? contrail_audio_length(s->id) : 0;
}

void soundSetClockOverride(SoundClockOverride clock, void* user) {
    lib.clockUser = user;
    lib.clockOverride = clock;
}

bool soundMix(int16_t*, int) { return false; }

void webSoundGesture() { contrail_audio_gesture(); }

void webSoundStopAll() {
    for (const auto& s : lib.streams)
        if (!s->stopped) stop(*s);
}
