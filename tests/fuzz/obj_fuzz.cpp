// The OBJ loader on a scratch file, its per-triangle trace sent to /dev/null.
#include "fuzz_support.h"
#include "mesh/mesh.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) std::abort();
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    float* vertices = nullptr;
    const int32_t triangles = loadObjMesh(fuzz::writeScratch(".obj", data, size).c_str(), &vertices);
    if (triangles < 0 || !vertices) std::abort();  // the file is there, so it always opens
    // One triangle per line that starts with "f": touch every float the count promises.
    size_t faces = 0;
    for (size_t i = 0; i < size; ++i) faces += data[i] == 'f' && (i == 0 || data[i - 1] == '\n');
    if (size_t(triangles) != faces) std::abort();
    volatile float sum = 0;
    for (size_t i = 0; i < size_t(triangles) * 24; ++i) sum = sum + vertices[i];
    std::free(vertices);
    return 0;
}
