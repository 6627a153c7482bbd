// mesh.cpp - the spaceship: its file, its texture, and its tumbling or spinning draw.
#include "mesh/mesh.h"

#include "platform/gl.h"

#include <cstdio>
#include <cstdlib>

#include "image/image.h"
#include "platform/platform.h"
#include "show/show.h"

namespace {
constexpr int32_t kFirstTumbleDegrees = 90;
}

int32_t frameCounter = kFirstTumbleDegrees;

void resetMesh() { frameCounter = kFirstTumbleDegrees; }

Mesh::Mesh(float x, float y, float z) {
    triangleCount = loadObjMesh(show::kMeshFile, &vertices);
    textureId = loadTexture(show::kMeshTextureFile);
    if (textureId == -1) {
        std::fflush(stdout);
        std::fprintf(stderr, "contrail: cannot load the mesh texture %s\n", show::kMeshTextureFile);
        plat::endProcess(1);
    }
    this->x = x;
    this->y = y;
    this->z = z;
}

Mesh::~Mesh() { std::free(vertices); }

void Mesh::draw(int32_t spinMode, int32_t angle) const {
    static const GLfloat white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    glLoadIdentity();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(textureId));
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT1);
    glEnable(GL_DEPTH_TEST);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, white);
    glTranslatef(x, y, z);
    if (spinMode == 0) {
        glRotatef(90.0f, 0.0f, 1.0f, 0.0f);
        glRotatef(static_cast<float>(frameCounter), 1.0f, 0.0f, 0.0f);
        ++frameCounter;
    } else {
        // % truncates, so the turn keeps the sign of the angle: -390 turns by -30.
        glRotatef(static_cast<float>(angle % 360), 1.0f, 1.0f, 0.0f);
    }
    glRotatef(180.0f, 0.0f, 0.0f, 1.0f);
    glBegin(GL_TRIANGLES);
    const float* corner = vertices;
    // triangleCount is -1 without a mesh file; the batch is then empty.
    for (int32_t t = 0; t < triangleCount; ++t) {
        for (int c = 0; c < 3; ++c, corner += 8) {
            glTexCoord2f(corner[6], corner[7]);
            glNormal3f(corner[3], corner[4], corner[5]);
            glVertex3f(corner[0], corner[1], corner[2]);
        }
    }
    glEnd();
}
