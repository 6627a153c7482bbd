// The stream calls as the demo uses them. Nothing here needs a sound card:
// each test holds whether or not a device opens.
#include "platform/audio.h"
#include "sound/sound.h"
#include "tests/sound/tone_mp3.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The stream layer on this platform's decoder and output, as the demo runs it.
const bool wired = [] {
    plat::setMp3Decoder(plat::mpg123Decoder());
    plat::setAudioOutput(plat::sdl2AudioOutput());
    return true;
}();

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int fixedClock(void* user) { return *static_cast<int*>(user); }

// Opens no device, so soundMix renders what the device would have played.
class Offline {
public:
    Offline() {
        soundSetClockOverride(fixedClock, &now);
        EXPECT_TRUE(FSOUND_Init(48000, 32, 0));
    }
    ~Offline() { soundSetClockOverride(nullptr, nullptr); }
    int now = 0;
};

std::vector<int16_t> render(int frames) {
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * 2, 1234);
    EXPECT_TRUE(soundMix(pcm.data(), frames));
    return pcm;
}

struct Heard {
    int first = -1;  // first and last frame louder than a quarter of the tone
    int last = -1;
    double hz = 0;  // from the left channel's zero crossings in between
    int peak = 0;
    bool channelsEqual = true;
};

Heard listen(const std::vector<int16_t>& pcm, int rate) {
    Heard h;
    const int frames = static_cast<int>(pcm.size() / 2);
    for (int i = 0; i < frames; ++i) {
        const int v = std::abs(pcm[2 * i]);
        h.peak = std::max(h.peak, v);
        if (v > 4000) {
            if (h.first < 0) h.first = i;
            h.last = i;
        }
        if (std::abs(pcm[2 * i] - pcm[2 * i + 1]) > 2) h.channelsEqual = false;
    }
    int crossings = 0;
    for (int i = h.first + 1; i <= h.last && h.first >= 0; ++i)
        if ((pcm[2 * (i - 1)] < 0) != (pcm[2 * i] < 0)) ++crossings;
    if (h.last > h.first) h.hz = crossings / 2.0 / ((h.last - h.first) / static_cast<double>(rate));
    return h;
}

