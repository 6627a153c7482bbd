// Sky-box faces: every texel shows the sky in its own direction, so the six
// faces meet without seams on the cube.
#include "tools/assets/assets.h"

#include <cmath>

namespace assets {
namespace {

struct Dir {
    double x, y, z;
};

// Texel (s, t) of a cube face to a direction, with the usual cube-map layout
// (t = 0 is the first row of the uploaded image, the bottom row of the BMP).
Dir faceDirection(int face, double s, double t) {
    const double sc = 2 * s - 1, tc = 2 * t - 1;
    switch (face) {
        case 0: return {1, -tc, -sc};    // +X
        case 1: return {-1, -tc, sc};    // -X
        case 2: return {sc, 1, tc};      // +Y
        case 3: return {sc, -1, -tc};    // -Y
        case 4: return {sc, -tc, 1};     // +Z
        default: return {-sc, -tc, -1};  // -Z
    }
}

// Stars live in cells of a 3D grid; each cell holds at most one star at a hashed
// spot, seen from the centre as a point on the sky.
void addStars(const Dir& d, double cellsPerUnit, double density, double size, double gain, uint32_t seed,
              double rgb[3]) {
    const double px = d.x * cellsPerUnit, py = d.y * cellsPerUnit, pz = d.z * cellsPerUnit;
    const int cx = int(std::floor(px)), cy = int(std::floor(py)), cz = int(std::floor(pz));
    // A star reaches at most half a cell, so only the neighbours on the near side
    // of each axis can touch this direction.
    const int sx0 = px - cx < 0.5 ? -1 : 1, sy0 = py - cy < 0.5 ? -1 : 1, sz0 = pz - cz < 0.5 ? -1 : 1;
    const double reach = std::fmin(30.0, 0.25 / (cellsPerUnit * cellsPerUnit * size * size));
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i) {
                const int x = cx + i * sx0, y = cy + j * sy0, z = cz + k * sz0;
                if (hashUnit(x, y, z, seed) > density) continue;
                double sx = x + hashUnit(x, y, z, seed + 1), sy = y + hashUnit(x, y, z, seed + 2),
                       sz = z + hashUnit(x, y, z, seed + 3);
                const double len = std::sqrt(sx * sx + sy * sy + sz * sz);
                if (len < 1e-9) continue;
                sx /= len; sy /= len; sz /= len;
                // Squared chord distance between the two directions, in star radii.
                const double ex = d.x - sx, ey = d.y - sy, ez = d.z - sz;
                const double dist2 = (ex * ex + ey * ey + ez * ez) / (size * size);
                if (dist2 > reach) continue;
                const double m = hashUnit(x, y, z, seed + 4);
                const double bright = gain * (0.25 + 0.75 * m * m * m);
                const double a = bright * (std::exp(-dist2) + 0.04 * std::exp(-dist2 * 0.1));
                const double hue = hashUnit(x, y, z, seed + 5);
                rgb[0] += a * (hue < 0.3 ? 1.0 : 0.8);
                rgb[1] += a * 0.88;
                rgb[2] += a * (hue > 0.6 ? 1.0 : 0.75);
            }
}

void sky(const Dir& dirIn, double rgb[3]) {
    const double len = std::sqrt(dirIn.x * dirIn.x + dirIn.y * dirIn.y + dirIn.z * dirIn.z);
    const Dir d{dirIn.x / len, dirIn.y / len, dirIn.z / len};
    // A band of nebula across the sky, broken up by 3D noise.
    const double band = std::exp(-std::pow((d.y * 0.8 + d.x * 0.35 - 0.1 * d.z) / 0.45, 2.0));
    const double n = fbm3(d.x * 2.5 + 10, d.y * 2.5, d.z * 2.5, 6, 77);
    const double dust = fbm3(d.x * 6 + 3, d.y * 6, d.z * 6, 4, 91);
    const double cloud = smoothstep(0.35, 0.75, n) * (0.35 + 0.65 * band);
    const double hue = smoothstep(0.3, 0.7, fbm3(d.x * 1.3, d.y * 1.3 + 5, d.z * 1.3, 3, 55));
    const double dark = 1.0 - 0.7 * smoothstep(0.5, 0.7, dust) * band;
    rgb[0] = 0.008 + cloud * (0.35 * hue + 0.1) * dark;
    rgb[1] = 0.01 + cloud * (0.08 + 0.12 * (1 - hue)) * dark;
    rgb[2] = 0.03 + cloud * (0.25 + 0.3 * (1 - hue)) * dark;
    addStars(d, 40.0, 0.25, 0.0022, 0.9, 1000, rgb);
    addStars(d, 12.0, 0.12, 0.0035, 1.6, 2000, rgb);
    // Faint far stars, denser inside the band.
    addStars(d, 90.0, 0.12 + 0.3 * band, 0.0016, 0.45, 3000, rgb);
}

}  // namespace

Picture makeSkyFace(int face, int size) {
    Picture pic(size, size);
    for (int y = 0; y < size; ++y) {
        const double t = (size - 1 - y + 0.5) / size;   // picture row y is BMP row size-1-y
        for (int x = 0; x < size; ++x) {
            double rgb[3];
            sky(faceDirection(face, (x + 0.5) / size, t), rgb);
            float* p = pic.at(x, y);
            p[0] = float(rgb[0]);
            p[1] = float(rgb[1]);
            p[2] = float(rgb[2]);
        }
    }
    return pic;
}

}  // namespace assets
