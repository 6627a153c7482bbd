// particles.cpp - the ship's trail: additive sprites drifting from a movable origin.
#include "motion/motion.h"

#include "platform/gl.h"

#include <cstdlib>

#include "image/image.h"
#include "show/show.h"

namespace {

// Nearest float to 1/270000: spreads rand() % 1000 - 500 over about +-0.00185 units per step.
constexpr float kSpread = 3.7037037e-6f;

// One random velocity component, formed in double precision.
double randomDrift() {
    const int value = std::rand() % 1000 - 500;
    return static_cast<double>(value) * static_cast<double>(kSpread);
}

int32_t randomLife() { return std::rand() % 70; }

}  // namespace

void resetParticles() { std::srand(1); }

Particle::Particle(int32_t textureId, int32_t life, Vec3 position, Vec3 velocity, Vec3 acceleration,
                   Colour3f colour)
    : textureId(textureId) {
    init(life, position, velocity, acceleration, colour);
}

void Particle::init(int32_t newLife, Vec3 newPosition, Vec3 newVelocity, Vec3 newAcceleration,
                    Colour3f newColour) {
    startLife = newLife;
    life = newLife;
    position = newPosition;
    velocity = newVelocity;
    acceleration = newAcceleration;
    colour = newColour;
}

void Particle::step() {
    position.add(velocity);
    velocity.add(acceleration);
    --life;
}

float Particle::alpha() const {
    // A particle born with no life is dead from the start and shows nothing.
    if (startLife == 0) return 0.0f;
    return static_cast<float>(static_cast<double>(life) * 10.0 / static_cast<double>(startLife));
}

void Particle::draw() const {
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glDisable(GL_DEPTH_TEST);
    glLoadIdentity();
    glTranslatef(static_cast<float>(position.x), static_cast<float>(position.y),
                 static_cast<float>(position.z));
    glScalef(0.75f, 0.75f, 0.75f);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(textureId));
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBegin(GL_QUADS);
    glColor4f(colour.r, colour.g, colour.b, alpha());
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-1.0f, -1.0f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(1.0f, -1.0f, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(1.0f, 1.0f, 0.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-1.0f, 1.0f, 0.0f);
    glEnd();
    glDisable(GL_BLEND);
}

ParticleSystem::ParticleSystem(int32_t count, Colour3f colour, Vec3 origin, Vec3 velocity,
                               Vec3 acceleration)
    : count(count), colour(colour), origin(origin), velocity(velocity), acceleration(acceleration) {
    textureId = loadTexture(show::kParticleFile);
    if (count > 0) pool.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) spawn();
}

void ParticleSystem::spawn() {
    // Separate statements: the order of the rand() calls fixes every run's trail.
    const double vx = randomDrift();
    const double vy = randomDrift();
    const int32_t life = randomLife();
    pool.push_back(std::make_unique<Particle>(textureId, life, origin, Vec3(vx, vy, velocity.z),
                                              acceleration, colour));
}

void ParticleSystem::respawn(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= pool.size()) return;
    const double vx = randomDrift();
    const double vy = randomDrift();
    const int32_t life = randomLife();
    pool[static_cast<size_t>(index)]->init(life, origin, Vec3(vx, vy, velocity.z), acceleration,
                                           colour);
}

void ParticleSystem::update() {
    for (size_t i = 0; i < pool.size(); ++i) {
        if (!pool[i]->isAlive()) respawn(static_cast<int32_t>(i));
        pool[i]->step();
    }
}

void ParticleSystem::draw() const {
    for (const auto& particle : pool) particle->draw();
}