std::string writeBytes(const std::string& name, const std::vector<unsigned char>& bytes) {
    const std::string path = tempPath(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

// Before the first FSOUND_Init nothing can be opened or played. This is the
// first test of its program, so in a run of the whole program (as under
// emulation) the library is still as the process started it.
TEST(SoundRules, NothingOpensBeforeTheFirstInit) {
    EXPECT_EQ(FSOUND_Stream_Open("music.mp3", FSOUND_LOOP_OFF, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_Stream_Open(nullptr, FSOUND_LOOP_OFF, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, nullptr), -1);
}

class Sound : public testing::Test {
protected:
    static void SetUpTestSuite() {
        tone48 = tempPath("tone48.mp3");
        tone44mono = tempPath("tone44mono.mp3");
        ASSERT_TRUE(writeToneMp3(tone48, ToneSpec{}));
        ToneSpec mono;
        mono.rate = 44100;
        mono.channels = 1;
        ASSERT_TRUE(writeToneMp3(tone44mono, mono));
    }
    static void TearDownTestSuite() {
        std::remove(tone48.c_str());
        std::remove(tone44mono.c_str());
    }
    static std::string tone48, tone44mono;
};
std::string Sound::tone48, Sound::tone44mono;

// Checks the clock of a playing stream against the monotonic clock for `ms`.
void expectRealTime(FSOUND_STREAM* s, Clock::time_point playedAt, int ms) {
    constexpr double kOnePeriodMs = 512 * 1000.0 / 48000 + 15;  // plus scheduling slack
    int last = 0;
    while (msSince(playedAt) < ms) {
        const double before = msSince(playedAt);
        const int t = FSOUND_Stream_GetTime(s);
        const double after = msSince(playedAt);
        ASSERT_GE(t, last) << "backwards";
        ASSERT_LE(t, after + 1) << "ahead of real time";
        ASSERT_GE(t, before - kOnePeriodMs) << "behind real time";
        last = t;
        sleepMs(7);
    }
}

TEST_F(Sound, ClockStartsAtZeroAndRunsInRealTimePastTheEndOfTheMusic) {
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    FSOUND_STREAM* const s = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    ASSERT_NE(s, nullptr);
    sleepMs(50);
    EXPECT_EQ(FSOUND_Stream_GetTime(s), 0) << "not playing yet";
    const Clock::time_point playedAt = Clock::now();
    EXPECT_EQ(FSOUND_Stream_Play(5, s), 5);
    EXPECT_EQ(FSOUND_Stream_Play(5, s), 5) << "playing again leaves it where it is";
    // The tone lasts one second; the clock carries on.
    expectRealTime(s, playedAt, 2500);
}

TEST_F(Sound, MissingOrUndecodableFileGivesASilentRunningClock) {
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    std::mt19937 rng(7);
    std::vector<unsigned char> noise(64 * 1024);
    for (auto& b : noise) b = static_cast<unsigned char>(rng());
    const std::string missing = tempPath("no_such_music.mp3");
    const std::string random = writeBytes("random.mp3", noise);
    const std::string empty = writeBytes("empty.mp3", {});
    // Only a tag: the encoder's first frame (its Info tag, which decodes to
    // nothing) cut from a real file; the decoder opens it, and no frame follows.
    std::vector<unsigned char> tag;
    if (std::FILE* f = std::fopen(tone48.c_str(), "rb")) {
        unsigned char h[4] = {};
        if (std::fread(h, 1, 4, f) == 4 && h[0] == 0xFF && (h[1] & 0xFE) == 0xFA) {  // MPEG-1 layer III
            static const int kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
            static const int hz[4] = {44100, 48000, 32000, 0};
            const int rate = hz[(h[2] >> 2) & 3];
            const int length = rate ? 144000 * kbps[h[2] >> 4] / rate + ((h[2] >> 1) & 1) : 0;
            tag.assign(h, h + 4);
            tag.resize(std::max(length, 4));
            if (length > 4 && std::fread(tag.data() + 4, 1, length - 4, f) != static_cast<size_t>(length - 4))
                tag.clear();
        }
        std::fclose(f);
    }
    ASSERT_GT(tag.size(), 4u) << "the tone file does not start with an MPEG-1 layer III frame";
    const std::string tagOnly = writeBytes("tag_only.mp3", tag);

    for (const std::string& path : {missing, random, empty, tagOnly}) {
        SCOPED_TRACE(path);
        testing::internal::CaptureStderr();
        FSOUND_STREAM* const s = FSOUND_Stream_Open(path.c_str(), FSOUND_LOOP_OFF, 0, 0);
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_NE(s, nullptr);
        EXPECT_NE(err.find("cannot play \"" + path + "\""), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(FSOUND_Stream_GetLengthMs(s), 0);
        sleepMs(30);
        EXPECT_EQ(FSOUND_Stream_GetTime(s), 0);
        const Clock::time_point playedAt = Clock::now();
        EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
        expectRealTime(s, playedAt, 300);
        FSOUND_Init(48000, 32, 0);  // frees channel 0 for the next file
    }
    std::remove(random.c_str());
    std::remove(empty.c_str());
}

TEST_F(Sound, SecondInitStopsAndReleasesTheFirstStream) {
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    FSOUND_STREAM* const first = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    ASSERT_EQ(FSOUND_Stream_Play(5, first), 5);
    sleepMs(200);
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    const int stoppedAt = FSOUND_Stream_GetTime(first);
    EXPECT_GE(stoppedAt, 150);
    sleepMs(100);
    EXPECT_EQ(FSOUND_Stream_GetTime(first), stoppedAt) << "released: the clock stays put";
    EXPECT_EQ(FSOUND_Stream_Play(5, first), -1) << "a released stream cannot play";
    EXPECT_EQ(FSOUND_Stream_GetLengthMs(first), 1000);

    FSOUND_STREAM* const second = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    ASSERT_NE(second, first);
    EXPECT_EQ(FSOUND_Stream_GetTime(second), 0);
    const Clock::time_point playedAt = Clock::now();
    EXPECT_EQ(FSOUND_Stream_Play(5, second), 5);
    expectRealTime(second, playedAt, 300);
    EXPECT_EQ(FSOUND_Stream_GetTime(first), stoppedAt);
}

TEST_F(Sound, SecondInitSilencesTheFirstStream) {
    Offline offline;
    FSOUND_STREAM* const first = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    ASSERT_EQ(FSOUND_Stream_Play(5, first), 5);
    EXPECT_GT(listen(render(4800), 48000).peak, 10000);
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    EXPECT_EQ(listen(render(4800), 48000).peak, 0) << "two copies of the music must never play";

    FSOUND_STREAM* const second = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    ASSERT_EQ(FSOUND_Stream_Play(5, second), 5);
    const Heard h = listen(render(4800), 48000);
    EXPECT_LT(h.first, 20) << "the new stream starts from its beginning";
    EXPECT_LT(h.peak, 17500) << "one copy only";
}

TEST_F(Sound, DecodesGaplessAtTheMixRate) {
    Offline offline;
    struct Case {
        const std::string* path;
        const char* what;
    };
    for (const Case& c : {Case{&tone48, "48 kHz stereo"}, Case{&tone44mono, "44.1 kHz mono"}}) {
        SCOPED_TRACE(c.what);
        FSOUND_Init(48000, 32, 0);
        FSOUND_STREAM* const s = FSOUND_Stream_Open(c.path->c_str(), FSOUND_LOOP_OFF, 0, 0);
        EXPECT_NEAR(FSOUND_Stream_GetLengthMs(s), 1000, 1);
        ASSERT_EQ(FSOUND_Stream_Play(5, s), 5);
        testing::internal::CaptureStderr();
        const std::vector<int16_t> pcm = render(72000);
        const std::string err = testing::internal::GetCapturedStderr();
        const Heard h = listen(pcm, 48000);
        // The encoder's delay and padding are trimmed: one second of tone from
        // the first frame, at the pitch it was written with.
        EXPECT_LT(h.first, 20);
        EXPECT_NEAR(h.last, 48000, 60);
        EXPECT_NEAR(h.hz, 440.0, 2.0);
        EXPECT_NEAR(h.peak, 0.5 * 32767, 1500);
        EXPECT_TRUE(h.channelsEqual);
        EXPECT_TRUE(std::all_of(pcm.begin() + 2 * 48200, pcm.end(), [](int16_t v) { return v == 0; }))
            << "silence after the end";
        EXPECT_NE(err.find("has ended; the clock runs on in silence"), std::string::npos) << err;
    }
}

TEST_F(Sound, ChannelsHoldOneStreamEach) {
    Offline offline;
    FSOUND_STREAM* const a = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    FSOUND_STREAM* const b = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    FSOUND_STREAM* const c = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, a), 0);
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, b), 1);
    // Two tones in phase add up (and are clipped, not wrapped).
    EXPECT_GT(listen(render(4800), 48000).peak, 30000);
    EXPECT_EQ(FSOUND_Stream_Play(1, c), 1) << "replaces b";
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, b), -1) << "b was stopped";
    EXPECT_EQ(FSOUND_Stream_Play(32, c), 1) << "already playing";
    FSOUND_STREAM* const d = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    EXPECT_EQ(FSOUND_Stream_Play(32, d), -1) << "only 32 channels";
    EXPECT_EQ(FSOUND_Stream_Play(-2, d), -1);
}

