// The trail must be the same on every run: the particle system draws its
// numbers from the C library's rand() without ever seeding it. An unseeded
// rand() gives the sequence of srand(1), so the test starts from there and
// holds however often it runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "motion/motion.h"

namespace {

// The C library's unseeded rand() sequence, rebuilt from its additive
// feedback generator (state seeded with 1, r[i] = r[i-31] + r[i-3], the
// first 310 outputs discarded, each result shifted right by one).
class DefaultRandReplay {
public:
    DefaultRandReplay() {
        int32_t r[34];
        r[0] = 1;
        for (int i = 1; i < 31; ++i) {
            const int64_t next = (16807 * static_cast<int64_t>(r[i - 1])) % 2147483647;
            r[i] = static_cast<int32_t>(next < 0 ? next + 2147483647 : next);
        }
        for (int i = 31; i < 34; ++i) r[i] = r[i - 31];
        for (int i = 0; i < 34; ++i) state_.push_back(static_cast<uint32_t>(r[i]));
        for (int i = 34; i < 344; ++i) advance();
    }
    int next() { return static_cast<int>(advance() >> 1); }

private:
    uint32_t advance() {
        const size_t n = state_.size();
        const uint32_t value = state_[n - 31] + state_[n - 3];
        state_.push_back(value);
        return value;
    }
    std::vector<uint32_t> state_;
};

double drift(int value) { return static_cast<double>(value % 1000 - 500) * static_cast<double>(3.7037037e-6f); }

}  // namespace

TEST(ParticleRandomness, SpawnAndRespawnTakeVxVyLifeInRandOrder) {
    std::srand(1);
    // No sprite file here, so no texture and no GL call is made.
    ParticleSystem system(50, Colour3f(1, 0, 0), Vec3(0, 0, 7), Vec3(0, 0, 0.25), Vec3());
    DefaultRandReplay replay;
    for (size_t i = 0; i < system.pool.size(); ++i) {
        const Particle& p = *system.pool[i];
        const double vx = drift(replay.next());
        const double vy = drift(replay.next());
        const int life = replay.next() % 70;
        ASSERT_EQ(p.velocity.x, vx) << "particle " << i;
        ASSERT_EQ(p.velocity.y, vy) << "particle " << i;
        ASSERT_EQ(p.life, life) << "particle " << i;
    }

    // Re-emission in pool order continues the same sequence.
    for (auto& p : system.pool) p->life = (&p - &system.pool[0]) % 2 ? 0 : 100;
    system.update();
    for (size_t i = 1; i < system.pool.size(); i += 2) {
        const Particle& p = *system.pool[i];
        EXPECT_EQ(p.velocity.x, drift(replay.next())) << "particle " << i;
        EXPECT_EQ(p.velocity.y, drift(replay.next())) << "particle " << i;
        EXPECT_EQ(p.startLife, replay.next() % 70) << "particle " << i;
    }
    system.respawn(4);
    EXPECT_EQ(system.pool[4]->velocity.x, drift(replay.next()));
    EXPECT_EQ(system.pool[4]->velocity.y, drift(replay.next()));
    EXPECT_EQ(system.pool[4]->life, replay.next() % 70);
}

// A new show (the page's "Play again") draws the numbers a new process draws,
// however many the last show took.
TEST(ParticleRandomness, ResetGivesTheSequenceOfAFreshProcess) {
    for (int taken : {0, 1, 1000}) {
        for (int i = 0; i < taken; ++i) std::rand();
        resetParticles();
        DefaultRandReplay fresh;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(std::rand(), fresh.next()) << "after " << taken << ", value " << i;
    }
}
