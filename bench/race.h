// race.h - our loader against its peer on the same file, in turns.
//
// On a shared machine the load changes from one second to the next, so the two
// are never timed apart: each round times a batch of ours, then a batch of the
// peer's, and the ratio is taken round by round. The report gives the median
// of each side and of the per-round ratios, with the rounds' spread.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace race {

struct Result {
    double oursMs = 0, peerMs = 0;        // medians of the per-load times
    double ratio = 0, low = 0, high = 0;  // peer / ours: median, lowest and highest round
};

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// `ours` and `peer` each load the file once. A round runs each `batch` times.
template <class Ours, class Peer>
Result run(Ours ours, Peer peer, int rounds, int batch) {
    using Clock = std::chrono::steady_clock;
    const auto timeBatch = [batch](auto& load) {
        const auto start = Clock::now();
        for (int i = 0; i < batch; ++i) load();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / batch;
    };
    ours(), peer();  // the first loads fault the code and the file in
    std::vector<double> o, p, r;
    for (int i = 0; i < rounds; ++i) {
        o.push_back(timeBatch(ours));
        p.push_back(timeBatch(peer));
        r.push_back(p.back() / o.back());
    }
    return {median(o), median(p), median(r), *std::min_element(r.begin(), r.end()),
            *std::max_element(r.begin(), r.end())};
}

inline void print(const char* what, const char* peerName, const Result& r) {
    std::printf("%-34s contrail %9.3f ms  %-14s %9.3f ms  ratio %6.2fx (rounds %.2f-%.2f)\n", what, r.oursMs,
                peerName, r.peerMs, r.ratio, r.low, r.high);
    std::fflush(stdout);
}

}  // namespace race