TEST_F(Sound, OverrideAndBadHandles) {
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    FSOUND_STREAM* const s = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
    int now = 4242;
    soundSetClockOverride(fixedClock, &now);
    EXPECT_EQ(FSOUND_Stream_GetTime(s), 4242);
    now = 51999;
    EXPECT_EQ(FSOUND_Stream_GetTime(s), 51999);
    EXPECT_EQ(FSOUND_Stream_GetTime(nullptr), 0);
    soundSetClockOverride(nullptr, nullptr);
    EXPECT_EQ(FSOUND_Stream_GetTime(s), 0) << "back to the stream, which has not played";

    int notAStream = 0;
    FSOUND_STREAM* const bogus = reinterpret_cast<FSOUND_STREAM*>(&notAStream);
    EXPECT_EQ(FSOUND_Stream_GetTime(bogus), 0);
    EXPECT_EQ(FSOUND_Stream_Play(5, bogus), -1);
    EXPECT_EQ(FSOUND_Stream_Play(5, nullptr), -1);
    EXPECT_EQ(FSOUND_Stream_GetLengthMs(nullptr), 0);

    EXPECT_FALSE(FSOUND_Init(0, 32, 0));
    EXPECT_FALSE(FSOUND_Init(48000, 0, 0));
    EXPECT_EQ(FSOUND_Stream_Play(5, s), 5) << "a refused init leaves the streams alone";
}

