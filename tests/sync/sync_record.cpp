// contrail_sync_record SOURCE PREFIX
//   Records the PulseAudio source SOURCE (a sink's monitor) until SIGINT or
//   SIGTERM into PREFIX.raw (interleaved stereo S16 at 48 kHz) and
//   PREFIX.stamps (one line per block: frame, then when that frame left the
//   sink in nanoseconds of the monotonic, raw monotonic and real-time clocks).
#include "platform/pulse/pulse_monitor.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

namespace {
std::atomic<bool> stop{false};
void onSignal(int) { stop.store(true); }
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: contrail_sync_record SOURCE PREFIX\n");
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::vector<int16_t> pcm;
    std::vector<plat::MonitorStamp> stamps;
    pcm.reserve(48000 * 2 * 90);
    const std::string why = plat::recordMonitor(argv[1], 48000, stop, &pcm, &stamps);
    if (!why.empty()) std::fprintf(stderr, "contrail_sync_record: %s\n", why.c_str());
    const std::string prefix = argv[2];
    std::FILE* raw = std::fopen((prefix + ".raw").c_str(), "wb");
    std::FILE* st = std::fopen((prefix + ".stamps").c_str(), "w");
    if (raw == nullptr || st == nullptr) {
        std::fprintf(stderr, "contrail_sync_record: cannot write %s.*\n", prefix.c_str());
        return 1;
    }
    std::fwrite(pcm.data(), sizeof(int16_t), pcm.size(), raw);
    for (const auto& s : stamps)
        std::fprintf(st, "%lld %lld %lld %lld\n", static_cast<long long>(s.frame),
                     static_cast<long long>(s.monotonic), static_cast<long long>(s.raw),
                     static_cast<long long>(s.realtime));
    std::fclose(raw);
    std::fclose(st);
    return why.empty() ? 0 : 1;
}
