// gl.h - the one way into OpenGL 1.x and GLU for the whole program.
//
// Windows' GL header wants <windows.h>'s calling conventions and stops at GL 1.1, so the
// GL 1.3 cube-map names the sky box uses are given here where a header lacks
// them. Everything else includes this file, never GL/gl.h or GL/glu.h.
#pragma once

#if defined(_WIN32) && !(defined(APIENTRY) && defined(WINGDIAPI))
// Only the two calling-convention words the GL headers need, not all of
// <windows.h>: its macros would rewrite the Win32-shaped names of
// platform/platform.h in every file that draws.
#define APIENTRY __stdcall
#define WINGDIAPI __declspec(dllimport)
#define CALLBACK __stdcall
#include <GL/gl.h>
#include <GL/glu.h>
#undef APIENTRY
#undef WINGDIAPI
#undef CALLBACK
#else
#include <GL/gl.h>
#include <GL/glu.h>
#endif

#ifndef GL_TEXTURE_CUBE_MAP
#define GL_NORMAL_MAP 0x8511
#define GL_REFLECTION_MAP 0x8512
#define GL_TEXTURE_CUBE_MAP 0x8513
#define GL_TEXTURE_BINDING_CUBE_MAP 0x8514
#define GL_TEXTURE_CUBE_MAP_POSITIVE_X 0x8515
#define GL_TEXTURE_CUBE_MAP_NEGATIVE_X 0x8516
#define GL_TEXTURE_CUBE_MAP_POSITIVE_Y 0x8517
#define GL_TEXTURE_CUBE_MAP_NEGATIVE_Y 0x8518
#define GL_TEXTURE_CUBE_MAP_POSITIVE_Z 0x8519
#define GL_TEXTURE_CUBE_MAP_NEGATIVE_Z 0x851A
#endif
#ifndef GL_TEXTURE_WRAP_R
#define GL_TEXTURE_WRAP_R 0x8072
#endif