// ---- an output that fails mid-show -------------------------------------------

// A device that plays frames as the monotonic clock passes and keeps 100 ms
// queued, taking more and telling what is queued every 10 ms, until
// `stopAtMs` after it opened; then it stops calling back, and says it has
// gone or says nothing.
struct FailingOutput {
    int stopAtMs = 0;
    bool saysLost = false;
    plat::AudioSink sink;
    std::thread thread;
    std::atomic<bool> closing{false};
};
FailingOutput failing;

const plat::AudioOutputApi failingOutput = {
    .name = "failing",
    .open =
        [](int rate, const plat::AudioSink& sink) {
            failing.sink = sink;
            failing.closing = false;
            failing.thread = std::thread([rate] {
                const Clock::time_point t0 = Clock::now();
                std::vector<int16_t> pcm(rate * 2);
                int64_t taken = 0;
                failing.sink.queued(failing.sink.user, 0);
                while (!failing.closing) {
                    const double ms = msSince(t0);
                    if (ms >= failing.stopAtMs) break;
                    // 100 ms queued, so a late wake-up does not hold the clock.
                    const int64_t heard = static_cast<int64_t>(ms * rate / 1000);
                    const int frames = static_cast<int>(heard + rate / 10 - taken);
                    if (frames > 0) {
                        failing.sink.fill(failing.sink.user, pcm.data(), frames);
                        failing.sink.consumed(failing.sink.user, frames);
                        taken += frames;
                    }
                    failing.sink.queued(failing.sink.user, taken - heard);
                    sleepMs(10);
                }
                if (failing.saysLost && !failing.closing)
                    failing.sink.lost(failing.sink.user, "fake: unplugged");
            });
            return std::string();
        },
    .close =
        [] {
            failing.closing = true;
            if (failing.thread.joinable()) failing.thread.join();
        },
};

// However the device fails, the clock runs on in real time from the frame
// last heard: at once when the output says so, within a second when it
// just stops calling back, instead of standing still for good.
TEST_F(Sound, ClockRunsOnWhenTheOutputFails) {
    struct Row {
        const char* name;
        int stopAtMs;
        bool saysLost;
        int checkFromMs;   // the clock keeps real time from here to 2000 ms
        const char* says;  // on standard error
    };
    const Row rows[] = {
        {"an output that keeps calling back", 100000, false, 200, ""},
        {"an output that says it has gone", 300, true, 310,
         "sound: the audio output has gone (fake: unplugged); the clock runs on in silence\n"},
        {"an output that stops calling back without a word", 300, false, 1450, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        failing.stopAtMs = r.stopAtMs;
        failing.saysLost = r.saysLost;
        plat::setAudioOutput(&failingOutput);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
        FSOUND_STREAM* const s = FSOUND_Stream_Open(tone48.c_str(), FSOUND_LOOP_OFF, 0, 0);
        const Clock::time_point playedAt = Clock::now();
        ASSERT_EQ(FSOUND_Stream_Play(0, s), 0);
        // The music starts behind what the device had queued when it was
        // played, so the clock is held to real time from its reading at
        // checkFromMs on.
        int last = 0, base = -1;
        double baseMs = 0;
        while (msSince(playedAt) < 2000) {
            const double before = msSince(playedAt);
            const int t = FSOUND_Stream_GetTime(s);
            const double after = msSince(playedAt);
            ASSERT_GE(t, last) << "backwards";
            if (before >= r.checkFromMs && base < 0) base = t, baseMs = after;
            if (base >= 0) {
                ASSERT_LE(t - base, after - baseMs + 1) << "ahead of real time at " << before << " ms";
                ASSERT_GE(t - base, before - baseMs - 40) << "behind real time at " << before << " ms";
            }
            last = t;
            sleepMs(5);
        }
        // A new start closes the output (and opens one that ends at once).
        failing.stopAtMs = 0;
        failing.saysLost = false;
        FSOUND_Init(48000, 32, 0);
        failingOutput.close();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("output has gone") == std::string::npos, *r.says == 0) << err;
        if (*r.says != 0) {
            EXPECT_NE(err.find(r.says), std::string::npos) << err;
        }
        plat::setAudioOutput(plat::sdl2AudioOutput());
        FSOUND_Init(48000, 32, 0);
    }
}

// ---- the rules over any engine ----------------------------------------------

