// Audio output straight to a PulseAudio server.
//
// PLATFORM: Linux (and other systems) where a PulseAudio server, or a server
//   that speaks its protocol, is running.
// LIMITATIONS: one thread of ours (at the best priority the system grants)
//   runs the connection's event loop and fills 10 ms blocks whenever the
//   server has room for one, keeping about 50 ms in its buffer; no other
//   thread takes part, so sound does not wait on a thread of lower priority.
//   After each block and each timing update (asked for every 50 ms) it asks
//   the stream's latency (what is queued in the stream and the sink's own
//   delay) and hands it to the sink as the frames still in front of the
//   listener, so the play clock is the frame being heard. Without a server open fails at once (no server
//   is spawned), and the program falls back on another output
//   (plat::fallbackAudioOutput). When the server goes away, or the stream or
//   a write fails, mid-show, the thread tells the sink (`lost`) and ends; it
//   does not reconnect. A server that stops answering without closing the
//   connection is not noticed here (the play clock runs on by itself).
// DEPENDENCIES: libpulse (the asynchronous API on a plain event loop); POSIX
//   threads for the thread's priority.
#include "platform/audio.h"

#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace plat {

namespace {

constexpr int kBlockMs = 10;
constexpr int kTargetMs = 50;
constexpr int kConnectMs = 2000;
constexpr int kTimingMs = 50;

struct State {
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    AudioSink sink;
    int rate = 48000;
    std::thread thread;
    std::atomic<bool> stop{false};
};
State state;

// The best priority the system grants without asking: a real-time class
// where the user may have one (root, or an RLIMIT_RTPRIO), else as it is.
void raisePriority() {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void reportQueued() {
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(state.stream, &latency, &negative) != 0) return;
    const int64_t frames = static_cast<int64_t>(latency) * state.rate / 1000000;
    state.sink.queued(state.sink.user, negative ? 0 : frames);
}

// Why the connection stopped, for the one line the sound layer prints.
std::string failure() {
    const int error = state.context ? pa_context_errno(state.context) : PA_ERR_UNKNOWN;
    return std::string("PulseAudio: ") + (error != PA_OK ? pa_strerror(error) : "the stream stopped");
}

void run() {
    raisePriority();
    const int frames = state.rate * kBlockMs / 1000;
    const size_t bytes = static_cast<size_t>(frames) * 4;
    std::vector<int16_t> block(static_cast<size_t>(frames) * 2);
    state.sink.queued(state.sink.user, 0);
    auto asked = std::chrono::steady_clock::now();
    while (!state.stop.load(std::memory_order_acquire)) {
        if (pa_stream_get_state(state.stream) != PA_STREAM_READY) break;
        // Between timing updates the latency is interpolated, and libpulse
        // spaces its own updates out to 1.5 s, over which the interpolation
        // drifts by milliseconds: ask for one every kTimingMs instead.
        if (const auto now = std::chrono::steady_clock::now();
            now - asked > std::chrono::milliseconds(kTimingMs)) {
            if (pa_operation* op = pa_stream_update_timing_info(state.stream, nullptr, nullptr))
                pa_operation_unref(op);
            asked = now;
        }
        const size_t room = pa_stream_writable_size(state.stream);
        if (room != static_cast<size_t>(-1) && room >= bytes) {
            state.sink.fill(state.sink.user, block.data(), frames);
            if (pa_stream_write(state.stream, block.data(), bytes, nullptr, 0, PA_SEEK_RELATIVE) != 0) break;
            state.sink.consumed(state.sink.user, frames);
            reportQueued();
            continue;
        }
        if (pa_mainloop_iterate(state.loop, 1, nullptr) < 0) break;
        reportQueued();
    }
    // The server went away, or the stream or a write failed: the show goes on.
    if (!state.stop.load(std::memory_order_acquire) && state.sink.lost != nullptr)
        state.sink.lost(state.sink.user, failure().c_str());
}

void closeStream() {
    if (state.thread.joinable()) {
        state.stop.store(true, std::memory_order_release);
        pa_mainloop_wakeup(state.loop);
        state.thread.join();
    }
    if (state.stream) {
        pa_stream_disconnect(state.stream);
        pa_stream_unref(state.stream);
    }
    if (state.context) {
        pa_context_disconnect(state.context);
        pa_context_unref(state.context);
    }
    if (state.loop) pa_mainloop_free(state.loop);
    state.stream = nullptr;
    state.context = nullptr;
    state.loop = nullptr;
    state.stop.store(false);
}

// Runs the event loop until `ready` says yes (true) or no (false), or the time is up.
template <typename Ready>
bool await(Ready ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectMs);
    for (;;) {
        if (const int r = ready(); r >= 0) return r == 1;
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (pa_mainloop_prepare(state.loop, 50 * 1000) < 0 || pa_mainloop_poll(state.loop) < 0 ||
            pa_mainloop_dispatch(state.loop) < 0)
            return false;
    }
}

std::string openStream(int rate, const AudioSink& sink) {
    closeStream();
    // The thread is joined before the process ends, whichever way it ends.
    static const bool closesAtExit = std::atexit(closeStream) == 0;
    (void)closesAtExit;
    if (sink.queued == nullptr) return "the sound layer does not take the latency";
    state.sink = sink;
    state.rate = rate;

    state.loop = pa_mainloop_new();
    state.context = pa_context_new(pa_mainloop_get_api(state.loop), "contrail");
    if (state.context == nullptr ||
        pa_context_connect(state.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 || !await([] {
            const pa_context_state_t s = pa_context_get_state(state.context);
            return s == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(s) ? -1 : 0;
        })) {
        const std::string why = state.context ? pa_strerror(pa_context_errno(state.context)) : "no context";
        closeStream();
        return "PulseAudio: " + why;
    }

    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate), 2};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(rate * kTargetMs / 1000 * 4);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(rate * kBlockMs / 1000 * 4);
    attr.fragsize = static_cast<uint32_t>(-1);
    state.stream = pa_stream_new(state.context, "music", &format, nullptr);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
    if (state.stream == nullptr ||
        pa_stream_connect_playback(state.stream, nullptr, &attr, flags, nullptr, nullptr) < 0 || !await([] {
            const pa_stream_state_t s = pa_stream_get_state(state.stream);
            return s == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(s) ? -1 : 0;
        })) {
        const std::string why = pa_strerror(pa_context_errno(state.context));
        closeStream();
        return "PulseAudio: " + why;
    }
    state.thread = std::thread(run);
    return {};
}

const AudioOutputApi api = {
    .name = "pulse",
    .open = openStream,
    .close = closeStream,
};

}  // namespace

const AudioOutputApi* pulseAudioOutput() { return &api; }

}  // namespace plat
