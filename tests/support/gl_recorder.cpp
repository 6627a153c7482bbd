// gl_recorder.cpp - the wrapped GL calls, recorded on their way to the driver.
#include "tests/support/gl_recorder.h"

#include "platform/gl.h"

#include <cstdio>

namespace glrec {
namespace {
bool recording = false;
std::vector<Call> calls;

void record(const char* name, std::vector<double> args) {
    if (recording) calls.push_back({name, std::move(args)});
}
}  // namespace

void start() {
    calls.clear();
    recording = true;
}

std::vector<Call> stop() {
    recording = false;
    return std::move(calls);
}

std::string text(const Call& call) {
    std::string out = call.name + "(";
    for (size_t i = 0; i < call.args.size(); ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%.9g", call.args[i]);
        out += (i ? ", " : "") + std::string(number);
    }
    return out + ")";
}

std::vector<std::string> text(const std::vector<Call>& list) {
    std::vector<std::string> out;
    for (const Call& call : list) out.push_back(text(call));
    return out;
}

}  // namespace glrec

using glrec::record;

// Declares the real entry point and defines the wrapper that records the call
// (arguments as doubles) before passing it on.
#define RECORDED(name, params, args, ...)  \
    void __real_##name params;             \
    void __wrap_##name params {            \
        record(#name, {__VA_ARGS__});      \
        __real_##name args;                \
    }

extern "C" {
RECORDED(glEnable, (GLenum cap), (cap), double(cap))
RECORDED(glDisable, (GLenum cap), (cap), double(cap))
RECORDED(glBlendFunc, (GLenum s, GLenum d), (s, d), double(s), double(d))
RECORDED(glLoadIdentity, (), ())
RECORDED(glTranslatef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), x, y, z)
RECORDED(glScalef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), x, y, z)
RECORDED(glRotatef, (GLfloat a, GLfloat x, GLfloat y, GLfloat z), (a, x, y, z), a, x, y, z)
RECORDED(glBindTexture, (GLenum target, GLuint name), (target, name), double(target), double(name))
RECORDED(glTexEnvi, (GLenum target, GLenum pname, GLint value), (target, pname, value), double(target),
         double(pname), double(value))
// Every light parameter the demo sets has four components.
RECORDED(glLightfv, (GLenum light, GLenum pname, const GLfloat* v), (light, pname, v), double(light),
         double(pname), v[0], v[1], v[2], v[3])
RECORDED(glBegin, (GLenum mode), (mode), double(mode))
RECORDED(glEnd, (), ())
RECORDED(glColor4f, (GLfloat r, GLfloat g, GLfloat b, GLfloat a), (r, g, b, a), r, g, b, a)
RECORDED(glTexCoord2f, (GLfloat s, GLfloat t), (s, t), s, t)
RECORDED(glNormal3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), x, y, z)
RECORDED(glVertex3f, (GLfloat x, GLfloat y, GLfloat z), (x, y, z), x, y, z)
}
