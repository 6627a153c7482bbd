// tone_mp3.h - writes small MP3 files of a sine tone for the sound tests.
#pragma once

#include <string>

struct ToneSpec {
    int rate = 48000;
    int channels = 2;
    double seconds = 1.0;
    double hz = 440.0;
    double amplitude = 0.5;  // of full scale
};

// Encodes the tone with LAME, with an Info tag so a decoder can trim the
// encoder's delay and padding. Returns false if the file cannot be written.
bool writeToneMp3(const std::string& path, const ToneSpec& tone);

// A fresh path in the test temporary folder.
std::string tempPath(const std::string& name);
