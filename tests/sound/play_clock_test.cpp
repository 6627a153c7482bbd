// The play clock driven by injected callback events and injected times.
#include "sound/sound.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kRate = 48000;
constexpr int kPeriod = 512;
constexpr int64_t kMs = 1000000;                                      // nanoseconds
constexpr int64_t kPeriodNs = int64_t{kPeriod} * 1000000000 / kRate;  // ~10.67 ms

int64_t framesToNs(int64_t frames) { return frames * 1000000000 / kRate; }

TEST(PlayClock, InterpolatesWithinOneCallbackAndNoFurther) {
    snd::PlayClock clock(kRate);
    const int64_t t0 = 5 * kMs;
    EXPECT_EQ(clock.positionFrames(t0), 0) << "no callback yet";
    EXPECT_EQ(clock.positionMs(t0 + 100 * kMs), 0);

    clock.consumed(kPeriod, t0);
    EXPECT_EQ(clock.positionFrames(t0), 0) << "the first buffer starts at 0";
    EXPECT_EQ(clock.positionFrames(t0 + 5 * kMs), 240);
    EXPECT_EQ(clock.positionFrames(t0 + 50 * kMs), kPeriod) << "held at the end of the buffer";

    clock.consumed(kPeriod, t0 + 60 * kMs);
    EXPECT_EQ(clock.positionFrames(t0 + 60 * kMs), kPeriod);
    EXPECT_EQ(clock.positionFrames(t0 + 62 * kMs), kPeriod + 96);
    EXPECT_EQ(clock.positionMs(t0 + 62 * kMs), (kPeriod + 96) * 1000 / kRate);
    EXPECT_EQ(clock.totalConsumed(), 2 * kPeriod);
}

TEST(PlayClock, NeverGoesBackwards) {
    snd::PlayClock clock(kRate);
    clock.consumed(kPeriod, 0);
    EXPECT_EQ(clock.positionFrames(10 * kMs), 480);
    EXPECT_EQ(clock.positionFrames(8 * kMs), 480) << "a reading stamped before the previous one";
    clock.consumed(kPeriod, 5 * kMs);  // early, as in a burst of callbacks
    EXPECT_EQ(clock.positionFrames(5 * kMs), kPeriod);
    EXPECT_EQ(clock.positionFrames(1 * kMs), kPeriod) << "a reading stamped before the callback";
    EXPECT_EQ(clock.positionFrames(15 * kMs), kPeriod + 480);
    EXPECT_EQ(clock.positionFrames(40 * kMs), 2 * kPeriod) << "a late callback holds the clock";
    clock.consumed(kPeriod, 40 * kMs);
    EXPECT_EQ(clock.positionFrames(40 * kMs), 2 * kPeriod);
    EXPECT_EQ(clock.positionFrames(41 * kMs), 2 * kPeriod + 48);
}

