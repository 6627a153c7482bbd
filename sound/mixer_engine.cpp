// mixer_engine.cpp - the desktop's stream engine: the platform's MP3 decoder
// fills a ring per stream on a thread of its own, the platform's audio output
// drains the mix of every playing stream, and each stream's play clock
// follows the frames the output has taken.
//
// Ownership: every stream lives until the process ends (handles stay valid
// after release), and the engine's state itself is never destroyed. At exit
// the device and every decoder thread are stopped and joined first. The
// sound layer's lock guards every call but the device's.
#include "sound/engine.h"
#include "sound/sound.h"

#include "platform/audio.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRingFrames = 1 << 15;  // ~0.7 s at 48 kHz: rides out a slow decode
constexpr int kDecodeFrames = 4096;   // one decoder read
constexpr int kMixFrames = 4096;      // mixing scratch, in frames
constexpr int kMinRate = 8000, kMaxRate = 192000, kMaxChannels = 1024;

// Single-producer single-consumer ring of interleaved stereo S16 frames. The
// decoder thread writes, the device callback (or soundMix) reads.
class FrameRing {
public:
    void allocate(size_t frames) {
        data_.reset(new int16_t[frames * 2]);
        cap_ = frames;
    }
    void release() {
        data_.reset();
        cap_ = 0;
    }
    bool allocated() const { return data_ != nullptr; }

    size_t readable() const {
        return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed);
    }
    size_t writable() const {
        return cap_ - (head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
    }

    size_t write(const int16_t* src, size_t frames) {
        const size_t h = head_.load(std::memory_order_relaxed);
        const size_t t = tail_.load(std::memory_order_acquire);
        const size_t n = std::min(frames, cap_ - (h - t));
        const size_t at = h % cap_;
        const size_t first = std::min(n, cap_ - at);
        std::memcpy(data_.get() + at * 2, src, first * 4);
        std::memcpy(data_.get(), src + first * 2, (n - first) * 4);
        head_.store(h + n, std::memory_order_release);
        return n;
    }

    // Reads up to `frames` frames into dst, or drops them when dst is null.
    size_t read(int16_t* dst, size_t frames) {
        const size_t t = tail_.load(std::memory_order_relaxed);
        const size_t h = head_.load(std::memory_order_acquire);
        const size_t n = std::min(frames, h - t);
        if (dst != nullptr && n > 0) {
            const size_t at = t % cap_;
            const size_t first = std::min(n, cap_ - at);
            std::memcpy(dst, data_.get() + at * 2, first * 4);
            std::memcpy(dst + first * 2, data_.get(), (n - first) * 4);
        }
        tail_.store(t + n, std::memory_order_release);
        return n;
    }

private:
    std::unique_ptr<int16_t[]> data_;
    size_t cap_ = 0;
    std::atomic<size_t> head_{0};  // frames ever written
    std::atomic<size_t> tail_{0};  // frames ever read
};

