// sound.h - the music stream.
//
// Four calls in the shape of the classic stream API the demo was written
// against: initialise the output, open a stream, play it, and read its play
// position in milliseconds - the demo's only clock. The platform's MP3 decoder
// (platform/audio.h) fills a lock-free ring on a thread per stream; the
// platform's audio output drains it without locking or allocating.
//
// The position is what is being heard: frames the device has consumed (less
// what the output says is still queued in front of the listener, where it
// can tell), interpolated between callbacks on the monotonic clock, anchored
// afresh at each one so it cannot drift, and never going backwards
// (`snd::PlayClock`). When the device goes away mid-show (its output says
// so) or stops reporting for a second, the clock runs on in real time
// from the frame last heard, in silence, after one line on standard error.
//
// Nothing here stops the show. Without an audio device (an output that keeps
// no real time counts as none) streams play
// silently on the monotonic clock; a missing or undecodable file gives a silent
// stream whose clock runs from FSOUND_Stream_Play on; a stream that ends keeps
// its clock running. Each says so in one line on standard error. A second
// FSOUND_Init (F1 rebuilds the scene) stops and releases every earlier stream;
// their handles stay valid, with the clock held where they stopped.
#pragma once

#include <atomic>
#include <cstdint>

struct FSOUND_STREAM;

constexpr unsigned int FSOUND_LOOP_OFF = 1;
constexpr int FSOUND_FREE = -1;  // FSOUND_Stream_Play: pick the first free channel

// Starts the output. A second call stops and releases every stream of the first.
// Returns false only if not even the silent clock can run (a mix rate outside
// 8000..192000 or a channel count outside 1..1024).
signed char FSOUND_Init(int mixRate, int maxSoftwareChannels, unsigned int flags);
// Never null after a successful FSOUND_Init; null before it. Streams play once
// from the start: the mode, offset and length are accepted but not used.
FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int mode, int offset, int length);
// Starts the stream on a channel below maxSoftwareChannels, or on the first
// free one for FSOUND_FREE; a stream already playing stays where it is.
// Returns the channel, or -1 (null, unknown or released stream, bad channel).
int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
// Play position in milliseconds from 0; 0 before play and for a null or
// unknown handle.
int FSOUND_Stream_GetTime(FSOUND_STREAM* stream);
// Length of the decoded music in milliseconds at the mix rate; 0 for a silent
// stream or when the file does not tell.
int FSOUND_Stream_GetLengthMs(FSOUND_STREAM* stream);

// For tests and the capture tool: when set, every FSOUND_Stream_GetTime of a
// stream returns clock(user) instead of the stream's position, and FSOUND_Init
// opens no device. Null clears it.
using SoundClockOverride = int (*)(void* user);
void soundSetClockOverride(SoundClockOverride clock, void* user);

// For tests and the capture tool, when no device is open: mixes the next
// `frames` stereo frames of every playing stream into `out` (interleaved S16,
// 2 * frames values), exactly as the device callback would. Does not move any
// clock. Returns false (and leaves `out` alone) while a device is open.
bool soundMix(int16_t* out, int frames);

namespace snd {

// The play position of one stream, in frames at `rate`. Times are nanoseconds of
// one monotonic clock, passed in so the logic can be driven by tests.
//
// Device mode: the audio thread reports each callback with `consumed`; a
// reader interpolates from the frames consumed before the latest callback at
// real speed, but never past the end of that callback's buffer, and never
// returns less than it returned before. An output that knows how much is
// still queued in front of the listener reports `taken` and `heard` instead,
// and the clock is the frame being heard. Wall mode (`startWall`): the position
// is the time since the start. `freeze` stops the clock where it is.
//
// One writer thread (`consumed`) and any readers; no locks.
class PlayClock {
public:
    explicit PlayClock(int rate);

    // Audio thread: a callback at `now` took `frames` frames.
    void consumed(int frames, int64_t now);
    // Audio thread, for an output that tells what is queued: `frames` more
    // frames were handed over, without moving the anchor.
    void taken(int frames);
    // Audio thread: at `now`, `queued` of the frames handed over are still in
    // front of the listener. Anchors the clock at what is heard now (never
    // below 0, so it holds at 0 until the first frame is heard) through a
    // line of slope 1 fitted to the reports of the last kFitNs, started afresh
    // at a report 10 ms or more from where it expected to be; it then runs at
    // real speed, never past the frames handed over.
    void heard(int64_t queued, int64_t now);
    // Main thread: the stream starts playing on a device at `now`; should the
    // device never report, the clock runs from then on once kSilentNs pass.
    void startDevice(int64_t now);
    // Any thread: the device has gone for good. From now on the clock runs on
    // in real time from the frame last heard, whatever reports come.
    void runOn();
    // Runs the clock from the monotonic clock alone, from `now` on.
    void startWall(int64_t now);
    // Keeps the position at its value at `now` from then on.
    void freeze(int64_t now);

    int64_t positionFrames(int64_t now);
    int positionMs(int64_t now);
    int rate() const { return rate_; }
    // Frames handed over by all callbacks so far (audio thread).
    int64_t totalConsumed() const { return total_; }

    // A device that reports nothing for this long is taken as gone until it
    // reports again: the clock runs on in real time from the frame last heard
    // instead of standing still. Longer than a short stall of the whole
    // process, and than the sound server's stalls on a busy machine (half a
    // second and more, seen beside three busy loops), so that neither is
    // mistaken for it: running on through a stall puts the clock ahead of
    // the music until the music catches up.
    static constexpr int64_t kSilentNs = 1000000000;
    // Reports of the frame heard that the anchor is fitted through.
    static constexpr int64_t kFitNs = 250000000;

private:
    int64_t framesIn(int64_t nanos) const;

    struct Report {
        int64_t time, frames;
    };
    static constexpr int kFitMax = 64;

    const int rate_;
    int64_t total_ = 0;        // writer only
    int64_t heardFrames_ = 0;  // writer only: the latest anchor from `heard`, and when
    int64_t heardTime_ = 0;
    bool heardYet_ = false;
    Report fit_[kFitMax] = {};  // writer only: the reports of the last kFitNs
    int fitCount_ = 0;
    std::atomic<uint32_t> seq_{0};
    std::atomic<int64_t> anchorFrames_{0};
    std::atomic<int64_t> anchorTime_{0};
    std::atomic<int64_t> period_{0};
    std::atomic<bool> wall_{false};
    std::atomic<int64_t> wallStart_{0};
    std::atomic<bool> frozen_{false};
    std::atomic<bool> lost_{false};
    std::atomic<bool> deviceStarted_{false};
    std::atomic<int64_t> deviceStart_{0};
    std::atomic<int64_t> last_{0};
};

// Nanoseconds of std::chrono::steady_clock, the clock every stream runs on.
int64_t steadyNanos();

}  // namespace snd
