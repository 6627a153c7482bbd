// The SDL2 audio output under the stream layer: drivers that only pretend to
// play must not drive the music clock.
#include "platform/audio.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string tempPath(const std::string& name) { return testing::TempDir() + name; }

TEST(Sdl2Audio, DriversThatKeepNoRealTimeCountAsNoDevice) {
    plat::setAudioOutput(plat::sdl2AudioOutput());
    const char* const saved = std::getenv("SDL_AUDIODRIVER");
    const std::string previous = saved != nullptr ? saved : "";
    for (const char* driver : {"dummy", "disk"}) {
        SCOPED_TRACE(driver);
        setenv("SDL_AUDIODRIVER", driver, 1);
        setenv("SDL_DISKAUDIOFILE", tempPath("disk.raw").c_str(), 1);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(FSOUND_Init(48000, 32, 0));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(std::string("no audio output (the \"") + driver +
                           "\" driver keeps no real time); the music is silent"),
                  std::string::npos)
            << err;
        int16_t frame[2] = {1, 1};
        EXPECT_TRUE(soundMix(frame, 1)) << "no device is open";
        EXPECT_EQ(frame[0], 0);
    }
    if (saved != nullptr)
        setenv("SDL_AUDIODRIVER", previous.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
    std::remove(tempPath("disk.raw").c_str());
}

}  // namespace
