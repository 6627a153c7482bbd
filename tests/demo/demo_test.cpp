// The show's timeline and scenes, driven by a clock the test sets, rendered
// into an offscreen context from a data folder of tiny pictures and a mesh.
#include "demo/demo.h"

#include "image/image.h"
#include "mesh/mesh.h"
#include "motion/motion.h"
#include "platform/offscreen/offscreen_gl.h"
#include "platform/platform.h"
#include "platform/scripted/scripted_platform.h"
#include "sound/sound.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/test_assets.h"

#include "platform/gl.h"
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int32_t testClock = 0;
int clockOf(void*) { return testClock; }

std::vector<int> endStatuses;
void recordEnd(int status) { endStatuses.push_back(status); }

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A BMP whose pixel (x, y), y counted from the top, is pick(x, y).
template <typename Pick>
void writeBmp(const fs::path& path, int w, int h, Pick pick) {
    fs::create_directories(path.parent_path());
    testassets::writeBmp(path.string(), w, h, [&](int x, int y) {
        const Rgb c = pick(x, h - 1 - y);
        return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
    });
}

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0};

// Quadrants: red top left, green top right, blue bottom left, yellow bottom right.
Rgb quadrants(int x, int y) {
    if (y < 4) return x < 4 ? kRed : kGreen;
    return x < 4 ? kBlue : kYellow;
}

class Show : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        plat::setPlatform(plat::scriptedPlatform());
        dir = fs::temp_directory_path() / ("contrail-demo-" + std::to_string(getpid()));
        writeBmp(dir / "images/press.bmp", 8, 8, quadrants);
        writeBmp(dir / "images/slut.bmp", 8, 8, [](int x, int y) { return quadrants(7 - x, 7 - y); });
        writeBmp(dir / "images/particle.bmp", 4, 4, [](int, int) { return Rgb{255, 255, 255}; });
        writeBmp(dir / "images/zazozodoze.bmp", 4, 4, [](int, int) { return Rgb{200, 200, 200}; });
        testassets::writeFile((dir / "zazozodoze_tex.obj").string(),
                              "# one triangle\nv -1 -1 0\nv 1 -1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0.5 1\n"
                              "vn 0 0 1\nf 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 2/2/1\n");
        previous = fs::current_path();
        fs::current_path(dir);
        gl = new plat::OffscreenGl(640, 480);
        alloccount::mapCode();  // the GL driver is loaded now
        soundSetClockOverride(clockOf, nullptr);
        plat::setEndProcessHook(recordEnd);
    }
    static void TearDownTestSuite() {
        delete gl;
        fs::current_path(previous);
        fs::remove_all(dir);
        soundSetClockOverride(nullptr, nullptr);
        plat::setEndProcessHook(nullptr);
        plat::setPlatform(nullptr);
    }
    void SetUp() override {
        // A new context per test, as a full-screen toggle makes one: no GL
        // state of an earlier test carries over.
        delete gl;
        gl = new plat::OffscreenGl(640, 480);
        ASSERT_TRUE(gl->ok()) << gl->error();
        glViewport(0, 0, 640, 480);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, 640.0 / 480.0, 1.0, 500.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        endStatuses.clear();
        plat::resetScript();
        // Every test starts a show of its own, as the program does: a fresh
        // set-up with nothing left of an earlier one (the earlier objects are
        // simply dropped, as a full-screen toggle drops them).
        demoState = DemoState();
        ASSERT_TRUE(initScene());
    }

    static Rgb frameAt(int32_t clock, int x, int y) {
        testClock = clock;
        drawScene();
        const std::vector<uint8_t> rgb = gl->readRgbTopDown();
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * 640 + x) * 3];
        return Rgb{p[0], p[1], p[2]};
    }
    static Rgb pixel(int x, int y) {
        const std::vector<uint8_t> rgb = gl->readRgbTopDown();
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * 640 + x) * 3];
        return Rgb{p[0], p[1], p[2]};
    }

    static fs::path dir, previous;
    static plat::OffscreenGl* gl;
};
fs::path Show::dir, Show::previous;
plat::OffscreenGl* Show::gl = nullptr;