// An engine that only records what the rules ask of it (streams are numbered
// in the order opened; a stream's position is 100 + its number).
std::string engineLog;
int fakeStreams = 0;
plat::EngineStream* fakeHandle(int n) { return reinterpret_cast<plat::EngineStream*>(uintptr_t(n) + 1); }
int fakeNumber(plat::EngineStream* s) { return static_cast<int>(reinterpret_cast<uintptr_t>(s)) - 1; }
void note(const std::string& line) { engineLog += (engineLog.empty() ? "" : "; ") + line; }

const plat::StreamEngineApi fakeEngine = {
    .name = "fake",
    .start =
        [](int rate, int channels, bool out) {
            note("start " + std::to_string(rate) + " " + std::to_string(channels) +
                 (out ? " out" : " quiet"));
        },
    .open =
        [](const char* path) {
            note(std::string("open ") + (path ? path : "null"));
            return fakeHandle(fakeStreams++);
        },
    .play = [](plat::EngineStream* s,
               int ch) { note("play " + std::to_string(fakeNumber(s)) + " on " + std::to_string(ch)); },
    .stop = [](plat::EngineStream* s) { note("stop " + std::to_string(fakeNumber(s))); },
    .positionMs = [](plat::EngineStream* s) { return 100 + fakeNumber(s); },
    .lengthMs = [](plat::EngineStream*) { return 0; },
    .mix = [](int16_t*, int) { return false; },
};

// One call: I(nit) rate channels, O(pen) name, P(lay) channel stream, T(ime)
// stream, C(lock override on); `want` is the call's result (for O: 1 when
// the handle is not null).
struct Call {
    char what;
    int a = 0, b = 0;
    int want = 0;
};
struct RuleCase {
    const char* name;
    std::vector<Call> calls;
    const char* engine;  // what the engine was asked, in order
};

TEST(SoundRules, HoldOverAnyEngine) {
    const int F = FSOUND_FREE;
    const RuleCase cases[] = {
        {"bad arguments to init leave everything alone",
         {{'I', 7999, 1, 0}, {'I', 192001, 1, 0}, {'I', 48000, 0, 0}, {'I', 48000, 1025, 0}},
         ""},
        {"a channel holds one stream; the stream it replaces stops for good",
         {{'I', 48000, 2, 1},
          {'O', 0, 0, 1},
          {'O', 0, 0, 1},
          {'O', 0, 0, 1},
          {'P', F, 0, 0},
          {'P', F, 1, 1},
          {'P', F, 2, -1},
          {'P', 1, 2, 1},
          {'P', 0, 1, -1},
          {'P', 1, 0, 0},
          {'P', 2, 2, 1},
          {'T', 1, 0, 101}},
         "start 48000 2 out; open music.mp3; open music.mp3; open music.mp3; play 0 on 0; play 1 on 1; "
         "stop 1; play 2 on 1"},
        {"bad handles and channels are refused before the engine is asked",
         {{'I', 48000, 4, 1},
          {'O', 0, 0, 1},
          {'P', 4, 0, -1},
          {'P', -2, 0, -1},
          {'P', 0, -1, -1},
          {'T', -1, 0, 0}},
         "start 48000 4 out; open music.mp3"},
        {"a second init stops every earlier stream; its handle stays valid",
         {{'I', 48000, 32, 1},
          {'O', 0, 0, 1},
          {'P', 5, 0, 5},
          {'I', 48000, 32, 1},
          {'P', 5, 0, -1},
          {'T', 0, 0, 100}},
         "start 48000 32 out; open music.mp3; play 0 on 5; start 48000 32 out"},
        {"a replaced clock opens no output and answers for every stream",
         {{'C', 0, 0, 0}, {'I', 44100, 8, 1}, {'O', 0, 0, 1}, {'T', 0, 0, 4242}, {'T', -1, 0, 0}},
         "start 44100 8 quiet; open music.mp3"},
    };
    plat::setStreamEngine(&fakeEngine);
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        engineLog.clear();
        const int first = fakeStreams;
        std::vector<FSOUND_STREAM*> streams;
        int fixed = 4242;
        for (const Call& call : c.calls) {
            FSOUND_STREAM* const s =
                call.b >= 0 && call.b < static_cast<int>(streams.size()) ? streams[call.b] : nullptr;
            FSOUND_STREAM* const t =
                call.a >= 0 && call.a < static_cast<int>(streams.size()) ? streams[call.a] : nullptr;
            switch (call.what) {
            case 'I': EXPECT_EQ(FSOUND_Init(call.a, call.b, 0), call.want); break;
            case 'O':
                streams.push_back(FSOUND_Stream_Open("music.mp3", FSOUND_LOOP_OFF, 0, 0));
                EXPECT_EQ(streams.back() != nullptr, call.want != 0);
                break;
            case 'P': EXPECT_EQ(FSOUND_Stream_Play(call.a, s), call.want) << "channel " << call.a; break;
            case 'T':
                EXPECT_EQ(FSOUND_Stream_GetTime(t),
                          call.want + (call.want >= 100 && call.want < 200 ? first : 0));
                break;
            case 'C': soundSetClockOverride(fixedClock, &fixed); break;
            }
        }
        soundSetClockOverride(nullptr, nullptr);
        std::string want = c.engine;
        // Stream numbers in the log count from this case's first.
        for (int n = 9; n >= 0; --n) {
            const std::string from = " " + std::to_string(n), to = " " + std::to_string(first + n);
            for (const char* verb : {"play", "stop"})
                for (size_t at = want.find(verb + from); at != std::string::npos;
                     at = want.find(verb + from, at + 1))
                    want.replace(at + std::strlen(verb), from.size(), to);
        }
        EXPECT_EQ(engineLog, want);
    }
    plat::setStreamEngine(nullptr);
    EXPECT_TRUE(FSOUND_Init(48000, 32, 0)) << "the build's own engine again";
}

