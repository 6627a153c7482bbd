// particles_test.cpp - particle steps, re-emission and the sprites' GL calls.
#include "platform/gl.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <memory>

#include "motion/motion.h"
#include "platform/offscreen/offscreen_gl.h"
#include "tests/support/gl_recorder.h"
#include "tests/support/test_assets.h"

namespace {

const float kSpread = 3.7037037e-6f;

class ParticleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gl = std::make_unique<plat::OffscreenGl>(64, 64);
        const std::string dir = testassets::makeScratchDir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        mkdir("images", 0755);
        testassets::writeBmp("images/particle.bmp", 8, 8, [](int, int) { return 0xffffffu; });
    }
    static void TearDownTestSuite() { gl.reset(); }
    void SetUp() override { ASSERT_TRUE(gl->ok()) << gl->error(); }

    static std::unique_ptr<plat::OffscreenGl> gl;
};
std::unique_ptr<plat::OffscreenGl> ParticleTest::gl;

float drawnAlpha(const Particle& p) {
    glrec::start();
    p.draw();
    for (const glrec::Call& c : glrec::stop())
        if (c.name == "glColor4f") return static_cast<float>(c.args[3]);
    ADD_FAILURE() << "no glColor4f";
    return NAN;
}

}  // namespace

TEST_F(ParticleTest, DrawMakesTheSpriteCallsInOrder) {
    const Particle p(7, 40, Vec3(1.5, -2.25, -30.0), Vec3(), Vec3(), Colour3f(1.0f, 0.5f, 0.25f));
    glrec::start();
    p.draw();
    const std::vector<std::string> expected = {
        "glEnable(3042)",            // GL_BLEND
        "glEnable(3553)",            // GL_TEXTURE_2D
        "glBlendFunc(770, 1)",       // GL_SRC_ALPHA, GL_ONE
        "glDisable(2929)",           // GL_DEPTH_TEST
        "glLoadIdentity()",
        "glTranslatef(1.5, -2.25, -30)",
        "glScalef(0.75, 0.75, 0.75)",
        "glBindTexture(3553, 7)",
        "glTexEnvi(8960, 8704, 8448)",  // GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE
        "glBegin(7)",                   // GL_QUADS
        "glColor4f(1, 0.5, 0.25, 10)",
        "glTexCoord2f(0, 1)", "glVertex3f(-1, -1, 0)",
        "glTexCoord2f(1, 1)", "glVertex3f(1, -1, 0)",
        "glTexCoord2f(1, 0)", "glVertex3f(1, 1, 0)",
        "glTexCoord2f(0, 0)", "glVertex3f(-1, 1, 0)",
        "glEnd()",
        "glDisable(3042)"};
    EXPECT_EQ(glrec::text(glrec::stop()), expected);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
}

TEST_F(ParticleTest, AlphaFadesOverTheLastTenthAndIsZeroWithoutLife) {
    Particle p(1, 20, Vec3(), Vec3(), Vec3(), Colour3f(1, 0, 0));
    EXPECT_EQ(drawnAlpha(p), 10.0f);
    p.life = 2;
    EXPECT_EQ(drawnAlpha(p), 1.0f);
    p.life = 1;
    EXPECT_EQ(drawnAlpha(p), 0.5f);
    p.life = 0;
    EXPECT_EQ(drawnAlpha(p), 0.0f);
    p.life = 7;  // 70/20 rounds through double, then to float
    EXPECT_EQ(drawnAlpha(p), static_cast<float>(70.0 / 20.0));

    Particle stillborn(1, 0, Vec3(), Vec3(), Vec3(), Colour3f(1, 0, 0));
    EXPECT_FALSE(stillborn.isAlive());
    EXPECT_EQ(drawnAlpha(stillborn), 0.0f);
    stillborn.step();
    EXPECT_EQ(stillborn.life, -1);
    EXPECT_EQ(drawnAlpha(stillborn), 0.0f);
}

TEST_F(ParticleTest, StepMovesByTheOldVelocityThenAccelerates) {
    Particle p(1, 10, Vec3(1, 2, 3), Vec3(0.5, 0, -1), Vec3(0, 0.25, 0), Colour3f());
    for (int n = 1; n <= 4; ++n) {
        p.step();
        EXPECT_EQ(p.position.x, 1 + 0.5 * n);
        EXPECT_EQ(p.position.y, 2 + 0.25 * n * (n - 1) / 2);  // sum of earlier velocities
        EXPECT_EQ(p.position.z, 3.0 - n);
        EXPECT_EQ(p.velocity.y, 0.25 * n);
        EXPECT_EQ(p.life, 10 - n);
    }
    p.init(5, Vec3(9, 9, 9), Vec3(), Vec3(), Colour3f(0, 1, 0));
    EXPECT_EQ(p.startLife, 5);
    EXPECT_EQ(p.life, 5);
    EXPECT_EQ(p.textureId, 1);
    EXPECT_EQ(p.position.x, 9.0);
}

