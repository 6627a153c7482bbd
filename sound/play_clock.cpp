// The play-position clock: anchored at every device callback, interpolated on
// the monotonic clock in between, never backwards; in real time on its own
// once the device is gone or silent.
#include "sound/sound.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace snd {

namespace {
constexpr int64_t kNanosPerSecond = 1000000000;

// For the sync test: with CONTRAIL_CLOCK_LOG=<file> in the environment, every
// reading in milliseconds is also written there as "<now> <frames> <rate>"
// (nanoseconds of the steady clock, the position in frames), so that the
// clock can be lined up with a recording of what was heard.
std::FILE* clockLog() {
    static std::FILE* const log = [] {
        const char* path = std::getenv("CONTRAIL_CLOCK_LOG");
        return path != nullptr && *path != 0 ? std::fopen(path, "w") : nullptr;
    }();
    return log;
}
}  // namespace

int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PlayClock::PlayClock(int rate) : rate_(rate > 0 ? rate : 1) {}

int64_t PlayClock::framesIn(int64_t nanos) const {
    if (nanos <= 0) return 0;
    // Split so that hours of nanoseconds times the rate cannot overflow.
    return nanos / kNanosPerSecond * rate_ + nanos % kNanosPerSecond * rate_ / kNanosPerSecond;
}

void PlayClock::consumed(int frames, int64_t now) {
    if (frames <= 0) return;
    // Sequence lock: odd while the anchor is being written, so a reader never
    // mixes the frames of one callback with the time of another.
    const uint32_t s = seq_.load(std::memory_order_relaxed);
    seq_.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    anchorFrames_.store(total_, std::memory_order_relaxed);
    anchorTime_.store(now, std::memory_order_relaxed);
    period_.store(frames, std::memory_order_relaxed);
    seq_.store(s + 2, std::memory_order_release);
    total_ += frames;
}

void PlayClock::taken(int frames) {
    if (frames > 0) total_ += frames;
}

void PlayClock::heard(int64_t queued, int64_t now) {
    // What the output reports wobbles by a few milliseconds (its own timing
    // is interpolated between updates, and the thread that asks is scheduled
    // late now and then); the frame heard moves at the rate. So the anchor is
    // a line of slope 1 (frames at the rate) through the reports of the last
    // kFitNs: the mean of the reports, each carried on to `now` at the rate,
    // with no constant added. A report far from where the clock expects to be
    // (a stall, the start) starts the line afresh. Below 0 while the first
    // frame has yet to reach the listener; readers never go below 0.
    const int64_t reported = total_ - std::max<int64_t>(0, queued);
    if (heardYet_) {
        const int64_t expected = heardFrames_ + framesIn(now - heardTime_);
        if (std::abs(reported - expected) >= rate_ / 100) fitCount_ = 0;
    }
    // Oldest first; the oldest falls out when the window is full or too long.
    if (fitCount_ == kFitMax) {
        std::copy(fit_ + 1, fit_ + kFitMax, fit_);
        --fitCount_;
    }
    fit_[fitCount_++] = {now, reported};
    int drop = 0;
    while (drop < fitCount_ - 1 && now - fit_[drop].time > kFitNs) ++drop;
    if (drop > 0) {
        std::copy(fit_ + drop, fit_ + fitCount_, fit_);
        fitCount_ -= drop;
    }
    int64_t sum = 0;
    for (int i = 0; i < fitCount_; ++i) sum += fit_[i].frames + framesIn(now - fit_[i].time);
    const int64_t anchor = std::min(sum / fitCount_, total_);
    heardFrames_ = anchor;
    heardTime_ = now;
    heardYet_ = true;

    const uint32_t s = seq_.load(std::memory_order_relaxed);
    seq_.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    anchorFrames_.store(anchor, std::memory_order_relaxed);
    anchorTime_.store(now, std::memory_order_relaxed);
    period_.store(total_ - anchor, std::memory_order_relaxed);
    seq_.store(s + 2, std::memory_order_release);
}

void PlayClock::startDevice(int64_t now) {
    deviceStart_.store(now, std::memory_order_relaxed);
    deviceStarted_.store(true, std::memory_order_release);
}

void PlayClock::runOn() { lost_.store(true, std::memory_order_release); }

void PlayClock::startWall(int64_t now) {
    wallStart_.store(now, std::memory_order_relaxed);
    wall_.store(true, std::memory_order_release);
}

void PlayClock::freeze(int64_t now) {
    positionFrames(now);
    frozen_.store(true, std::memory_order_release);
}

int64_t PlayClock::positionFrames(int64_t now) {
    if (frozen_.load(std::memory_order_acquire)) return last_.load(std::memory_order_relaxed);

    int64_t pos = 0;
    if (wall_.load(std::memory_order_acquire)) {
        pos = framesIn(now - wallStart_.load(std::memory_order_relaxed));
    } else {
        int64_t frames = 0, time = 0, period = 0;
        uint32_t s1 = 0, s2 = 0;
        do {
            s1 = seq_.load(std::memory_order_acquire);
            frames = anchorFrames_.load(std::memory_order_relaxed);
            time = anchorTime_.load(std::memory_order_relaxed);
            period = period_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            s2 = seq_.load(std::memory_order_relaxed);
        } while (s1 != s2 || (s1 & 1u));
        // A device that has gone, or said nothing for kSilentNs: the clock
        // runs on in real time from the frame last heard (from 0 when none
        // was), never held at the end of what was handed over.
        const bool lost = lost_.load(std::memory_order_acquire);
        if (s1 != 0) {
            const int64_t since = now - time;
            pos = frames + (lost || since > kSilentNs ? framesIn(since) : std::min(period, framesIn(since)));
        } else if (deviceStarted_.load(std::memory_order_acquire)) {
            const int64_t since = now - deviceStart_.load(std::memory_order_relaxed);
            if (lost || since > kSilentNs) pos = framesIn(since);
        }
    }

    // Never backwards: a late callback holds the clock until it catches up.
    int64_t prev = last_.load(std::memory_order_relaxed);
    while (pos > prev && !last_.compare_exchange_weak(prev, pos, std::memory_order_relaxed)) {
    }
    return std::max(pos, prev);
}

int PlayClock::positionMs(int64_t now) {
    const int64_t frames = positionFrames(now);
    if (std::FILE* log = clockLog())
        std::fprintf(log, "%lld %lld %d\n", static_cast<long long>(now), static_cast<long long>(frames),
                     rate_);
    return static_cast<int>(frames * 1000 / rate_);
}

}  // namespace snd
