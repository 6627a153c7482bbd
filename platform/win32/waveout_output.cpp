// Audio output through waveOut.
//
// PLATFORM: Windows (and Wine).
// LIMITATIONS: the device takes 48 kHz (or whatever rate is asked) stereo S16
//   from four 20 ms buffers that a thread of ours refills through the sink as
//   the device returns them. The play position is the device's own
//   (waveOutGetPosition in samples), polled every few milliseconds: each step
//   is reported to the sink as frames consumed, right after a zero-frame fill
//   that marks the moment, so the sound layer interpolates from there at real
//   speed and never past the device's count. Frames queued ahead of the
//   position (at most the four buffers) are not yet counted. Without a device
//   (no sound card, as under Wine on a server) waveOutOpen fails and the
//   sound layer keeps time on the monotonic clock.
// DEPENDENCIES: winmm (waveOutOpen, waveOutWrite, waveOutGetPosition), kernel32 events.
#include "platform/audio.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace plat {

namespace {

constexpr int kBuffers = 4;
constexpr int kBufferMs = 20;
constexpr DWORD kPollMs = 4;

struct State {
    HWAVEOUT device = nullptr;
    HANDLE bufferDone = nullptr;  // signalled by the device whenever it returns a buffer
    AudioSink sink;
    std::vector<int16_t> memory[kBuffers];
    WAVEHDR headers[kBuffers]{};
    std::thread thread;
    std::atomic<bool> stop{false};
};
State state;

std::string errorText(const char* call, MMRESULT result) {
    char text[MAXERRORLENGTH] = {};
    if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR) text[0] = 0;
    return std::string(call) + " failed (" + std::to_string(result) + (text[0] ? ": " : "") + text + ")";
}

uint32_t devicePosition() {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (waveOutGetPosition(state.device, &time, sizeof time) != MMSYSERR_NOERROR) return 0;
    if (time.wType == TIME_SAMPLES) return time.u.sample;
    if (time.wType == TIME_BYTES) return time.u.cb / 4;
    return 0;
}

void run() {
    int16_t none[2] = {};
    uint32_t reported = 0;  // device samples already handed to the sink; wraps with the device's count
    while (!state.stop.load(std::memory_order_acquire)) {
        for (WAVEHDR& h : state.headers) {
            if (h.dwFlags & WHDR_INQUEUE) continue;
            const int frames = static_cast<int>(h.dwBufferLength / 4);
            state.sink.fill(state.sink.user, reinterpret_cast<int16_t*>(h.lpData), frames);
            waveOutWrite(state.device, &h, sizeof h);
        }
        const uint32_t position = devicePosition();
        const uint32_t step = position - reported;
        if (step > 0 && step < 0x80000000u) {
            state.sink.fill(state.sink.user, none, 0);
            state.sink.consumed(state.sink.user, static_cast<int>(step));
            reported = position;
        }
        WaitForSingleObject(state.bufferDone, kPollMs);
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
