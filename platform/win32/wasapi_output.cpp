// Audio output through WASAPI, the audio session API of Windows.
//
// PLATFORM: Windows Vista and later (and Wine).
// LIMITATIONS: the default render device in shared mode, event-driven, with
//   the buffer the system picks (30 ms under Wine, refilled every 10 ms): one
//   thread of ours waits for the device's event and hands it from the sink as
//   many frames as it has room for. The frame being heard is the device's
//   position (IAudioClock::GetPosition: the sample now playing through the
//   speakers) at the performance-counter time that comes with it, read every
//   few milliseconds. Readings move in steps (Wine's are 10 ms), so what the
//   sink is told is a line at real speed through the readings of the last
//   250 ms, carried on to the moment of the report; nothing is added for
//   latency. A format the shared engine refuses (a rate other than its own)
//   is converted where Windows offers that; otherwise open fails and the
//   program falls back on another output (plat::fallbackAudioOutput). Any
//   failed call while playing (AUDCLNT_E_DEVICE_INVALIDATED when the device
//   is removed or its server goes away), or a position that stands still for
//   1 s once it has moved (5 s before), ends the output and tells the sink
//   the device is lost.
// DEPENDENCIES: ole32 (COM, on the output's thread only), mmdevapi through
//   COM; avrt (MMCSS "Pro Audio" priority) loaded at run time where present;
//   kernel32 events and the performance counter.
#include "platform/audio.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include "platform/win32/qpc_clock.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace plat {

namespace {

constexpr int64_t kNanos = 1000000000;
constexpr DWORD kReadEveryMs = 3;             // position readings between the device's events
constexpr int64_t kLineNanos = 250000000;     // readings the line goes through
constexpr int64_t kOffLineNanos = 20000000;   // a reading this far off the line starts a new one
constexpr int64_t kStandstillNanos = kNanos;  // a position that stands still this long: lost
constexpr int64_t kWakeNanos = 5 * kNanos;    // the same before it first moves (a device waking up)
constexpr int kMaxReadings = 256;

// The frame being heard from the device's readings: the line of slope `rate`
// (frames per second) closest to the position over the last 250 ms, so its
// steps and the jitter of reading them average out. Each reading is taken
// to hold until the next one (the device's event comes just after a step),
// so readings weigh by the time they cover, however unevenly they come. A
// reading far off the line (the device ran dry, a stall) starts it afresh.
class HeardLine {
public:
    explicit HeardLine(int rate) : rate_(rate) {}

    void add(int64_t time, int64_t frames) {
        if (count_ > 0 && (time <= newest().time || std::abs(frames - at(time)) > framesIn(kOffLineNanos)))
            count_ = 0;
        if (count_ == 0) first_ = 0;
        if (count_ == kMaxReadings) drop();
        readings_[(first_ + count_) % kMaxReadings] = {time, frames};
        ++count_;
        while (count_ > 2 && time - readings_[(first_ + 1) % kMaxReadings].time > kLineNanos) drop();
        // The mean over the covered time of the position less the line's rise
        // since `base_`: the line's frame at `base_`.
        base_ = readings_[first_].time;
        double area = 0, covered = 0;
        for (int i = 0; i + 1 < count_; ++i) {
            const Reading& r = readings_[(first_ + i) % kMaxReadings];
            const Reading& next = readings_[(first_ + i + 1) % kMaxReadings];
            const double span = static_cast<double>(next.time - r.time);
            const double middle = static_cast<double>(r.time - base_) + span / 2;
            area += (static_cast<double>(r.frames) - middle * rate_ / kNanos) * span;
            covered += span;
        }
        atBase_ = covered > 0
                      ? area / covered
                      : static_cast<double>(frames) - static_cast<double>(time - base_) * rate_ / kNanos;
    }

    // The line's frame at `time` (0 before any reading).
    int64_t at(int64_t time) const {
        if (count_ == 0) return 0;
        return static_cast<int64_t>(atBase_ + static_cast<double>(time - base_) * rate_ / kNanos);
    }

private:
    struct Reading {
        int64_t time;
        int64_t frames;
    };
    int64_t framesIn(int64_t nanos) const { return nanos * rate_ / kNanos; }
    const Reading& newest() const { return readings_[(first_ + count_ - 1) % kMaxReadings]; }
    void drop() {
        first_ = (first_ + 1) % kMaxReadings;
        --count_;
    }