// ---- the mixer's device path, on a device the test drives -------------------

// A decoder of numbered frames: frame n is (n + 1) split over the two
// channels, so silence (0, 0) is no frame. It can stop at a frame until let
// go, and it notes a close that comes while a read is still running.
struct NumberedMusic {
    std::mutex mutex;
    std::condition_variable letGo;
    int64_t next = 0;      // the next frame to decode
    int64_t written = 0;   // frames certainly in the engine's ring (all reads before the running one)
    int64_t stallAt = -1;  // a read that reaches this frame waits until stallAt changes
    int readDelayMs = 0;   // every read after the first takes this long
    int reads = 0, readsRunning = 0, closedWhileReading = 0, closes = 0;
};
NumberedMusic* music = nullptr;
plat::Mp3Stream* const kNumberedHandle = reinterpret_cast<plat::Mp3Stream*>(&music);

const plat::Mp3DecoderApi numberedDecoder = {
    .name = "numbered",
    .open = [](const char*, int, std::string*) { return kNumberedHandle; },
    .read = [](plat::Mp3Stream*, int16_t* out, long frames, std::string*) -> long {
        NumberedMusic& m = *music;
        std::unique_lock<std::mutex> lock(m.mutex);
        m.written = m.next;  // the previous read's frames went into the ring before this call
        ++m.readsRunning;
        if (m.reads++ > 0 && m.readDelayMs > 0) {
            lock.unlock();
            sleepMs(m.readDelayMs);
            lock.lock();
        }
        m.letGo.wait(lock, [&] { return m.stallAt < 0 || m.next < m.stallAt; });
        if (m.stallAt >= 0) frames = std::min<long>(frames, static_cast<long>(m.stallAt - m.next));
        for (long i = 0; i < frames; ++i, ++m.next) {
            out[2 * i] = static_cast<int16_t>((m.next + 1) & 0x7FFF);
            out[2 * i + 1] = static_cast<int16_t>((m.next + 1) >> 15);
        }
        --m.readsRunning;
        return frames;
    },
    .length = [](plat::Mp3Stream*) { return int64_t{0}; },
    .close =
        [](plat::Mp3Stream*) {
            std::lock_guard<std::mutex> lock(music->mutex);
            ++music->closes;
            if (music->readsRunning > 0) ++music->closedWhileReading;
        },
};

// The device: opened by the engine, then driven by the test's own thread.
plat::AudioSink device;
bool deviceOpen = false;
const plat::AudioOutputApi testDevice = {
    .name = "test device",
    .open =
        [](int, const plat::AudioSink& sink) {
            device = sink;
            deviceOpen = true;
            return std::string();
        },
    .close = [] { deviceOpen = false; },
};

