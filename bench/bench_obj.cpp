// OBJ loading speed: loadObjMesh (trace included, sent to /dev/null) against
// tinyobjloader building the same 24-floats-per-triangle array, from files on
// disk, in a process set up as the demo sets itself up (plat::tuneAllocator).
// The two run in turns on each file and the ratio of their times is printed
// first (bench/race.h); Google Benchmark's own runs follow. The meshes:
// - ship: the show's own ship from the data folder, its 6,000 triangles each
//   cut into 64 (three rounds of four, new corners at the edges' middles,
//   shared between neighbours): 384,000 triangles of "%f" numbers;
// - grid: 400 x 400 vertices (318,402 triangles), every number "%f";
// - exporter: a 380 x 380 torus (288,800 triangles) written the way modelling
//   tools write it: six significant digits, mixed signs, tiny components in
//   exponent form, a seam with its own texture coordinates, CR LF line ends in
//   every other block of lines, object, group and material lines.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/race.h"
#include "mesh/mesh.h"
#include "platform/platform.h"

namespace {

constexpr int kSide = 400;
constexpr int kRing = 380;
std::string gridPath, exporterPath, shipPath;

// One kind of vertex record (v, vt or vn) while subdividing: the records, and
// the middle of each edge made so far, so that neighbours share it.
struct Records {
    int width;
    std::vector<std::array<double, 3>> values;
    std::map<std::pair<int, int>, int> middles;

    int middle(int a, int b) {
        const auto key = std::minmax(a, b);
        const auto found = middles.find(key);
        if (found != middles.end()) return found->second;
        std::array<double, 3> m{};
        for (int i = 0; i < 3; ++i)
            m[size_t(i)] = (values[size_t(a)][size_t(i)] + values[size_t(b)][size_t(i)]) / 2;
        if (width == -3) {  // a normal: back to unit length
            const double length = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
            if (length > 0)
                for (double& c : m) c /= length;
        }
        values.push_back(m);
        return middles[key] = int(values.size()) - 1;
    }
};

// The ship at `from`, each triangle cut into four `rounds` times, written to
// `to`; false when there is no ship to read.
bool writeSubdividedShip(const std::string& from, const std::string& to, int rounds) {
    std::ifstream in(from);
    if (!in) return false;
    Records v{3, {}, {}}, t{2, {}, {}}, n{-3, {}, {}};
    std::vector<std::array<int, 9>> faces;  // p, t, n of each corner, 0-based
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        std::array<double, 3> value{};
        if (kind == "v" || kind == "vn") {
            fields >> value[0] >> value[1] >> value[2];
            (kind == "v" ? v : n).values.push_back(value);
        } else if (kind == "vt") {
            fields >> value[0] >> value[1];
            t.values.push_back(value);
        } else if (kind == "f") {
            std::array<int, 9> face{};
            char slash;
            for (int c = 0; c < 3; ++c)
                fields >> face[3 * c] >> slash >> face[3 * c + 1] >> slash >> face[3 * c + 2];
            for (int& i : face) --i;
            faces.push_back(face);
        }
    }
    if (faces.empty()) return false;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::array<int, 9>> next;
        next.reserve(faces.size() * 4);
        for (const auto& f : faces) {
            // Corners 0..2, then the middles of edges 01, 12 and 20.
            std::array<int, 18> c{};
            for (int k = 0; k < 9; ++k) c[size_t(k)] = f[size_t(k)];
            Records* kinds[3] = {&v, &t, &n};
            for (int e = 0; e < 3; ++e)
                for (int k = 0; k < 3; ++k)
                    c[size_t(9 + 3 * e + k)] =
                        kinds[k]->middle(f[size_t(3 * e + k)], f[size_t(3 * ((e + 1) % 3) + k)]);
            const int corners[4][3] = {{0, 3, 5}, {3, 1, 4}, {5, 4, 2}, {3, 4, 5}};
            for (const auto& tri : corners) {
                std::array<int, 9> g{};
                for (int k = 0; k < 3; ++k)
                    for (int a = 0; a < 3; ++a) g[size_t(3 * k + a)] = c[size_t(3 * tri[k] + a)];
                next.push_back(g);
            }
        }
        faces.swap(next);
    }
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) std::abort();
    std::fprintf(out, "# contrail ship, subdivided\n");
    for (const auto& p : v.values) std::fprintf(out, "v %f %f %f\n", p[0], p[1], p[2]);
    for (const auto& p : t.values) std::fprintf(out, "vt %f %f\n", p[0], p[1]);
    for (const auto& p : n.values) std::fprintf(out, "vn %f %f %f\n", p[0], p[1], p[2]);
    for (const auto& f : faces)
        std::fprintf(out, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", f[0] + 1, f[1] + 1, f[2] + 1, f[3] + 1, f[4] + 1,
                     f[5] + 1, f[6] + 1, f[7] + 1, f[8] + 1);
    std::fclose(out);
    return true;
}

