#include "mesh/mesh.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

enum class Record { none, position, normal, texCoord, face };

// A record is named by the first one or two bytes of its line: "v ", "vn", "vt"
// or "f" followed by anything. Lines starting with blanks, "v\t", "vp" and the
// rest are not records.
Record recordOf(const char* line, const char* end) {
    if (line == end) return Record::none;
    if (*line == 'f') return Record::face;
    if (*line != 'v' || end - line < 2) return Record::none;
    switch (line[1]) {
        case ' ': return Record::position;
        case 'n': return Record::normal;
        case 't': return Record::texCoord;
        default: return Record::none;
    }
}

// Calls visit(begin, end) for every line from `line` (a line start) up to
// `stop`, the first line and a last line without a line feed included; end is
// the line feed or `stop`. A line feed just before `stop` starts no further line.
template <class Visit>
void forEachLine(const char* line, const char* stop, Visit visit) {
    while (line < stop) {
        const char* lf = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(stop - line)));
        const char* end = lf ? lf : stop;
        visit(line, end);
        if (!lf) break;
        line = lf + 1;
    }
}

// The white space that scanf skips in the C locale.
bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char* skipBlanks(const char* p, const char* end) {
    while (p < end && isBlank(*p)) ++p;
    return p;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The common case, digits with an optional fraction and no exponent, whose
// value is an integer of at most 24 bits over a power of ten up to 10^10: both
// are exact floats, so one float division gives the correctly rounded result
// that strtof gives. Anything else goes to the full parser.
bool readPlainDecimal(const char*& p, const char* end, float& value) {
    static const float powersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                        1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    const char* q = p;
    uint64_t mantissa = 0;
    int digits = 0;
    int fractionDigits = 0;
    for (; q < end && isDigit(*q); ++q, ++digits) mantissa = mantissa * 10 + static_cast<uint64_t>(*q - '0');
    if (q < end && *q == '.') {
        for (++q; q < end && isDigit(*q); ++q, ++digits, ++fractionDigits)
            mantissa = mantissa * 10 + static_cast<uint64_t>(*q - '0');
    }
    if (digits == 0 || digits > 18) return false;
    if (q < end && ((*q | 0x20) == 'e' || (*q | 0x20) == 'x')) return false;  // exponent or hex
    while (fractionDigits > 0 && mantissa % 10 == 0) {
        mantissa /= 10;
        --fractionDigits;
    }
    if (mantissa > (uint64_t{1} << 24) || fractionDigits > 10) return false;
    value = static_cast<float>(mantissa) / powersOfTen[fractionDigits];
    p = q;
    return true;
}

// Reads one real the way scanf's %e does (leading blanks, optional sign,
// decimal or hexadecimal digits, inf, nan), never looking at or beyond `end`.
bool readReal(const char*& p, const char* end, float& value) {
    const char* const start = skipBlanks(p, end);
    const char* q = start;
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
        negative = *q == '-';
        ++q;
        if (q < end && (*q == '+' || *q == '-')) return false;
    }
    if (readPlainDecimal(q, end, value)) {
        if (negative) value = -value;
        p = q;
        return true;
    }
    float parsed = 0.0f;
    std::from_chars_result r{q, std::errc::invalid_argument};
    if (end - q >= 2 && q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) {
        r = std::from_chars(q + 2, end, parsed, std::chars_format::hex);
        if (r.ptr == q + 2) r = std::from_chars(q, q + 1, parsed);  // just "0"
    } else {
        r = std::from_chars(q, end, parsed, std::chars_format::general);
    }
    if (r.ec == std::errc::invalid_argument) return false;
    if (r.ec == std::errc::result_out_of_range) {
        // Rare: let the C library give the overflowed or underflowed value.
        parsed = std::strtof(std::string(q, r.ptr).c_str(), nullptr);
    }
    value = negative ? -parsed : parsed;
    p = r.ptr;
    return true;
}

// Reads `count` reals into out; missing numbers are 0.
void readReals(const char* p, const char* end, float* out, int count) {
    int i = 0;
    for (; i < count; ++i) {
        if (!readReal(p, end, out[i])) break;
    }
    for (; i < count; ++i) out[i] = 0.0f;
}

