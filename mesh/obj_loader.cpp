// obj_loader.cpp - the OBJ subset read into one interleaved triangle array.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// CONTRAIL_PORTABLE (the CMake option) finds line feeds one byte at a time.
#if defined(__SSE2__) && !defined(CONTRAIL_PORTABLE)
#define CONTRAIL_SSE2 1
#include <emmintrin.h>
#endif

#include "mesh/mesh.h"
#include "mesh/obj_numbers.h"
#include "platform/whole_file.h"

// The file is read through a read-only mapping, never copied. One pass counts
// the records of each kind, a second reads every vertex record into arrays of
// exactly that size, and a third over the stretch from the first face line to
// the last resolves the faces into the output and writes the trace.
//
// Line starts are found 64 bytes at a time, apart from the parsing, so that
// the work on one line does not wait for the end of the line before it. The
// numbers are read by the readers of obj_numbers.h.

namespace {

// Bit i is set when p[i] is a line feed, for the 64 bytes from p.
uint64_t lineFeeds64(const char* p) {
#if defined(CONTRAIL_SSE2)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const auto feeds16 = [&](int at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        return static_cast<uint64_t>(
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineFeed))));
    };
    return feeds16(0) | feeds16(16) << 16 | feeds16(32) << 32 | feeds16(48) << 48;
#else
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i) mask |= static_cast<uint64_t>(p[i] == '\n') << i;
    return mask;
#endif
}

// The lines that start in [from, to), in file order; `from` must be a line
// start. A line feed just before `to` starts nothing.
class LineStarts {
public:
    LineStarts(const char* from, const char* to)
        : first_(from < to ? from : nullptr), next_(from), last_(from < to ? to - 1 : from) {}

    // The next line start, or nullptr after the last.
    const char* next() {
        if (first_) {
            const char* line = first_;
            first_ = nullptr;
            return line;
        }
        while (feeds_ == 0) {
            if (next_ >= last_) return nullptr;  // a line feed at `last_` or later starts no line before `to`
            block_ = next_;
            if (last_ - next_ >= 64) {
                feeds_ = lineFeeds64(next_);
                next_ += 64;
            } else {
                for (int i = 0; next_ < last_; ++i, ++next_) {
                    feeds_ |= static_cast<uint64_t>(*next_ == '\n') << i;
                }
            }
        }
        const char* line = block_ + __builtin_ctzll(feeds_) + 1;
        feeds_ &= feeds_ - 1;
        return line;
    }

private:
    const char* first_;
    const char* next_;  // the first byte not yet looked at
    const char* last_;
    const char* block_ = nullptr;  // where the bits of `feeds_` count from
    uint64_t feeds_ = 0;
};

// The trace goes through one buffer written out in large blocks: a printf per
// triangle would cost more than all the parsing.
class TraceBuffer {
public:
    static constexpr size_t maxLine = 3 * objnum::kMaxTraceValue + 1;  // three values and the line feed

    TraceBuffer() : buffer_(new char[capacity]) {}
    // The whole trace is out before the loader returns, even when standard
    // output goes to a file and would otherwise hold its tail until exit.
    ~TraceBuffer() { std::fflush(stdout); }
    TraceBuffer(const TraceBuffer&) = delete;
    TraceBuffer& operator=(const TraceBuffer&) = delete;

    char* begin() const { return buffer_.get(); }
    // Past this, a line may not fit.
    char* full() const { return buffer_.get() + capacity - maxLine; }
    // Writes out the bytes up to `cursor`; returns where to go on writing.
    char* flush(char* cursor) const {
        std::fwrite(buffer_.get(), 1, static_cast<size_t>(cursor - buffer_.get()), stdout);
        return buffer_.get();
    }

private:
    static constexpr size_t capacity = size_t{1} << 17;
    std::unique_ptr<char[]> buffer_;
};

// The records of one kind, in file order, in an array allocated once at its
// final size.
class Records {
public:
    Records(size_t width, size_t count)
        : width_(width),
          count_(count),
          data_(static_cast<float*>(std::malloc(width * count * sizeof(float) + 1))) {
        if (!data_) throw std::bad_alloc();
    }
    ~Records() { std::free(data_); }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    // The next record's floats; as many calls as there are records.
    float* next() { return data_ + width_ * filled_++; }
    size_t count() const { return count_; }
    const float* data() const { return data_; }

private:
    const size_t width_;
    const size_t count_;
    float* const data_;
    size_t filled_ = 0;
};

