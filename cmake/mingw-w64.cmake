# Cross-building contrail.exe on Debian with MinGW-w64 (posix threads model):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Everything is linked statically (libstdc++, libgcc, winpthreads) so that the
# executable imports nothing but the DLLs every Windows installation has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CONTRAIL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CONTRAIL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CONTRAIL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CONTRAIL_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CONTRAIL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests run the results under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
