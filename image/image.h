// image.h - pictures and textures.
//
// `loadDibImage` reads a BMP file (or a packed DIB without the file header)
// through a read-only mapping and returns it as tightly packed 24-bit RGB rows,
// bottom row first. Every failure shows one message box (caption "Error")
// through the platform layer and returns null; nothing ever reads outside the
// file. `loadTexture` turns a picture into a linear-filtered GL texture, and
// `EnvironmentCubeMap` loads the six sky-box faces into the default cube map.
#pragma once

#include <cstdint>

struct ImageRGB {
    int32_t width;
    int32_t height;
    uint8_t* pixels;  // width * height * 3 bytes; record and array both released with free()
};

// "\" and "/" both separate folders. Returns null after showing its message box.
ImageRGB* loadDibImage(const char* path);

// Returns the new GL texture name, or -1 (no message for a missing file).
// Needs a current GL context; the new texture is left bound to GL_TEXTURE_2D.
int32_t loadTexture(const char* path);

// A sky-box face's pixel array (free() it), or null.
uint8_t* loadCubeFace(const char* path);

class EnvironmentCubeMap {
public:
    EnvironmentCubeMap();  // needs a current GL context
};
