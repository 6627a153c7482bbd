// The spaceship: a lofted fuselage, swept wings, a tail fin, two engines with
// glowing nozzles, wing-tip pods and a canopy, each a grid of vertices.
//
// The ship is modelled facing away from the viewer (x right, y up, nose toward -z)
// and then written in the frame the demo draws it in. The demo first turns the
// mesh half a turn about z, tumbles it about x and then turns it a quarter turn
// about y, which takes +x to -z. So the nose must lie on -x in the file (it is +x
// after the half turn, untouched by the tumble about x, and -z after the quarter
// turn): the tumble becomes a roll about the ship's own long axis. Working it
// back, a modelled point (x, y, z) is written as (z, -y, x), a proper rotation.
#include "tools/assets/assets.h"

#include <cmath>
#include <cstdio>

namespace assets {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct V3 {
    double x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double length(V3 a) { return std::sqrt(dot(a, a)); }

// A surface sampled on rows x cols vertices. With wrap, the last column repeats
// the first (same place, its own texture coordinate) and the surface is closed
// around.
struct Grid {
    int rows = 0, cols = 0;
    bool wrap = false;
    std::vector<V3> p;
    std::vector<double> u, v;
    Grid(int r, int c, bool w) : rows(r), cols(c), wrap(w), p(size_t(r) * c), u(size_t(r) * c), v(size_t(r) * c) {}
    size_t at(int i, int j) const { return size_t(i) * cols + j; }
};

class Builder {
public:
    ObjMesh mesh;

