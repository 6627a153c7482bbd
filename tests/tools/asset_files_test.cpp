// Runs the contrail-assets binary twice into temporary folders and checks every
// file it writes with readers of its own (BMP headers, OBJ records, MP3 frames).
#include <gtest/gtest.h>
#include <mpg123.h>

#include "tools/assets/assets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kImages[] = {"images/press.bmp",     "images/slut.bmp",       "images/particle.bmp",
                               "images/zazozodoze.bmp", "images/skybox/rt.bmp", "images/skybox/lt.bmp",
                               "images/skybox/up.bmp",  "images/skybox/dn.bmp", "images/skybox/ft.bmp",
                               "images/skybox/bt.bmp"};
const char* const kSkyFaces[] = {"rt", "lt", "up", "dn", "ft", "bt"};   // +X -X +Y -Y +Z -Z

std::vector<uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t le16(const std::vector<uint8_t>& b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return le16(b, at) | (le16(b, at + 2) << 16); }

int runTool(const std::string& args) {
    const std::string command =
        std::string(TOOL_LAUNCHER "\"") + CONTRAIL_ASSETS_TOOL + "\" " + args + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path makeTempDir(const char* tag) {
    std::string pattern = (fs::temp_directory_path() / (std::string("contrail-assets-") + tag + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

// A bottom-up 24-bit BMP as stored: row 0 is the first row in the file.
struct Bmp {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr;   // rows without padding
    const uint8_t* texel(int x, int row) const { return &bgr[(size_t(row) * width + x) * 3]; }
};

// Checks the header in detail; returns an empty string when all is well.
std::string parseBmp(const std::vector<uint8_t>& b, Bmp& out) {
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return "no BM header";
    if (le32(b, 2) != b.size()) return "file size field differs from the file";
    if (le32(b, 14) != 40) return "info header is not 40 bytes";
    const int32_t w = int32_t(le32(b, 18)), h = int32_t(le32(b, 22));
    if (w <= 0 || h <= 0) return "width or height not positive (top-down?)";
    if (le16(b, 26) != 1 || le16(b, 28) != 24 || le32(b, 30) != 0) return "not uncompressed 24-bit";
    const uint32_t offset = le32(b, 10), stride = (uint32_t(w) * 3 + 3) & ~3u;
    if (offset != 54) return "pixel data does not follow the headers";
    if (uint64_t(offset) + uint64_t(stride) * uint32_t(h) != b.size()) return "pixel data size mismatch";
    if (le32(b, 34) != 0 && le32(b, 34) != stride * uint32_t(h)) return "image size field wrong";
    out.width = w;
    out.height = h;
    out.bgr.clear();
    for (int r = 0; r < h; ++r) {
        const size_t row = offset + size_t(r) * stride;
        out.bgr.insert(out.bgr.end(), b.begin() + long(row), b.begin() + long(row + size_t(w) * 3));
        for (uint32_t p = uint32_t(w) * 3; p < stride; ++p)
            if (b[row + p] != 0) return "non-zero row padding";
    }
    return "";
}

struct Obj {
    std::vector<float> v, vt, vn;
    std::vector<int> f;   // 9 per face: p/t/n for three corners, 1-based
};

std::string parseObj(const std::string& text, Obj& out) {
    if (text.empty() || text[0] != '#') return "first line is not a comment";
    if (text.back() != '\n') return "last line not terminated";
    size_t start = 0;
    int lineNo = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (lineNo == 1) continue;
        if (line.size() > 255) return "line " + std::to_string(lineNo) + " longer than 255 bytes";
        float a, b, c;
        char tail;
        if (line.rfind("v ", 0) == 0 && std::sscanf(line.c_str(), "v %f %f %f %c", &a, &b, &c, &tail) == 3) {
            out.v.insert(out.v.end(), {a, b, c});
        } else if (line.rfind("vn ", 0) == 0 && std::sscanf(line.c_str(), "vn %f %f %f %c", &a, &b, &c, &tail) == 3) {
            out.vn.insert(out.vn.end(), {a, b, c});
        } else if (line.rfind("vt ", 0) == 0 && std::sscanf(line.c_str(), "vt %f %f %c", &a, &b, &tail) == 2) {
            out.vt.insert(out.vt.end(), {a, b});
        } else if (line.rfind("f ", 0) == 0) {
            int i[9];
            int used = 0;
            if (std::sscanf(line.c_str(), "f %d/%d/%d %d/%d/%d %d/%d/%d%n", &i[0], &i[1], &i[2], &i[3], &i[4], &i[5],
                            &i[6], &i[7], &i[8], &used) != 9 ||
                size_t(used) != line.size())
                return "line " + std::to_string(lineNo) + " is not a p/t/n triangle: " + line;
            out.f.insert(out.f.end(), i, i + 9);
        } else {
            return "line " + std::to_string(lineNo) + " is not a v/vt/vn/f record: " + line;
        }
    }
    return "";
}

struct Pcm {
    long rate = 0;
    int channels = 0;
    std::vector<short> samples;   // interleaved
};

bool decodeMp3(const fs::path& path, Pcm& pcm) {
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    if (!mh) return false;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    bool ok = mpg123_open(mh, path.c_str()) == MPG123_OK;
    int encoding = 0;
    ok = ok && mpg123_getformat(mh, &pcm.rate, &pcm.channels, &encoding) == MPG123_OK;
    ok = ok && mpg123_format_none(mh) == MPG123_OK &&
         mpg123_format(mh, pcm.rate, pcm.channels, MPG123_ENC_SIGNED_16) == MPG123_OK;
    std::vector<unsigned char> buf(65536);
    while (ok) {
        size_t done = 0;
        const int err = mpg123_read(mh, buf.data(), buf.size(), &done);
        const short* s = reinterpret_cast<const short*>(buf.data());
        pcm.samples.insert(pcm.samples.end(), s, s + done / 2);
        if (err == MPG123_DONE) break;
        if (err != MPG123_OK && err != MPG123_NEW_FORMAT) ok = false;
    }
    mpg123_close(mh);
    mpg123_delete(mh);
    return ok;
}

double rmsDb(const Pcm& pcm, double from, double to) {
    const size_t a = size_t(from * pcm.rate) * 2, b = std::min(pcm.samples.size(), size_t(to * pcm.rate) * 2);
    double sum = 0;
    for (size_t i = a; i < b; ++i) sum += double(pcm.samples[i]) * pcm.samples[i];
    const double rms = std::sqrt(sum / double(std::max<size_t>(1, b - a))) / 32768.0;
    return 20 * std::log10(rms + 1e-9);
}

class AssetFiles : public ::testing::Test {
protected:
    static fs::path first, second;
    static int firstStatus, secondStatus;

    static void SetUpTestSuite() {
        first = makeTempDir("a");
        second = makeTempDir("b");
        firstStatus = runTool("\"" + first.string() + "\"");
        secondStatus = runTool("\"" + second.string() + "\" mesh images music");
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        if (!first.empty()) fs::remove_all(first, ec);
        if (!second.empty()) fs::remove_all(second, ec);
    }
    void SetUp() override {
        ASSERT_FALSE(first.empty());
        ASSERT_EQ(firstStatus, 0);
        ASSERT_EQ(secondStatus, 0);
    }
    static Bmp bmp(const std::string& name) {
        Bmp out;
        const std::string error = parseBmp(readBytes(first / name), out);
        EXPECT_EQ(error, "") << name;
        return out;
    }
};
fs::path AssetFiles::first, AssetFiles::second;
int AssetFiles::firstStatus = -1, AssetFiles::secondStatus = -1;

TEST_F(AssetFiles, PicturesAreBottomUp24BitBmpsOfTheRightSize) {
    for (const char* name : kImages) {
        Bmp b;
        ASSERT_EQ(parseBmp(readBytes(first / name), b), "") << name;
        const bool particle = std::strcmp(name, "images/particle.bmp") == 0;
        const bool hull = std::strcmp(name, "images/zazozodoze.bmp") == 0;
        EXPECT_EQ(b.width, b.height) << name;
        const int expected = particle ? 64 : (hull && b.width == 256 ? 256 : 512);
        EXPECT_EQ(b.width, expected) << name;
        EXPECT_EQ(b.width & (b.width - 1), 0) << name << " is not a power of two";
        // A picture, not a flat fill: plenty of distinct colours.
        std::vector<uint32_t> colours;
        for (size_t i = 0; i + 2 < b.bgr.size(); i += 3 * 7)
            colours.push_back(b.bgr[i] | (b.bgr[i + 1] << 8) | (b.bgr[i + 2] << 16));
        std::sort(colours.begin(), colours.end());
        EXPECT_GT(std::unique(colours.begin(), colours.end()) - colours.begin(), 50) << name;
    }
}

TEST_F(AssetFiles, ParticleIsARoundGlowThatIsBlackAtItsEdges) {
    const Bmp p = bmp("images/particle.bmp");
    ASSERT_EQ(p.width, 64);
    for (int i = 0; i < 64; ++i)
        for (const auto& xy : {std::pair<int, int>{i, 0}, {i, 63}, {0, i}, {63, i}})
            for (int c = 0; c < 3; ++c) ASSERT_EQ(p.texel(xy.first, xy.second)[c], 0) << xy.first << "," << xy.second;
    // Brightest in the middle, without burning out to white.
    const uint8_t* centre = p.texel(32, 32);
    EXPECT_GT(centre[2], 100);
    EXPECT_LT(centre[2], 250);
    // Falls off with the distance from the centre, the same in every direction.
    EXPECT_GT(centre[1], p.texel(32, 40)[1]);
    EXPECT_GT(p.texel(32, 40)[1], p.texel(32, 50)[1]);
    EXPECT_NEAR(p.texel(32, 44)[1], p.texel(44, 32)[1], 2);
    EXPECT_NEAR(p.texel(32, 44)[1], p.texel(32, 19)[1], 2);
}

// Looks a direction up the way GL does for cube maps: the major axis picks the
// face, the cube-map face table of OpenGL gives (s, t); t = 0 is the first row
// uploaded, which is the first row stored in a bottom-up BMP.
const uint8_t* cubeTexel(const std::vector<Bmp>& faces, int axis, const double d[3]) {
    const double ma = std::fabs(d[axis]);
    double sc = 0, tc = 0;
    int face = 0;
    if (axis == 0) face = d[0] > 0 ? 0 : 1, sc = d[0] > 0 ? -d[2] : d[2], tc = -d[1];
    if (axis == 1) face = d[1] > 0 ? 2 : 3, sc = d[0], tc = d[1] > 0 ? d[2] : -d[2];
    if (axis == 2) face = d[2] > 0 ? 4 : 5, sc = d[2] > 0 ? d[0] : -d[0], tc = -d[1];
    const Bmp& b = faces[size_t(face)];
    const int x = std::clamp(int((sc / ma + 1) / 2 * b.width), 0, b.width - 1);
    const int y = std::clamp(int((tc / ma + 1) / 2 * b.height), 0, b.height - 1);
    return b.texel(x, y);
}

TEST_F(AssetFiles, SkyFacesMeetWithoutSeams) {
    std::vector<Bmp> faces;
    for (const char* f : kSkyFaces) faces.push_back(bmp(std::string("images/skybox/") + f + ".bmp"));
    // Along each of the cube's 12 edges, the two faces seen in the same direction
    // must agree much better than texels picked from unrelated places.
    double seam = 0, unrelated = 0;
    int count = 0;
    std::vector<const uint8_t*> others;
    for (int a = 0; a < 3; ++a)
        for (int b = a + 1; b < 3; ++b)
            for (int sa = -1; sa <= 1; sa += 2)
                for (int sb = -1; sb <= 1; sb += 2)
                    for (int k = 0; k < 400; ++k) {
                        double d[3];
                        const int c = 3 - a - b;
                        d[a] = sa;
                        d[b] = sb * 0.999;   // just inside face a
                        d[c] = -0.98 + 1.96 * k / 399.0;
                        const uint8_t* p = cubeTexel(faces, a, d);
                        const uint8_t* q = cubeTexel(faces, b, d);
                        for (int ch = 0; ch < 3; ++ch) seam += std::abs(int(p[ch]) - int(q[ch]));
                        others.push_back(q);
                        ++count;
                    }
    std::rotate(others.begin(), others.begin() + long(others.size() / 3), others.end());
    for (int a = 0, i = 0; a < 3; ++a)
        for (int b = a + 1; b < 3; ++b)
            for (int sa = -1; sa <= 1; sa += 2)
                for (int sb = -1; sb <= 1; sb += 2)
                    for (int k = 0; k < 400; ++k, ++i) {
                        double d[3];
                        d[a] = sa;
                        d[b] = sb * 0.999;
                        d[3 - a - b] = -0.98 + 1.96 * k / 399.0;
                        const uint8_t* p = cubeTexel(faces, a, d);
                        for (int ch = 0; ch < 3; ++ch) unrelated += std::abs(int(p[ch]) - int(others[size_t(i)][ch]));
                    }
    ASSERT_GT(count, 0);
    EXPECT_LT(seam, 0.4 * unrelated) << "mean seam difference " << seam / count << " vs " << unrelated / count;
}

TEST_F(AssetFiles, MeshIsAnObjOfValidTexturedTriangles) {
    const std::vector<uint8_t> bytes = readBytes(first / "zazozodoze_tex.obj");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find('\r'), std::string::npos);
    Obj obj;
    ASSERT_EQ(parseObj(text, obj), "");
    const size_t triangles = obj.f.size() / 9;
    EXPECT_GE(triangles, 1000u);
    EXPECT_LE(triangles, 10000u);
    const int nv = int(obj.v.size() / 3), nt = int(obj.vt.size() / 2), nn = int(obj.vn.size() / 3);
    for (size_t i = 0; i < obj.f.size(); i += 3) {
        ASSERT_TRUE(obj.f[i] >= 1 && obj.f[i] <= nv) << "position index " << obj.f[i];
        ASSERT_TRUE(obj.f[i + 1] >= 1 && obj.f[i + 1] <= nt) << "texture index " << obj.f[i + 1];
        ASSERT_TRUE(obj.f[i + 2] >= 1 && obj.f[i + 2] <= nn) << "normal index " << obj.f[i + 2];
    }
    for (size_t i = 0; i < obj.vn.size(); i += 3) {
        const double len = std::sqrt(obj.vn[i] * obj.vn[i] + obj.vn[i + 1] * obj.vn[i + 1] + obj.vn[i + 2] * obj.vn[i + 2]);
        ASSERT_NEAR(len, 1.0, 1e-4) << "normal " << i / 3 + 1;
    }
    for (float uv : obj.vt) {
        ASSERT_GE(uv, 0.0f);
        ASSERT_LE(uv, 1.0f);
    }
}

TEST_F(AssetFiles, ShipIsClosedOutwardFacingAndLiesAlongXNoseFirst) {
    const std::vector<uint8_t> bytes = readBytes(first / "zazozodoze_tex.obj");
    Obj obj;
    ASSERT_EQ(parseObj(std::string(bytes.begin(), bytes.end()), obj), "");
    auto pos = [&](int idx, int k) { return double(obj.v[size_t(idx - 1) * 3 + size_t(k)]); };
    auto nrm = [&](int idx, int k) { return double(obj.vn[size_t(idx - 1) * 3 + size_t(k)]); };
    double volume = 0;
    size_t disagree = 0, faces = 0;
    for (size_t f = 0; f < obj.f.size(); f += 9) {
        double a[3], b[3], c[3], n[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            a[k] = pos(obj.f[f], k);
            b[k] = pos(obj.f[f + 3], k);
            c[k] = pos(obj.f[f + 6], k);
            for (int corner = 0; corner < 3; ++corner) n[k] += nrm(obj.f[f + size_t(corner) * 3 + 2], k);
        }
        const double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const double fn[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        volume += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                   a[2] * (b[0] * c[1] - b[1] * c[0])) / 6;
        const double area2 = std::sqrt(fn[0] * fn[0] + fn[1] * fn[1] + fn[2] * fn[2]);
        EXPECT_GT(area2, 0.0) << "degenerate triangle " << f / 9 + 1;
        ++faces;
        if (fn[0] * n[0] + fn[1] * n[1] + fn[2] * n[2] <= 0) ++disagree;
    }
    // Counter-clockwise seen from outside, with the normals on the same side.
    EXPECT_GT(volume, 0.1) << "triangles wound inward";
    EXPECT_EQ(disagree, 0u) << disagree << " of " << faces << " triangles face against their normals";

    double lo[3] = {1e9, 1e9, 1e9}, hi[3] = {-1e9, -1e9, -1e9};
    for (size_t i = 0; i < obj.v.size(); ++i) {
        lo[i % 3] = std::min(lo[i % 3], double(obj.v[i]));
        hi[i % 3] = std::max(hi[i % 3], double(obj.v[i]));
    }
    const double length = hi[0] - lo[0];
    EXPECT_GE(length, 2.0);
    EXPECT_LE(length, 4.0);
    EXPECT_GT(length, hi[1] - lo[1]) << "the ship's long axis is x, so the tumble about x is a roll";
    // The nose is the narrow end: the front tenth of the ship is much slimmer than the tail.
    double front = 0, back = 0;
    for (size_t i = 0; i < obj.v.size(); i += 3) {
        const double x = obj.v[i], halfSpan = std::fabs(obj.v[i + 2]);
        if (x < lo[0] + 0.1 * length) front = std::max(front, halfSpan);
        if (x > hi[0] - 0.1 * length) back = std::max(back, halfSpan);
    }
    EXPECT_LT(front, 0.5 * back) << "the narrow end should be at -x";
    // The demo turns the mesh by Rz(180) and then Ry(90): the nose ends up at -z, away from the viewer.
    const double nose[3] = {lo[0], 0, 0};
    const double afterRz[3] = {-nose[0], -nose[1], nose[2]};
    const double afterRy[3] = {afterRz[2], afterRz[1], -afterRz[0]};
    EXPECT_LT(afterRy[2], -1.0);
}

TEST_F(AssetFiles, MusicBeginsWithTheLameInfoFrame) {
    const std::vector<uint8_t> mp3 = readBytes(first / "music.mp3");
    ASSERT_GT(mp3.size(), 1000u);
    // MPEG-1 layer III frame header at byte 0, 48 kHz, two channels.
    ASSERT_EQ(mp3[0], 0xFF);
    ASSERT_EQ(mp3[1] & 0xFE, 0xFA);
    EXPECT_EQ((mp3[2] >> 2) & 3, 1) << "sample rate index of 48000 Hz";
    EXPECT_NE(mp3[3] >> 6, 3) << "mono";
    const int bitrates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    const int kbps = bitrates[mp3[2] >> 4];
    const size_t frameBytes = size_t(144 * kbps * 1000 / 48000 + ((mp3[2] >> 1) & 1));
    ASSERT_GT(frameBytes, 200u);
    // Side information of a stereo MPEG-1 frame is 32 bytes; the tag follows.
    const std::string tag(mp3.begin() + 36, mp3.begin() + 40);
    EXPECT_TRUE(tag == "Info" || tag == "Xing") << tag;
    const std::string frame(mp3.begin(), mp3.begin() + long(frameBytes));
    EXPECT_NE(frame.find("LAME"), std::string::npos);
    // The next frame is audio at a constant 160-192 kbit/s.
    ASSERT_GT(mp3.size(), frameBytes + 4);
    ASSERT_EQ(mp3[frameBytes], 0xFF);
    const int audioKbps = bitrates[mp3[frameBytes + 2] >> 4];
    EXPECT_GE(audioKbps, 160);
    EXPECT_LE(audioKbps, 192);
    // Constant bit rate: the file is about as long as the rate says.
    const double seconds = double(mp3.size()) * 8 / (audioKbps * 1000.0);
    EXPECT_GT(seconds, 53.0);
    EXPECT_LT(seconds, 56.0);
}

TEST_F(AssetFiles, MusicDecodesToTheWholeShowShapedByItsPhases) {
    Pcm pcm;
    ASSERT_TRUE(decodeMp3(first / "music.mp3", pcm));
    EXPECT_EQ(pcm.rate, 48000);
    ASSERT_EQ(pcm.channels, 2);
    const double seconds = double(pcm.samples.size()) / 2 / 48000;
    EXPECT_GE(seconds, 53.0);
    // The LAME tag's delay and padding let the decoder return exactly the samples
    // that were encoded, starting with the first.
    EXPECT_EQ(pcm.samples.size() / 2, size_t(assets::kMusicSamples));
    // Calm title, loud second flight, quieter end card, silence after the show.
    const double title = rmsDb(pcm, 1, 6.5), flight1 = rmsDb(pcm, 8, 17), flight2 = rmsDb(pcm, 19, 29.5);
    const double end = rmsDb(pcm, 36, 46), after = rmsDb(pcm, 52.2, 53.5);
    EXPECT_GT(title, -30.0) << "the title music is audible";
    EXPECT_GT(flight2, title + 3) << "the peak is clearly louder than the intro";
    EXPECT_GE(flight2, flight1 - 0.5);
    EXPECT_LT(end, flight2 - 3) << "the end card releases";
    EXPECT_LT(after, -60.0) << "the music has faded out by 52 s";
    size_t clipped = 0;
    for (short s : pcm.samples) clipped += (s >= 32767 || s <= -32768);
    EXPECT_LT(clipped, pcm.samples.size() / 10000);
    // Left and right differ: it is stereo, not doubled mono.
    double diff = 0;
    for (size_t i = size_t(20 * 48000) * 2; i < size_t(21 * 48000) * 2; i += 2) diff += std::abs(pcm.samples[i] - pcm.samples[i + 1]);
    EXPECT_GT(diff / 48000, 50.0);
}

TEST_F(AssetFiles, TwoGenerationsAreByteIdentical) {
    std::vector<std::string> names(std::begin(kImages), std::end(kImages));
    names.push_back("zazozodoze_tex.obj");
    names.push_back("music.mp3");
    for (const std::string& name : names) {
        const std::vector<uint8_t> a = readBytes(first / name), b = readBytes(second / name);
        ASSERT_FALSE(a.empty()) << name;
        EXPECT_TRUE(a == b) << name << " differs between two runs";
    }
}

TEST(AssetTool, RejectsUnknownGroupsAndUnwritableFolders) {
    const fs::path dir = makeTempDir("c");
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(runTool("\"" + dir.string() + "\" sounds"), 2);
    EXPECT_EQ(runTool(""), 2);
    EXPECT_NE(runTool("/proc/contrail-no-such-folder mesh"), 0);
    // A single group writes only its own files.
    EXPECT_EQ(runTool("\"" + dir.string() + "\" mesh"), 0);
    EXPECT_TRUE(fs::exists(dir / "zazozodoze_tex.obj"));
    EXPECT_FALSE(fs::exists(dir / "music.mp3"));
    EXPECT_FALSE(fs::exists(dir / "images"));
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
