// The Audio Compression Manager's MP3 decoding under the sound layer, on the
// generated music (the test runs in the data folder).
#include "platform/audio.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// What libmpg123 (gapless) decodes the generated music.mp3 to at 48 kHz.
constexpr int64_t kMpg123Frames = 2568000;
constexpr int64_t kFrame = 1152;

TEST(AcmDecoder, MusicDecodesToTheGaplessLength) {
    const plat::Mp3DecoderApi& acm = *plat::acmDecoder();
    std::string why;
    plat::Mp3Stream* stream = acm.open("music.mp3", 48000, &why);
    ASSERT_NE(stream, nullptr) << why;
    EXPECT_NEAR(double(acm.length(stream)), double(kMpg123Frames), double(kFrame));
    std::vector<int16_t> buffer(4096 * 2);
    int64_t total = 0, loud = 0;
    for (long got; (got = acm.read(stream, buffer.data(), 4096, &why)) > 0;) {
        total += got;
        for (long i = 0; i < got * 2; ++i) loud += std::abs(buffer[size_t(i)]) > 1000;
    }
    acm.close(stream);
    EXPECT_NEAR(double(total), double(kMpg123Frames), double(kFrame));
    EXPECT_GT(loud, total / 10);  // music, not silence
}

TEST(AcmDecoder, StreamClockStartsAtZeroAndRunsAtRealSpeed) {
    plat::setMp3Decoder(plat::acmDecoder());
    plat::setAudioOutput(plat::waveOutAudioOutput());
    ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
    FSOUND_STREAM* stream = FSOUND_Stream_Open("music.mp3", FSOUND_LOOP_OFF, 0, 0);
    ASSERT_NE(stream, nullptr);
    EXPECT_NEAR(FSOUND_Stream_GetLengthMs(stream), kMpg123Frames * 1000 / 48000, 24);
    ASSERT_EQ(FSOUND_Stream_Play(5, stream), 5);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(FSOUND_Stream_GetTime(stream), 30);
    int previous = 0;
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int t = FSOUND_Stream_GetTime(stream);
        EXPECT_GE(t, previous);
        previous = t;
    }
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NEAR(previous, elapsed, 60.0);
    plat::setMp3Decoder(nullptr);
    plat::setAudioOutput(nullptr);
}

}  // namespace