TEST(Timeline, PhaseBounds) {
    EXPECT_EQ(phaseAt(-5), Phase::TitleCard);
    EXPECT_EQ(phaseAt(0), Phase::TitleCard);
    EXPECT_EQ(phaseAt(6999), Phase::TitleCard);
    EXPECT_EQ(phaseAt(7000), Phase::FlightScene1);
    EXPECT_EQ(phaseAt(17999), Phase::FlightScene1);
    EXPECT_EQ(phaseAt(18000), Phase::FlightScene2);
    EXPECT_EQ(phaseAt(29999), Phase::FlightScene2);
    EXPECT_EQ(phaseAt(30000), Phase::EndCard);
    EXPECT_EQ(phaseAt(51999), Phase::EndCard);
    EXPECT_EQ(phaseAt(52000), Phase::Over);
    EXPECT_EQ(phaseAt(INT32_MAX), Phase::Over);
}

TEST(Timeline, FlightIndicesFollowTheClockAndAreClamped) {
    EXPECT_EQ(flightIndex1(7000), 0);
    EXPECT_EQ(flightIndex1(7010), 0);
    EXPECT_EQ(flightIndex1(7011), 1);
    EXPECT_EQ(flightIndex1(10000), 272);
    EXPECT_EQ(flightIndex1(17999), 999);
    EXPECT_EQ(flightIndex1(18000), 999);  // the clock moved on between two readings
    EXPECT_EQ(flightIndex1(6000), 0);
    EXPECT_EQ(flightIndex1(INT32_MIN), 0);
    EXPECT_EQ(flightIndex2(18000), 999);
    EXPECT_EQ(flightIndex2(18011), 999);
    EXPECT_EQ(flightIndex2(18012), 998);
    EXPECT_EQ(flightIndex2(29999), 0);
    EXPECT_EQ(flightIndex2(30000), 0);
    EXPECT_EQ(flightIndex2(17000), 999);
    EXPECT_EQ(flightIndex2(INT32_MAX), 0);
}

TEST_F(Show, SetUpBuildsPathOneAndTurnsTexturingOn) {
    const DemoState& d = demoState;
    ASSERT_NE(d.path, nullptr);
    ASSERT_EQ(d.path->sampleCount, 1000);
    const Vec3* first = d.path->pointAt(0);
    const Vec3* last = d.path->pointAt(999);
    EXPECT_EQ(first->z, 5.0);
    EXPECT_EQ(last->x, 40.0);
    EXPECT_EQ(last->y, -15.0);
    EXPECT_EQ(last->z, -220.0);
    EXPECT_GT(d.titleTexture, 0);
    EXPECT_GT(d.endTexture, 0);
    EXPECT_NE(d.cubeMap, nullptr);
    EXPECT_EQ(d.particles->pool.size(), 1000u);
    EXPECT_EQ(d.mesh->getZ(), -30.0f);
    EXPECT_FALSE(d.pathRebuilt);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(plat::script().boxes.empty());
}

TEST_F(Show, TitleCardIsUprightCentredAndSpansTheMiddleThreeQuarters) {
    EXPECT_EQ(frameAt(3000, 200, 120), kRed);
    EXPECT_EQ(pixel(440, 120), kGreen);
    EXPECT_EQ(pixel(200, 360), kBlue);
    EXPECT_EQ(pixel(440, 360), kYellow);
    // The square of side 2 at 2.4 units spans x 80..560 of 640 (the texels at
    // its rim are blended with the opposite edge by the linear filter).
    const Rgb black{0, 0, 0};
    EXPECT_EQ(pixel(77, 240), black);
    EXPECT_FALSE(pixel(83, 240) == black);
    EXPECT_FALSE(pixel(556, 240) == black);
    EXPECT_EQ(pixel(563, 240), black);
    // Its top and bottom edges lie just outside the view.
    EXPECT_FALSE(pixel(320, 0) == black);
    EXPECT_FALSE(pixel(320, 479) == black);
    EXPECT_TRUE(endStatuses.empty());
}