void writeGrid(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::fprintf(f, "# generated grid\nmtllib none.mtl\no grid\n");
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i) {
            const double x = i * 0.05 - 10.0, z = j * 0.05 - 10.0, y = std::sin(x) * std::cos(z);
            std::fprintf(f, "v %f %f %f\n", x, y, z);
        }
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i) std::fprintf(f, "vt %f %f\n", i / (kSide - 1.0), j / (kSide - 1.0));
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i) {
            const double x = i * 0.05 - 10.0, z = j * 0.05 - 10.0;
            const double nx = -std::cos(x) * std::cos(z), nz = std::sin(x) * std::sin(z);
            const double len = std::sqrt(nx * nx + 1.0 + nz * nz);
            std::fprintf(f, "vn %f %f %f\n", nx / len, 1.0 / len, nz / len);
        }
    std::fprintf(f, "usemtl none\ns off\n");
    for (int j = 0; j + 1 < kSide; ++j)
        for (int i = 0; i + 1 < kSide; ++i) {
            const int a = j * kSide + i + 1, b = a + 1, c = a + kSide, d = c + 1;
            std::fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, d, d, d);
            std::fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, d, d, d, c, c, c);
        }
    std::fclose(f);
}

// Writes lines, switching between LF and CR LF every 1000 lines.
class ExporterText {
public:
    explicit ExporterText(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
        if (!file_) std::abort();
    }
    ~ExporterText() { std::fclose(file_); }

    void line(const std::string& text) {
        std::fputs(text.c_str(), file_);
        std::fputs(lines_++ / 1000 % 2 ? "\r\n" : "\n", file_);
    }

    // Six significant digits; components that are zero up to float noise come
    // out in exponent form, as exporters print them.
    static std::string number(double value) {
        char text[32];
        std::snprintf(text, sizeof text, value != 0.0 && std::fabs(value) < 1e-4 ? "%e" : "%.6g", value);
        return text;
    }

private:
    std::FILE* file_;
    long lines_ = 0;
};