// One line on standard error; the show goes on regardless.
void say(const std::string& line) {
    std::fprintf(stderr, "sound: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

struct plat::EngineStream {
    EngineStream(const char* n, int rate) : name(n), clock(rate) {}

    const std::string name;
    snd::PlayClock clock;

    // Decoding; null for a silent stream (missing or undecodable file).
    plat::Mp3Stream* mp3 = nullptr;
    FrameRing ring;
    std::thread decoder;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    std::mutex wakeMutex;
    std::condition_variable wake;
    int64_t lengthFrames = 0;

    int channel = -1;
    bool released = false;  // decoder and buffers gone

    // Device callback only: frames of silence played during an underrun, to be
    // dropped from the music so it stays in step with the clock.
    size_t owed = 0;

    // Empty on success, else why the file cannot be played.
    std::string openDecoder(int rate);
    void decodeLoop();
    void pull(int16_t* dst, int frames);
    void waitForMusic(int frames);
    void releaseDecoder();
};

namespace {

using Stream = plat::EngineStream;

struct Library {
    bool initialised = false;
    int rate = 48000;
    bool device = false;            // an output device is open and playing
    std::atomic<bool> lost{false};  // ... until it said it has gone (any thread)
    int channelCount = 0;
    std::unique_ptr<std::atomic<Stream*>[]> channels;
    std::vector<std::unique_ptr<Stream>> streams;

    // Mixing buffers, sized before the device starts so the callback never allocates.
    std::vector<Stream*> active;
    int activeCount = 0;       // streams in `active` at the latest mix
    int64_t fillTime = 0;      // device thread: when the latest fill began
    bool tellsQueued = false;  // device thread: the output reports what is queued
    std::vector<int32_t> acc;
    std::vector<int16_t> scratch;
};

Library& lib() {
    static Library* const instance = new Library;  // never destroyed, see above
    return *instance;
}

// Mixes `frames` frames of every stream on a channel into out. Offline mixing
// (not for a device) waits for the decoder instead of playing an underrun.
void mix(Library& l, int16_t* out, int frames, bool forDevice) {
    int n = 0;
    for (int i = 0; i < l.channelCount; ++i) {
        Stream* const s = l.channels[i].load(std::memory_order_acquire);
        if (s != nullptr) l.active[n++] = s;
    }
    for (int done = 0; done < frames;) {
        const int chunk = std::min(frames - done, kMixFrames);
        std::fill(l.acc.begin(), l.acc.begin() + chunk * 2, 0);
        for (int k = 0; k < n; ++k) {
            if (!forDevice) l.active[k]->waitForMusic(chunk);
            l.active[k]->pull(l.scratch.data(), chunk);
            for (int j = 0; j < chunk * 2; ++j) l.acc[j] += l.scratch[j];
        }
        int16_t* const dst = out + done * 2;
        for (int j = 0; j < chunk * 2; ++j)
            dst[j] = static_cast<int16_t>(std::clamp<int32_t>(l.acc[j], -32768, 32767));
        done += chunk;
    }
    l.activeCount = n;
}

// The device's thread: the clock of each stream that was mixed learns, once the
// device has taken them, that the frames were played from the fill's moment on.
void deviceFill(void* user, int16_t* out, int frames) {
    Library& l = *static_cast<Library*>(user);
    l.fillTime = snd::steadyNanos();
    mix(l, out, frames, true);
}

void deviceConsumed(void* user, int frames) {
    Library& l = *static_cast<Library*>(user);
    for (int k = 0; k < l.activeCount; ++k) {
        if (l.tellsQueued)
            l.active[k]->clock.taken(frames);
        else
            l.active[k]->clock.consumed(frames, l.fillTime);
    }
}

// An output that knows what is queued: the clocks follow the frame heard.
void deviceQueued(void* user, int64_t frames) {
    Library& l = *static_cast<Library*>(user);
    l.tellsQueued = true;
    const int64_t now = snd::steadyNanos();
    for (int k = 0; k < l.activeCount; ++k) l.active[k]->clock.heard(frames, now);
}

// The device has gone for good (from whichever thread the output tells it):
// every playing stream's clock runs on in real time, and the streams played
// after it run on the monotonic clock. The decoders idle with a full ring.
void deviceLost(void* user, const char* why) {
    Library& l = *static_cast<Library*>(user);
    if (l.lost.exchange(true)) return;
    for (int i = 0; i < l.channelCount; ++i)
        if (Stream* const s = l.channels[i].load(std::memory_order_acquire)) s->clock.runOn();
    say(std::string("the audio output has gone (") + (why != nullptr ? why : "no reason given") +
        "); the clock runs on in silence");
}

void closeDevice(Library& l) {
    if (l.device) plat::audioOutput().close();  // waits for the device thread
    l.device = false;
}

}  // namespace

std::string Stream::openDecoder(int rate) {
    const plat::Mp3DecoderApi& decoder = plat::mp3Decoder();
    std::string why;
    mp3 = decoder.open(name.c_str(), rate, &why);
    if (mp3 == nullptr) return why.empty() ? "cannot decode" : why;
    ring.allocate(kRingFrames);
    // Decode the start now: a file that yields no sound at all is not music.
    std::vector<int16_t> buf(kDecodeFrames * 2);
    const long got = decoder.read(mp3, buf.data(), kDecodeFrames, &why);
    if (got <= 0) {
        if (got == 0) why = "no audio in the file";
        releaseDecoder();
        return why.empty() ? "cannot decode" : why;
    }
    ring.write(buf.data(), static_cast<size_t>(got));
    lengthFrames = decoder.length(mp3);
    return {};
}

void Stream::decodeLoop() {
    plat::raiseSoundThreadPriority();
    const plat::Mp3DecoderApi& decoder = plat::mp3Decoder();
    std::vector<int16_t> buf(kDecodeFrames * 2);
    while (!stop.load(std::memory_order_acquire) && !ended.load(std::memory_order_relaxed)) {
        if (ring.writable() < static_cast<size_t>(kDecodeFrames)) {
            std::unique_lock<std::mutex> lock(wakeMutex);
            wake.wait_for(lock, std::chrono::milliseconds(5), [this] { return stop.load(); });
            continue;
        }
        std::string why;
        const long got = decoder.read(mp3, buf.data(), kDecodeFrames, &why);
        if (got > 0) {
            ring.write(buf.data(), static_cast<size_t>(got));
        } else if (got == 0) {
            say("\"" + name + "\" has ended; the clock runs on in silence");
            ended.store(true, std::memory_order_release);
        } else {
            say("\"" + name + "\" stopped decoding (" + why + "); the clock runs on in silence");
            ended.store(true, std::memory_order_release);
        }
    }
}

void Stream::pull(int16_t* dst, int frames) {
    size_t got = 0;
    if (ring.allocated()) {
        if (owed > 0) owed -= ring.read(nullptr, owed);
        got = ring.read(dst, frames);
        if (got < static_cast<size_t>(frames) && !ended.load(std::memory_order_acquire)) owed += frames - got;
    }
    std::fill(dst + got * 2, dst + frames * 2, int16_t{0});
}

// Offline mixing runs faster than real time, so it waits for the decoder
// instead of playing an underrun (bounded, should the decoder hang).
void Stream::waitForMusic(int frames) {
    for (int i = 0; i < 2000 && ring.allocated() && !ended.load(std::memory_order_acquire) &&
                    ring.readable() < static_cast<size_t>(frames);
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Stream::releaseDecoder() {
    if (decoder.joinable()) {
        {
            std::lock_guard<std::mutex> lock(wakeMutex);
            stop = true;
        }
        wake.notify_all();
        decoder.join();
    }
    if (mp3 != nullptr) {
        plat::mp3Decoder().close(mp3);
        mp3 = nullptr;
    }
    ring.release();
}

namespace {

// Closes the device and stops every stream, their clocks held where they are.
// Every thread of the engine has been joined when it returns.
void stopAll(Library& l) {
    closeDevice(l);
    const int64_t now = snd::steadyNanos();
    for (const auto& s : l.streams) {
        if (s->released) continue;
        s->clock.freeze(now);
        s->releaseDecoder();
        s->channel = -1;
        s->released = true;
    }
}

// However the process ends (the show's end, Escape, a failure status), no
// sound thread may outlive main or still run while statics are destroyed.
// Only the main thread calls the sound layer, and at exit it calls nothing else.
void stopAllAtExit() { stopAll(lib()); }

void start(int rate, int channels, bool withOutput) {
    Library& l = lib();
    // A new start: nothing of the previous one may go on playing.
    stopAll(l);
    static const bool stopsAtExit = std::atexit(stopAllAtExit) == 0;
    (void)stopsAtExit;

    l.rate = rate;
    l.channelCount = channels;
    l.channels.reset(new std::atomic<Stream*>[channels]);
    for (int i = 0; i < channels; ++i) l.channels[i].store(nullptr);
    l.active.assign(channels, nullptr);
    l.activeCount = 0;
    l.acc.assign(kMixFrames * 2, 0);
    l.scratch.assign(kMixFrames * 2, 0);
    l.initialised = true;

    if (!withOutput) return;
    l.tellsQueued = false;
    l.lost = false;
    const std::string why =
        plat::audioOutput().open(l.rate, {deviceFill, deviceConsumed, &l, deviceQueued, deviceLost});
    l.device = why.empty();
    if (!l.device) say("no audio output (" + why + "); the music is silent");
}

Stream* open(const char* name) {
    Library& l = lib();
    auto s = std::make_unique<Stream>(name != nullptr ? name : "", l.rate);
    const std::string why = name != nullptr ? s->openDecoder(l.rate) : "no file name";
    if (why.empty())
        s->decoder = std::thread([p = s.get()] { p->decodeLoop(); });
    else
        say("cannot play \"" + s->name + "\" (" + why + "); the clock runs in silence");
    l.streams.push_back(std::move(s));
    return l.streams.back().get();
}

void play(Stream* s, int channel) {
    Library& l = lib();
    // With a device the clock follows the frames it takes; otherwise (also
    // once it has gone), and for a stream with no music, it is the monotonic
    // clock from now on.
    const int64_t now = snd::steadyNanos();
    if (!l.device || l.lost.load() || !s->ring.allocated())
        s->clock.startWall(now);
    else
        s->clock.startDevice(now);
    s->channel = channel;
    l.channels[channel].store(s, std::memory_order_release);
}

void stop(Stream* s) {
    Library& l = lib();
    s->clock.freeze(snd::steadyNanos());
    if (s->channel >= 0 && s->channel < l.channelCount) {
        Stream* expected = s;
        l.channels[s->channel].compare_exchange_strong(expected, nullptr);
    }
    s->channel = -1;
}

int positionMs(Stream* s) { return s->clock.positionMs(snd::steadyNanos()); }

int lengthMs(Stream* s) { return static_cast<int>(s->lengthFrames * 1000 / s->clock.rate()); }

bool mixOffline(int16_t* out, int frames) {
    Library& l = lib();
    if (l.device) return false;
    if (out != nullptr && frames > 0) {
        if (l.initialised)
            mix(l, out, frames, false);
        else
            std::fill(out, out + frames * 2, int16_t{0});
    }
    return true;
}

const plat::StreamEngineApi engine = {
    .name = "mixer",
    .start = start,
    .open = open,
    .play = play,
    .stop = stop,
    .positionMs = positionMs,
    .lengthMs = lengthMs,
    .mix = mixOffline,
};

}  // namespace

namespace snd {

const plat::StreamEngineApi& buildEngine() { return engine; }

}  // namespace snd
