# Cross-building for 64-bit ARM Linux (a Raspberry Pi 4 or 5 on 64-bit Debian)
# with Debian's cross compiler and the arm64 multiarch libraries:
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# The libraries live beside the native ones, under /usr/lib/aarch64-linux-gnu,
# so the search looks there and never at the build machine's own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Tests run the results under user-mode emulation; the arm64 dynamic loader and
# libraries are found in the same root as the native ones.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
