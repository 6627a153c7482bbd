// show.h - the show's fixed facts, in one place: its timeline, its window, the
// length of its flight paths, the sound's mix rate and the data files it reads.
//
// The demo, the capture tool, the asset generator (and its CMake rules, which
// read the lines marked "data file" below) and the tests all take them from
// here. File names are written as the program opens them: "\" between folders,
// except for the particle sprite's "/".
#pragma once

#include <cstdint>

namespace show {

// Timeline, in milliseconds of the music clock.
constexpr int32_t kFlight1StartMs = 7000;  // the title card until then
constexpr int32_t kFlight2StartMs = 18000;
constexpr int32_t kEndCardStartMs = 30000;
constexpr int32_t kEndMs = 52000;  // the process ends here

// The window: full-screen first.
constexpr int kWidth = 640, kHeight = 480, kBits = 16;

// Each flight path is sampled this many times; indices run 0 .. kPathSamples - 1.
constexpr int32_t kPathSamples = 1000;
constexpr int32_t kLastPathSample = kPathSamples - 1;

constexpr int kMixRate = 48000;  // frames per second of the music's output

constexpr const char* kMusicFile = "music.mp3";                     // data file
constexpr const char* kMeshFile = "zazozodoze_tex.obj";             // data file
constexpr const char* kMeshTextureFile = "images\\zazozodoze.bmp";  // data file
constexpr const char* kTitleCardFile = "images\\press.bmp";         // data file
constexpr const char* kEndCardFile = "images\\slut.bmp";            // data file
constexpr const char* kParticleFile = "images/particle.bmp";        // data file
// The sky box: +x, -x, +y, -y, +z, -z.
constexpr const char* kSkyFaceFiles[6] = {
    "images\\skybox\\rt.bmp",  // data file
    "images\\skybox\\lt.bmp",  // data file
    "images\\skybox\\up.bmp",  // data file
    "images\\skybox\\dn.bmp",  // data file
    "images\\skybox\\ft.bmp",  // data file
    "images\\skybox\\bt.bmp",  // data file
};

}  // namespace show
