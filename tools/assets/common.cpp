// Deterministic randomness and noise shared by every group.
#include "tools/assets/assets.h"

#include <cmath>

namespace assets {

uint64_t Rng::next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Rng::uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }

uint32_t hash3(int32_t x, int32_t y, int32_t z, uint32_t seed) {
    uint32_t h = seed * 0x27D4EB2Du;
    h ^= uint32_t(x) * 0x85EBCA6Bu;
    h = (h << 13) | (h >> 19);
    h ^= uint32_t(y) * 0xC2B2AE35u;
    h = (h << 17) | (h >> 15);
    h ^= uint32_t(z) * 0x165667B1u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

double hashUnit(int32_t x, int32_t y, int32_t z, uint32_t seed) {
    return double(hash3(x, y, z, seed)) * (1.0 / 4294967296.0);
}

static double fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

double noise3(double x, double y, double z, uint32_t seed) {
    // Gradient noise: a hashed gradient at each lattice corner, blended with a
    // quintic fade. Unlike value noise its lattice does not show as blocks.
    static const double kGrad[12][3] = {{1, 1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0}, {1, 0, 1}, {-1, 0, 1},
                                        {1, 0, -1}, {-1, 0, -1}, {0, 1, 1}, {0, -1, 1}, {0, 1, -1}, {0, -1, -1}};
    const double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
    const int32_t ix = int32_t(fx), iy = int32_t(fy), iz = int32_t(fz);
    const double rx = x - fx, ry = y - fy, rz = z - fz;
    double c[2][2][2];
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int d = 0; d < 2; ++d) {
                const double* g = kGrad[hash3(ix + a, iy + b, iz + d, seed) % 12];
                c[a][b][d] = g[0] * (rx - a) + g[1] * (ry - b) + g[2] * (rz - d);
            }
    const double tx = fade(rx), ty = fade(ry), tz = fade(rz);
    auto lerp = [](double p, double q, double t) { return p + (q - p) * t; };
    const double x00 = lerp(c[0][0][0], c[1][0][0], tx), x10 = lerp(c[0][1][0], c[1][1][0], tx);
    const double x01 = lerp(c[0][0][1], c[1][0][1], tx), x11 = lerp(c[0][1][1], c[1][1][1], tx);
    return clamp01(0.5 + 0.6 * lerp(lerp(x00, x10, ty), lerp(x01, x11, ty), tz));
}

double fbm3(double x, double y, double z, int octaves, uint32_t seed) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * noise3(x, y, z, seed + uint32_t(i) * 101u);
        norm += amp;
        amp *= 0.5;
        // Rotate-ish and scale between octaves so the lattice does not show.
        const double nx = 1.6 * x + 1.2 * z + 0.31, ny = 2.0 * y + 0.17, nz = -1.2 * x + 1.6 * z + 0.73;
        x = nx; y = ny; z = nz;
    }
    return sum / norm;
}

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

double smoothstep(double e0, double e1, double x) {
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

}  // namespace assets
