// texture.cpp - loadTexture: one BMP file as a linear-filtered GL texture.
#include "image/image.h"

#include "platform/whole_file.h"

#include "platform/gl.h"

#include <cstdlib>

int32_t loadTexture(const char* path) {
    // A missing file is not an error worth a box here; the loader would show one.
    if (dibFileMissing(path)) return -1;

    ImageRGB* image = loadDibImage(path);
    if (!image) return -1;

    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    // Rows are tightly packed, so any width that is not a multiple of 4 needs byte alignment.
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, image->width, image->height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 image->pixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

    std::free(image->pixels);
    std::free(image);
    return static_cast<int32_t>(name);
}
