// mesh.h - the spaceship: OBJ loading and the textured, lit mesh.
//
// `loadObjMesh` reads a subset of the OBJ text format (v, vn, vt and
// triangular f lines with position/texture/normal indices) into one flat
// array of triangles, 24 floats each: per corner position x y z, normal x y z,
// texture u v. While it loads it prints one trace line per triangle to
// standard output: " %f | " with the first corner's position x, texture u
// and normal z, then a line feed. `Mesh` holds that array and its texture and
// draws it in immediate mode, tumbling (one degree more each draw, counted by
// `frameCounter`) or spinning by a caller-given angle.
#pragma once

#include <cstdint>

// Loads `fileName` ("\" or "/" between folders) into a new malloc'ed array of
// 24 floats per triangle, stored in *outVertices (the caller frees it). Returns
// the number of triangles, one per line starting with "f", or -1 (and leaves
// *outVertices alone) when the file cannot be opened; anything but a regular
// file (a pipe, device or folder) counts as such, without being waited on.
// Faces whose nine indices cannot all be read or do not name existing records
// become all-zero triangles; numbers missing from a vertex record read as 0.
int32_t loadObjMesh(const char* fileName, float** outVertices);

// Degrees of the next tumble-mode rotation about x; 90 at start, one more
// after each tumble-mode draw, shared by all meshes.
extern int32_t frameCounter;
// frameCounter back to its start-up value, as in a new process.
void resetMesh();

class Mesh {
public:
    int32_t triangleCount = 0;  // -1 when the mesh file could not be opened
    float* vertices = nullptr;  // 24 floats per triangle, owned (malloc)
    int32_t textureId = -1;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    // Loads "zazozodoze_tex.obj" and the texture "images\zazozodoze.bmp" (needs a
    // current GL context). Without its texture the ship cannot be shown: the
    // process then ends with status 1 (plat::endProcess) after one line on
    // standard error.
    Mesh(float x, float y, float z);
    ~Mesh();
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;

    void setPosition(float newX, float newY, float newZ) {
        x = newX;
        y = newY;
        z = newZ;
    }
    float getX() const { return x; }
    float getY() const { return y; }
    float getZ() const { return z; }

    // Draws at (x, y, z) in eye coordinates, starting from the identity matrix.
    // spinMode 0 tumbles: 90 degrees about y, then frameCounter degrees about x
    // (and frameCounter grows by one). Any other spinMode turns the mesh by
    // angle % 360 degrees about (1, 1, 0). Texturing, lighting, light 1 and depth
    // testing stay enabled afterwards.
    void draw(int32_t spinMode, int32_t angle) const;
};
