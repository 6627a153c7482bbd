// OBJ loading speed: loadObjMesh (trace included, sent to /dev/null) against
// tinyobjloader building the same 24-floats-per-triangle array, on a generated
// grid of 400 x 400 vertices (318,402 triangles).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mesh/mesh.h"

namespace {

constexpr int kSide = 400;
std::string meshPath;

void writeMesh(const std::string& path) {
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

// Loads with the trace going to /dev/null; returns the triangle count.
int32_t loadQuietly(float** vertices) {
    static const int devNull = open("/dev/null", O_WRONLY);
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(devNull, 1);
    const int32_t count = loadObjMesh(meshPath.c_str(), vertices);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return count;
}

int32_t loadWithTinyObj(float** vertices) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, meshPath.c_str(), nullptr, true)) std::abort();
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

void BM_loadObjMesh(benchmark::State& state) {
    for (auto _ : state) {
        float* vertices = nullptr;
        benchmark::DoNotOptimize(loadQuietly(&vertices));
        std::free(vertices);
    }
}
BENCHMARK(BM_loadObjMesh)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_tinyobjloader(benchmark::State& state) {
    for (auto _ : state) {
        float* vertices = nullptr;
        benchmark::DoNotOptimize(loadWithTinyObj(&vertices));
        std::free(vertices);
    }
}
BENCHMARK(BM_tinyobjloader)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Both loaders must build the same array, or the race means nothing.
void checkSameArrays() {
    float *ours = nullptr, *theirs = nullptr;
    const int32_t n = loadQuietly(&ours);
    const int32_t m = loadWithTinyObj(&theirs);
    if (n != m || n != 2 * (kSide - 1) * (kSide - 1)) {
        std::fprintf(stderr, "triangle counts differ: %d vs %d\n", n, m);
        std::exit(1);
    }
    for (size_t i = 0; i < static_cast<size_t>(n) * 24; ++i) {
        if (std::fabs(ours[i] - theirs[i]) > 1e-6f * (1.0f + std::fabs(ours[i]))) {
            std::fprintf(stderr, "arrays differ at float %zu: %g vs %g\n", i, ours[i], theirs[i]);
            std::exit(1);
        }
    }
    std::free(ours);
    std::free(theirs);
}

}  // namespace

int main(int argc, char** argv) {
    char dir[] = "/tmp/contrail-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    meshPath = std::string(dir) + "/grid.obj";
    writeMesh(meshPath);
    checkSameArrays();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(meshPath.c_str());
    rmdir(dir);
    return 0;
}
