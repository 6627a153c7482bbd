// tone_mp3.cpp - sine-tone MP3 files made with LAME for the sound tests.
#include "tests/sound/tone_mp3.h"

#include <lame/lame.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

bool writeToneMp3(const std::string& path, const ToneSpec& tone) {
    lame_global_flags* const gf = lame_init();
    if (gf == nullptr) return false;
    lame_set_in_samplerate(gf, tone.rate);
    lame_set_out_samplerate(gf, tone.rate);
    lame_set_num_channels(gf, tone.channels);
    lame_set_mode(gf, tone.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(gf, 128);
    lame_set_quality(gf, 5);
    lame_set_bWriteVbrTag(gf, 1);
    if (lame_init_params(gf) < 0) {
        lame_close(gf);
        return false;
    }

    const int frames = static_cast<int>(tone.seconds * tone.rate);
    std::vector<short> pcm(static_cast<size_t>(frames) * tone.channels);
    for (int i = 0; i < frames; ++i) {
        const double v = tone.amplitude * 32767.0 * std::sin(2.0 * M_PI * tone.hz * i / tone.rate);
        for (int c = 0; c < tone.channels; ++c) pcm[i * tone.channels + c] = static_cast<short>(v);
    }
    std::vector<unsigned char> mp3(frames * 5 / 4 + 7200 + 16384);
    int bytes = tone.channels == 1 ? lame_encode_buffer(gf, pcm.data(), pcm.data(), frames, mp3.data(),
                                                        static_cast<int>(mp3.size()))
                                   : lame_encode_buffer_interleaved(gf, pcm.data(), frames, mp3.data(),
                                                                    static_cast<int>(mp3.size()));
    bool ok = bytes >= 0;
    std::FILE* const f = std::fopen(path.c_str(), "wb+");
    ok = ok && f != nullptr && std::fwrite(mp3.data(), 1, bytes, f) == static_cast<size_t>(bytes);
    bytes = lame_encode_flush(gf, mp3.data(), static_cast<int>(mp3.size()));
    ok = ok && bytes >= 0 && std::fwrite(mp3.data(), 1, bytes, f) == static_cast<size_t>(bytes);
    if (ok) lame_mp3_tags_fid(gf, f);  // the Info tag, written over the reserved first frame
    if (f != nullptr) std::fclose(f);
    lame_close(gf);
    return ok;
}

std::string tempPath(const std::string& name) {
    return testing::TempDir() + "sound_" + std::to_string(getpid()) + "_" + name;
}
