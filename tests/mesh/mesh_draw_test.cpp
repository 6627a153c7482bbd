// mesh_draw_test.cpp - the GL calls of the mesh's two draw modes, recorded.
#include "platform/gl.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "mesh/mesh.h"
#include "platform/platform.h"
#include "platform/offscreen/offscreen_gl.h"
#include "tests/support/gl_recorder.h"
#include "tests/support/test_assets.h"

namespace {

// Read before any test can draw: the counter is a constant-initialised global.
const int32_t initialFrameCounter = frameCounter;

// A 2 x 2 square facing +z, texture u = 0 on its left (x = -1) edge.
const char* const kSquare =
    "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "vn 0 0 1\n"
    "f 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/4/1\n";

const uint32_t kRed = 0xff0000, kBlue = 0x0000ff;

// A folder holding the files the mesh loads, each only when asked for.
std::string makeShipFolder(bool withMesh, bool withTexture) {
    const std::string dir = testassets::makeScratchDir();
    if (withMesh) testassets::writeFile(dir + "/zazozodoze_tex.obj", kSquare);
    if (withTexture) {
        mkdir((dir + "/images").c_str(), 0755);
        // Left half red, right half blue.
        testassets::writeBmp(dir + "/images/zazozodoze.bmp", 8, 8, [](int x, int) { return x < 4 ? kRed : kBlue; });
    }
    return dir;
}

class MeshTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gl = std::make_unique<plat::OffscreenGl>(640, 480);
        ASSERT_EQ(chdir(makeShipFolder(true, true).c_str()), 0);
        if (!gl->ok()) return;
        glViewport(0, 0, 640, 480);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, 640 / 480.0, 1.0, 500.0);
        glMatrixMode(GL_MODELVIEW);
    }
    static void TearDownTestSuite() { gl.reset(); }
    void SetUp() override { ASSERT_TRUE(gl->ok()) << gl->error(); }

    static std::vector<std::string> recordDraw(const Mesh& mesh, int spinMode, int angle) {
        glrec::start();
        mesh.draw(spinMode, angle);
        return glrec::text(glrec::stop());
    }
    // The calls that turn the mesh: everything from the translation to the batch.
    static std::vector<std::string> rotations(const std::vector<std::string>& calls) {
        std::vector<std::string> out;
        for (const std::string& c : calls)
            if (c.rfind("glRotatef", 0) == 0) out.push_back(c);
        return out;
    }

    static std::unique_ptr<plat::OffscreenGl> gl;
};
std::unique_ptr<plat::OffscreenGl> MeshTest::gl;

}  // namespace

TEST_F(MeshTest, LoadsItsFilesAndKeepsItsPosition) {
    Mesh mesh(0.0f, -5.0f, -30.0f);
    EXPECT_EQ(mesh.triangleCount, 2);
    ASSERT_NE(mesh.vertices, nullptr);
    EXPECT_EQ(mesh.vertices[24 + 8 + 0], 1.0f);  // second triangle, second corner: x of position 3
    EXPECT_TRUE(glIsTexture(static_cast<GLuint>(mesh.textureId)));
    EXPECT_EQ(mesh.getX(), 0.0f);
    EXPECT_EQ(mesh.getY(), -5.0f);
    EXPECT_EQ(mesh.getZ(), -30.0f);
    mesh.setPosition(1.25f, -7.5e-3f, 123456.789f);
    EXPECT_EQ(mesh.getX(), 1.25f);
    EXPECT_EQ(mesh.getY(), -7.5e-3f);
    EXPECT_EQ(mesh.getZ(), 123456.789f);
}

TEST_F(MeshTest, DrawMakesItsCallsInOrder) {
    Mesh mesh(1.0f, 2.0f, -3.0f);
    const std::string id = std::to_string(mesh.textureId);
    const std::vector<std::string> expected = {
        "glLoadIdentity()",
        "glEnable(3553)",  // GL_TEXTURE_2D
        "glBindTexture(3553, " + id + ")",
        "glEnable(2896)",   // GL_LIGHTING
        "glEnable(16385)",  // GL_LIGHT1
        "glEnable(2929)",   // GL_DEPTH_TEST
        "glLightfv(16385, 4609, 1, 1, 1, 1)",  // GL_DIFFUSE, white
        "glTranslatef(1, 2, -3)",
        "glRotatef(10, 1, 1, 0)",
        "glRotatef(180, 0, 0, 1)",
        "glBegin(4)",  // GL_TRIANGLES
        "glTexCoord2f(0, 0)", "glNormal3f(0, 0, 1)", "glVertex3f(-1, -1, 0)",
        "glTexCoord2f(1, 0)", "glNormal3f(0, 0, 1)", "glVertex3f(1, -1, 0)",
        "glTexCoord2f(1, 1)", "glNormal3f(0, 0, 1)", "glVertex3f(1, 1, 0)",
        "glTexCoord2f(0, 0)", "glNormal3f(0, 0, 1)", "glVertex3f(-1, -1, 0)",
        "glTexCoord2f(1, 1)", "glNormal3f(0, 0, 1)", "glVertex3f(1, 1, 0)",
        "glTexCoord2f(0, 1)", "glNormal3f(0, 0, 1)", "glVertex3f(-1, 1, 0)",
        "glEnd()"};
    EXPECT_EQ(recordDraw(mesh, 1, 370), expected);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT1));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
}