// An output that tells what is queued in front of the listener: the clock is
// the frame heard (the reports' wobble smoothed by a line of slope 1 through
// the last 250 ms of them), 0 until the first one is, never past what was
// handed over, never backwards. An output silent for over a second, or
// one that has gone, leaves the clock running on in real time from the frame
// last heard. Each row is one event, then a reading; each sequence starts on
// a fresh clock.
TEST(PlayClock, FollowsTheFrameHeardWhenTheOutputTellsWhatIsQueued) {
    enum Event { kTaken, kHeard, kRead, kLost, kStart };
    struct Row {
        Event event;
        int64_t frames;  // taken: handed over; heard: queued
        int64_t ms;      // the event's time (and the reading's)
        int64_t expected;
        const char* why;
    };
    const std::vector<std::vector<Row>> sequences = {
        {
            {kHeard, 0, 0, 0, "nothing handed over yet"},
            {kTaken, 480, 0, 0, "handed over, not yet anchored"},
            {kHeard, 1440, 0, 0, "more queued than handed over: the first frame is 20 ms away"},
            {kRead, 0, 10, 0, "held at 0 until the first frame is heard"},
            {kRead, 0, 25, 240, "5 ms after the first frame was heard"},
            {kRead, 0, 60, 480, "never past the frames handed over"},
            {kTaken, 480, 60, 480, "taking more does not move the clock"},
            {kHeard, 600, 60, 480, "the output was ahead: held, not backwards"},
            {kRead, 0, 62, 480, "still held"},
            {kRead, 0, 65, 600, "caught up, runs at real speed from the frame heard"},
            {kHeard, 0, 70, 900, "a report 2.5 ms off: the line goes through both reports"},
            {kRead, 0, 200, 960, "a stalled output holds the clock at what was handed over"},
            {kTaken, 960, 200, 960, "handed over after the stall"},
            {kHeard, 960, 300, 960, "a report 10 ms or more off starts the line afresh"},
            {kRead, 0, 310, 1440, "and the clock runs on from there"},
            {kTaken, 14400, 310, 1440, "more handed over"},
            {kHeard, 14400 - 48, 320, 1944, "a report 1 ms ahead: the line through both reports"},
            {kHeard, 16320 - 15480, 600, 15480, "reports older than 250 ms have left the line"},
            {kRead, 0, 1000, 16320, "a silent output: held at what was handed over"},
            {kRead, 0, 1600, 16320, "still held after a second"},
            {kRead, 0, 1601, 15480 + 48048, "silent over a second: real time from the frame last heard"},
            {kTaken, 480, 1601, 63528, "handed over again"},
            {kHeard, 0, 1610, 63528, "back, and behind the clock: held, never backwards"},
        },
        {
            {kTaken, 960, 0, 0, "handed over"},
            {kHeard, 480, 0, 480, "half of it heard"},
            {kRead, 0, 100, 960, "held at what was handed over"},
            {kLost, 0, 100, 480 + 4800, "gone: real time from the frame last heard, at once"},
            {kRead, 0, 2000, 480 + 96000, "and on"},
        },
        {
            {kStart, 0, 0, 0, "playing on a device that never reports"},
            {kRead, 0, 1000, 0, "held at 0 for a second"},
            {kRead, 0, 1100, 52800, "then real time from the start"},
        },
    };
    for (const std::vector<Row>& rows : sequences) {
        snd::PlayClock clock(kRate);
        for (const Row& r : rows) {
            if (r.event == kTaken) clock.taken(static_cast<int>(r.frames));
            if (r.event == kHeard) clock.heard(r.frames, r.ms * kMs);
            if (r.event == kLost) clock.runOn();
            if (r.event == kStart) clock.startDevice(r.ms * kMs);
            EXPECT_EQ(clock.positionFrames(r.ms * kMs), r.expected) << r.why;
        }
    }
}

struct DriftResult {
    double maxAbsErrorMs = 0;
    double finalErrorMs = 0;
    double meanErrorMs = 0;
    int64_t overshoots = 0;  // readings past the frames consumed so far
    int64_t reversals = 0;
};

// Simulates `seconds` of a device whose callbacks come at the ideal times plus
// jitter (uniform within +-jitterMs, and every 50th callback in a burst right
// after the previous one), read at 60 Hz frames with their own jitter, and
// compares the clock with the time since the first callback.
DriftResult simulate(double seconds, double jitterMs, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-jitterMs, jitterMs);
    std::uniform_real_distribution<double> frameJitter(-3.0, 3.0);

    snd::PlayClock clock(kRate);
    const int64_t start = 1000 * kMs;
    const int64_t end = start + static_cast<int64_t>(seconds * 1e9);
    int64_t nextCallback = start;
    int64_t callbackIndex = 0, consumed = 0;
    int64_t nextRead = start;
    int64_t last = 0;
    DriftResult r;
    double sum = 0;
    int64_t reads = 0;
    while (nextRead < end) {
        if (nextCallback <= nextRead) {
            clock.consumed(kPeriod, nextCallback);
            consumed += kPeriod;
            ++callbackIndex;
            const int64_t ideal = start + callbackIndex * kPeriodNs;
            int64_t t = ideal + static_cast<int64_t>(jitter(rng) * kMs);
            if (callbackIndex % 50 == 0) t = nextCallback + kMs / 10;  // burst
            nextCallback = std::max(t, nextCallback);
            continue;
        }
        const int64_t pos = clock.positionFrames(nextRead);
        if (pos < last) ++r.reversals;
        if (pos > consumed) ++r.overshoots;
        last = pos;
        const double err = (framesToNs(pos) - (nextRead - start)) / 1e6;
        r.maxAbsErrorMs = std::max(r.maxAbsErrorMs, std::abs(err));
        r.finalErrorMs = err;
        sum += err;
        ++reads;
        nextRead += static_cast<int64_t>((1000.0 / 60 + frameJitter(rng)) * kMs);
    }
    r.meanErrorMs = sum / reads;
    return r;
}