TEST_F(Show, FlightOneMovesTheShipAlongThePathWithTheTrailBehind) {
    const DemoState& d = demoState;
    const int before = frameCounter;
    frameAt(10000, 0, 0);
    EXPECT_EQ(d.pathIndex, 272);
    EXPECT_EQ(frameCounter, before + 1);
    const Vec3* p = d.path->pointAt(272);
    EXPECT_EQ(d.mesh->getX(), static_cast<float>(p->x));
    EXPECT_EQ(d.mesh->getY(), static_cast<float>(p->y));
    EXPECT_EQ(d.mesh->getZ(), static_cast<float>(p->z));
    EXPECT_EQ(d.particles->origin.z, static_cast<double>(d.mesh->getZ()) + 5.0);
    EXPECT_EQ(d.particles->origin.x, static_cast<double>(d.mesh->getX()));
}

TEST_F(Show, FlightTwoRebuildsThePathOnceAndStartsAtItsTop) {
    DemoState& d = demoState;
    const int tumbles = frameCounter;
    frameAt(25000, 0, 0);  // first frame of the scene, however late
    EXPECT_TRUE(d.pathRebuilt);
    EXPECT_EQ(d.pathIndex, 999);
    EXPECT_EQ(d.path->pointAt(0)->y, -12.0);
    EXPECT_EQ(d.path->pointAt(0)->z, -20.0);
    EXPECT_EQ(d.mesh->getX(), 0.0f);
    EXPECT_EQ(d.mesh->getY(), 12.0f);
    EXPECT_EQ(d.mesh->getZ(), -20.0f);
    const BezierPath* pathTwo = d.path;
    frameAt(25000, 0, 0);
    EXPECT_EQ(d.path, pathTwo);
    EXPECT_EQ(d.pathIndex, 999 - 7000 / 12);
    frameAt(29999, 0, 0);
    EXPECT_EQ(d.mesh->getY(), -12.0f);
    EXPECT_EQ(frameCounter, tumbles);  // spinning leaves the tumble count alone
}

TEST_F(Show, EndCardShowsItsOwnColoursAfterTheFlight) {
    // Lighting and the particles' red are still set from the flight.
    glEnable(GL_LIGHTING);
    glColor3f(1.0f, 0.0f, 0.0f);
    EXPECT_EQ(frameAt(40000, 200, 120), kYellow);
    EXPECT_EQ(pixel(440, 360), kRed);
    EXPECT_EQ(pixel(440, 120), kBlue);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(endStatuses.empty());
    frameAt(51999, 0, 0);
    EXPECT_TRUE(endStatuses.empty());
    frameAt(52000, 0, 0);
    EXPECT_EQ(endStatuses, std::vector<int>{0});
}

TEST_F(Show, ANewSetUpRestartsTheShowButNeverRebuildsPathTwoAgain) {
    frameAt(25000, 0, 0);  // scene 2 has replaced path 1
    ASSERT_TRUE(initScene());
    DemoState& d = demoState;
    EXPECT_TRUE(d.pathRebuilt);
    const BezierPath* pathOne = d.path;
    frameAt(20000, 0, 0);
    EXPECT_EQ(d.path, pathOne);  // scene 2 flies the new path 1, backwards
    EXPECT_EQ(d.pathIndex, 999 - 2000 / 12);
    const Vec3* p = pathOne->pointAt(d.pathIndex);
    EXPECT_EQ(d.mesh->getZ(), static_cast<float>(p->z));
}

// Once a phase has begun its frames allocate nothing: the counter sees every
// allocation the program's own code makes (the GL driver's are its own affair).
TEST_F(Show, FramesAllocateNothingOnceAPhaseHasBegun) {
    const struct {
        const char* name;
        int32_t first, last;
        bool firstFrameAllocates;  // scene 2 builds its path as it begins
    } phases[] = {
        {"title card", 0, 6999, false},
        {"flight scene 1", 7000, 17999, false},
        {"flight scene 2", 18000, 29999, true},
        {"end card", 30000, 51999, false},
    };
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.name);
        uint64_t firstFrame = 0, laterFrames = 0;
        {
            const alloccount::Watch watch;
            const uint64_t start = alloccount::ofThisThread().program;
            for (int k = 0; k <= 12; ++k) {
                testClock = phase.first + (phase.last - phase.first) * k / 12;
                drawScene();
                if (k == 0) firstFrame = alloccount::ofThisThread().program - start;
            }
            glFinish();
            laterFrames = alloccount::ofThisThread().program - start - firstFrame;
        }
        EXPECT_EQ(firstFrame > 0, phase.firstFrameAllocates);
        EXPECT_EQ(laterFrames, 0u);
    }
}

}  // namespace