    // Adds the grid as triangles with smooth normals, turned so they face away
    // from the part's centre.
    void add(const Grid& g) {
        std::vector<V3> normals(g.p.size());
        std::vector<bool> degenerate(g.p.size(), false);
        for (int i = 0; i < g.rows; ++i)
            for (int j = 0; j < g.cols; ++j) {
                const V3 di = g.p[g.at(std::min(i + 1, g.rows - 1), j)] - g.p[g.at(std::max(i - 1, 0), j)];
                int jn = j + 1, jp = j - 1;
                if (g.wrap) {
                    if (jn >= g.cols) jn = 1;
                    if (jp < 0) jp = g.cols - 2;
                } else {
                    jn = std::min(jn, g.cols - 1);
                    jp = std::max(jp, 0);
                }
                const V3 dj = g.p[g.at(i, jn)] - g.p[g.at(i, jp)];
                const V3 n = cross(di, dj);
                const double len = length(n);
                if (len < 1e-10) degenerate[g.at(i, j)] = true;
                else normals[g.at(i, j)] = n * (1.0 / len);
            }
        // A pole (a row shrunk to a point) takes the mean normal of its neighbour row.
        for (int i = 0; i < g.rows; ++i)
            for (int j = 0; j < g.cols; ++j) {
                if (!degenerate[g.at(i, j)]) continue;
                const int k = i == 0 ? 1 : (i == g.rows - 1 ? g.rows - 2 : i + 1);
                V3 sum{0, 0, 0};
                for (int c = 0; c < g.cols; ++c) sum = sum + normals[g.at(k, c)];
                const double len = length(sum);
                normals[g.at(i, j)] = len > 1e-10 ? sum * (1.0 / len) : V3{0, 0, 1};
            }
        std::vector<int> tris;
        auto tri = [&](size_t a, size_t b, size_t c) {
            if (length(cross(g.p[b] - g.p[a], g.p[c] - g.p[a])) < 1e-9) return;   // collapsed at a pole
            tris.insert(tris.end(), {int(a), int(b), int(c)});
        };
        for (int i = 0; i + 1 < g.rows; ++i)
            for (int j = 0; j + 1 < g.cols; ++j) {
                tri(g.at(i, j), g.at(i + 1, j), g.at(i + 1, j + 1));
                tri(g.at(i, j), g.at(i + 1, j + 1), g.at(i, j + 1));
            }
        // Orientation: the normals follow the winding by construction; if the
        // winding faces inward, flip both.
        V3 centre{0, 0, 0};
        for (const V3& q : g.p) centre = centre + q;
        centre = centre * (1.0 / double(g.p.size()));
        double outward = 0;
        for (size_t t = 0; t < tris.size(); t += 3) {
            const V3 a = g.p[tris[t]], b = g.p[tris[t + 1]], c = g.p[tris[t + 2]];
            outward += dot(cross(b - a, c - a), (a + b + c) * (1.0 / 3.0) - centre);
        }
        const bool flip = outward < 0;
        const int base = int(mesh.positions.size() / 3);
        for (size_t k = 0; k < g.p.size(); ++k) {
            // Modelled (x, y, z) is written as (z, -y, x); see the top of the file.
            const V3 q = g.p[k];
            V3 n = normals[k];
            if (flip) n = n * -1.0;
            mesh.positions.insert(mesh.positions.end(), {float(q.z), float(-q.y), float(q.x)});
            mesh.normals.insert(mesh.normals.end(), {float(n.z), float(-n.y), float(n.x)});
            mesh.uvs.insert(mesh.uvs.end(), {float(g.u[k]), float(g.v[k])});
        }
        for (size_t t = 0; t < tris.size(); t += 3) {
            mesh.triangles.push_back(base + tris[t]);
            mesh.triangles.push_back(base + tris[t + (flip ? 2 : 1)]);
            mesh.triangles.push_back(base + tris[t + (flip ? 1 : 2)]);
        }
    }
};

// Maps a unit square onto a rectangle of the texture atlas, a little inset so that
// filtering does not pick up the neighbouring region.
struct Region {
    double u0, v0, u1, v1;
    double u(double s) const { return u0 + 0.004 + (u1 - u0 - 0.008) * s; }
    double v(double t) const { return v0 + 0.004 + (v1 - v0 - 0.008) * t; }
};
const Region kFuselage{0, 0.5, 1, 1}, kCanopy{0, 0.25, 0.5, 0.5}, kFin{0.5, 0.25, 1, 0.5};
const Region kWing{0, 0, 0.5, 0.25}, kEngine{0.5, 0, 1, 0.25};

double signedPow(double v, double e) { return v < 0 ? -std::pow(-v, e) : std::pow(v, e); }

// Fuselage outline along l = 0 (nose) .. 1 (tail).
constexpr double kNoseZ = -1.6, kTailZ = 1.05;
double hullHalfWidth(double l) {
    if (l < 0.45) return 0.34 * std::pow(1 - std::pow(1 - l / 0.45, 2.0), 0.65);
    if (l < 0.8) return 0.34 + 0.02 * std::sin((l - 0.45) / 0.35 * kPi * 0.5);
    return 0.36 - 0.14 * smoothstep(0.8, 1.0, l);
}
double hullHalfHeight(double l) {
    if (l < 0.45) return 0.21 * std::pow(1 - std::pow(1 - l / 0.45, 2.0), 0.6);
    return 0.21 - 0.06 * smoothstep(0.75, 1.0, l);
}
double hullCentreY(double l) { return l < 0.45 ? -0.05 * std::pow(1 - l / 0.45, 2.0) : 0.0; }
V3 hullPoint(double l, double theta) {
    // theta 0 = keel, pi/2 = right flank, pi = spine; a rounded box section.
    const double e = 2.0 / 2.6;
    return {hullHalfWidth(l) * signedPow(std::sin(theta), e),
            hullCentreY(l) - hullHalfHeight(l) * signedPow(std::cos(theta), e), kNoseZ + (kTailZ - kNoseZ) * l};
}

void addFuselage(Builder& b) {
    const int rows = 40, cols = 33;
    Grid g(rows, cols, true);
    for (int i = 0; i < rows; ++i) {
        const double s = double(i) / (rows - 1);
        const double l = s * s * (1.5 - 0.5 * s);   // denser rows at the nose
        for (int j = 0; j < cols; ++j) {
            const double a = double(j) / (cols - 1);
            g.p[g.at(i, j)] = hullPoint(l, a * 2 * kPi);
            g.u[g.at(i, j)] = kFuselage.u(a);
            g.v[g.at(i, j)] = kFuselage.v(1 - l);
        }
    }
    b.add(g);
    // Flat plate closing the tail.
    Grid cap(2, cols, true);
    for (int j = 0; j < cols; ++j) {
        const double a = double(j) / (cols - 1);
        cap.p[cap.at(0, j)] = hullPoint(1.0, a * 2 * kPi);
        cap.p[cap.at(1, j)] = {0, hullCentreY(1.0), kTailZ};
        cap.u[cap.at(0, j)] = cap.u[cap.at(1, j)] = kFuselage.u(a);
        cap.v[cap.at(0, j)] = cap.v[cap.at(1, j)] = kFuselage.v(0);
    }
    b.add(cap);
}

void addCanopy(Builder& b) {
    const int rows = 14, cols = 21;
    const V3 centre{0, 0.17, -0.62};
    const V3 radius{0.15, 0.13, 0.42};
    Grid g(rows, cols, true);
    for (int i = 0; i < rows; ++i) {
        const double s = double(i) / (rows - 1);   // 0 = rear pole, 1 = front pole
        const double phi = s * kPi;
        for (int j = 0; j < cols; ++j) {
            const double a = double(j) / (cols - 1), theta = a * 2 * kPi;
            const double ring = std::sin(phi);
            g.p[g.at(i, j)] = {centre.x + radius.x * ring * std::sin(theta),
                               centre.y - radius.y * ring * std::cos(theta),
                               centre.z + radius.z * std::cos(phi)};
            g.u[g.at(i, j)] = kCanopy.u(a);
            g.v[g.at(i, j)] = kCanopy.v(s);
        }
    }
    b.add(g);
}

// Thickness of a symmetric wing section at chord position c (0 leading edge).
double airfoil(double c) {
    return 5 * (0.2969 * std::sqrt(c) - 0.126 * c - 0.3516 * c * c + 0.2843 * c * c * c - 0.1036 * c * c * c * c);
}

// A lofted blade: for span s in 0..1 the section's leading edge, chord, thickness;
// `spanAxis` and `thickAxis` orient it (wings span x, the fin spans y).
struct Blade {
    V3 rootLead, tipLead;       // leading edge points
    double rootChord, tipChord; // along +z
    double rootThick, tipThick;
    V3 spanAxis, thickAxis;     // unit
    Region region;
};

void addBlade(Builder& b, const Blade& blade, double mirror) {
    const int rows = 10, half = 12, cols = 2 * half + 1;
    Grid g(rows, cols, true);
    for (int i = 0; i < rows; ++i) {
        const double s = double(i) / (rows - 1);
        const V3 lead = blade.rootLead + (blade.tipLead - blade.rootLead) * s;
        const double chord = blade.rootChord + (blade.tipChord - blade.rootChord) * s;
        // The very tip pinches to an edge so the blade closes.
        const double thick = i == rows - 1 ? 0.0 : blade.rootThick + (blade.tipThick - blade.rootThick) * s;
        for (int j = 0; j < cols; ++j) {
            // Around the section: trailing edge, over the top to the leading edge, back underneath.
            const double k = double(j) / half;   // 0..2
            const double c = k <= 1 ? 1 - k : k - 1;
            const double cc = 0.5 - 0.5 * std::cos(c * kPi);   // cluster at both edges
            const double side = k <= 1 ? 1.0 : -1.0;
            V3 q = lead + V3{0, 0, chord * cc} + blade.thickAxis * (side * 0.5 * thick * airfoil(cc));
            q.x *= mirror;
            g.p[g.at(i, j)] = q;
            g.u[g.at(i, j)] = blade.region.u(s);
            g.v[g.at(i, j)] = blade.region.v(1 - cc);
        }
    }
    b.add(g);
}

// A surface of revolution about an axis parallel to z through (cx, cy), from a
// profile of (radius, z, texture position) points.
struct ProfilePoint {
    double r, z, t;
};
void addLathe(Builder& b, double cx, double cy, const std::vector<ProfilePoint>& profile, const Region& region,
              int segments) {
    const int rows = int(profile.size()), cols = segments + 1;
    Grid g(rows, cols, true);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const double a = double(j) / segments, theta = a * 2 * kPi;
            g.p[g.at(i, j)] = {cx + profile[size_t(i)].r * std::sin(theta), cy - profile[size_t(i)].r * std::cos(theta),
                               profile[size_t(i)].z};
            g.u[g.at(i, j)] = region.u(profile[size_t(i)].t);
            g.v[g.at(i, j)] = region.v(a);
        }
    b.add(g);
}

void addEngine(Builder& b, double cx, double cy) {
    const int seg = 24;
    // Nacelle body, smooth from the nose cone to the nozzle.
    addLathe(b, cx, cy,
             {{0.0, 0.0, 0.0}, {0.07, 0.02, 0.03}, {0.12, 0.07, 0.06}, {0.16, 0.16, 0.1}, {0.18, 0.28, 0.16},
              {0.185, 0.5, 0.28}, {0.185, 0.75, 0.4}, {0.18, 0.95, 0.5}, {0.17, 1.05, 0.56}},
             kEngine, seg);
    // Nozzle: flares out to the lip (a separate surface so the rim stays crisp).
    addLathe(b, cx, cy, {{0.17, 1.05, 0.56}, {0.19, 1.13, 0.59}, {0.205, 1.2, 0.62}}, kEngine, seg);
    addLathe(b, cx, cy, {{0.205, 1.2, 0.62}, {0.175, 1.2, 0.66}, {0.15, 1.2, 0.7}}, kEngine, seg);
    // Inside of the nozzle and the glowing burner face at its bottom.
    addLathe(b, cx, cy, {{0.15, 1.2, 0.7}, {0.14, 1.12, 0.76}, {0.13, 1.06, 0.82}}, kEngine, seg);
    addLathe(b, cx, cy, {{0.13, 1.06, 0.82}, {0.07, 1.06, 0.92}, {0.0, 1.06, 1.0}}, kEngine, seg);
}

void addPod(Builder& b, double cx, double cy) {
    addLathe(b, cx, cy,
             {{0.0, 0.35, 0.0}, {0.025, 0.38, 0.05}, {0.045, 0.46, 0.12}, {0.05, 0.6, 0.25}, {0.05, 0.95, 0.45},
              {0.04, 1.05, 0.55}, {0.03, 1.08, 0.66}, {0.0, 1.08, 0.9}},
             kEngine, 12);
}

}  // namespace