// Reads one integer the way scanf's %d does. Values beyond 32 bits fail.
bool readInt(const char*& p, const char* end, int64_t& value) {
    const char* q = skipBlanks(p, end);
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
        negative = *q == '-';
        ++q;
    }
    const char* const digits = q;
    while (q < end && *q == '0') ++q;
    const char* const significant = q;
    uint64_t magnitude = 0;  // wraps harmlessly on absurd digit runs, which fail below
    for (; q < end && isDigit(*q); ++q) magnitude = magnitude * 10 + static_cast<uint64_t>(*q - '0');
    if (q == digits) return false;
    if (q - significant > 10 || magnitude > uint64_t{INT32_MAX} + 1) return false;
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    p = q;
    return true;
}

// Reads "f p/t/n p/t/n p/t/n" (anything after the third corner is ignored).
bool readFace(const char* line, const char* end, int64_t (&index)[9]) {
    const char* p = line + 1;  // past the 'f'
    for (int k = 0; k < 9; ++k) {
        if (k % 3 != 0) {
            if (p == end || *p != '/') return false;
            ++p;
        }
        if (!readInt(p, end, index[k])) return false;
    }
    return true;
}

// Appends printf's " %f | " for value. Floats below 1e12 are rounded exactly
// here (six decimals, ties to even, as printf does under the default rounding
// mode); anything else goes through snprintf.
char* appendTraceValue(char* out, float value) {
    const double wide = value;
    if (!std::isfinite(wide) || std::fabs(wide) >= 1e12) {
        return out + std::snprintf(out, 64, " %f | ", wide);
    }
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const uint32_t exponentBits = (bits >> 23) & 0xffu;
    const uint64_t mantissa = exponentBits ? ((bits & 0x7fffffu) | 0x800000u) : (bits & 0x7fffffu);
    const int exponent = exponentBits ? static_cast<int>(exponentBits) - 150 : -149;
    // |value| * 10^6 = mantissa * 10^6 * 2^exponent, rounded to an integer.
    const uint64_t product = mantissa * 1000000u;  // below 2^44
    uint64_t micro;
    if (exponent >= 0) {
        micro = product << exponent;  // value < 1e12 keeps this below 2^60
    } else if (-exponent > 45) {
        micro = 0;  // below half a millionth
    } else {
        const int shift = -exponent;
        micro = product >> shift;
        const uint64_t rest = product - (micro << shift);
        const uint64_t half = uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (micro & 1u))) ++micro;
    }
    *out++ = ' ';
    if (bits >> 31) *out++ = '-';
    uint64_t whole = micro / 1000000u;
    uint32_t fraction = static_cast<uint32_t>(micro % 1000000u);
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole);
    while (n) *out++ = digits[--n];
    *out++ = '.';
    static const char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    for (int i = 4; i >= 0; i -= 2) {
        std::memcpy(out + i, pairs + 2 * (fraction % 100), 2);
        fraction /= 100;
    }
    out += 6;
    std::memcpy(out, " | ", 3);
    return out + 3;
}

// The trace goes through one large buffer: a printf per triangle would cost
// more than all the parsing.
class TraceWriter {
public:
    TraceWriter() : buffer_(new char[capacity]), cursor_(buffer_.get()) {}
    // The whole trace is out before the loader returns, even when standard
    // output goes to a file and would otherwise hold its tail until exit.
    ~TraceWriter() {
        flush();
        std::fflush(stdout);
    }
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    void line(float first, float second, float third) {
        if (static_cast<size_t>(cursor_ - buffer_.get()) > capacity - maxLine) flush();
        cursor_ = appendTraceValue(cursor_, first);
        cursor_ = appendTraceValue(cursor_, second);
        cursor_ = appendTraceValue(cursor_, third);
        *cursor_++ = '\n';
    }

    void flush() {
        const size_t used = static_cast<size_t>(cursor_ - buffer_.get());
        if (used) std::fwrite(buffer_.get(), 1, used, stdout);
        cursor_ = buffer_.get();
    }

private:
    static constexpr size_t capacity = size_t{1} << 18;
    static constexpr size_t maxLine = 256;  // three values of at most 64 bytes and the line feed
    std::unique_ptr<char[]> buffer_;
    char* cursor_;
};

