// The bad-data matrix: each data file the show reads, damaged in each way a
// copy of it could be, under the scene set-up and a few frames of every phase,
// on the scripted window system and an offscreen GL context. Checked: the
// boxes shown (caption, text, order), the exit statuses asked for through the
// exit hook, and that the run gets through at all (in the ASan build too).
#include "demo/demo.h"

#include "platform/audio.h"
#include "platform/whole_file.h"
#include "platform/offscreen/offscreen_gl.h"
#include "platform/platform.h"
#include "platform/scripted/scripted_platform.h"
#include "show/show.h"
#include "sound/sound.h"
#include "tests/sound/tone_mp3.h"
#include "tests/support/test_assets.h"

#include "platform/gl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum class Kind { Music, Mesh, Picture, SkyFace };
enum class Damage { Missing, Empty, Half, RandomBytes, OtherSize, Pipe };

struct DataFile {
    const char* name;
    const char* path;  // as the program opens it
    Kind kind;
    bool showNeedsIt;  // the ship's texture: without it the process ends with status 1
};

const DataFile kFiles[] = {
    {"Music", show::kMusicFile, Kind::Music, false},
    {"Mesh", show::kMeshFile, Kind::Mesh, false},
    {"MeshTexture", show::kMeshTextureFile, Kind::Picture, true},
    {"TitleCard", show::kTitleCardFile, Kind::Picture, false},
    {"EndCard", show::kEndCardFile, Kind::Picture, false},
    {"Particle", show::kParticleFile, Kind::Picture, false},
    {"SkyFace", show::kSkyFaceFiles[0], Kind::SkyFace, false},
};

const Damage kDamages[] = {Damage::Missing,     Damage::Empty,     Damage::Half,
                           Damage::RandomBytes, Damage::OtherSize, Damage::Pipe};

const char* nameOf(Damage d) {
    switch (d) {
    case Damage::Missing: return "Missing";
    case Damage::Empty: return "Empty";
    case Damage::Half: return "Half";
    case Damage::RandomBytes: return "RandomBytes";
    case Damage::OtherSize: return "OtherSize";
    case Damage::Pipe: return "Pipe";
    }
    return "?";
}

void PrintTo(const DataFile& f, std::ostream* os) { *os << f.name; }
void PrintTo(Damage d, std::ostream* os) { *os << nameOf(d); }

struct Outcome {
    std::vector<std::string> boxes;  // "caption | text | type"
    std::vector<int> statuses;
};

std::string boxLine(const std::string& caption, const std::string& text, uint32_t type) {
    return caption + " | " + text + " | " + std::to_string(type);
}

// What each kind of file promises. Music and mesh fail silently (the music
// plays silent, the mesh is empty). A picture that is not there is passed
// over without a word; one that is there but cannot be read shows the
// loader's one box; another size is fine, except for a sky-box face, which
// then counts as missing. The ship cannot fly without its texture.
Outcome expected(const DataFile& f, Damage d) {
    Outcome o;
    if (f.kind == Kind::Music || f.kind == Kind::Mesh) return o;
    std::string text;
    switch (d) {
    case Damage::Empty:
    case Damage::Pipe: text = std::string("Failed to open DIB file ") + f.path + ".\n"; break;
    case Damage::Half: text = "Image file conversion error."; break;
    case Damage::RandomBytes: text = "Unknown DIB file format."; break;
    case Damage::Missing:
    case Damage::OtherSize: break;
    }
    if (!text.empty()) o.boxes.push_back(boxLine("Error", text, plat::MB_OK));
    if (f.showNeedsIt && d != Damage::OtherSize) o.statuses.push_back(1);
    return o;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string bmp(const fs::path& where, int w, int h) {
    testassets::writeBmp(where.string(), w, h, [](int x, int y) {
        return static_cast<uint32_t>((x * 37 + y * 11) & 0xFF) << 8 | 0x402000;
    });
    return readAll(where);
}

std::string obj(int triangles) {
    std::string s = "# a fan\nv 0 0 0\nvt 0.5 0.5\nvn 0 0 1\n";
    for (int i = 0; i <= triangles; ++i) {
        const double a = 6.283185307 * i / triangles;
        s += "v " + std::to_string(std::cos(a)) + " " + std::to_string(std::sin(a)) + " 0\nvt 0 1\n";
    }
    for (int i = 0; i < triangles; ++i)
        s += "f 1/1/1 " + std::to_string(i + 2) + "/" + std::to_string(i + 2) + "/1 " +
             std::to_string(i + 3) + "/" + std::to_string(i + 3) + "/1\n";
    return s;
}

std::string mp3(const fs::path& where, double seconds) {
    ToneSpec tone;
    tone.seconds = seconds;
    if (!writeToneMp3(where.string(), tone)) return {};
    return readAll(where);
}

// The valid file and one of another size, as bytes.
struct Versions {
    std::string good, otherSize;
};

std::string randomBytes(size_t n) {
    std::mt19937 rng(20240611);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    if (s[0] == 'B') s[0] = 'b';  // not a BMP signature
    return s;
}

// Opens the FIFO's other end while the set-up is stuck opening it, so a
// loader that waits on a pipe is found out instead of hanging the test.
class PipeWatch {
public:
    explicit PipeWatch(std::string path) : path_(std::move(path)), thread_([this] { watch(); }) {}
    ~PipeWatch() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    bool blocked() const { return blocked_; }

private:
    void watch() {
        using namespace std::chrono_literals;
        std::unique_lock<std::mutex> lock(mutex_);
        // A loader that refuses the pipe holds it open for far less than this.
        if (wake_.wait_for(lock, 1s, [this] { return done_; })) return;
        while (!wake_.wait_for(lock, 20ms, [this] { return done_; })) {
            const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                blocked_ = true;
                ::close(fd);  // the reader sees an empty file and carries on
            }
        }
    }

    const std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::atomic<bool> blocked_{false};
    std::thread thread_;
};

