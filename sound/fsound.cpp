// fsound.cpp - the four stream calls and their rules, over the build's stream
// engine (platform/audio.h): argument checks, the handle registry, channels,
// what a second FSOUND_Init does, and the clock override.
//
// Ownership: every handle lives until the process ends (it stays valid after
// release), and the registry itself is never destroyed. The engine stops and
// joins its own threads at exit.
#include "sound/engine.h"
#include "sound/sound.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

struct FSOUND_STREAM {
    plat::EngineStream* engine = nullptr;
    int channel = -1;
    bool stopped = false;  // taken off its channel, or released by a second FSOUND_Init
};

namespace {

constexpr int kMinRate = 8000, kMaxRate = 192000, kMaxChannels = 1024;

struct Library {
    std::mutex mutex;  // the registry and every engine call
    bool initialised = false;
    std::vector<FSOUND_STREAM*> channels;
    std::vector<std::unique_ptr<FSOUND_STREAM>> streams;

    std::atomic<SoundClockOverride> clockOverride{nullptr};
    std::atomic<void*> clockUser{nullptr};
};

Library& lib() {
    static Library* const instance = new Library;  // never destroyed, see above
    return *instance;
}

const plat::StreamEngineApi& engine() {
    const plat::StreamEngineApi* const chosen = plat::streamEngine();
    return chosen != nullptr ? *chosen : snd::buildEngine();
}

FSOUND_STREAM* findStream(Library& l, const FSOUND_STREAM* s) {
    for (const auto& p : l.streams)
        if (p.get() == s) return p.get();
    return nullptr;
}

}  // namespace

signed char FSOUND_Init(int mixRate, int maxSoftwareChannels, unsigned int /*flags*/) {
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (mixRate < kMinRate || mixRate > kMaxRate || maxSoftwareChannels < 1 ||
        maxSoftwareChannels > kMaxChannels)
        return 0;
    // A new start: the engine stops and releases every earlier stream.
    for (const auto& s : l.streams) {
        s->channel = -1;
        s->stopped = true;
    }
    l.channels.assign(static_cast<size_t>(maxSoftwareChannels), nullptr);
    l.initialised = true;
    engine().start(mixRate, maxSoftwareChannels, l.clockOverride.load() == nullptr);
    return 1;
}

FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int /*mode*/, int /*offset*/, int /*length*/) {
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!l.initialised) return nullptr;
    auto s = std::make_unique<FSOUND_STREAM>();
    s->engine = engine().open(name);
    l.streams.push_back(std::move(s));
    return l.streams.back().get();
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    FSOUND_STREAM* const s = findStream(l, stream);
    if (s == nullptr || s->stopped) return -1;
    if (s->channel >= 0) return s->channel;
    const int count = static_cast<int>(l.channels.size());
    if (channel == FSOUND_FREE) {
        for (int i = 0; i < count && channel < 0; ++i)
            if (l.channels[i] == nullptr) channel = i;
    }
    if (channel < 0 || channel >= count) return -1;
    if (FSOUND_STREAM* const old = l.channels[channel]) {
        // Only one stream per channel; the one it replaces stops where it is.
        engine().stop(old->engine);
        old->channel = -1;
        old->stopped = true;
    }
    s->channel = channel;
    l.channels[channel] = s;
    engine().play(s->engine, channel);
    return channel;
}

int FSOUND_Stream_GetTime(FSOUND_STREAM* stream) {
    if (stream == nullptr) return 0;
    Library& l = lib();
    if (const SoundClockOverride clock = l.clockOverride.load()) return clock(l.clockUser.load());
    std::lock_guard<std::mutex> lock(l.mutex);
    FSOUND_STREAM* const s = findStream(l, stream);
    return s != nullptr ? engine().positionMs(s->engine) : 0;
}

int FSOUND_Stream_GetLengthMs(FSOUND_STREAM* stream) {
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    FSOUND_STREAM* const s = findStream(l, stream);
    return s != nullptr ? engine().lengthMs(s->engine) : 0;
}

void soundSetClockOverride(SoundClockOverride clock, void* user) {
    Library& l = lib();
    l.clockUser.store(user);
    l.clockOverride.store(clock);
}

bool soundMix(int16_t* out, int frames) {
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    return engine().mix(out, frames);
}
