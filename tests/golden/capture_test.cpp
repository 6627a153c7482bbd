// contrail-capture: the fixed-rate clock, the command line, and the show's
// pictures at five moments against reference frames.
//
// With CONTRAIL_UPDATE_GOLDEN=1 in the environment the golden test writes its
// frames into the reference folder instead of comparing them (scripts/update-golden);
// CONTRAIL_GOLDEN_AT limits it to one of its moments.
#include "demo/fixed_rate.h"
#include "tests/support/frame_compare.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace fixedrate;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs contrail-capture with `args` (already quoted where needed).
Outcome capture(const std::string& args) {
    // Per process: CTest runs this program's tests side by side.
    const std::string tag = std::to_string(getpid());
    const std::string outFile = testing::TempDir() + "capture_stdout_" + tag + ".txt";
    const std::string errFile = testing::TempDir() + "capture_stderr_" + tag + ".txt";
    const std::string cmd = std::string(TOOL_LAUNCHER "'") + CAPTURE_EXE + "' " + args + " >'" + outFile +
                            "' 2>'" + errFile + "'";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(outFile), slurp(errFile)};
}

std::string freshDir(const std::string& name) {
    const fs::path dir = fs::path(testing::TempDir()) / ("capture_" + name);
    fs::remove_all(dir);
    return dir.string();
}

std::string frameName(int64_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%05lld.png", static_cast<long long>(n));
    return name;
}

// ---- the clock ---------------------------------------------------------------

TEST(FrameClock, ShowMomentsAtSixtyFps) {
    EXPECT_EQ(clockOfFrame(1080, 60), 18000);   // the first frame of flight scene 2
    EXPECT_EQ(clockOfFrame(1079, 60), 17983);
    EXPECT_EQ(frameShownAt(18000, 60), 1080);
    EXPECT_EQ(frameShownAt(17999, 60), 1079);
    EXPECT_EQ(firstFrameFrom(52000, 60), 3120);  // the show is 3120 frames long
    EXPECT_EQ(clockOfFrame(3119, 60), 51983);
    EXPECT_EQ(clockOfFrame(1, 30), 33);          // rounded down
    EXPECT_EQ(frameShownAt(50, 30), 1);
    EXPECT_EQ(firstFrameFrom(50, 30), 2);
}

TEST(FrameClock, FrameLookupsAgreeWithASearchOverFrames) {
    for (const int64_t fps : {1, 7, 24, 25, 30, 60, 144, 1000}) {
        for (int64_t ms = 0; ms <= 3000; ms += 7) {
            SCOPED_TRACE("fps " + std::to_string(fps) + ", ms " + std::to_string(ms));
            int64_t first = 0;
            while (clockOfFrame(first, fps) < ms) ++first;
            int64_t shown = first;
            if (clockOfFrame(shown, fps) > ms) --shown;
            while (clockOfFrame(shown + 1, fps) <= ms) ++shown;
            EXPECT_EQ(firstFrameFrom(ms, fps), first);
            EXPECT_EQ(frameShownAt(ms, fps), shown);
        }
    }
}

TEST(FrameClock, SoundNeverDriftsFromThePictures) {
    EXPECT_EQ(sampleOfFrame(1, 60, 48000), 800);
    for (const int64_t fps : {7, 24, 60, 144}) {
        // Whole seconds of frames hold whole seconds of sound, whatever the rate.
        EXPECT_EQ(sampleOfFrame(fps * 52, fps, 48000), 52 * 48000) << fps;
        // Each frame's sound starts at most one sample before its clock reading.
        for (int64_t n = 0; n < 3 * fps; ++n) {
            const double exact = static_cast<double>(clockOfFrame(n, fps)) * 48;
            EXPECT_GE(static_cast<double>(sampleOfFrame(n, fps, 48000)), exact) << fps << " " << n;
            EXPECT_LT(static_cast<double>(sampleOfFrame(n, fps, 48000)), exact + 48) << fps << " " << n;
        }
    }
}

// ---- the command line --------------------------------------------------------

TEST(CaptureErrors, HelpAndBadOptions) {
    const Outcome help = capture("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--at S"), std::string::npos);
    for (const char* bad : {"--bogus", "--fps 0", "--fps 12x", "--fps", "--at 52", "--at -1",
                            "--from 5 --to 4", "--to abc", "--from 52", "--at 3 --to 5"}) {
        const Outcome r = capture(bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("contrail-capture: "), std::string::npos) << bad;
    }
}

TEST(CaptureErrors, MissingOrIncompleteDataFolder) {
    const std::string out = freshDir("errors_out");
    const std::string empty = freshDir("errors_empty_data");
    fs::create_directories(empty);

    Outcome r = capture("--data '" + empty + "/nowhere' --out '" + out + "' --at 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no data folder at " + empty + "/nowhere"), std::string::npos) << r.err;

    r = capture("--data '" + empty + "' --out '" + out + "' --at 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("music.mp3 is missing"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(out));
}

TEST(CaptureErrors, UnwritableOutputFolder) {
    const std::string dir = freshDir("errors_file");
    fs::create_directories(dir);
    std::ofstream(dir + "/plain") << "a file, not a folder";
    for (const std::string& out : {dir + "/plain", dir + "/plain/frames"}) {
        const Outcome r = capture("--out '" + out + "' --at 1");
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_NE(r.err.find("output folder " + out), std::string::npos) << r.err;
    }
}

// ---- frames of the show (need the generated data folder) -----------------------

