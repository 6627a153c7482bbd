// Audio output through waveOut.
//
// PLATFORM: Windows (and Wine).
// LIMITATIONS: the device takes 48 kHz (or whatever rate is asked) stereo S16
//   from four 20 ms buffers that a thread of ours (at time-critical priority)
//   refills through the sink as the device returns them. The frame being
//   heard is the device's own position (waveOutGetPosition in samples),
//   polled every few milliseconds; it moves in steps (Wine's are 20 ms), so
//   the frame heard is taken to be the middle of the latest step when it was
//   seen, carried on at real speed for at most one step; what was written
//   beyond it is reported to the sink as queued, so the play clock is that
//   frame. Wine's position counts a buffer as played once its own stream
//   takes it, so there the clock leads the sound by what is queued below
//   (about 50 ms); the WASAPI output does not, and comes first. Without a
//   device (no sound card, as under Wine on a server) waveOutOpen fails and
//   the sound layer keeps time on the monotonic clock. A failed waveOut call
//   while playing, a device that hands back buffers it has not played, or a
//   position that stands still for 1 s once it has moved (5 s before) ends
//   the output and tells the sink the device is lost.
// DEPENDENCIES: winmm (waveOutOpen, waveOutWrite, waveOutGetPosition), kernel32 events.
#include "platform/audio.h"

#include <windows.h>
#include <mmsystem.h>

#include "platform/win32/qpc_clock.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace plat {

namespace {

constexpr int kBuffers = 4;
constexpr int kBufferMs = 20;
constexpr DWORD kPollMs = 4;
constexpr int64_t kStandstillNanos = 1000000000;  // a position that stands still this long: lost
constexpr int64_t kWakeNanos = 5000000000;        // the same before it first moves (a device waking up)

struct State {
    HWAVEOUT device = nullptr;
    HANDLE bufferDone = nullptr;  // signalled by the device whenever it returns a buffer
    AudioSink sink;
    std::vector<int16_t> memory[kBuffers];
    WAVEHDR headers[kBuffers]{};
    std::thread thread;
    std::atomic<bool> stop{false};
    int rate = 48000;
};
State state;

std::string errorText(const char* call, MMRESULT result) {
    char text[MAXERRORLENGTH] = {};
    if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR) text[0] = 0;
    return std::string(call) + " failed (" + std::to_string(result) + (text[0] ? ": " : "") + text + ")";
}

MMRESULT devicePosition(uint32_t* frames) {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    const MMRESULT result = waveOutGetPosition(state.device, &time, sizeof time);
    if (result != MMSYSERR_NOERROR) return result;
    if (time.wType == TIME_SAMPLES)
        *frames = time.u.sample;
    else if (time.wType == TIME_BYTES)
        *frames = time.u.cb / 4;
    else
        return MMSYSERR_NOTSUPPORTED;
    return MMSYSERR_NOERROR;
}

// The frame being heard, from the device's position, which may move in
// steps (Wine's moves every 20 ms): a step seen between two polls is taken
// as the middle of the step, halfway between them (over the run, its top
// leads what the position means by half a step), and from there the frame
// runs on at real speed for at most one step, so a device that stops holds
// the estimate.
class HeardPosition {
public:
    explicit HeardPosition(int rate) : rate_(rate) {}

    // `position` is the device's sample count (it wraps) at `now`, `before`
    // the previous poll. True when it has moved on.
    bool poll(uint32_t position, int64_t before, int64_t now) {
        const uint32_t delta = position - last_;
        if (delta == 0 || delta >= 0x80000000u) return false;
        last_ = position;
        frames_ += delta;
        step_ = delta;
        // The step came somewhere between the two polls.
        at_ = before > 0 ? before + (now - before) / 2 : now;
        return true;
    }
    int64_t at(int64_t now) const {
        if (frames_ == 0) return 0;
        const int64_t ahead = (now - at_) * rate_ / kNanos;
        return frames_ - step_ / 2 + std::clamp<int64_t>(ahead, 0, step_);
    }

private:
    static constexpr int64_t kNanos = 1000000000;
    const int rate_;
    uint32_t last_ = 0;
    int64_t frames_ = 0;  // the device's count, unwrapped
    int64_t step_ = 0;
    int64_t at_ = 0;
};