void writeExporter(const std::string& path) {
    const double pi = 3.14159265358979323846;
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> noise(-3e-5, 3e-5);
    ExporterText out(path);
    out.line("# Exported mesh");
    out.line("mtllib torus.mtl");
    out.line("o Torus");
    for (int j = 0; j < kRing; ++j)
        for (int i = 0; i < kRing; ++i) {
            const double u = 2 * pi * i / kRing, v = 2 * pi * j / kRing, w = 3.0 + std::cos(v);
            out.line("v " + ExporterText::number(12.5 * w * std::cos(u) + noise(random)) + " " +
                     ExporterText::number(12.5 * std::sin(v) - 0.75) + " " +
                     ExporterText::number(12.5 * w * std::sin(u) + noise(random)));
        }
    // The seam repeats its first row and column with u or v of 1.
    for (int j = 0; j <= kRing; ++j)
        for (int i = 0; i <= kRing; ++i)
            out.line("vt " + ExporterText::number(static_cast<double>(i) / kRing) + " " +
                     ExporterText::number(static_cast<double>(j) / kRing));
    for (int j = 0; j < kRing; ++j)
        for (int i = 0; i < kRing; ++i) {
            const double u = 2 * pi * i / kRing, v = 2 * pi * j / kRing;
            // Float noise where a component should be zero, as in real exports.
            const auto component = [&](double c) { return std::fabs(c) < 1e-3 ? noise(random) : c; };
            out.line("vn " + ExporterText::number(component(std::cos(v) * std::cos(u))) + " " +
                     ExporterText::number(component(std::sin(v))) + " " +
                     ExporterText::number(component(std::cos(v) * std::sin(u))));
        }
    out.line("g Torus_Surface");
    out.line("usemtl Material.001");
    out.line("s 1");
    char face[128];
    for (int j = 0; j < kRing; ++j)
        for (int i = 0; i < kRing; ++i) {
            const auto position = [](int a, int b) { return b % kRing * kRing + a % kRing + 1; };
            const auto texture = [](int a, int b) { return b * (kRing + 1) + a + 1; };
            const int p[4] = {position(i, j), position(i + 1, j), position(i + 1, j + 1), position(i, j + 1)};
            const int t[4] = {texture(i, j), texture(i + 1, j), texture(i + 1, j + 1), texture(i, j + 1)};
            std::snprintf(face, sizeof face, "f %d/%d/%d %d/%d/%d %d/%d/%d", p[0], t[0], p[0], p[1], t[1],
                          p[1], p[2], t[2], p[2]);
            out.line(face);
            std::snprintf(face, sizeof face, "f %d/%d/%d %d/%d/%d %d/%d/%d", p[0], t[0], p[0], p[2], t[2],
                          p[2], p[3], t[3], p[3]);
            out.line(face);
        }
}

// Loads with the trace going to `traceFd` (/dev/null unless given); returns the triangle count.
int32_t loadQuietly(const std::string& path, float** vertices, int traceFd = -1) {
    static const int devNull = open("/dev/null", O_WRONLY);
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(traceFd >= 0 ? traceFd : devNull, 1);
    const int32_t count = loadObjMesh(path.c_str(), vertices);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return count;
}

int32_t loadWithTinyObj(const std::string& path, float** vertices) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(), nullptr, true))
        std::abort();
    size_t corners = 0;
    for (const auto& s : shapes) corners += s.mesh.indices.size();
    float* out = static_cast<float*>(std::malloc(corners * 8 * sizeof(float)));
    float* p = out;
    for (const auto& s : shapes)
        for (const tinyobj::index_t& i : s.mesh.indices) {
            const float* v = &attrib.vertices[3 * static_cast<size_t>(i.vertex_index)];
            const float* n = &attrib.normals[3 * static_cast<size_t>(i.normal_index)];
            const float* t = &attrib.texcoords[2 * static_cast<size_t>(i.texcoord_index)];
            *p++ = v[0], *p++ = v[1], *p++ = v[2];
            *p++ = n[0], *p++ = n[1], *p++ = n[2];
            *p++ = t[0], *p++ = t[1];
        }
    *vertices = out;
    return static_cast<int32_t>(corners / 3);
}

void BM_loadObjMesh(benchmark::State& state, const std::string* path) {
    for (auto _ : state) {
        float* vertices = nullptr;
        benchmark::DoNotOptimize(loadQuietly(*path, &vertices));
        std::free(vertices);
    }
}
void BM_tinyobjloader(benchmark::State& state, const std::string* path) {
    for (auto _ : state) {
        float* vertices = nullptr;
        benchmark::DoNotOptimize(loadWithTinyObj(*path, &vertices));
        std::free(vertices);
    }
}