bool validIndex(int64_t index, size_t count) {
    return index >= 1 && static_cast<uint64_t>(index) <= count;
}

}  // namespace

int32_t loadObjMesh(const char* fileName, float** outVertices) {
    if (!fileName) return -1;
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file) return -1;
    size_t size = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long end = std::ftell(file);
        if (end > 0) size = static_cast<size_t>(end);
    }
    std::fseek(file, 0, SEEK_SET);
    std::unique_ptr<char[]> text(size ? new (std::nothrow) char[size] : nullptr);
    // Only the bytes actually read are looked at, whatever the size claimed.
    size = text ? std::fread(text.get(), 1, size, file) : 0;
    std::fclose(file);

    // Counting also notes the stretches holding vertex records and face lines,
    // so the later passes skip the rest of the file.
    size_t positionCount = 0, normalCount = 0, texCoordCount = 0, faceCount = 0;
    const char* const fileEnd = text.get() + size;
    const char *vertexBegin = fileEnd, *vertexEnd = fileEnd;
    const char *faceBegin = fileEnd, *faceEnd = fileEnd;
    forEachLine(text.get(), fileEnd, [&](const char* line, const char* end) {
        const Record record = recordOf(line, end);
        if (record == Record::none) return;
        if (record == Record::face) {
            ++faceCount;
            if (faceBegin == fileEnd) faceBegin = line;
            faceEnd = end;
            return;
        }
        if (record == Record::position) ++positionCount;
        if (record == Record::normal) ++normalCount;
        if (record == Record::texCoord) ++texCoordCount;
        if (vertexBegin == fileEnd) vertexBegin = line;
        vertexEnd = end;
    });

    std::vector<float> positions(positionCount * 3);
    std::vector<float> normals(normalCount * 3);
    std::vector<float> texCoords(texCoordCount * 2);
    const size_t outputBytes = faceCount * 24 * sizeof(float);
    float* const output = static_cast<float*>(std::malloc(outputBytes ? outputBytes : 1));
    if (!output) throw std::bad_alloc();
    *outVertices = output;

    // Every counted record gets its slot, even when its numbers cannot be read,
    // so the k-th record of a kind is always entry k.
    float* nextPosition = positions.data();
    float* nextNormal = normals.data();
    float* nextTexCoord = texCoords.data();
    forEachLine(vertexBegin, vertexEnd, [&](const char* line, const char* end) {
        switch (recordOf(line, end)) {
            case Record::position:
                readReals(line + 1, end, nextPosition, 3);
                nextPosition += 3;
                break;
            case Record::normal:
                readReals(line + 2, end, nextNormal, 3);
                nextNormal += 3;
                break;
            case Record::texCoord:
                readReals(line + 2, end, nextTexCoord, 2);
                nextTexCoord += 2;
                break;
            default: break;
        }
    });

    TraceWriter trace;
    float* triangle = output;
    forEachLine(faceBegin, faceEnd, [&](const char* line, const char* end) {
        if (recordOf(line, end) != Record::face) return;
        int64_t index[9];
        bool valid = readFace(line, end, index);
        for (int c = 0; valid && c < 3; ++c) {
            valid = validIndex(index[3 * c], positionCount) &&
                    validIndex(index[3 * c + 1], texCoordCount) &&
                    validIndex(index[3 * c + 2], normalCount);
        }
        if (valid) {
            for (int c = 0; c < 3; ++c) {
                float* corner = triangle + 8 * c;
                std::memcpy(corner, &positions[3 * static_cast<size_t>(index[3 * c] - 1)], 3 * sizeof(float));
                std::memcpy(corner + 3, &normals[3 * static_cast<size_t>(index[3 * c + 2] - 1)], 3 * sizeof(float));
                std::memcpy(corner + 6, &texCoords[2 * static_cast<size_t>(index[3 * c + 1] - 1)], 2 * sizeof(float));
            }
        } else {
            // Broken faces stay in the count but collapse to a point at the origin.
            std::memset(triangle, 0, 24 * sizeof(float));
        }
        // Position x, texture u and normal z of the first corner.
        trace.line(triangle[0], triangle[6], triangle[5]);
        triangle += 24;
    });
    trace.flush();
    return static_cast<int32_t>(faceCount);
}