// Waits (bounded) until the decoder has put `frames` frames into the ring.
bool musicInRing(int64_t frames) {
    for (int i = 0; i < 4000; ++i) {
        {
            std::lock_guard<std::mutex> lock(music->mutex);
            if (music->written >= frames) return true;
        }
        sleepMs(1);
    }
    return false;
}

class MixerOnADevice : public testing::Test {
protected:
    void SetUp() override {
        music = new NumberedMusic;  // left behind: a stray decoder thread may still look at it
        plat::setMp3Decoder(&numberedDecoder);
        plat::setAudioOutput(&testDevice);
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(music->mutex);
            music->stallAt = -1;
        }
        music->letGo.notify_all();
        EXPECT_TRUE(FSOUND_Init(48000, 32, 0));  // stops and releases the streams
        plat::setMp3Decoder(plat::mpg123Decoder());
        plat::setAudioOutput(plat::sdl2AudioOutput());
    }
};

// The decoder falls behind (a stall) and the device plays silence meanwhile;
// the clock goes on with the device, so when the music comes back the frames
// the silence stood for are skipped: what is heard at device frame n, which
// is clock frame n, is the music's frame n again.
TEST_F(MixerOnADevice, AfterAStallTheMusicHeardIsTheMusicAtTheClock) {
    constexpr int kStallAt = 40000, kPeriod = 480, kPeriods = 150;
    music->stallAt = kStallAt;
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    ASSERT_TRUE(deviceOpen);
    FSOUND_STREAM* const s = FSOUND_Stream_Open("numbered.mp3", FSOUND_LOOP_OFF, 0, 0);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, s), 0);

    std::vector<int16_t> out(kPeriod * 2);
    int64_t played = 0, silent = 0, checked = 0;
    for (int period = 0; period < kPeriods; ++period) {
        if (music->stallAt >= 0 && played >= kStallAt + 20 * kPeriod) {
            // 20 periods of silence; then the decoder is let go.
            {
                std::lock_guard<std::mutex> lock(music->mutex);
                music->stallAt = -1;
            }
            music->letGo.notify_all();
        }
        // No underrun but the stall: the ring holds what this period plays
        // (and, once let go, what the silence stood for).
        const int64_t need = music->stallAt >= 0 ? std::min<int64_t>(played + kPeriod, kStallAt)
                                                 : played + kPeriod + 20 * kPeriod + kPeriod;
        ASSERT_TRUE(musicInRing(need)) << "the decoder never caught up";
        device.fill(device.user, out.data(), kPeriod);
        device.consumed(device.user, kPeriod);
        for (int i = 0; i < kPeriod; ++i, ++played) {
            const int frame = (out[2 * i] & 0x7FFF) | (out[2 * i + 1] << 15);
            if (frame == 0) {
                ++silent;
                continue;
            }
            ASSERT_EQ(frame - 1, played) << "device frame " << played << " after " << silent << " silent";
            ++checked;
        }
        // The clock is within the frames the device has taken.
        const int64_t clock = int64_t{FSOUND_Stream_GetTime(s)} * 48;
        EXPECT_LE(clock, played);
        EXPECT_GE(clock, played - kPeriod - 48);
    }
    EXPECT_EQ(silent, 20 * kPeriod + (kStallAt % kPeriod == 0 ? 0 : kPeriod - kStallAt % kPeriod));
    EXPECT_GT(checked, kStallAt + 10 * kPeriod) << "the music came back";
}

// A new start stops the earlier stream's decoder thread and waits for it
// before the file is closed: a read in progress is never cut off.
TEST_F(MixerOnADevice, ANewStartClosesTheDecoderOnlyAfterItsThreadIsDone) {
    music->readDelayMs = 60;
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    FSOUND_STREAM* const s = FSOUND_Stream_Open("numbered.mp3", FSOUND_LOOP_OFF, 0, 0);
    ASSERT_EQ(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
    for (int i = 0; i < 1000; ++i) {  // until the decoder thread is inside a slow read
        {
            std::lock_guard<std::mutex> lock(music->mutex);
            if (music->reads >= 2 && music->readsRunning > 0) break;
        }
        sleepMs(1);
    }
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    std::lock_guard<std::mutex> lock(music->mutex);
    EXPECT_EQ(music->closes, 1);
    EXPECT_EQ(music->closedWhileReading, 0);
    EXPECT_EQ(music->readsRunning, 0) << "the thread still reads after the new start";
}

}  // namespace
