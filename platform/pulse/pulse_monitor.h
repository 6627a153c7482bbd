// pulse_monitor.h - a recorder of what a PulseAudio sink plays, for the sync test.
//
// Reads a source (a sink's monitor, "out.monitor") as stereo S16 and stamps
// the recording on the system's clocks, so that a test can tell when each
// recorded frame left the sink and compare it with the show's clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// When frame `frame` of the recording left the source, on three clocks
// (nanoseconds): the monotonic clock (Linux's steady clock), the raw monotonic
// clock (Wine's performance counter) and the real-time clock (a web page's
// time origin).
struct MonitorStamp {
    int64_t frame;
    int64_t monotonic;
    int64_t raw;
    int64_t realtime;
};

// Records `source` at `rate` until `stop` is set, appending the frames to
// *pcm (interleaved stereo) and a stamp per block read to *stamps. Returns
// empty, or why it could not record.
std::string recordMonitor(const char* source, int rate, const std::atomic<bool>& stop,
                          std::vector<int16_t>* pcm, std::vector<MonitorStamp>* stamps);

}  // namespace plat
