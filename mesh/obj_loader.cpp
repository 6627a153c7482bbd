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

// The file is read in pieces of whole lines through one buffer that stays in
// the cache, never whole. One pass reads every vertex record into arrays of
// its kind and counts the faces, and a second over the stretch from the first
// face line to the last resolves the faces into the output and writes the
// trace. A file found shorter than it was (cut short while it is read) is
// read again from the start as the shorter file it is now, as long as no face
// has been resolved; after that, the faces it no longer holds become empty
// triangles.
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

// The records of one kind, in file order, in an array that doubles as it
// fills (a large one is a mapping of its own, which grows without a copy).
class Records {
public:
    explicit Records(size_t width) : width_(width) {}
    ~Records() { std::free(data_); }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    // The next record's floats.
    float* next() {
        if (count_ == capacity_) grow();
        return data_ + width_ * count_++;
    }
    size_t count() const { return count_; }
    const float* data() const { return data_; }
    void clear() { count_ = 0; }

private:
    void grow() {
        const size_t capacity = capacity_ ? 2 * capacity_ : 4096;
        size_t bytes = 0;
        if (capacity < capacity_ || !objnum::arrayBytes(capacity, width_, sizeof(float), bytes))
            throw std::bad_alloc();
        auto* data = static_cast<float*>(std::realloc(data_, bytes));
        if (!data) throw std::bad_alloc();
        data_ = data;
        capacity_ = capacity;
    }

    const size_t width_;
    float* data_ = nullptr;
    size_t count_ = 0, capacity_ = 0;
};

// Resolves face lines into consecutive triangles and traces each, piece by piece.
class FaceResolver {
public:
    FaceResolver(const Records& positions, const Records& normals, const Records& texCoords, float* output)
        : positionData_(positions.data()),
          normalData_(normals.data()),
          texCoordData_(texCoords.data()),
          positionCount_(positions.count()),
          normalCount_(normals.count()),
          texCoordCount_(texCoords.count()),
          triangle_(output),
          cursor_(trace_.begin()) {}
    ~FaceResolver() { trace_.flush(cursor_); }
    FaceResolver(const FaceResolver&) = delete;
    FaceResolver& operator=(const FaceResolver&) = delete;

    // The face lines that start in [from, to), up to `left` of them; returns how many.
    size_t run(const char* from, const char* to, const char* end, size_t left);

private:
    // Kept in locals: the trace's byte stores could otherwise alias them.
    const float* const positionData_;
    const float* const normalData_;
    const float* const texCoordData_;
    const uint64_t positionCount_, normalCount_, texCoordCount_;
    float* triangle_;
    TraceBuffer trace_;
    char* cursor_;
    size_t lastLength_ = 0;  // of the trace line just before `cursor_`, 0 for none
    uint64_t lastKey_[3] = {};
};

size_t FaceResolver::run(const char* from, const char* to, const char* end, size_t left) {
    const float* const positionData = positionData_;
    const float* const normalData = normalData_;
    const float* const texCoordData = texCoordData_;
    const uint64_t positionCount = positionCount_, normalCount = normalCount_, texCoordCount = texCoordCount_;
    float* triangle = triangle_;
    char* cursor = cursor_;
    char* const full = trace_.full();
    size_t lastLength = lastLength_;
    uint64_t lastKey[3];
    std::memcpy(lastKey, lastKey_, sizeof lastKey);
    size_t done = 0;
    for (LineStarts lines(from, to); done < left;) {
        const char* line = lines.next();
        if (!line) break;
        if (*line != 'f') continue;
        ++done;
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
            cursor = trace_.flush(cursor);
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
    triangle_ = triangle;
    cursor_ = cursor;
    lastLength_ = lastLength;
    std::memcpy(lastKey_, lastKey, sizeof lastKey);
    return done;
}

// The file from `from` to `to` in pieces of whole lines: each piece ends just
// after its last line feed, or at `to`. A line longer than the buffer grows it.
class Pieces {
public:
    Pieces(plat::InputFile& file, uint64_t from, uint64_t to, size_t capacity)
        : file_(file), next_(from), to_(to), capacity_(capacity) {}
    ~Pieces() { std::free(buffer_); }
    Pieces(const Pieces&) = delete;
    Pieces& operator=(const Pieces&) = delete;

    // The next piece in [begin(), end()), or false after the last. False at
    // once, with cutShort() true, when the file ends before `to`.
    bool next();
    const char* begin() const { return buffer_; }
    const char* end() const { return buffer_ + length_; }
    bool cutShort() const { return short_; }
    // Where the file was found to end, when cutShort().
    uint64_t shortAt() const { return next_; }

private:
    plat::InputFile& file_;
    uint64_t next_;  // the first byte not yet read
    const uint64_t to_;
    size_t capacity_;
    char* buffer_ = nullptr;
    size_t length_ = 0;  // of the piece handed out
    size_t held_ = 0;    // bytes in the buffer: the piece and what follows it
    bool short_ = false;
};

bool Pieces::next() {
    // The bytes after the last piece's last line feed move to the front.
    if (held_ > length_) std::memmove(buffer_, buffer_ + length_, held_ - length_);
    held_ -= length_;
    length_ = 0;
    for (;;) {
        if (!buffer_ || held_ == capacity_) {
            if (buffer_) capacity_ *= 2;
            char* grown = static_cast<char*>(std::realloc(buffer_, capacity_));
            if (!grown) throw std::bad_alloc();
            buffer_ = grown;
        }
        const uint64_t rest = to_ - next_;
        const size_t want = rest < capacity_ - held_ ? static_cast<size_t>(rest) : capacity_ - held_;
        const size_t got = file_.read(next_, buffer_ + held_, want);
        next_ += got;
        held_ += got;
        if (got < want) {
            short_ = true;
            return false;
        }
        if (next_ == to_) {
            length_ = held_;
            return length_ > 0;
        }
        for (size_t i = held_; i > 0; --i) {
            if (buffer_[i - 1] == '\n') {
                length_ = i;
                return true;
            }
        }
    }
}

}  // namespace