TEST_F(ParticleTest, ConstructionGivesEveryParticleTheSystemsValues) {
    const ParticleSystem system(1000, Colour3f(1, 0, 0), Vec3(0, 0, 7), Vec3(5, 5, 0.25), Vec3());
    EXPECT_TRUE(glIsTexture(static_cast<GLuint>(system.textureId)));
    ASSERT_EQ(system.pool.size(), 1000u);
    for (const auto& p : system.pool) {
        EXPECT_EQ(p->textureId, system.textureId);
        EXPECT_EQ(p->colour.r, 1.0f);
        EXPECT_EQ(p->position.z, 7.0);
        EXPECT_EQ(p->velocity.z, 0.25);  // the base velocity's x and y are not used
        EXPECT_GE(p->life, 0);
        EXPECT_LT(p->life, 70);
        EXPECT_EQ(p->startLife, p->life);
        for (double v : {p->velocity.x, p->velocity.y}) {
            const double steps = v / static_cast<double>(kSpread);
            const double whole = std::round(steps);
            EXPECT_EQ(whole * static_cast<double>(kSpread), v);
            EXPECT_GE(whole, -500);
            EXPECT_LE(whole, 499);
        }
    }
}

TEST_F(ParticleTest, ParticlesDriftFromTheirEmissionAndAreReEmittedAtTheNewOrigin) {
    ParticleSystem system(300, Colour3f(1, 0, 0), Vec3(0, 0, 7), Vec3(0, 0, 0.25), Vec3());
    struct Start {
        Vec3 velocity;
        int life;
    };
    std::vector<Start> start;
    for (const auto& p : system.pool) start.push_back({p->velocity, p->life});

    const int n = 3;
    for (int i = 0; i < n; ++i) system.update();
    int checked = 0;
    for (size_t i = 0; i < start.size(); ++i) {
        if (start[i].life < n) continue;  // died on the way
        const Particle& p = *system.pool[i];
        EXPECT_NEAR(p.position.x, n * start[i].velocity.x, 1e-15);
        EXPECT_NEAR(p.position.y, n * start[i].velocity.y, 1e-15);
        EXPECT_DOUBLE_EQ(p.position.z, 7 + n * 0.25);
        EXPECT_EQ(p.life, start[i].life - n);
        ++checked;
    }
    EXPECT_GT(checked, 200);

    // Moving the origin leaves the living where they are.
    std::vector<Vec3> before;
    for (const auto& p : system.pool) before.push_back(p->position);
    system.setOrigin(Vec3(10, 20, 30));
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(system.pool[i]->position.x, before[i].x);

    // The dead are re-emitted there and stepped in the same update.
    std::vector<bool> dead;
    for (const auto& p : system.pool) dead.push_back(!p->isAlive());
    system.update();
    int reEmitted = 0;
    for (size_t i = 0; i < dead.size(); ++i) {
        const Particle& p = *system.pool[i];
        if (dead[i]) {
            ++reEmitted;
            EXPECT_EQ(p.life, p.startLife - 1);
            EXPECT_EQ(p.position.x, 10 + p.velocity.x);
            EXPECT_EQ(p.position.y, 20 + p.velocity.y);
            EXPECT_EQ(p.position.z, 30.25);
        } else {
            EXPECT_EQ(p.position.x, before[i].x + p.velocity.x);
        }
    }
    EXPECT_GT(reEmitted, 0);
}

TEST_F(ParticleTest, EmptySystemStillLoadsItsSpriteAndDrawsNothing) {
    ParticleSystem system(0, Colour3f(1, 0, 0), Vec3(), Vec3(), Vec3());
    EXPECT_TRUE(glIsTexture(static_cast<GLuint>(system.textureId)));
    EXPECT_TRUE(system.pool.empty());
    glrec::start();
    system.update();
    system.draw();
    system.respawn(0);  // no such particle
    EXPECT_TRUE(glrec::stop().empty());
    EXPECT_TRUE(system.pool.empty());

    // A populated system draws every particle, the dead included.
    ParticleSystem three(3, Colour3f(0, 1, 0), Vec3(), Vec3(0, 0, 0.25), Vec3());
    three.pool[1]->life = 0;
    glrec::start();
    three.draw();
    int sprites = 0;
    for (const glrec::Call& c : glrec::stop()) sprites += c.name == "glBegin";
    EXPECT_EQ(sprites, 3);
}