    const int rate_;
    Reading readings_[kMaxReadings]{};
    int first_ = 0, count_ = 0;
    int64_t base_ = 0;
    double atBase_ = 0;
};

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

std::string failure(const char* call, HRESULT hr) {
    char text[160];
    const char* meaning = hr == AUDCLNT_E_DEVICE_INVALIDATED    ? ": the device is gone"
                          : hr == AUDCLNT_E_SERVICE_NOT_RUNNING ? ": the audio service is not running"
                                                                : "";
    std::snprintf(text, sizeof text, "%s failed (0x%08lx%s)", call, static_cast<unsigned long>(hr), meaning);
    return text;
}

// One shared-mode stream on the default render device, owned by the output's thread.
struct Stream {
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* device = nullptr;
    IAudioClient* client = nullptr;
    IAudioRenderClient* render = nullptr;
    IAudioClock* clock = nullptr;
    HANDLE ready = nullptr;  // the device has room
    UINT32 bufferFrames = 0;
    UINT64 frequency = 0;  // position units per second: frames, or bytes under Wine
    bool started = false;

    ~Stream() {
        if (started) client->Stop();
        release(clock);
        release(render);
        release(client);
        release(device);
        release(enumerator);
        if (ready) CloseHandle(ready);
    }

    // Empty once the stream is set up, else why not.
    std::string open(int rate) {
        HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                      __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator));
        if (FAILED(hr)) return failure("CoCreateInstance(MMDeviceEnumerator)", hr);
        hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
        if (FAILED(hr)) return failure("GetDefaultAudioEndpoint", hr);
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 2;
        format.nSamplesPerSec = static_cast<DWORD>(rate);
        format.wBitsPerSample = 16;
        format.nBlockAlign = 4;
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
        const DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST;
        // Our own format first; then with the engine converting it, where Windows can.
        for (const DWORD more : {DWORD{0}, DWORD{AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                                 AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY}}) {
            release(client);
            hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(&client));
            if (FAILED(hr)) return failure("IMMDevice::Activate(IAudioClient)", hr);
            hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags | more, 0, 0, &format, nullptr);
            if (hr != AUDCLNT_E_UNSUPPORTED_FORMAT && hr != E_INVALIDARG) break;
        }
        if (FAILED(hr)) return failure("IAudioClient::Initialize", hr);
        ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!ready) return "CreateEvent failed";
        if (FAILED(hr = client->SetEventHandle(ready))) return failure("IAudioClient::SetEventHandle", hr);
        if (FAILED(hr = client->GetBufferSize(&bufferFrames)))
            return failure("IAudioClient::GetBufferSize", hr);
        hr = client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render));
        if (FAILED(hr)) return failure("IAudioClient::GetService(IAudioRenderClient)", hr);
        hr = client->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&clock));
        if (FAILED(hr)) return failure("IAudioClient::GetService(IAudioClock)", hr);
        if (FAILED(hr = clock->GetFrequency(&frequency))) return failure("IAudioClock::GetFrequency", hr);
        if (frequency == 0) return "IAudioClock::GetFrequency gave 0";
        return {};
    }

    // Hands the device `frames` frames from the sink.
    HRESULT write(const AudioSink& sink, UINT32 frames) {
        BYTE* data = nullptr;
        HRESULT hr = render->GetBuffer(frames, &data);
        if (FAILED(hr)) return hr;
        sink.fill(sink.user, reinterpret_cast<int16_t*>(data), static_cast<int>(frames));
        return render->ReleaseBuffer(frames, 0);
    }
};

struct State {
    AudioSink sink;
    int rate = 48000;
    std::thread thread;
    HANDLE stop = nullptr;     // close asks the thread to end
    HANDLE started = nullptr;  // the thread has set up the stream, or failed to
    std::string why;           // why it failed; read once `started` is set
};
State state;

// The best priority Windows grants a program unasked: time-critical in its
// class, and MMCSS's "Pro Audio" (else "Audio") task where avrt.dll is there.
// Returns the MMCSS task to leave, or null.
HANDLE raisePriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    HMODULE avrt = LoadLibraryA("avrt.dll");
    if (!avrt) return nullptr;
    using Join = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
    const auto join = reinterpret_cast<Join>(
        reinterpret_cast<void (*)()>(GetProcAddress(avrt, "AvSetMmThreadCharacteristicsW")));
    DWORD task = 0;
    HANDLE mmcss = join ? join(L"Pro Audio", &task) : nullptr;
    if (!mmcss && join) mmcss = join(L"Audio", &task);
    return mmcss;
}

