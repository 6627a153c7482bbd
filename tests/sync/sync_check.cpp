// contrail_sync_check - how far the show's clock is from the music heard.
//
//   contrail_sync_check NAME MUSIC PREFIX CLOCKLOG CLOCK SINK_LATENCY_US STALL [MEAN SD]
//
// MUSIC is the file the show played, PREFIX the recording of the sink's monitor
// (contrail_sync_record), CLOCKLOG the show's clock readings (CONTRAIL_CLOCK_LOG,
// or the page's log: "<nanoseconds> <frames> <rate>" per reading), CLOCK which
// of the recording's clocks the log's times are on (monotonic, raw or
// realtime), SINK_LATENCY_US what the sink adds after its monitor, STALL when
// the test stopped the program for 300 ms (nanoseconds on CLOCK; 0: never).
//
// For readings along the show it finds the music heard at the reading's moment
// by cross-correlating the recording there with the decoded music near the
// position the clock gives (+- 0.3 s; the music repeats passages), and prints
// the offset (clock minus music heard, positive: the clock is ahead) at 5, 20
// and 45 s, its mean and spread (leaving out a second after each gap of over
// 200 ms between readings), and how it came back after the stall. Fails when
// the clock went backwards, when fewer than ten readings could be matched,
// or, given the limits, when the mean is further than MEAN ms from 0, the
// spread over SD ms, or the offset is not within 5 ms of the mean from 1 s
// after the stall on. An SD of 0 holds the mean only: the spread and the
// stall are then printed but not judged. With SYNC_DEBUG set, every offset looked at is also
// printed on standard error.
#include "platform/audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kWindow = 2400;   // 50 ms of recording per match
constexpr int kSearch = 14400;  // +- 0.3 s around the clock's position
constexpr double kMinCorrelation = 0.9;

struct Reading {
    int64_t time;
    int64_t frames;
};

std::vector<float> decodeMusic(const char* path) {
    const plat::Mp3DecoderApi& dec = plat::mp3Decoder();
    std::string why;
    plat::Mp3Stream* s = dec.open(path, kRate, &why);
    std::vector<float> mono;
    if (s == nullptr) return mono;
    std::vector<int16_t> buf(4096 * 2);
    for (long got; (got = dec.read(s, buf.data(), 4096, &why)) > 0;)
        for (long i = 0; i < got; ++i) mono.push_back((buf[2 * i] + buf[2 * i + 1]) / 65536.0f);
    dec.close(s);
    return mono;
}

std::vector<float> readRecording(const std::string& path) {
    std::vector<float> mono;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return mono;
    int16_t frame[2];
    while (std::fread(frame, sizeof frame, 1, f) == 1) mono.push_back((frame[0] + frame[1]) / 65536.0f);
    std::fclose(f);
    return mono;
}

