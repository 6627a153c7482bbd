// motion.h - vectors, the flight path and the particle trail.
//
// `Vec3` is the double-precision vector used for every position, velocity and
// control point. `BezierPath` is one Bezier curve over all of its control
// points (degree N - 1, at most 13 points), sampled once when it is built, so
// a frame only looks a stored sample up by index. `ParticleSystem` is the
// ship's trail: a fixed population of additive, textured sprites that drift
// from a movable origin and are re-emitted there when they die. Motion is
// counted in frames: every update is exactly one step. The velocities come
// from the C library's rand(), which nothing seeds, so every run is the same.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vec3() = default;
    Vec3(double x, double y, double z) : x(x), y(y), z(z) {}

    // (k*x, k*y, k*z); this vector is left as it is.
    Vec3 scaled(double k) const { return Vec3(k * x, k * y, k * z); }
    // Adds v component by component into this vector.
    Vec3& add(const Vec3& v) {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
};

// Weight of control point i of a degree-n curve at t: n!/(i!(n-i)!) t^i (1-t)^(n-i),
// with the factorials in 32-bit integers (exact up to 12!). Returns 0 for i
// outside 0..n and NaN for a degree outside 0..12, which 32 bits cannot hold.
double bernsteinWeight(double t, int32_t i, int32_t n);

class BezierPath {
public:
    static constexpr int32_t maxControlPoints = 13;

    Vec3* samples = nullptr;        // sampleCount vectors, owned
    Vec3* controlPoints = nullptr;  // taken over by build(), owned
    int32_t sampleCount = 0;
    int32_t controlCount = 0;

    BezierPath() = default;
    ~BezierPath();
    BezierPath(const BezierPath&) = delete;
    BezierPath& operator=(const BezierPath&) = delete;

    // Samples the curve over the n points at m evenly spaced parameters from 0
    // to 1 inclusive. The path takes over `points`, which must come from
    // new Vec3[n], and frees it with its samples. More than 13 points, fewer
    // than 2 samples or a negative count leave the path without samples (the
    // array is still taken over).
    void build(int32_t n, Vec3* points, int32_t m);

    // Sample `index`, or null when index is outside 0..sampleCount-1.
    const Vec3* pointAt(int32_t index) const;
};

struct Colour3f {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;

    Colour3f() = default;
    Colour3f(float r, float g, float b) : r(r), g(g), b(b) {}
};

class Particle {
public:
    int32_t startLife = 0;  // life at the last (re)initialisation; divides the fade
    int32_t life = 0;       // steps left; alive while > 0
    Vec3 position;
    Vec3 velocity;
    Vec3 acceleration;
    Colour3f colour;
    int32_t textureId = -1;

    Particle(int32_t textureId, int32_t life, Vec3 position, Vec3 velocity, Vec3 acceleration,
             Colour3f colour);

    // Restarts the particle; textureId stays.
    void init(int32_t life, Vec3 position, Vec3 velocity, Vec3 acceleration, Colour3f colour);
    bool isAlive() const { return life > 0; }
    // position += velocity, then velocity += acceleration, then life -= 1.
    void step();
    // One additive, camera-facing 1.5 x 1.5 sprite at `position` in eye
    // coordinates. Leaves blending off, texturing on and depth testing off.
    void draw() const;
    // Alpha handed to GL: life * 10 / startLife, so a particle shows at full
    // strength for nine tenths of its life. 0 for a start life of 0.
    float alpha() const;
};

// The particles' random sequence back to its start, as in a new process
// (whose unseeded rand() gives the sequence of srand(1)).
void resetParticles();

class ParticleSystem {
public:
    std::vector<std::unique_ptr<Particle>> pool;  // filled at construction, never resized
    int32_t count = 0;
    int32_t textureId = -1;  // "images/particle.bmp", -1 when it could not be loaded
    Colour3f colour;
    Vec3 origin;
    Vec3 velocity;  // only z is used: every particle's velocity along z
    Vec3 acceleration;

    // Loads the sprite texture (needs a current GL context) and spawns `count` particles.
    ParticleSystem(int32_t count, Colour3f colour, Vec3 origin, Vec3 velocity, Vec3 acceleration);
    ParticleSystem(const ParticleSystem&) = delete;
    ParticleSystem& operator=(const ParticleSystem&) = delete;

    // Where particles emitted from now on start; live particles stay where they are.
    void setOrigin(Vec3 newOrigin) { origin = newOrigin; }
    // Re-emits every dead particle, then steps every particle once.
    void update();
    // Draws every particle in order, dead ones included (they add nothing).
    void draw() const;
    // Makes one particle at the origin and appends it (three rand() calls: vx, vy, life).
    void spawn();
    // Restarts particle `index` at the origin, with the same three rand() calls.
    // An index outside the pool is ignored.
    void respawn(int32_t index);
};
