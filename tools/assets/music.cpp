// The score, and its encoding to MP3.
//
// 120 beats per minute, so a beat is half a second and the show's phases fall on
// beats: the title card is beats 0-14 (no drums: a pad swells, a bell sings), the
// first flight 14-36 (the groove builds, a riser and a two-beat snare fill throw
// it into the drop), the spinning flight 36-60 (full band and the lead tune),
// the end card 60-104 (the tune once more, softer, then the band thins out and
// the last chord fades by 52 s). Key of A minor, i-VI-III-VII.
#include "tools/assets/assets.h"

#include <lame/lame.h>

#include <cmath>

namespace assets {
namespace {

constexpr double kBeat = 0.5;

struct Chord {
    double beat, beats;
    int bass;            // MIDI root for the bass
    int pad[4];          // pad voicing
    int tones[3];        // arpeggio tones
};

const int kAm[4] = {57, 60, 64, 71}, kF[4] = {53, 57, 60, 64}, kC[4] = {55, 60, 64, 67}, kG[4] = {55, 59, 62, 67};

Chord chord(double beat, double beats, char name) {
    Chord c{beat, beats, 0, {}, {}};
    const int* pad = kAm;
    switch (name) {
        case 'a': c.bass = 45; pad = kAm; c.tones[0] = 69; c.tones[1] = 72; c.tones[2] = 76; break;
        case 'f': c.bass = 41; pad = kF; c.tones[0] = 65; c.tones[1] = 69; c.tones[2] = 72; break;
        case 'c': c.bass = 48; pad = kC; c.tones[0] = 67; c.tones[1] = 72; c.tones[2] = 76; break;
        default:  c.bass = 43; pad = kG; c.tones[0] = 67; c.tones[1] = 71; c.tones[2] = 74; break;
    }
    for (int i = 0; i < 4; ++i) c.pad[i] = pad[i];
    return c;
}

std::vector<Chord> progression() {
    std::vector<Chord> cs;
    // title card
    cs.push_back(chord(0, 6, 'a'));
    cs.push_back(chord(6, 4, 'f'));
    cs.push_back(chord(10, 4, 'g'));
    // first flight: four bars, a bar of F and the two-beat G that leans into the drop
    const char build[] = "afcgf";
    for (int i = 0; i < 5; ++i) cs.push_back(chord(14 + 4 * i, 4, build[i]));
    cs.push_back(chord(34, 2, 'g'));
    // second flight
    const char peak[] = "afcgfg";
    for (int i = 0; i < 6; ++i) cs.push_back(chord(36 + 4 * i, 4, peak[i]));
    // end card
    const char outro[] = "afcgafcgf";
    for (int i = 0; i < 9; ++i) cs.push_back(chord(60 + 4 * i, 4, outro[i]));
    cs.push_back(chord(96, 8, 'a'));
    return cs;
}

struct Tune {
    double beat, beats;
    int note;
};

// The hook: two bars of question, two of answer, two that turn back home.
const Tune kMelody[] = {
    {0, 0.5, 69}, {0.5, 0.5, 72}, {1, 1, 76}, {2, 0.5, 74}, {2.5, 0.5, 72}, {3, 1, 76},
    {4, 1.5, 77}, {5.5, 0.5, 76}, {6, 1, 72}, {7, 1, 69},
    {8, 1.5, 79}, {9.5, 0.5, 76}, {10, 0.5, 72}, {10.5, 0.5, 74}, {11, 1, 76},
    {12, 1.5, 74}, {13.5, 0.5, 71}, {14, 1, 67}, {15, 1, 71},
    {16, 0.5, 69}, {16.5, 0.5, 72}, {17, 1, 77}, {18, 0.5, 76}, {18.5, 0.5, 77}, {19, 1, 81},
    {20, 1.5, 79}, {21.5, 0.5, 74}, {22, 1, 71}, {23, 1, 74},
};

// Bell motif over the title card.
const Tune kBells[] = {{1, 1, 76}, {2, 1, 81}, {3, 1, 79}, {4, 2, 76}, {6.5, 1, 77},
                       {7.5, 1, 72}, {8.5, 1.5, 74}, {10.5, 1, 74}, {11.5, 1, 71}, {12.5, 1.5, 67}};

double sec(double beat) { return beat * kBeat; }

void playDrums(Bus& bus) {
    const Place kickPlace{0.9, 0, 0.02, 0};
    const Place snarePlace{0.35, 0.05, 0.25, 0};
    // First flight: kick from the start, hats join, snare from the third bar.
    for (int b = 14; b < 34; ++b) {
        const double grow = (b - 14) / 20.0;
        kick(bus, sec(b), {0.55 + 0.3 * grow, 0, 0.02, 0});
        hat(bus, sec(b + 0.5), 0.03, {0.10 + 0.08 * grow, 0.3, 0.05, 0});
        if (b >= 22 && (b - 14) % 2 == 1) snare(bus, sec(b), snarePlace);
    }
    // The two-beat fill: sixteenths getting louder.
    for (int i = 0; i < 8; ++i) snare(bus, sec(34 + 0.25 * i), {0.15 + 0.03 * i, (i % 2 ? 0.2 : -0.2), 0.2, 0});
    riser(bus, sec(28), sec(8), {0.25, 0, 0.4, 0});
    crash(bus, sec(14), {0.12, -0.3, 0.3, 0});
    // Second flight: full groove.
    for (int b = 36; b < 60; ++b) {
        kick(bus, sec(b), kickPlace);
        if ((b - 36) % 2 == 1) snare(bus, sec(b), snarePlace);
        for (int s = 0; s < 4; ++s) {
            const double accent = s == 2 ? 0.2 : (s == 0 ? 0.08 : 0.12);
            hat(bus, sec(b + 0.25 * s), s == 2 ? 0.09 : 0.025, {accent, s % 2 ? 0.35 : -0.25, 0.05, 0});
        }
    }
    for (int i = 0; i < 4; ++i) snare(bus, sec(58.5 + 0.375 * i), {0.2 + 0.05 * i, 0, 0.25, 0});
    crash(bus, sec(36), {0.3, 0.25, 0.4, 0});
    crash(bus, sec(60), {0.3, -0.25, 0.5, 0});
    // End card: the groove carries on for two bars, then only soft hats, then nothing.
    for (int b = 60; b < 68; ++b) {
        kick(bus, sec(b), {0.8 - 0.08 * (b - 60), 0, 0.02, 0});
        hat(bus, sec(b + 0.5), 0.04, {0.12, 0.3, 0.1, 0});
    }
    for (int b = 68; b < 84; ++b) hat(bus, sec(b + 0.5), 0.04, {0.1 * (84 - b) / 16.0, 0.3, 0.15, 0});
}

// Beats after the last kick, for ducking pads and bass under the kick.
double duck(double beat) {
    const bool drums = (beat >= 14 && beat < 34) || (beat >= 36 && beat < 68);
    if (!drums) return 1.0;
    const double since = beat - std::floor(beat);
    return 1.0 - 0.45 * std::exp(-since / 0.25);
}

void playHarmony(Bus& bus, const std::vector<Chord>& chords) {
    for (const Chord& c : chords) {
        // Pads: dark under the title, opening up through the flights, closing at the end.
        double cutoff = 900, level = 0.16;
        if (c.beat >= 14) cutoff = 900 + 1800 * std::fmin(1.0, (c.beat - 14) / 22);
        if (c.beat >= 36) cutoff = 3200, level = 0.13;
        if (c.beat >= 60) cutoff = 2200 - 18 * (c.beat - 60), level = 0.15;
        for (int v = 0; v < 4; ++v) {
            const double pan = (v - 1.5) * 0.35;
            padNote(bus, sec(c.beat), sec(c.beats), c.pad[v], cutoff, {level, pan, 0.6, 0});
        }
        // Bass: held under the title and at the very end, eighth notes in the flights.
        if (c.beat < 14 || c.beat >= 92) {
            bassNote(bus, sec(c.beat), sec(c.beats), c.bass, 0.2, {0.32, 0, 0.05, 0});
        } else {
            const double bright = c.beat < 36 ? 0.4 + 0.4 * (c.beat - 14) / 22 : (c.beat < 60 ? 0.9 : 0.5);
            for (double e = 0; e < c.beats; e += 0.5) {
                const int note = c.bass + ((int(e * 2) % 4 == 3) ? 12 : 0);
                double level = 0.42 * duck(c.beat + e + 0.01);
                if (c.beat < 36) level *= 0.6 + 0.4 * (c.beat + e - 14) / 22;   // the build grows
                if (c.beat >= 60) level *= (104 - c.beat) / 44;
                bassNote(bus, sec(c.beat + e), sec(0.42), note, bright, {level, 0, 0.03, 0});
            }
        }
        // Arpeggio: sixteenths from the first flight to the middle of the end card.
        if (c.beat >= 14 && c.beat < 92) {
            const int pattern[8] = {0, 1, 2, 3, 1, 2, 3, 4};
            for (int s = 0; s < int(c.beats * 4); ++s) {
                const int idx = pattern[s % 8];
                const int note = c.tones[idx % 3] + 12 * (idx / 3);
                double level = 0.09, bright = 0.3 + 0.5 * std::fmin(1.0, (c.beat - 14) / 22);
                if (c.beat >= 60) level = 0.09 * (92 - c.beat) / 32, bright = 0.5;
                const double pan = (s % 2 ? 0.45 : -0.45);
                pluckNote(bus, sec(c.beat + 0.25 * s), note, bright, {level, pan, 0.25, 0.35});
            }
        }
    }
}

void playMelodies(Bus& bus) {
    for (const Tune& t : kBells) bellNote(bus, sec(t.beat), t.note + 12, {0.11, 0.2, 0.7, 0.4});
    for (const Tune& t : kMelody) leadNote(bus, sec(36 + t.beat), sec(t.beats * 0.95), t.note, {0.2, 0.05, 0.35, 0.3});
    // The tune's first four bars again under the end card, softer and lower.
    for (const Tune& t : kMelody)
        if (t.beat < 16) leadNote(bus, sec(60 + t.beat), sec(t.beats * 0.95), t.note - 12, {0.14, -0.1, 0.5, 0.35});
    // And a last bell on the final chord.
    bellNote(bus, sec(96), 81, {0.08, 0.1, 0.8, 0.4});
    bellNote(bus, sec(98), 76, {0.06, -0.2, 0.8, 0.4});
}

}  // namespace

Stereo composeMusic() {
    Bus bus{size_t(kMusicSamples)};
    playDrums(bus);
    playHarmony(bus, progression());
    playMelodies(bus);
    Stereo out = mixDown(bus, sec(0.75));
    // Fade the title in over the first half second and everything out from 47 s
    // to 51.5 s; soft-limit, then normalise to just under full scale.
    double peak = 0;
    for (size_t i = 0; i < out.left.size(); ++i) {
        const double t = double(i) / kSampleRate;
        const double gain = smoothstep(0.0, 0.5, t) * (1.0 - smoothstep(47.0, 51.5, t));
        out.left[i] = float(std::tanh(out.left[i] * gain * 1.2));
        out.right[i] = float(std::tanh(out.right[i] * gain * 1.2));
        peak = std::fmax(peak, std::fmax(std::fabs(out.left[i]), std::fabs(out.right[i])));
    }
    const double scale = peak > 0 ? 0.89 / peak : 1.0;
    for (size_t i = 0; i < out.left.size(); ++i) {
        out.left[i] = float(out.left[i] * scale);
        out.right[i] = float(out.right[i] * scale);
    }
    return out;
}

std::vector<uint8_t> encodeMp3(const Stereo& pcm) {
    lame_global_flags* gf = lame_init();
    if (!gf) return {};
    lame_set_in_samplerate(gf, kSampleRate);
    lame_set_out_samplerate(gf, kSampleRate);
    lame_set_num_channels(gf, 2);
    lame_set_mode(gf, JOINT_STEREO);
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, kBitRate);
    lame_set_quality(gf, 5);
    // The Info/LAME tag frame carries the encoder delay and padding, so decoders
    // start at the first real sample; no ID3 tag may push it off the file's start.
    lame_set_bWriteVbrTag(gf, 1);
    lame_set_write_id3tag_automatic(gf, 0);
    if (lame_init_params(gf) < 0) {
        lame_close(gf);
        return {};
    }
    std::vector<uint8_t> out;
    const int chunk = 8192;
    std::vector<uint8_t> buf(size_t(chunk) * 5 / 4 + 7200);
    bool ok = true;
    for (size_t pos = 0; ok && pos < pcm.left.size(); pos += chunk) {
        const int n = int(std::min<size_t>(chunk, pcm.left.size() - pos));
        const int written = lame_encode_buffer_ieee_float(gf, &pcm.left[pos], &pcm.right[pos], n, buf.data(),
                                                          int(buf.size()));
        if (written < 0) ok = false;
        else out.insert(out.end(), buf.begin(), buf.begin() + written);
    }
    const int tail = ok ? lame_encode_flush(gf, buf.data(), int(buf.size())) : -1;
    if (tail < 0) ok = false;
    else out.insert(out.end(), buf.begin(), buf.begin() + tail);
    // LAME left an empty frame at the start for the tag; fill it in now.
    unsigned char tag[4096];
    const size_t tagSize = ok ? lame_get_lametag_frame(gf, tag, sizeof tag) : 0;
    lame_close(gf);
    if (!ok || tagSize == 0 || tagSize > sizeof tag || tagSize > out.size()) return {};
    std::copy(tag, tag + tagSize, out.begin());
    return out;
}

}  // namespace assets