// Best lag d (music index minus recording index) for the recording window
// starting at `at`, searched in [d0 - kSearch, d0 + kSearch], refined to a
// fraction of a frame; NAN when nothing there matches well.
double bestLag(const std::vector<float>& rec, const std::vector<float>& music, int64_t at, int64_t d0) {
    if (at < 0 || at + kWindow > static_cast<int64_t>(rec.size())) return NAN;
    const float* r = rec.data() + at;
    double rr = 0;
    for (int i = 0; i < kWindow; ++i) rr += r[i] * r[i];
    if (rr < kWindow * 1e-6) return NAN;  // silence tells nothing
    const int64_t lo = std::max<int64_t>(d0 - kSearch, -at);
    const int64_t hi = std::min<int64_t>(d0 + kSearch, static_cast<int64_t>(music.size()) - kWindow - at);
    if (lo > hi) return NAN;
    std::vector<double> score(hi - lo + 1);
    double mm = 0;
    const float* m0 = music.data() + at + lo;
    for (int i = 0; i < kWindow; ++i) mm += m0[i] * m0[i];
    int64_t best = -1;
    for (int64_t d = lo; d <= hi; ++d) {
        const float* m = music.data() + at + d;
        if (d > lo) mm += m[kWindow - 1] * m[kWindow - 1] - m[-1] * m[-1];
        float dot = 0;
        for (int i = 0; i < kWindow; ++i) dot += r[i] * m[i];
        const double c = mm > 0 ? dot / std::sqrt(rr * std::max(mm, 1e-12)) : 0;
        score[d - lo] = c;
        if (best < 0 || c > score[best]) best = d - lo;
    }
    if (score[best] < kMinCorrelation) return NAN;
    double frac = 0;
    if (best > 0 && best + 1 < static_cast<int64_t>(score.size())) {
        const double a = score[best - 1], b = score[best], c = score[best + 1];
        const double den = a - 2 * b + c;
        if (den < 0) frac = 0.5 * (a - c) / den;
    }
    return lo + best + frac;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8 && argc != 10) {
        std::fprintf(stderr,
                     "usage: contrail_sync_check NAME MUSIC PREFIX CLOCKLOG monotonic|raw|realtime "
                     "SINK_LATENCY_US STALL_NS [MEAN SD]\n");
        return 2;
    }
    const std::string name = argv[1];
    const std::string prefix = argv[3];
    const int column = std::strcmp(argv[5], "raw") == 0 ? 2 : std::strcmp(argv[5], "realtime") == 0 ? 3 : 1;
    const double sinkLatency = std::atof(argv[6]) * 1000;  // ns
    const int64_t stallAt = std::atoll(argv[7]);
    const bool limits = argc == 10;
    const double maxMean = limits ? std::atof(argv[8]) : 0, maxSd = limits ? std::atof(argv[9]) : 0;
    const bool spreadLimits = limits && maxSd > 0;
    const char* tag = name.c_str();

    plat::setMp3Decoder(plat::mpg123Decoder());
    const std::vector<float> music = decodeMusic(argv[2]);
    const std::vector<float> rec = readRecording(prefix + ".raw");
    if (music.empty() || rec.empty()) {
        std::printf("sync %s: offset unknown: no music or no recording\n", tag);
        return 1;
    }

    // Frame k of the recording left the sink at a + b * k: a straight line
    // through the stamps, since the sink's clock runs at its own rate. Where
    // the recording skips (the server dropped or paused it), a new line starts.
    std::vector<std::pair<double, double>> stamps;
    if (std::FILE* f = std::fopen((prefix + ".stamps").c_str(), "r")) {
        long long v[4];
        while (std::fscanf(f, "%lld %lld %lld %lld", &v[0], &v[1], &v[2], &v[3]) == 4)
            stamps.push_back({static_cast<double>(v[0]), static_cast<double>(v[column])});
        std::fclose(f);
    }
    struct Line {
        double from, to, a, b;  // times covered; t = a + b * k
    };
    std::vector<Line> lines;
    // Single stamps jump by a block now and then and back at the next one:
    // the breaks are judged on a running median of 9, and stamps far from it
    // are left out of the fit.
    std::vector<double> residual(stamps.size()), median(stamps.size());
    for (size_t j = 0; j < stamps.size(); ++j) residual[j] = stamps[j].second - stamps[j].first * 1e9 / kRate;
    for (size_t j = 0; j < stamps.size(); ++j) {
        const size_t lo = j < 4 ? 0 : j - 4, hi = std::min(stamps.size(), j + 5);
        std::vector<double> w(residual.begin() + lo, residual.begin() + hi);
        std::nth_element(w.begin(), w.begin() + w.size() / 2, w.end());
        median[j] = w[w.size() / 2];
    }
    for (size_t i = 0, end = 0; i < stamps.size(); i = end) {
        for (end = i + 1; end < stamps.size() && std::abs(median[end] - median[end - 1]) < 3e6; ++end) {
        }
        if (end - i < 200) continue;  // a second at least, for a line worth trusting
        double n = 0, mk = 0, mt = 0;
        auto kept = [&](size_t j) { return std::abs(residual[j] - median[j]) < 3e6; };
        for (size_t j = i; j < end; ++j)
            if (kept(j)) mk += stamps[j].first, mt += stamps[j].second, ++n;
        mk /= n, mt /= n;
        double skk = 0, skt = 0;
        for (size_t j = i; j < end; ++j) {
            if (!kept(j)) continue;
            skk += (stamps[j].first - mk) * (stamps[j].first - mk);
            skt += (stamps[j].first - mk) * (stamps[j].second - mt);
        }
        const double b = skt / skk;
        lines.push_back({stamps[i].second, stamps[end - 1].second, mt - b * mk, b});
    }
    if (lines.empty()) {
        std::printf("sync %s: offset unknown: too few stamps\n", tag);
        return 1;
    }
    const Line* longest = &lines[0];
    for (const Line& l : lines)
        if (l.to - l.from > longest->to - longest->from) longest = &l;
    std::printf("sync %s: offset measured on a sink playing %.1f frames per second (%zu stretches)\n", tag,
                1e9 / longest->b, lines.size());
    // The recording's frame that left the sink at `t`, or NAN outside the stretches.
    auto frameAt = [&](double t) -> double {
        for (const Line& l : lines)
            if (t >= l.from && t <= l.to) return (t - l.a) / l.b;
        return NAN;
    };

    std::vector<Reading> readings;
    if (std::FILE* f = std::fopen(argv[4], "r")) {
        long long t = 0, p = 0;
        int rate = 0;
        while (std::fscanf(f, "%lld %lld %d", &t, &p, &rate) == 3) {
            // Readings at another rate would be a second program's; the show uses one.
            if (rate == kRate) readings.push_back({t, p});
        }
        std::fclose(f);
    }
    bool backwards = false;
    for (size_t j = 1; j < readings.size(); ++j)
        if (readings[j].frames < readings[j - 1].frames) backwards = true;
    // The show's stream starts again after F1; only the last run of readings counts.
    size_t first = 0;
    for (size_t j = 1; j < readings.size(); ++j)
        if (readings[j].frames == 0 && readings[j - 1].frames > kRate) first = j;

    // The offset at reading j, or NAN.
    auto offsetAt = [&](size_t j) -> double {
        if (j >= readings.size()) return NAN;
        const Reading& r = readings[j];
        const double k = frameAt(r.time - sinkLatency);  // the recording's frame heard then
        if (std::isnan(k)) return NAN;
        const int64_t at = static_cast<int64_t>(std::floor(k)) - kWindow / 2;
        const double d = bestLag(rec, music, at, r.frames - static_cast<int64_t>(k));
        if (std::isnan(d)) return NAN;
        return (r.frames - (k + d)) * 1000.0 / kRate;
    };
    // The first reading at or after clock position `ms`.
    auto readingAt = [&](double ms) -> size_t {
        for (size_t j = first; j < readings.size(); ++j)
            if (readings[j].frames * 1000.0 / kRate >= ms) return j;
        return readings.size();
    };

    // Stalls: readings more than 200 ms apart (the one the test makes, and
    // any the machine makes).
    std::vector<double> stalls;
    for (size_t j = first + 1; j < readings.size(); ++j)
        if (readings[j].time - readings[j - 1].time > 200000000 && readings[j].frames > kRate)
            stalls.push_back(readings[j].frames * 1000.0 / kRate);
    auto nearStall = [&](double ms, double except = -1) {
        for (double s : stalls)
            if (s != except && ms >= s - 100 && ms < s + 1000) return true;
        return false;
    };

    const double endMs = readings.empty() ? 0 : readings.back().frames * 1000.0 / kRate;
    std::vector<double> all;
    const double step = endMs > 30000 ? 500 : 200;  // a short run is looked at more closely
    for (double ms = 1000; ms <= endMs - 500; ms += step) {
        if (nearStall(ms)) continue;
        const size_t j = readingAt(ms);
        if (j >= readings.size()) break;
        const double o = offsetAt(j);
        if (std::getenv("SYNC_DEBUG")) std::fprintf(stderr, "%.1f s %+.2f ms\n", ms / 1000, o);
        if (!std::isnan(o)) all.push_back(o);
    }
    int failures = 0;
    if (all.size() < 10) {
        std::printf("sync %s: offset unknown: only %zu readings matched the music\n", tag, all.size());
        return 1;
    }
    double mean = 0, sd = 0;
    for (double o : all) mean += o;
    mean /= all.size();
    for (double o : all) sd += (o - mean) * (o - mean);
    sd = std::sqrt(sd / all.size());

    for (double at : {5.0, endMs > 30000 ? 20.0 : 10.0, 45.0}) {
        if (at * 1000 > endMs - 1500) continue;
        double sum = 0;
        int n = 0;
        for (double ms = at * 1000 - 1000; ms <= at * 1000 + 1000; ms += 250) {
            if (nearStall(ms)) continue;
            const double o = offsetAt(readingAt(ms));
            if (!std::isnan(o)) sum += o, ++n;
        }
        if (n > 0)
            std::printf("sync %s: offset at %2.0f s: %+6.2f ms\n", tag, at, sum / n);
        else
            std::printf("sync %s: offset at %2.0f s: unknown (no match)\n", tag, at);
    }
    std::printf("sync %s: offset mean %+6.2f ms, sd %.2f ms (%zu readings, 1 s to %.0f s)\n", tag, mean, sd,
                all.size(), endMs / 1000);
    if (limits && std::abs(mean) > maxMean) {
        std::printf("sync %s: FAIL: the mean offset is beyond +-%.1f ms\n", tag, maxMean);
        ++failures;
    }
    if (spreadLimits && sd > maxSd) {
        std::printf("sync %s: FAIL: the spread is over %.1f ms\n", tag, maxSd);
        ++failures;
    }

    if (stallAt > 0) {
        // After the test's stall: every 50 ms of clock for 2 s, the time from
        // which the offset stays within 5 ms of the mean (just after the last
        // reading beyond it; points the recording cannot place are skipped, so
        // they neither count against the clock nor for it).
        size_t j = first;
        while (j < readings.size() && readings[j].time < stallAt) ++j;
        const double stallMs = j < readings.size() ? readings[j].frames * 1000.0 / kRate : 0;
        double lastOff = -1, worst = 0;
        int judged = 0, judgedLate = 0;
        for (double ms = stallMs; j < readings.size() && ms < stallMs + 2000; ms += 50) {
            if (nearStall(ms, stallMs)) continue;  // the machine's own stalls are not the test's
            const double o = offsetAt(readingAt(ms));
            if (std::isnan(o)) continue;
            ++judged;
            if (std::abs(o - mean) > 5) lastOff = ms - stallMs;
            if (ms >= stallMs + 1000) {
                ++judgedLate;
                worst = std::max(worst, std::abs(o - mean));
            }
        }
        const bool settled = judged > 0 && lastOff + 50 < 2000;
        std::printf(
            "sync %s: offset 1 s after the stall at %.1f s: %+6.2f ms; within 5 ms of the mean %s%.0f ms "
            "after it; worst from 1 s on %.2f ms from the mean\n",
            tag, stallMs / 1000, offsetAt(readingAt(stallMs + 1000)), settled ? "" : "never, ",
            settled ? std::max(0.0, lastOff + 50) : 0, worst);
        if (spreadLimits && (!settled || judgedLate == 0 || worst > 5)) {
            std::printf("sync %s: FAIL: not back within 5 ms within 1 s of the stall\n", tag);
            ++failures;
        }
    }
    if (stalls.size() > 1)
        std::printf(
            "sync %s: offset not measured within 1 s after %zu other gaps of over 200 ms between readings\n",
            tag, stalls.size() - (stallAt > 0 ? 1 : 0));
    if (backwards) {
        std::printf("sync %s: FAIL: the clock went backwards\n", tag);
        ++failures;
    } else {
        std::printf("sync %s: offset readings: %zu, the clock never went backwards\n", tag, readings.size());
    }
    return failures == 0 ? 0 : 1;
}