namespace {

// Pieces of about this size: the pass over one stays in the cache.
constexpr size_t kPieceBytes = 256 * 1024;

// Where the face lines lie, and how many there are.
struct Faces {
    size_t count = 0;
    uint64_t first = 0, lastEnd = 0;  // from the first face line to the end of the piece of the last
};

// The first pass over [0, length): the vertex records are read, the faces
// counted. False when the file is shorter (`length` then says how long).
bool readRecords(plat::InputFile& file, uint64_t& length, Records& positions, Records& normals,
                 Records& texCoords, Faces& faces) {
    Pieces pieces(file, 0, length, kPieceBytes);
    uint64_t at = 0;  // of the piece in the file
    while (pieces.next()) {
        const char* const text = pieces.begin();
        const char* const end = pieces.end();
        for (LineStarts lines(text, end); const char* line = lines.next();) {
            if (*line == 'v') {
                if (end - line < 2) continue;
                switch (line[1]) {
                case ' ': objnum::readRealsQuickly(line + 1, end, positions.next(), 3); break;
                case 'n': objnum::readRealsQuickly(line + 2, end, normals.next(), 3); break;
                case 't': objnum::readRealsQuickly(line + 2, end, texCoords.next(), 2); break;
                default: break;
                }
            } else if (*line == 'f') {
                if (faces.count++ == 0) faces.first = at + static_cast<uint64_t>(line - text);
                faces.lastEnd = at + static_cast<uint64_t>(end - text);
            }
        }
        at += static_cast<uint64_t>(end - text);
    }
    if (!pieces.cutShort()) return true;
    length = pieces.shortAt();
    return false;
}

}  // namespace

int32_t loadObjMesh(const char* fileName, float** outVertices) {
    if (!fileName) return -1;
    plat::InputFile file(fileName);
    if (!file.opened()) return -1;
    uint64_t length = file.size();

    // First pass: the vertex records are read and the faces counted. A file
    // found shorter is read again.
    Records positions(3), normals(3), texCoords(2);
    Faces faces;
    while (!readRecords(file, length, positions, normals, texCoords, faces)) {
        positions.clear(), normals.clear(), texCoords.clear();
        faces = Faces{};
    }

    // The count is returned as a signed 32-bit number, and the array must fit.
    size_t outputBytes = 0;
    if (faces.count > INT32_MAX || !objnum::arrayBytes(faces.count, size_t{24}, sizeof(float), outputBytes))
        throw std::bad_alloc();
    float* const output = static_cast<float*>(std::malloc(outputBytes ? outputBytes : 1));
    if (!output) throw std::bad_alloc();
    *outVertices = output;

    // Second pass, over the lines from the first face to the last.
    size_t left = faces.count;
    {
        FaceResolver resolver(positions, normals, texCoords, output);
        Pieces pieces(file, faces.first, faces.count ? faces.lastEnd : faces.first, kPieceBytes);
        while (left > 0 && pieces.next())
            left -= resolver.run(pieces.begin(), pieces.end(), pieces.end(), left);
        // Faces the file no longer holds (cut short since they were counted).
        if (left > 0) std::memset(output + 24 * (faces.count - left), 0, left * 24 * sizeof(float));
    }
    return static_cast<int32_t>(faces.count);
}