int32_t testClock = 0;
int clockOf(void*) { return testClock; }

std::vector<int> endStatuses;
void recordEnd(int status) { endStatuses.push_back(status); }

using Row = std::tuple<DataFile, Damage>;

class BadData : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite() {
        dir = testassets::makeScratchDir();
        const fs::path scratch = dir / "scratch";
        fs::create_directories(scratch);
        fs::create_directories(dir / "images" / "skybox");
        versions[show::kMusicFile] = {mp3(scratch / "a.mp3", 1.0), mp3(scratch / "b.mp3", 2.5)};
        versions[show::kMeshFile] = {obj(4), obj(40)};
        for (const char* p :
             {show::kMeshTextureFile, show::kTitleCardFile, show::kEndCardFile, show::kParticleFile})
            versions[p] = {bmp(scratch / "a.bmp", 8, 8), bmp(scratch / "b.bmp", 16, 4)};
        const std::string face = bmp(scratch / "face.bmp", 512, 512);
        for (const char* p : show::kSkyFaceFiles) versions[p] = {face, bmp(scratch / "small.bmp", 256, 256)};
        for (const auto& [path, v] : versions) testassets::writeFile(onDisk(path), v.good);

        plat::setPlatform(plat::scriptedPlatform());
        plat::setMp3Decoder(plat::mpg123Decoder());
        soundSetClockOverride(clockOf, nullptr);
        plat::setEndProcessHook(recordEnd);
        previous = fs::current_path();
        fs::current_path(dir);
        gl = new plat::OffscreenGl(640, 480);
    }
    static void TearDownTestSuite() {
        delete gl;
        fs::current_path(previous);
        plat::setEndProcessHook(nullptr);
        soundSetClockOverride(nullptr, nullptr);
        plat::setMp3Decoder(nullptr);
        plat::setPlatform(nullptr);
    }

    static std::string onDisk(const std::string& path) {
        return (dir / plat::nativePath(path.c_str())).string();
    }

    static void damage(const DataFile& f, Damage d) {
        const std::string at = onDisk(f.path);
        const Versions& v = versions.at(f.path);
        fs::remove(at);
        switch (d) {
        case Damage::Missing: break;
        case Damage::Empty: testassets::writeFile(at, ""); break;
        case Damage::Half: testassets::writeFile(at, v.good.substr(0, v.good.size() / 2)); break;
        case Damage::RandomBytes: testassets::writeFile(at, randomBytes(v.good.size())); break;
        case Damage::OtherSize: testassets::writeFile(at, v.otherSize); break;
        case Damage::Pipe: ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0) << at; break;
        }
    }
    static void restore(const DataFile& f) {
        const std::string at = onDisk(f.path);
        fs::remove(at);
        testassets::writeFile(at, versions.at(f.path).good);
    }

    // The set-up, then a few frames of each phase, as the shell would run them.
    static void playThrough() {
        demoState.pathRebuilt = false;  // so that every row builds path 2 too
        initScene();
        for (int32_t t : {0, 3000, 6999, 7000, 10000, 17999, 18000, 25000, 29999, 30000, 40000, 51999}) {
            testClock = t;
            drawScene();
        }
        glFinish();
    }

    static fs::path dir, previous;
    static std::map<std::string, Versions> versions;
    static plat::OffscreenGl* gl;
};
fs::path BadData::dir, BadData::previous;
std::map<std::string, Versions> BadData::versions;
plat::OffscreenGl* BadData::gl = nullptr;

TEST_P(BadData, ShowsTheRightBoxesAndEndsOnlyWhereItMust) {
    const auto& [file, damageKind] = GetParam();
    ASSERT_TRUE(gl->ok()) << gl->error();
    ASSERT_FALSE(versions.at(file.path).good.empty());
    plat::resetScript();
    endStatuses.clear();
    damage(file, damageKind);

    bool blocked = false;
    {
        std::unique_ptr<PipeWatch> watch;
        if (damageKind == Damage::Pipe) watch = std::make_unique<PipeWatch>(onDisk(file.path));
        playThrough();
        blocked = watch && watch->blocked();
    }
    restore(file);

    Outcome seen;
    for (const plat::RecordedBox& b : plat::script().boxes)
        seen.boxes.push_back(boxLine(b.caption, b.text, b.type));
    seen.statuses = endStatuses;
    std::string boxes;
    for (const std::string& b : seen.boxes) boxes += (boxes.empty() ? "" : " / ") + b;
    RecordProperty("boxes", boxes);
    RecordProperty("statuses", ::testing::PrintToString(seen.statuses));

    if (blocked) FAIL() << file.path << " as a FIFO: the open waited for a writer";
    const Outcome want = expected(file, damageKind);
    EXPECT_EQ(seen.boxes, want.boxes);
    EXPECT_EQ(seen.statuses, want.statuses);
}

INSTANTIATE_TEST_SUITE_P(Matrix, BadData,
                         ::testing::Combine(::testing::ValuesIn(kFiles), ::testing::ValuesIn(kDamages)),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    nameOf(std::get<1>(info.param));
                         });

}  // namespace
