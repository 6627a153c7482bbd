// The OBJ loader on a scratch file, its per-triangle trace caught in memory.
// Every input is also read record by record with the general readers, the
// reference: the quick readers must give the same numbers, the loader the
// same triangles, and the trace the text that printf gives for them.
#include "fuzz_support.h"
#include "mesh/mesh.h"
#include "mesh/obj_numbers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int traceFd = -1;

bool sameBits(const float* a, const float* b, size_t n) {
    return n == 0 || std::memcmp(a, b, n * sizeof(float)) == 0;
}

// The fast formatter against the library's, for one value.
void checkTraceValue(float value) {
    char fast[objnum::kMaxTraceValue + 8], general[objnum::kMaxTraceValue + 8];
    const size_t n = static_cast<size_t>(objnum::appendTraceValue(fast, value) - fast);
    const size_t m = static_cast<size_t>(objnum::appendTraceValueGenerally(general, value) - general);
    if (n != m || std::memcmp(fast, general, n) != 0 || n > objnum::kMaxTraceValue) std::abort();
}

std::string traceText(float value) {
    char text[objnum::kMaxTraceValue + 8];
    return std::string(text, objnum::appendTraceValueGenerally(text, value));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    traceFd = memfd_create("contrail-fuzz-trace", 0);
    if (traceFd < 0 || dup2(traceFd, STDOUT_FILENO) < 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* const text = reinterpret_cast<const char*>(data);
    const char* const end = text + size;

    // The records, read by the general readers; each quick read must agree.
    std::vector<float> positions, normals, texCoords;
    std::vector<const char*> faces;
    for (size_t i = 0; i < size; ++i) {
        if (i != 0 && data[i - 1] != '\n') continue;  // a line feed that ends the file starts nothing
        const char* line = text + i;
        if (*line == 'f') faces.push_back(line);
        if (*line != 'v' || size - i < 2) continue;
        std::vector<float>* records = line[1] == ' '   ? &positions
                                      : line[1] == 'n' ? &normals
                                      : line[1] == 't' ? &texCoords
                                                       : nullptr;
        if (!records) continue;
        const int count = records == &texCoords ? 2 : 3;
        const char* numbers = line + (line[1] == ' ' ? 1 : 2);
        float general[3], quick[3];
        objnum::readReals(numbers, end, general, count);
        objnum::readRealsQuickly(numbers, end, quick, count);
        if (!sameBits(general, quick, static_cast<size_t>(count))) std::abort();
        records->insert(records->end(), general, general + count);
        for (int k = 0; k < count; ++k) checkTraceValue(general[k]);
    }
    // The formatter on values the input spells bit by bit.
    for (size_t i = 0; i + 4 <= size; i += 4) {
        float value;
        std::memcpy(&value, data + i, sizeof value);
        checkTraceValue(value);
    }

    // The triangles and the trace they give.
    std::vector<float> expected;
    std::string expectedTrace;
    for (const char* line : faces) {
        int64_t general[9], quick[9];
        const bool read = objnum::readFace(line, end, general);
        if (objnum::readFaceQuickly(line, end, quick) != read ||
            (read && std::memcmp(general, quick, sizeof general) != 0)) {
            std::abort();
        }
        bool valid = read;
        for (int c = 0; valid && c < 3; ++c) {
            valid = general[3 * c] >= 1 && static_cast<size_t>(general[3 * c]) <= positions.size() / 3 &&
                    general[3 * c + 1] >= 1 &&
                    static_cast<size_t>(general[3 * c + 1]) <= texCoords.size() / 2 &&
                    general[3 * c + 2] >= 1 && static_cast<size_t>(general[3 * c + 2]) <= normals.size() / 3;
        }
        float triangle[24] = {};
        for (int c = 0; valid && c < 3; ++c) {
            std::memcpy(triangle + 8 * c, &positions[3 * static_cast<size_t>(general[3 * c] - 1)], 12);
            std::memcpy(triangle + 8 * c + 3, &normals[3 * static_cast<size_t>(general[3 * c + 2] - 1)], 12);
            std::memcpy(triangle + 8 * c + 6, &texCoords[2 * static_cast<size_t>(general[3 * c + 1] - 1)], 8);
        }
        expected.insert(expected.end(), triangle, triangle + 24);
        expectedTrace += traceText(triangle[0]) + traceText(triangle[6]) + traceText(triangle[5]) + "\n";
    }

    if (ftruncate(traceFd, 0) != 0 || lseek(traceFd, 0, SEEK_SET) != 0) std::abort();
    float* vertices = nullptr;
    const int32_t triangles = loadObjMesh(fuzz::writeScratch(".obj", data, size).c_str(), &vertices);
    if (triangles < 0 || !vertices) std::abort();  // the file is there, so it always opens
    if (static_cast<size_t>(triangles) != faces.size()) std::abort();
    if (!sameBits(vertices, expected.data(), expected.size())) std::abort();
    std::free(vertices);

    std::string trace(expectedTrace.size() + 1, '\0');
    const ssize_t got = pread(traceFd, trace.data(), trace.size(), 0);
    if (got != static_cast<ssize_t>(expectedTrace.size()) ||
        trace.compare(0, expectedTrace.size(), expectedTrace) != 0) {
        std::abort();
    }
    return 0;
}