// Resolves the face lines that start in [from, to) into consecutive triangles
// from `triangle` on, and traces each.
void resolveFaces(const char* from, const char* to, const char* end, const Records& positions,
                  const Records& normals, const Records& texCoords, float* triangle) {
    // Kept in locals: the trace's byte stores could otherwise alias them.
    const float* const positionData = positions.data();
    const float* const normalData = normals.data();
    const float* const texCoordData = texCoords.data();
    const uint64_t positionCount = positions.count(), normalCount = normals.count();
    const uint64_t texCoordCount = texCoords.count();
    TraceBuffer trace;
    char* cursor = trace.begin();
    char* const full = trace.full();
    size_t lastLength = 0;  // of the trace line just before `cursor`, 0 for none
    uint64_t lastKey[3] = {};
    for (LineStarts lines(from, to); const char* line = lines.next();) {
        if (*line != 'f') continue;
        int64_t index[9];
        bool valid = objnum::readFaceQuickly(line, end, index);
        // 1-based indices, each of its own kind.
        uint64_t p[3], t[3], n[3];
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            p[c] = static_cast<uint64_t>(index[3 * c] - 1);
            t[c] = static_cast<uint64_t>(index[3 * c + 1] - 1);
            n[c] = static_cast<uint64_t>(index[3 * c + 2] - 1);
            valid &= (p[c] < positionCount) & (t[c] < texCoordCount) & (n[c] < normalCount);
        }
        if (valid) {
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                std::memcpy(triangle + 8 * c, positionData + 3 * p[c], 3 * sizeof(float));
                std::memcpy(triangle + 8 * c + 3, normalData + 3 * n[c], 3 * sizeof(float));
                std::memcpy(triangle + 8 * c + 6, texCoordData + 2 * t[c], 2 * sizeof(float));
            }
        } else {
            // Broken faces stay in the count but collapse to a point at the origin.
            std::memset(triangle, 0, 24 * sizeof(float));
        }
        triangle += 24;
        if (cursor > full) {
            cursor = trace.flush(cursor);
            lastLength = 0;
        }
        // Position x, texture u and normal z of the first corner. Faces often
        // come in pairs that start at the same corner: the line just written
        // is then written again.
        const uint64_t key[3] = {valid ? p[0] : ~uint64_t{0}, valid ? t[0] : 0, valid ? n[0] : 0};
        if (lastLength != 0 && key[0] == lastKey[0] && key[1] == lastKey[1] && key[2] == lastKey[2]) {
            std::memcpy(cursor, cursor - lastLength, lastLength);
            cursor += lastLength;
            continue;
        }
        char* const lineStart = cursor;
        cursor = objnum::appendTraceValue(cursor, valid ? positionData[3 * p[0]] : 0.0f);
        cursor = objnum::appendTraceValue(cursor, valid ? texCoordData[2 * t[0]] : 0.0f);
        cursor = objnum::appendTraceValue(cursor, valid ? normalData[3 * n[0] + 2] : 0.0f);
        *cursor++ = '\n';
        lastLength = static_cast<size_t>(cursor - lineStart);
        std::memcpy(lastKey, key, sizeof key);
    }
    trace.flush(cursor);
}

}  // namespace

int32_t loadObjMesh(const char* fileName, float** outVertices) {
    if (!fileName) return -1;
    const plat::WholeFile file(fileName);
    if (!file.opened()) return -1;
    const char* const text = reinterpret_cast<const char*>(file.data());
    const char* const end = text + file.size();

    // First pass: the records of each kind are counted, so that every array
    // is allocated once, at its final size.
    size_t positionCount = 0, normalCount = 0, texCoordCount = 0, faceCount = 0;
    const char *firstFace = end, *lastFace = end;
    for (LineStarts lines(text, end); const char* line = lines.next();) {
        if (*line == 'v') {
            if (end - line < 2) continue;
            positionCount += line[1] == ' ';
            normalCount += line[1] == 'n';
            texCoordCount += line[1] == 't';
        } else if (*line == 'f') {
            if (faceCount++ == 0) firstFace = line;
            lastFace = line;
        }
    }

    // Second pass: the vertex records are read.
    Records positions(3, positionCount), normals(3, normalCount), texCoords(2, texCoordCount);
    for (LineStarts lines(text, end); const char* line = lines.next();) {
        if (*line != 'v' || end - line < 2) continue;
        switch (line[1]) {
        case ' ': objnum::readRealsQuickly(line + 1, end, positions.next(), 3); break;
        case 'n': objnum::readRealsQuickly(line + 2, end, normals.next(), 3); break;
        case 't': objnum::readRealsQuickly(line + 2, end, texCoords.next(), 2); break;
        default: break;
        }
    }

    const size_t outputBytes = faceCount * 24 * sizeof(float);
    float* const output = static_cast<float*>(std::malloc(outputBytes ? outputBytes : 1));
    if (!output) throw std::bad_alloc();
    *outVertices = output;

    // Third pass, over the lines from the first face to the last.
    resolveFaces(firstFace, faceCount ? lastFace + 1 : firstFace, end, positions, normals, texCoords, output);
    return static_cast<int32_t>(faceCount);
}