ObjMesh makeShip() {
    Builder b;
    addFuselage(b);
    addCanopy(b);
    const Blade wing{{0.2, -0.06, -0.15}, {1.3, 0.02, 0.55}, 1.15, 0.42, 0.09, 0.035,
                     {1, 0, 0}, {0, 1, 0}, kWing};
    addBlade(b, wing, 1.0);
    addBlade(b, wing, -1.0);
    const Blade fin{{0, 0.12, 0.35}, {0, 0.62, 0.9}, 0.7, 0.28, 0.07, 0.03, {0, 1, 0}, {1, 0, 0}, kFin};
    addBlade(b, fin, 1.0);
    addEngine(b, 0.4, -0.05);
    addEngine(b, -0.4, -0.05);
    addPod(b, 1.33, 0.02);
    addPod(b, -1.33, 0.02);
    return b.mesh;
}

std::string encodeObj(const ObjMesh& mesh) {
    std::string out = "# contrail ship: lofted hull, swept wings, twin engines; nose toward -x\n";
    char line[128];
    const size_t vertices = mesh.positions.size() / 3;
    for (size_t i = 0; i < vertices; ++i) {
        std::snprintf(line, sizeof line, "v %.5f %.5f %.5f\n", mesh.positions[i * 3], mesh.positions[i * 3 + 1],
                      mesh.positions[i * 3 + 2]);
        out += line;
    }
    for (size_t i = 0; i < vertices; ++i) {
        std::snprintf(line, sizeof line, "vt %.5f %.5f\n", mesh.uvs[i * 2], mesh.uvs[i * 2 + 1]);
        out += line;
    }
    for (size_t i = 0; i < vertices; ++i) {
        std::snprintf(line, sizeof line, "vn %.5f %.5f %.5f\n", mesh.normals[i * 3], mesh.normals[i * 3 + 1],
                      mesh.normals[i * 3 + 2]);
        out += line;
    }
    for (size_t t = 0; t < mesh.triangles.size(); t += 3) {
        const int a = mesh.triangles[t] + 1, b = mesh.triangles[t + 1] + 1, c = mesh.triangles[t + 2] + 1;
        std::snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, c, c, c);
        out += line;
    }
    return out;
}

}  // namespace assets