// Both loaders must build the same array, or the race means nothing; and the
// trace must be, byte for byte, what printf(" %f | ") prints for every triangle.
bool sameResults(const std::string& path, int32_t triangles, const std::string& tracePath) {
    const int traceFd = open(tracePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    float *ours = nullptr, *theirs = nullptr;
    const int32_t n = loadQuietly(path, &ours, traceFd);
    close(traceFd);
    const int32_t m = loadWithTinyObj(path, &theirs);
    bool same = n == m && n == triangles;
    if (!same)
        std::fprintf(stderr, "%s: triangle counts differ: %d, %d, %d\n", path.c_str(), n, m, triangles);
    for (size_t i = 0; same && i < static_cast<size_t>(n) * 24; ++i) {
        if (std::fabs(ours[i] - theirs[i]) > 1e-6f * (1.0f + std::fabs(ours[i]))) {
            std::fprintf(stderr, "%s: arrays differ at float %zu: %g vs %g\n", path.c_str(), i, ours[i],
                         theirs[i]);
            same = false;
        }
    }
    std::string expected;
    char text[192];
    for (size_t t = 0; same && t < static_cast<size_t>(n); ++t) {
        const float* first = ours + 24 * t;
        std::snprintf(text, sizeof text, " %f |  %f |  %f | \n", static_cast<double>(first[0]),
                      static_cast<double>(first[6]), static_cast<double>(first[5]));
        expected += text;
    }
    std::string trace;
    if (std::FILE* in = std::fopen(tracePath.c_str(), "rb")) {
        size_t got;
        while ((got = std::fread(text, 1, sizeof text, in)) > 0) trace.append(text, got);
        std::fclose(in);
    }
    if (same && trace != expected) {
        std::fprintf(stderr, "%s: the trace differs from printf's\n", path.c_str());
        same = false;
    }
    std::remove(tracePath.c_str());
    std::free(ours);
    std::free(theirs);
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    plat::tuneAllocator();  // as the demo sets itself up
    char dir[] = "/tmp/contrail-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gridPath = std::string(dir) + "/grid.obj";
    exporterPath = std::string(dir) + "/exporter.obj";
    shipPath = std::string(dir) + "/ship.obj";
    writeGrid(gridPath);
    writeExporter(exporterPath);
    const char* dataEnv = std::getenv("CONTRAIL_DATA");
    const std::string data = dataEnv ? dataEnv : CONTRAIL_DATA_DIR;
    struct Mesh {
        const char* name;
        const std::string* path;
        int32_t triangles;
    };
    std::vector<Mesh> meshes;
    if (writeSubdividedShip(data + "/zazozodoze_tex.obj", shipPath, 3))
        meshes.push_back({"ship, subdivided", &shipPath, 6000 * 64});
    else
        std::fprintf(stderr, "no ship in %s (CONTRAIL_DATA=DIR): generated meshes only\n", data.c_str());
    meshes.push_back({"exporter torus", &exporterPath, 2 * kRing * kRing});
    meshes.push_back({"grid", &gridPath, 2 * (kSide - 1) * (kSide - 1)});
    int status = 0;
    for (const Mesh& m : meshes)
        if (!sameResults(*m.path, m.triangles, std::string(dir) + "/trace.txt")) status = 1;
    if (status == 0) {
        std::printf(
            "meshes from files, trace to /dev/null, the two loaders in turns (ratio = tinyobjloader / "
            "contrail)\n");
        for (const Mesh& m : meshes) {
            const auto load = [&](auto loader) {
                return [&, loader] {
                    float* vertices = nullptr;
                    benchmark::DoNotOptimize(loader(*m.path, &vertices));
                    std::free(vertices);
                };
            };
            const race::Result r =
                race::run(load([](const std::string& p, float** v) { return loadQuietly(p, v); }),
                          load(loadWithTinyObj), 7, 1);
            race::print(m.name, "tinyobjloader", r);
        }
        std::printf("\n");
        for (const Mesh& m : meshes) {
            benchmark::RegisterBenchmark((std::string("BM_loadObjMesh/") + m.name).c_str(), BM_loadObjMesh,
                                         m.path)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(2.0);
            benchmark::RegisterBenchmark((std::string("BM_tinyobjloader/") + m.name).c_str(),
                                         BM_tinyobjloader, m.path)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(2.0);
        }
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    std::remove(gridPath.c_str());
    std::remove(exporterPath.c_str());
    std::remove(shipPath.c_str());
    rmdir(dir);
    return status;
}