// A frame depends on every frame before it, however it was asked for.
TEST(CaptureRange, AnyWayToAFrameGivesTheSameFrame) {
    const std::string full = freshDir("range_full"), at = freshDir("range_at"), part = freshDir("range_part");
    const std::string data = " --data '" DATA_DIR "' --no-video --out ";
    ASSERT_EQ(capture(data + "'" + full + "' --to 8.1").status, 0);
    const Outcome single = capture(data + "'" + at + "' --at 8.0");
    ASSERT_EQ(single.status, 0);
    EXPECT_EQ(single.out, "");  // the mesh loader's trace stays out of the terminal
    ASSERT_EQ(capture(data + "'" + part + "' --from 7.95 --to 8.05").status, 0);

    // Frames 0..485 in full; 477..482 (7950..8049 ms) in part; 480 alone in at.
    int64_t count = 0;
    for (const auto& e : fs::directory_iterator(full)) count += e.path().extension() == ".png";
    EXPECT_EQ(count, 486);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(part)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"contrail.wav", frameName(477), frameName(478), frameName(479),
                                                frameName(480), frameName(481), frameName(482)}));
    EXPECT_EQ(std::distance(fs::directory_iterator(at), fs::directory_iterator()), 1);

    const std::string reference = slurp(full + "/" + frameName(480));
    ASSERT_GT(reference.size(), 1000u);
    EXPECT_TRUE(slurp(at + "/" + frameName(480)) == reference);
    EXPECT_TRUE(slurp(part + "/" + frameName(480)) == reference);
    EXPECT_FALSE(slurp(part + "/" + frameName(481)) == reference);  // the show does move

    // The part's sound is the full capture's sound from frame 477 on.
    const std::string fullWav = slurp(full + "/contrail.wav"), partWav = slurp(part + "/contrail.wav");
    ASSERT_EQ(fullWav.size(), 44u + 486 * 800 * 4);
    ASSERT_EQ(partWav.size(), 44u + 6 * 800 * 4);
    EXPECT_TRUE(partWav.compare(44, std::string::npos, fullWav, 44 + 477 * 800 * 4, 6 * 800 * 4) == 0);
}

// The still cards are drawn until two frames of one come out the same, then
// repeated: every file must be the one drawing each frame gives. At 10 fps the
// whole show is cheap, so both cards' first and last frames are covered.
TEST(CaptureRange, RepeatedCardFramesAreTheDrawnOnes) {
    const std::string skipped = freshDir("cards_skipped"), drawn = freshDir("cards_drawn");
    const std::string args = " --data '" DATA_DIR "' --no-video --fps 10 --out ";
    const Outcome r = capture(args + "'" + skipped + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(capture(args + "'" + drawn + "' --no-skip").status, 0);

    // All but the first two frames of each card are repeated.
    const int64_t frames = firstFrameFrom(52000, 10);
    const int64_t title = firstFrameFrom(7000, 10), end = frames - firstFrameFrom(30000, 10);
    EXPECT_NE(r.err.find("(" + std::to_string(title - 2 + end - 2) + " repeating a still card)"),
              std::string::npos)
        << r.err;
    for (int64_t n = 0; n < frames; ++n) {
        const std::string a = slurp(skipped + "/" + frameName(n)), b = slurp(drawn + "/" + frameName(n));
        ASSERT_GT(b.size(), 100u) << frameName(n);
        ASSERT_TRUE(a == b) << frameName(n);
    }
    EXPECT_TRUE(slurp(skipped + "/contrail.wav") == slurp(drawn + "/contrail.wav"));
}

// Llvmpipe gives the same pixels run after run; another Mesa version may round
// a little differently (the tolerance: tests/support/frame_compare.h).
// CONTRAIL_GOLDEN_AT=S in the environment compares only the frame at S
// seconds (one of the five), for builds too slow to draw them all.
TEST(GoldenFrames, FiveMomentsOfTheShowMatchTheReferences) {
    std::vector<double> seconds = {3.0, 10.0, 18.0, 20.0, 40.0};
    if (const char* at = std::getenv("CONTRAIL_GOLDEN_AT")) {
        const double only = std::atof(at);
        ASSERT_TRUE(std::find(seconds.begin(), seconds.end(), only) != seconds.end())
            << "no golden frame at " << at;
        seconds = {only};
    }
    const std::string out = freshDir("golden");
    std::string args = "--data '" DATA_DIR "' --out '" + out + "'";
    for (const double s : seconds) args += " --at " + std::to_string(s);
    const Outcome r = capture(args);
    ASSERT_EQ(r.status, 0) << r.err;

    const bool update = std::getenv("CONTRAIL_UPDATE_GOLDEN") != nullptr;
    for (const double s : seconds) {
        const std::string name = frameName(frameShownAt(std::llround(s * 1000), 60));
        SCOPED_TRACE(name);
        if (update) {
            fs::copy_file(out + "/" + name, fs::path(GOLDEN_DIR) / name,
                          fs::copy_options::overwrite_existing);
            continue;
        }
        const frames::Picture got = frames::readPicture(out + "/" + name);
        const frames::Picture want = frames::readPicture(fs::path(GOLDEN_DIR) / name);
        ASSERT_EQ(want.width, 640) << "no reference; make them with scripts/update-golden";
        ASSERT_EQ(got.width, 640);
        ASSERT_EQ(got.height, want.height);
        // Most flight frames are black but for a small ship: its pixels count too.
        const frames::Difference d = frames::compare(got, want);
        EXPECT_TRUE(d.withinTolerance()) << d.describe();
    }
}

}  // namespace
