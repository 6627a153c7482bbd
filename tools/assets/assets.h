// contrail-assets: makes every data file the demo reads, from code alone.
//
// The demo runs in a folder holding "music.mp3", "zazozodoze_tex.obj" and the BMP
// pictures under "images/". None of them is drawn, recorded or borrowed: the music
// comes from a small synthesiser and is encoded with LAME, the ship is lofted from
// cross-sections, the pictures are painted by procedures with a built-in font.
// The output is a pure function of this code (own PRNG, no clock, one thread), so
// every build writes the same bytes. The tool is split into groups (music, mesh,
// images) that the build runs separately, so that editing one group's code does
// not regenerate the others.
//
//   contrail-assets <output folder> [music|mesh|images|all]...
#pragma once

#include "show/show.h"

#include <cstdint>
#include <string>
#include <vector>

namespace assets {

// ---- shared helpers (common.cpp) -------------------------------------------

// Small deterministic PRNG (splitmix64); the same stream on every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next();
    double uniform();                       // [0, 1)
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
private:
    uint64_t state;
};

uint32_t hash3(int32_t x, int32_t y, int32_t z, uint32_t seed);
double hashUnit(int32_t x, int32_t y, int32_t z, uint32_t seed);   // [0, 1)
double noise3(double x, double y, double z, uint32_t seed);        // [0, 1], smooth, about 0.5
double fbm3(double x, double y, double z, int octaves, uint32_t seed);
double clamp01(double v);
double smoothstep(double e0, double e1, double x);

// ---- pictures (bmp.cpp, font.cpp, pictures.cpp, skybox.cpp) ---------------

// Float RGB picture; row 0 is the TOP row while painting.
struct Picture {
    int width = 0, height = 0;
    std::vector<float> rgb;                 // 3 floats per pixel, 0..1 nominal
    Picture(int w, int h) : width(w), height(h), rgb(size_t(w) * h * 3, 0.0f) {}
    float* at(int x, int y) { return &rgb[(size_t(y) * width + x) * 3]; }
    void add(int x, int y, double r, double g, double b, double a = 1.0);
    void blend(int x, int y, double r, double g, double b, double a);
};

// 24-bit BMP: 'BM' header, 40-byte info header, bottom-up rows padded to 4 bytes.
std::vector<uint8_t> encodeBmp(const Picture& picture);
// 24-bit PNG, for the desktop icon.
std::vector<uint8_t> encodePng(const Picture& picture);
// The desktop icon: the middle square of the title card, averaged down to size x size.
Picture makeIcon(const Picture& card, int size);

// Built-in 5x9 bitmap font (7 rows above the baseline, 2 for descenders).
constexpr int kGlyphWidth = 5, kGlyphHeight = 9, kGlyphAdvance = 6;
// Rows of a glyph, top first, bit 4 = leftmost column; null for unknown chars.
const uint8_t* glyphRows(char c);
int textWidth(const std::string& text, double scale);   // in pixels
// Anti-aliased coverage mask of the text, scale pixels per font cell.
struct TextMask {
    int width = 0, height = 0;
    std::vector<float> alpha;
};
TextMask renderText(const std::string& text, double scale);

Picture makeTitleCard();
Picture makeEndCard();
Picture makeParticle();
Picture makeHullTexture();
// Sky-box faces in the order rt, lt, up, dn, ft, bt (+X, -X, +Y, -Y, +Z, -Z).
Picture makeSkyFace(int face, int size);

// ---- mesh (ship.cpp) ---------------------------------------------------------

struct ObjMesh {
    std::vector<float> positions;           // 3 per vertex
    std::vector<float> normals;             // 3 per vertex, unit length
    std::vector<float> uvs;                 // 2 per vertex
    std::vector<int> triangles;             // 3 vertex indices per triangle, CCW from outside
};
ObjMesh makeShip();
std::string encodeObj(const ObjMesh& mesh);

// ---- music (synth.cpp: instruments and effects; music.cpp: the score) -------

constexpr int kSampleRate = show::kMixRate;
constexpr int kMusicSamples = kSampleRate * 107 / 2;    // 53.5 s per channel
constexpr int kBitRate = 192;                           // kbit/s, constant

struct Stereo {
    std::vector<float> left, right;
};

// Where the instruments play into: a dry stereo pair and two mono sends.
struct Bus {
    std::vector<float> left, right, reverb, echo;
    explicit Bus(size_t samples) : left(samples), right(samples), reverb(samples), echo(samples) {}
};
// How one note sits in the mix.
struct Place {
    double gain = 1, pan = 0;       // pan -1 (left) .. 1 (right)
    double reverb = 0, echo = 0;    // send levels
};
double midiHz(double note);
// Every instrument renders one note starting at `start` seconds lasting `length`.
void padNote(Bus& bus, double start, double length, int note, double cutoff, const Place& place);
void pluckNote(Bus& bus, double start, int note, double brightness, const Place& place);
void bassNote(Bus& bus, double start, double length, int note, double brightness, const Place& place);
void leadNote(Bus& bus, double start, double length, int note, const Place& place);
void bellNote(Bus& bus, double start, int note, const Place& place);
void kick(Bus& bus, double start, const Place& place);
void snare(Bus& bus, double start, const Place& place);
void hat(Bus& bus, double start, double decay, const Place& place);
void crash(Bus& bus, double start, const Place& place);
void riser(Bus& bus, double start, double length, const Place& place);
// Runs the sends through the echo and reverb and sums everything to stereo.
Stereo mixDown(Bus& bus, double echoSeconds);

Stereo composeMusic();                      // kMusicSamples per channel, within +-1
std::vector<uint8_t> encodeMp3(const Stereo& pcm);   // first frame is the LAME tag

}  // namespace assets
