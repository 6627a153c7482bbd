// web_gl.cpp - where the browser's GL 1.x emulation falls short of the show's GL.
//
// PLATFORM: emscripten's GL emulation (-sLEGACY_GL_EMULATION=1) on WebGL 2.
// The show's own GL calls are redirected here at link time (-Wl,--wrap=NAME,
// listed with the web backend's link options), so its code stays as it is on
// the desktop:
// - glTexImage2D with the GL 1.0 internal format 3 is refused by WebGL; it
//   means GL_RGB.
// - a cube-face upload with no cube map bound goes to the default cube texture
//   on desktop GL, which WebGL does not have; a texture stands in for it.
// - the emulation lays out a glBegin/glEnd batch from its first vertex, so a
//   colour given once inside glBegin garbles the rest; it is repeated for each
//   vertex, which is what GL means by the current colour anyway.
// - glTexGeni aborts in the emulation; the show sets the generation mode but
//   never enables generation, so the call has nothing to do.
// - the page keeps one WebGL context for its life, where the desktop frees a
//   context's textures with it and starts the next from GL's defaults; the
//   names made are kept, so that releasing the window's context deletes them
//   and puts the state back (webGlReleaseContext).
// LIMITATIONS: only the entry points the show uses are covered.
// DEPENDENCIES: emscripten's GL headers and emulation.
#include "platform/gl.h"
#include "platform/web/web.h"

#include <vector>

extern "C" {

void __real_glTexImage2D(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*);
void __real_glBegin(GLenum);
void __real_glEnd();
void __real_glColor4f(GLfloat, GLfloat, GLfloat, GLfloat);
void __real_glTexCoord2f(GLfloat, GLfloat);
void __real_glNormal3f(GLfloat, GLfloat, GLfloat);
void __real_glVertex3f(GLfloat, GLfloat, GLfloat);
void __real_glGenTextures(GLsizei, GLuint*);

}  // extern "C"

namespace {

// The batch between glBegin and glEnd.
struct Batch {
    bool open = false;
    bool coloured = false;  // a colour was given inside this batch
    bool vertexHasColour = false;
    GLfloat colour[4] = {1, 1, 1, 1};
};
Batch batch;

// Before the first attribute of each vertex, the batch's colour again.
void colourThisVertex() {
    if (!batch.open || !batch.coloured || batch.vertexHasColour) return;
    __real_glColor4f(batch.colour[0], batch.colour[1], batch.colour[2], batch.colour[3]);
    batch.vertexHasColour = true;
}

GLuint defaultCubeTexture = 0;
std::vector<GLuint> liveTextures;  // made since the context was last released (the show deletes none)

}  // namespace

namespace plat {

void webGlReleaseContext() {
    if (!liveTextures.empty())
        glDeleteTextures(static_cast<GLsizei>(liveTextures.size()), liveTextures.data());
    liveTextures.clear();
    defaultCubeTexture = 0;
    // A new desktop context starts from GL's defaults; so does the next
    // set-up here, for every piece of state the show sets.
    for (const GLenum cap : {GL_TEXTURE_2D, GL_DEPTH_TEST, GL_LIGHTING, GL_LIGHT1, GL_BLEND, GL_SCISSOR_TEST})
        glDisable(cap);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDepthFunc(GL_LESS);
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    __real_glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    __real_glNormal3f(0.0f, 0.0f, 1.0f);
    __real_glTexCoord2f(0.0f, 0.0f);
    const GLfloat black[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glLightfv(GL_LIGHT1, GL_DIFFUSE, black);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    for (const GLenum matrix : {GL_TEXTURE, GL_PROJECTION, GL_MODELVIEW}) {
        glMatrixMode(matrix);
        glLoadIdentity();
    }
}

}  // namespace plat

extern "C" {

void __wrap_glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                         GLint border, GLenum format, GLenum type, const void* pixels) {
    if (internalFormat == 3) internalFormat = GL_RGB;
    if (internalFormat == 4) internalFormat = GL_RGBA;
    if (target >= GL_TEXTURE_CUBE_MAP_POSITIVE_X && target <= GL_TEXTURE_CUBE_MAP_NEGATIVE_Z) {
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_CUBE_MAP, &bound);
        if (bound == 0) {
            if (defaultCubeTexture == 0) glGenTextures(1, &defaultCubeTexture);
            glBindTexture(GL_TEXTURE_CUBE_MAP, defaultCubeTexture);
        }
    }
    __real_glTexImage2D(target, level, internalFormat, width, height, border, format, type, pixels);
}

void __wrap_glTexGeni(GLenum, GLenum, GLint) {}

void __wrap_glGenTextures(GLsizei n, GLuint* names) {
    __real_glGenTextures(n, names);
    liveTextures.insert(liveTextures.end(), names, names + n);
}

void __wrap_glBegin(GLenum mode) {
    batch = Batch{};
    batch.open = true;
    __real_glBegin(mode);
}

void __wrap_glEnd() {
    batch.open = false;
    __real_glEnd();
}

void __wrap_glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    if (batch.open) {
        batch.coloured = true;
        batch.colour[0] = r;
        batch.colour[1] = g;
        batch.colour[2] = b;
        batch.colour[3] = a;
        if (batch.vertexHasColour) return;  // this vertex has its colour slot; the next ones get this one
        batch.vertexHasColour = true;
    }
    __real_glColor4f(r, g, b, a);
}

void __wrap_glColor3f(GLfloat r, GLfloat g, GLfloat b) { __wrap_glColor4f(r, g, b, 1.0f); }

void __wrap_glTexCoord2f(GLfloat s, GLfloat t) {
    colourThisVertex();
    __real_glTexCoord2f(s, t);
}

void __wrap_glNormal3f(GLfloat x, GLfloat y, GLfloat z) {
    colourThisVertex();
    __real_glNormal3f(x, y, z);
}

void __wrap_glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    colourThisVertex();
    __real_glVertex3f(x, y, z);
    batch.vertexHasColour = false;
}

}  // extern "C"