TEST(PlayClock, NoDriftOverFiftySecondsOfJitteryCallbacks) {
    for (const double jitterMs : {0.0, 2.0, 5.0}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            const DriftResult r = simulate(50.0, jitterMs, seed);
            SCOPED_TRACE(testing::Message() << "jitter " << jitterMs << " ms, seed " << seed);
            EXPECT_EQ(r.reversals, 0);
            EXPECT_EQ(r.overshoots, 0) << "never past the frames consumed";
            // Every reading is within a buffer plus the jitter of real time...
            EXPECT_LT(r.maxAbsErrorMs, kPeriodNs / 1e6 + jitterMs + 1.0);
            // ...and nothing accumulates: the end is as close as the start.
            EXPECT_LT(std::abs(r.finalErrorMs), 10.0);
            EXPECT_LT(std::abs(r.meanErrorMs), 6.0);
        }
    }
}

TEST(PlayClock, WallModeRunsFromItsStartAndFreezeHoldsIt) {
    snd::PlayClock clock(kRate);
    const int64_t t0 = 123 * kMs;
    clock.startWall(t0);
    EXPECT_EQ(clock.positionMs(t0), 0);
    EXPECT_EQ(clock.positionMs(t0 + 1500 * kMs), 1500);
    EXPECT_EQ(clock.positionMs(t0 + 1000 * kMs), 1500) << "not backwards";
    // Fifty seconds of wall time are fifty seconds of clock, to the frame.
    EXPECT_EQ(clock.positionFrames(t0 + 50000 * kMs), int64_t{50} * kRate);
    // Hours of nanoseconds must not overflow.
    EXPECT_EQ(clock.positionMs(t0 + int64_t{500} * 3600 * 1000 * kMs), 500 * 3600 * 1000);

    snd::PlayClock stopped(kRate);
    stopped.startWall(0);
    stopped.freeze(2000 * kMs);
    EXPECT_EQ(stopped.positionMs(9000 * kMs), 2000);

    snd::PlayClock device(kRate);
    device.consumed(kPeriod, 0);
    device.freeze(5 * kMs);
    device.consumed(kPeriod, 6 * kMs);
    EXPECT_EQ(device.positionFrames(20 * kMs), 240) << "callbacks after a freeze are ignored";
}

TEST(PlayClock, ReaderNeverSeesHalfAnUpdate) {
    // Callbacks of alternating sizes: a reader that mixed one callback's start
    // with another's size would see a position no callback ever reached.
    snd::PlayClock clock(kRate);
    std::atomic<int64_t> published{0};
    std::atomic<bool> done{false};
    std::atomic<int64_t> calls{0};
    std::thread writer([&] {
        // Long enough for the reader to land inside many updates.
        const int64_t until = snd::steadyNanos() + 300 * kMs;
        int64_t total = 0, i = 0;
        for (; (i & 1023) != 0 || snd::steadyNanos() < until; ++i) {
            const int frames = i % 2 == 0 ? 1000 : 7;
            total += frames;
            published.store(total, std::memory_order_release);  // an upper bound before it is reached
            clock.consumed(frames, i);
        }
        calls = i;
        done = true;
    });
    int64_t last = 0, bad = 0, reads = 0;
    // Past every buffer's end (the writer's times are a few microseconds),
    // short of the time after which a silent device's clock runs on.
    const int64_t farFuture = 400 * kMs;
    while (!done.load() || reads < 1000) {
        const int64_t pos = clock.positionFrames(farFuture);
        const int64_t limit = published.load(std::memory_order_acquire);
        // Totals of 1000, 7, 1000, 7, ... frames are 0 or 1000 modulo 1007.
        const bool reachable = pos % 1007 == 0 || pos % 1007 == 1000;
        if (!reachable || pos > limit || pos < last) ++bad;
        last = pos;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(clock.positionFrames(farFuture), calls / 2 * 1007);
}

}  // namespace