TEST_F(MeshTest, TumbleTurnsOneDegreeMorePerDrawFromNinety) {
    EXPECT_EQ(initialFrameCounter, 90);
    Mesh mesh(0, 0, -10);
    const int32_t first = frameCounter;
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::string> expected = {"glRotatef(90, 0, 1, 0)",
                                                   "glRotatef(" + std::to_string(first + i) + ", 1, 0, 0)",
                                                   "glRotatef(180, 0, 0, 1)"};
        EXPECT_EQ(rotations(recordDraw(mesh, 0, 12345)), expected);
        EXPECT_EQ(frameCounter, first + i + 1);
    }
    // Spin-mode draws in between neither read nor move the counter.
    EXPECT_EQ(rotations(recordDraw(mesh, 1, 45))[0], "glRotatef(45, 1, 1, 0)");
    EXPECT_EQ(frameCounter, first + 3);
    EXPECT_EQ(rotations(recordDraw(mesh, 0, 0))[1], "glRotatef(" + std::to_string(first + 3) + ", 1, 0, 0)");
    // A new show (the page's "Play again") tumbles as a new process does.
    resetMesh();
    EXPECT_EQ(frameCounter, initialFrameCounter);
    EXPECT_EQ(rotations(recordDraw(mesh, 0, 0))[1], "glRotatef(90, 1, 0, 0)");
}

TEST_F(MeshTest, SpinTurnsByTheAngleModulo360KeepingItsSign) {
    Mesh mesh(0, 0, -10);
    const int32_t counter = frameCounter;
    const std::pair<int, const char*> cases[] = {{0, "0"},       {360, "0"},     {720, "0"},
                                                 {370, "10"},    {-30, "-30"},   {-390, "-30"},
                                                 {999, "279"},   {359, "359"}};
    for (const auto& [angle, turn] : cases) {
        EXPECT_EQ(rotations(recordDraw(mesh, 1, angle)),
                  (std::vector<std::string>{std::string("glRotatef(") + turn + ", 1, 1, 0)",
                                            "glRotatef(180, 0, 0, 1)"}))
            << "angle " << angle;
    }
    EXPECT_EQ(rotations(recordDraw(mesh, 2, 370))[0], "glRotatef(10, 1, 1, 0)");
    EXPECT_EQ(rotations(recordDraw(mesh, -1, -390))[0], "glRotatef(-30, 1, 1, 0)");
    EXPECT_EQ(frameCounter, counter);
}

TEST_F(MeshTest, MissingMeshFileStillSetsStateButSendsNoCorners) {
    char home[4096];
    ASSERT_NE(getcwd(home, sizeof home), nullptr);
    ASSERT_EQ(chdir(makeShipFolder(false, true).c_str()), 0);
    Mesh mesh(0, 0, -10);
    ASSERT_EQ(chdir(home), 0);
    EXPECT_EQ(mesh.triangleCount, -1);
    const std::vector<std::string> calls = recordDraw(mesh, 1, 0);
    ASSERT_EQ(calls.size(), 12u);
    EXPECT_EQ(calls[2], "glBindTexture(3553, " + std::to_string(mesh.textureId) + ")");
    EXPECT_EQ(calls[10], "glBegin(4)");
    EXPECT_EQ(calls[11], "glEnd()");
}

// The square, turned half a turn about z, shows its red (u < 0.5) half on the
// right, lit from the viewer, centred where its position projects.
TEST_F(MeshTest, RendersTheLitTexturedSquareWhereItStands) {
    Mesh mesh(2.0f, 1.0f, -10.0f);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw(1, 0);
    glFinish();
    const std::vector<uint8_t> rgb = gl->readRgbTopDown();
    auto at = [&](int x, int y) {
        const uint8_t* p = &rgb[static_cast<size_t>((y * 640 + x) * 3)];
        return std::vector<int>{p[0], p[1], p[2]};
    };
    // One unit at distance 10 under a 45-degree field of view is 240 / (10 tan 22.5) = 58 pixels.
    const int cx = 320 + 116, cy = 240 - 58;
    const std::vector<int> right = at(cx + 30, cy), left = at(cx - 30, cy);
    // Light 1's white diffuse on the default material gives 0.8 + 0.04 ambient: 214.
    EXPECT_NEAR(right[0], 214, 6);
    EXPECT_LT(right[1] + right[2], 40);
    EXPECT_NEAR(left[2], 214, 6);
    EXPECT_LT(left[0] + left[1], 40);
    for (auto [x, y] : {std::pair{320, 300}, std::pair{cx + 80, cy}, std::pair{cx, cy - 80}})
        EXPECT_EQ(at(x, y), (std::vector<int>{0, 0, 0})) << x << "," << y;
}

std::vector<int> endStatuses;

TEST(MeshEnd, MissingTextureEndsTheProcessWithFailure) {
    char home[4096];
    ASSERT_NE(getcwd(home, sizeof home), nullptr);
    ASSERT_EQ(chdir(makeShipFolder(true, false).c_str()), 0);
    endStatuses.clear();
    plat::setEndProcessHook([](int status) { endStatuses.push_back(status); });
    testing::internal::CaptureStderr();
    { Mesh mesh(0, 0, 0); }
    const std::string err = testing::internal::GetCapturedStderr();
    plat::setEndProcessHook(nullptr);
    ASSERT_EQ(chdir(home), 0);
    EXPECT_EQ(endStatuses, std::vector<int>{1});
    EXPECT_NE(err.find("images\\zazozodoze.bmp"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}