void leaveMmcss(HANDLE mmcss) {
    if (!mmcss) return;
    using Leave = BOOL(WINAPI*)(HANDLE);
    HMODULE avrt = GetModuleHandleA("avrt.dll");
    const auto leave = reinterpret_cast<Leave>(reinterpret_cast<void (*)()>(
        avrt ? GetProcAddress(avrt, "AvRevertMmThreadCharacteristics") : nullptr));
    if (leave) leave(mmcss);
}

// Plays until `state.stop`; returns empty then, or why the device was lost.
std::string play(Stream& s) {
    const AudioSink& sink = state.sink;
    HeardLine heard(state.rate);
    int64_t written = s.bufferFrames;
    int64_t lastFrames = 0, movedAt = qpcNanos();
    HANDLE waits[2] = {state.stop, s.ready};
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kReadEveryMs);
        if (woke == WAIT_OBJECT_0) return {};
        if (woke == WAIT_FAILED) return "WaitForMultipleObjects failed";
        HRESULT hr = S_OK;
        if (woke == WAIT_OBJECT_0 + 1) {
            UINT32 padding = 0;
            if (FAILED(hr = s.client->GetCurrentPadding(&padding)))
                return failure("IAudioClient::GetCurrentPadding", hr);
            const UINT32 room = s.bufferFrames - std::min(padding, s.bufferFrames);
            if (room > 0) {
                if (FAILED(hr = s.write(sink, room))) return failure("IAudioRenderClient", hr);
                sink.consumed(sink.user, static_cast<int>(room));
                written += room;
            }
        }
        UINT64 position = 0, counter = 0;
        if (FAILED(hr = s.clock->GetPosition(&position, &counter)))
            return failure("IAudioClock::GetPosition", hr);
        const int64_t frames = static_cast<int64_t>(position / s.frequency * state.rate +
                                                    position % s.frequency * state.rate / s.frequency);
        const int64_t at = static_cast<int64_t>(counter) * 100;  // the counter comes in 100 ns units
        heard.add(at, frames);
        const int64_t now = qpcNanos();
        if (frames != lastFrames) {
            lastFrames = frames;
            movedAt = now;
        } else if (now - movedAt > (frames > 0 ? kStandstillNanos : kWakeNanos)) {
            return "the device has stopped playing";
        }
        sink.queued(sink.user, written - std::clamp<int64_t>(heard.at(now), 0, written));
    }
}

void run() {
    const HANDLE mmcss = raisePriority();
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::string lost;
    if (FAILED(com)) {
        state.why = failure("CoInitializeEx", com);
        SetEvent(state.started);
    } else {
        {
            Stream s;
            state.why = s.open(state.rate);
            HRESULT hr = S_OK;
            if (state.why.empty()) {
                // The whole buffer before the start, so the device does not start dry.
                state.sink.queued(state.sink.user, 0);
                if (FAILED(hr = s.write(state.sink, s.bufferFrames))) {
                    state.why = failure("IAudioRenderClient", hr);
                } else {
                    state.sink.consumed(state.sink.user, static_cast<int>(s.bufferFrames));
                    if (FAILED(hr = s.client->Start()))
                        state.why = failure("IAudioClient::Start", hr);
                    else
                        s.started = true;
                }
            }
            const bool playing = state.why.empty();
            SetEvent(state.started);
            if (playing) lost = play(s);
        }
        CoUninitialize();
    }
    leaveMmcss(mmcss);
    if (!lost.empty() && state.sink.lost) {
        const std::string why = "the WASAPI device was lost: " + lost;
        state.sink.lost(state.sink.user, why.c_str());
    }
}

void closeOutput() {
    if (state.thread.joinable()) {
        SetEvent(state.stop);
        state.thread.join();
    }
    if (state.stop) CloseHandle(state.stop);
    if (state.started) CloseHandle(state.started);
    state.stop = state.started = nullptr;
}

std::string openOutput(int rate, const AudioSink& sink) {
    closeOutput();
    // The thread is joined before the process ends, whichever way it ends.
    static const bool closesAtExit = std::atexit(closeOutput) == 0;
    (void)closesAtExit;
    state.sink = sink;
    state.rate = rate;
    state.why.clear();
    state.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    state.started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!state.stop || !state.started) {
        closeOutput();
        return "CreateEvent failed";
    }
    state.thread = std::thread(run);
    WaitForSingleObject(state.started, INFINITE);
    if (state.why.empty()) return {};
    std::string why = state.why;
    closeOutput();
    return why;
}

const AudioOutputApi api = {
    .name = "wasapi",
    .open = openOutput,
    .close = closeOutput,
};

}  // namespace

const AudioOutputApi* wasapiAudioOutput() { return &api; }

}  // namespace plat