// Plays until `state.stop`; returns empty then, or why the device was lost.
std::string play() {
    HeardPosition heard(state.rate);
    int64_t written = 0;  // frames handed to the device
    int64_t polled = 0, movedAt = qpcNanos();
    bool moved = false;
    const int64_t buffered = static_cast<int64_t>(state.headers[0].dwBufferLength / 4) * kBuffers;
    state.sink.queued(state.sink.user, 0);
    while (!state.stop.load(std::memory_order_acquire)) {
        for (WAVEHDR& h : state.headers) {
            if (h.dwFlags & WHDR_INQUEUE) continue;
            const int frames = static_cast<int>(h.dwBufferLength / 4);
            state.sink.fill(state.sink.user, reinterpret_cast<int16_t*>(h.lpData), frames);
            const MMRESULT result = waveOutWrite(state.device, &h, sizeof h);
            if (result != MMSYSERR_NOERROR) return errorText("waveOutWrite", result);
            state.sink.consumed(state.sink.user, frames);
            written += frames;
        }
        uint32_t position = 0;
        const MMRESULT result = devicePosition(&position);
        if (result != MMSYSERR_NOERROR) return errorText("waveOutGetPosition", result);
        const int64_t now = qpcNanos();
        if (heard.poll(position, polled, now)) {
            movedAt = now;
            moved = true;
        } else if (now - movedAt > (moved ? kStandstillNanos : kWakeNanos)) {
            return "the device has stopped playing";
        }
        polled = now;
        const int64_t at = heard.at(qpcNanos());
        // Buffers back faster than the position moves: the device drops them unplayed.
        if (written - at > 2 * buffered) return "the device returns buffers it has not played";
        state.sink.queued(state.sink.user, written - std::min(written, at));
        WaitForSingleObject(state.bufferDone, kPollMs);
    }
    return {};
}

void run() {
    // Sound that stalls is heard; the best priority a program may take unasked.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const std::string lost = play();
    if (!lost.empty() && state.sink.lost) {
        const std::string why = "the waveOut device was lost: " + lost;
        state.sink.lost(state.sink.user, why.c_str());
    }
}

void closeDevice() {
    if (state.thread.joinable()) {
        state.stop.store(true, std::memory_order_release);
        SetEvent(state.bufferDone);
        state.thread.join();
    }
    if (state.device) {
        waveOutReset(state.device);  // returns every queued buffer
        for (WAVEHDR& h : state.headers) {
            if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(state.device, &h, sizeof h);
            h = WAVEHDR{};
        }
        waveOutClose(state.device);
        state.device = nullptr;
    }
    if (state.bufferDone) CloseHandle(state.bufferDone);
    state.bufferDone = nullptr;
    state.stop.store(false);
}

std::string openDevice(int rate, const AudioSink& sink) {
    closeDevice();
    // The thread is joined before the process ends, whichever way it ends.
    static const bool closesAtExit = std::atexit(closeDevice) == 0;
    (void)closesAtExit;
    state.sink = sink;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    state.bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!state.bufferDone) return "CreateEvent failed";
    const MMRESULT result = waveOutOpen(&state.device, WAVE_MAPPER, &format,
                                        reinterpret_cast<DWORD_PTR>(state.bufferDone), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) {
        state.device = nullptr;
        closeDevice();
        return errorText("waveOutOpen", result);
    }
    const size_t frames = static_cast<size_t>(rate) * kBufferMs / 1000;
    for (int i = 0; i < kBuffers; ++i) {
        state.memory[i].assign(frames * 2, 0);
        WAVEHDR& h = state.headers[i];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(state.memory[i].data());
        h.dwBufferLength = static_cast<DWORD>(frames * 4);
        const MMRESULT prepared = waveOutPrepareHeader(state.device, &h, sizeof h);
        if (prepared != MMSYSERR_NOERROR) {
            closeDevice();
            return errorText("waveOutPrepareHeader", prepared);
        }
    }
    state.thread = std::thread(run);
    return {};
}

const AudioOutputApi api = {
    .name = "waveout",
    .open = openDevice,
    .close = closeDevice,
};

}  // namespace

const AudioOutputApi* waveOutAudioOutput() { return &api; }

}  // namespace plat
