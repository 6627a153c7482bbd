// cube_map.cpp - the sky box's six faces as one environment cube-map texture.
#include "image/image.h"

#include "platform/whole_file.h"
#include "show/show.h"

#include "platform/gl.h"

#include <cstdlib>

namespace {

constexpr int32_t kFaceSize = 512;

struct Face {
    const char* file;
    GLenum target;
};

const Face kFaces[] = {
    {show::kSkyFaceFiles[0], GL_TEXTURE_CUBE_MAP_POSITIVE_X},
    {show::kSkyFaceFiles[1], GL_TEXTURE_CUBE_MAP_NEGATIVE_X},
    {show::kSkyFaceFiles[2], GL_TEXTURE_CUBE_MAP_POSITIVE_Y},
    {show::kSkyFaceFiles[3], GL_TEXTURE_CUBE_MAP_NEGATIVE_Y},
    {show::kSkyFaceFiles[4], GL_TEXTURE_CUBE_MAP_POSITIVE_Z},
    {show::kSkyFaceFiles[5], GL_TEXTURE_CUBE_MAP_NEGATIVE_Z},
};

}  // namespace

uint8_t* loadCubeFace(const char* path) {
    if (dibFileMissing(path)) return nullptr;

    ImageRGB* image = loadDibImage(path);
    if (!image) return nullptr;
    uint8_t* pixels = image->pixels;
    // The upload reads exactly one face's worth; a smaller picture would be overrun.
    if (image->width != kFaceSize || image->height != kFaceSize) {
        std::free(pixels);
        pixels = nullptr;
    }
    std::free(image);
    return pixels;
}

EnvironmentCubeMap::EnvironmentCubeMap() {
    for (const Face& face : kFaces) {
        uint8_t* pixels = loadCubeFace(face.file);
        // A null array still gives the face its storage.
        glTexImage2D(face.target, 0, GL_RGB, kFaceSize, kFaceSize, 0, GL_RGB, GL_UNSIGNED_BYTE,
                     pixels);
        std::free(pixels);
    }
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_R, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_NORMAL_MAP);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_NORMAL_MAP);
    glTexGeni(GL_R, GL_TEXTURE_GEN_MODE, GL_NORMAL_MAP);
}
