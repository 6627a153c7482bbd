// Recording a sink's monitor for the sync test.
//
// PLATFORM: Linux with a PulseAudio server (PULSE_SERVER or the user's own).
// LIMITATIONS: the stamps are as good as the server's latency reports, which
//   it interpolates between its own timing updates (tens of microseconds).
// DEPENDENCIES: libpulse-simple.
#include "platform/pulse/pulse_monitor.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <time.h>

namespace plat {

namespace {

int64_t nanos(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

std::string recordMonitor(const char* source, int rate, const std::atomic<bool>& stop,
                          std::vector<int16_t>* pcm, std::vector<MonitorStamp>* stamps) {
    constexpr int kBlockFrames = 240;  // 5 ms at 48 kHz
    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate), 2};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = kBlockFrames * 4;
    int error = 0;
    pa_simple* in = pa_simple_new(nullptr, "contrail sync test", PA_STREAM_RECORD, source, "monitor", &format,
                                  nullptr, &attr, &error);
    if (in == nullptr) return std::string("cannot record: ") + pa_strerror(error);
    int16_t block[kBlockFrames * 2];
    int64_t frames = 0;
    std::string why;
    while (!stop.load(std::memory_order_acquire)) {
        if (pa_simple_read(in, block, sizeof block, &error) < 0) {
            why = std::string("recording stopped: ") + pa_strerror(error);
            break;
        }
        // The latency of a recording is the age of the next frame to read.
        const pa_usec_t latency = pa_simple_get_latency(in, &error);
        const int64_t monotonic = nanos(CLOCK_MONOTONIC);
        const int64_t raw = nanos(CLOCK_MONOTONIC_RAW);
        const int64_t realtime = nanos(CLOCK_REALTIME);
        pcm->insert(pcm->end(), block, block + kBlockFrames * 2);
        frames += kBlockFrames;
        if (latency == static_cast<pa_usec_t>(-1)) continue;
        const int64_t age = static_cast<int64_t>(latency) * 1000;
        stamps->push_back({frames, monotonic - age, raw - age, realtime - age});
    }
    pa_simple_free(in);
    return why;
}

}  // namespace plat
