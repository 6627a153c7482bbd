// obj_loader.cpp - the OBJ subset read into one interleaved triangle array.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mesh/mesh.h"
#include "platform/mapped_file.h"

// The file is read through a read-only mapping, never copied. One pass reads
// every vertex record and counts the face lines; a second pass over the
// stretch from the first face line to the last resolves the faces into the
// output and writes the trace.
//
// Line starts are found 64 bytes at a time, apart from the parsing, so that
// the work on one line does not wait for the end of the line before it. The
// usual shapes of vertex and face lines are read from masks of a window of
// the line's bytes (up to 64), anything else by general readers. All of them
// stop at a line feed, as the end of a line buffer would stop scanf, and never
// look past the end of the file.

namespace {

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

uint64_t load8(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Bit i is set when p[i] is a line feed, for the 64 bytes from p.
uint64_t lineFeeds64(const char* p) {
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const auto feeds16 = [&](int at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineFeed))));
    };
    return feeds16(0) | feeds16(16) << 16 | feeds16(32) << 32 | feeds16(48) << 48;
#else
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i) mask |= static_cast<uint64_t>(p[i] == '\n') << i;
    return mask;
#endif
}

#if defined(__SSE2__)
// Bit i is set when p[i] is a decimal digit, for the 64 bytes from p.
uint64_t digits64(const char* p) {
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    const auto digits16 = [&](int at) {
        const __m128i lessZero = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), zero);
        const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(lessZero, nine), lessZero);
        return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(digit)));
    };
    return digits16(0) | digits16(16) << 16 | digits16(32) << 32 | digits16(48) << 48;
}
#endif

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
    const char* next_;   // the first byte not yet looked at
    const char* last_;
    const char* block_ = nullptr;  // where the bits of `feeds_` count from
    uint64_t feeds_ = 0;
};

// The white space that scanf skips in the C locale, but for the line feed that
// ends the line being read.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

const char* skipBlanks(const char* p, const char* end) {
    while (p < end && isBlank(*p)) ++p;
    return p;
}

bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Eight-byte words hold text with its first byte lowest. Less '0' per byte, a
// digit is below 10; a borrow out of a non-digit can spoil only the bytes
// above it.
[[gnu::always_inline]] inline uint64_t lessZeros(uint64_t word) { return word - 0x3030303030303030u; }

// The number whose eight decimal digits are the bytes of `digits`, first
// digit lowest: pairs, then quads, then the whole.
[[gnu::always_inline]] inline uint64_t eightDigitValue(uint64_t digits) {
    digits = ((digits * 2561) >> 8) & 0x00FF00FF00FF00FFu;      // 10 * first + second
    digits = ((digits * 6553601) >> 16) & 0x0000FFFF0000FFFFu;  // 100 * first pair + second
    return (digits * 42949672960001u) >> 32;                    // 10^4 * first quad + second
}

// The run of decimal digits at the start of `word`, cut after seven: its
// length, 0 to 7, and its digits read as an eight-digit number with zeros
// after the run, that is the run's value times 10^(8 - length). Whether more
// digits follow is for the caller to see.
struct DigitRun {
    uint64_t scaled;
    int length;
};

[[gnu::always_inline]] inline DigitRun digitRun(uint64_t word) {
    const uint64_t digits = lessZeros(word);
    // Bit 7 of the first byte of 10 or more, or of the eighth byte, is the
    // lowest bit set here; a carry can only spoil the bits above it.
    const uint64_t flags =
        (((digits + 0x7676767676767676u) | digits) & 0x8080808080808080u) | 0x8000000000000000u;
    const uint64_t before = (flags ^ (flags - 1)) >> 8;  // every byte below that one
    return {eightDigitValue(digits & before), __builtin_ctzll(flags) / 8};
}

// The value of a run: `scaled` divided by 10^(8 - length), which it is a
// multiple of. Below 10^8, multiplying by 2^64 / 10^k rounded up and keeping
// the high half divides exactly.
[[gnu::always_inline]] inline uint64_t runValue(DigitRun run) {
    static const uint64_t reciprocals[] = {0,
                                           0x199999999999999a,
                                           0x28f5c28f5c28f5d,
                                           0x4189374bc6a7f0,
                                           0x68db8bac710cc,
                                           0xa7c5ac471b48,
                                           0x10c6f7a0b5ee,
                                           0x1ad7f29abcb,
                                           0x2af31dc462};
    const unsigned __int128 product = static_cast<unsigned __int128>(run.scaled) * reciprocals[8 - run.length];
    return static_cast<uint64_t>(product >> 64);
}

const uint64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Reads a run of decimal digits into `value` (value * 10^n + digits), counting
// them in `count`. A run longer than 19 digits leaves `value` unusable; the
// callers check `count`.
const char* readDigits(const char* p, const char* end, uint64_t& value, int& count) {
    if (kLittleEndian) {
        for (; end - p >= 8; p += 7) {
            const DigitRun run = digitRun(load8(p));
            value = value * kPowersOfTen[run.length] + runValue(run);
            count += run.length;
            if (run.length < 7 || !isDigit(p[7])) return p + run.length;
        }
    }
    for (; p < end && isDigit(*p); ++p, ++count) value = value * 10 + static_cast<uint64_t>(*p - '0');
    return p;
}

// The library's reader, for hexadecimal, inf, nan, more than 19 digits, large
// exponents and ambiguous roundings. Returns nullptr when no number is there.
const char* readUnusualReal(const char* q, const char* end, bool negative, float& value) {
    float parsed = 0.0f;
    std::from_chars_result r{q, std::errc::invalid_argument};
    if (end - q >= 2 && q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) {
        r = std::from_chars(q + 2, end, parsed, std::chars_format::hex);
        if (r.ptr == q + 2) r = std::from_chars(q, q + 1, parsed);  // just "0"
    } else {
        r = std::from_chars(q, end, parsed, std::chars_format::general);
    }
    if (r.ec == std::errc::invalid_argument) return nullptr;
    if (r.ec == std::errc::result_out_of_range) {
        // Rare: let the C library give the overflowed or underflowed value.
        parsed = std::strtof(std::string(q, r.ptr).c_str(), nullptr);
    }
    value = negative ? -parsed : parsed;
    return r.ptr;
}

float withSign(float magnitude, bool negative) {
    uint32_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    bits |= static_cast<uint32_t>(negative) << 31;
    std::memcpy(&magnitude, &bits, sizeof bits);
    return magnitude;
}

// mantissa * 10^exponent as the float nearest to it, for a mantissa of at most
// 2^53 and an exponent from -22 to 22: both are exact doubles, so one
// correctly rounded product or quotient gives the double nearest the value,
// and that rounds to the same float as the value itself unless it lies exactly
// half-way between two floats (then false). Such values are zero or lie
// between 1e-22 and 1e38, where every float is normal and a half-way double
// has the 29 bits below a float's mantissa set to exactly 1000...0.
bool nearestFloat(uint64_t mantissa, int exponent, bool negative, float& value) {
    static const double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double exact = static_cast<double>(static_cast<int64_t>(mantissa));  // below 2^53
    const double nearest = exponent < 0 ? exact / powersOfTen[-exponent] : exact * powersOfTen[exponent];
    uint64_t bits;
    std::memcpy(&bits, &nearest, sizeof bits);
    if ((bits & 0x1FFFFFFFu) == 0x10000000u) return false;
    value = withSign(static_cast<float>(nearest), negative);
    return true;
}

// Reads one real the way scanf's %e does (leading blanks, optional sign,
// decimal or hexadecimal digits, inf, nan). Returns the end of the number, or
// nullptr when there is none.
[[gnu::noinline]] const char* readRealGenerally(const char* p, const char* end, float& value) {
    p = skipBlanks(p, end);
    if (p == end) return nullptr;
    const bool negative = *p == '-';
    p += negative || *p == '+';
    if (p < end && (*p == '+' || *p == '-')) return nullptr;
    uint64_t mantissa = 0;
    int digits = 0;
    const char* q = readDigits(p, end, mantissa, digits);
    int fractionDigits = 0;
    if (q < end && *q == '.') {
        const char* fraction = q + 1;
        q = readDigits(fraction, end, mantissa, digits);
        fractionDigits = static_cast<int>(q - fraction);
    }
    if (digits == 0 || digits > 19) return readUnusualReal(p, end, negative, value);
    int exponent = 0;
    if (q < end && (*q | 0x20) == 'e') {
        const char* e = q + 1;
        bool negativeExponent = false;
        if (e < end && (*e == '+' || *e == '-')) negativeExponent = *e++ == '-';
        const char* const exponentDigits = e;
        for (; e < end && isDigit(*e) && e - exponentDigits < 4; ++e) exponent = exponent * 10 + (*e - '0');
        if (e == exponentDigits || (e < end && isDigit(*e))) return readUnusualReal(p, end, negative, value);
        if (negativeExponent) exponent = -exponent;
        q = e;
    } else if (q < end && (*q | 0x20) == 'x') {
        return readUnusualReal(p, end, negative, value);
    }
    exponent -= fractionDigits;
    if (mantissa > (uint64_t{1} << 53) || exponent < -22 || exponent > 22 ||
        !nearestFloat(mantissa, exponent, negative, value)) {
        return readUnusualReal(p, end, negative, value);
    }
    return q;
}

// readRealGenerally with a short cut for the usual shape.
[[gnu::always_inline]] inline const char* readReal(const char* p, const char* end, float& value) {
    if (kLittleEndian && end - p >= 18) {
        // The usual shape: at most one blank, a sign, up to seven digits, and
        // up to seven more after a full stop, with no exponent. Its value
        // times 10^8 is an integer below 2^53. Signs are as likely as not, so
        // there is no branch on them.
        const char* q = p + (*p == ' ');
        const bool negative = *q == '-';
        q += negative || *q == '+';
        const DigitRun whole = digitRun(load8(q));
        if (whole.length != 0) {
            q += whole.length;
            uint64_t hundredMillionths = whole.scaled * kPowersOfTen[whole.length];
            if (*q == '.') {
                const DigitRun fraction = digitRun(load8(q + 1));
                hundredMillionths += fraction.scaled;
                q += 1 + fraction.length;
            }
            // Not cut short, and no exponent.
            if (!isDigit(*q) && (*q | 0x20) != 'e' && (*q | 0x20) != 'x' &&
                nearestFloat(hundredMillionths, -8, negative, value)) {
                return q;
            }
        }
    }
    return readRealGenerally(p, end, value);
}

#if defined(__SSE2__)
// Bit i of each is set when p[i] is a decimal digit, a full stop or a minus,
// for the 48 bytes from p.
struct NumberMasks {
    uint64_t digits = 0, stops = 0, minuses = 0;
};

[[gnu::always_inline]] inline NumberMasks numberMasks48(const char* p) {
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    const __m128i stop = _mm_set1_epi8('.'), minus = _mm_set1_epi8('-');
    NumberMasks masks;
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i lessZero = _mm_sub_epi8(bytes, zero);
        const auto bits = [&](__m128i set) {
            return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(set))) << (16 * i);
        };
        masks.digits |= bits(_mm_cmpeq_epi8(_mm_min_epu8(lessZero, nine), lessZero));
        masks.stops |= bits(_mm_cmpeq_epi8(bytes, stop));
        masks.minuses |= bits(_mm_cmpeq_epi8(bytes, minus));
    }
    return masks;
}

// readReals for the usual shape within the 48 bytes from p: each number after
// one blank, with an optional minus, one to seven digits, and optionally a
// full stop and up to seven more; no exponent after the last. The numbers are
// found in masks of the digits, stops and minuses, so that reading one need
// not wait for the one before; false, with `out` in any state, for anything
// else.
[[gnu::always_inline]] inline bool readMaskedReals(const char* p, const char* end, float* out, int count) {
    if (!kLittleEndian || end - p < 48 + 8) return false;
    const NumberMasks masks = numberMasks48(p);
    const uint64_t others = ~masks.digits;  // set above the window too, which ends every run there
    int at = 0;                             // the blank before the next number
#pragma GCC unroll 3
    for (int i = 0; i < count; ++i) {
        if (p[at] != ' ') return false;
        int q = at + 1;
        const bool negative = (masks.minuses >> q) & 1;
        q += negative;
        const int wholeAt = q;
        const int wholeLength = __builtin_ctzll(others >> q);
        q += wholeLength;
        const int stop = (masks.stops >> q) & 1;
        q += stop;
        const int fractionLength = __builtin_ctzll(others >> q) & -stop;
        at = q + fractionLength;
        // What ends the number must lie inside the window.
        if (at >= 48 || wholeLength - 1u >= 7u || fractionLength >= 8) return false;
        uint64_t mantissa;
        int exponent;
        if (wholeLength + fractionLength <= 8) {
            // Up to eight digits: the ones after the stop moved down over it,
            // and all moved to the top of a word, which drops what follows.
            const uint64_t wholeBytes = (uint64_t{1} << (8 * wholeLength)) - 1;
            const uint64_t text = (load8(p + wholeAt) & wholeBytes) | (load8(p + wholeAt + 1) & ~wholeBytes);
            mantissa = eightDigitValue(lessZeros(text) << (8 * (8 - wholeLength - fractionLength)));
            exponent = -fractionLength;
        } else {
            // Both runs at the top of a word: the whole part to give its
            // value, the fraction followed by zeros to give its value times 10^8.
            const uint64_t whole = lessZeros(load8(p + wholeAt)) << (8 * (8 - wholeLength));
            const uint64_t fraction = lessZeros(load8(p + q)) & ((uint64_t{1} << (8 * fractionLength)) - 1);
            mantissa = eightDigitValue(whole) * 100000000u + eightDigitValue(fraction);
            exponent = -8;
        }
        if (!nearestFloat(mantissa, exponent, negative, out[i])) return false;
    }
    return (p[at] | 0x20) != 'e' && (p[at] | 0x20) != 'x';  // no exponent after the last
}
#else
bool readMaskedReals(const char*, const char*, float*, int) { return false; }
#endif

// Reads `count` reals into out; missing numbers are 0.
[[gnu::always_inline]] inline void readReals(const char* p, const char* end, float* out, int count) {
    int i = 0;
#pragma GCC unroll 3
    for (; i < count; ++i) {
        p = readReal(p, end, out[i]);
        if (!p) break;
    }
    for (; i < count; ++i) out[i] = 0.0f;
}

// Reads the `count` numbers of a vertex record from p, just after its key.
[[gnu::always_inline]] inline void readRecord(const char* p, const char* end, float* out, int count) {
    if (!readMaskedReals(p, end, out, count)) readReals(p, end, out, count);
}

// Reads one integer the way scanf's %d does; nullptr when there is none or it
// needs more than 32 bits.
const char* readInt(const char* p, const char* end, int64_t& value) {
    p = skipBlanks(p, end);
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* const start = p;
    while (p < end && *p == '0') ++p;
    uint64_t magnitude = 0;
    int digits = 0;
    p = readDigits(p, end, magnitude, digits);
    if (p == start || digits > 10 || magnitude > uint64_t{INT32_MAX} + 1) return nullptr;
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return p;
}

// The usual face line, "f a/b/c d/e/f g/h/i" with one blank before each corner
// and one to seven digits in each index, in eight-byte steps; false for
// anything else. A run cut short shows as a digit where the next separator
// or the end of the corner should be.
[[gnu::always_inline]] inline bool readPlainFace(const char* p, const char* end, int64_t (&index)[9]) {
    if (!kLittleEndian || end - p < 96) return false;  // nine steps of at most nine bytes, and a load
    static const char separators[] = " // // //";
    bool plain = true;
    ++p;  // past the 'f'
#pragma GCC unroll 9
    for (int k = 0; k < 9; ++k) {
        const DigitRun run = digitRun(load8(p + 1));
        plain &= (*p == separators[k]) & (run.length != 0);
        index[k] = static_cast<int64_t>(runValue(run));
        p += 1 + run.length;
    }
    return plain & !isDigit(*p);
}

#if defined(__SSE2__)
// The same within the 64 bytes after the 'f', with up to eight digits in an
// index. The runs are found in a mask of the digits, so that reading one
// index need not wait for the one before; the separators are checked after.
[[gnu::always_inline]] inline bool readMaskedFace(const char* line, const char* end, int64_t (&index)[9]) {
    if (!kLittleEndian || end - line < 1 + 64 + 8) return false;
    const char* const p = line + 1;
    const uint64_t others = ~digits64(p);
    static const char separators[] = " // // //";
    int at = 0;  // the separator before the next index
#pragma GCC unroll 9
    for (int k = 0; k < 9; ++k) {
        if (p[at] != separators[k]) return false;
        const int start = at + 1;
        // The top bit ends a run that would reach past the window, which is
        // then refused.
        const int length = __builtin_ctzll((others >> start) | 0x8000000000000000u);
        at = start + length;
        if (at >= 64 || length - 1u >= 8u) return false;
        // Moved to the top of the word, the digits drop what follows them.
        index[k] = static_cast<int64_t>(eightDigitValue(lessZeros(load8(p + start)) << (8 * (8 - length))));
    }
    return true;
}
#else
bool readMaskedFace(const char*, const char*, int64_t (&)[9]) { return false; }
#endif

// Reads "f p/t/n p/t/n p/t/n" (anything after the third corner is ignored).
[[gnu::noinline]] bool readFaceGenerally(const char* p, const char* end, int64_t (&index)[9]) {
    ++p;  // past the 'f'
    for (int k = 0; k < 9; ++k) {
        if (k % 3 != 0) {
            if (p == end || *p != '/') return false;
            ++p;
        }
        p = readInt(p, end, index[k]);
        if (!p) return false;
    }
    return true;
}

// The eight decimal digits of v < 10^8, first digit in the lowest byte.
[[gnu::always_inline]] inline uint64_t eightDigits(uint32_t v) {
    uint64_t x = (v / 10000u) | (static_cast<uint64_t>(v % 10000u) << 32);  // two lanes of four digits
    const uint64_t hundreds = ((x * 10486u) >> 20) & 0x0000007F0000007Fu;     // lane / 100
    x = hundreds | ((x - hundreds * 100u) << 16);                               // four lanes of two
    const uint64_t tens = ((x * 103u) >> 10) & 0x000F000F000F000Fu;            // lane / 10
    x = tens | ((x - tens * 10u) << 8);
    return x | 0x3030303030303030u;
}

// Appends printf's " %f | " for value, exactly: a float times 10^6 is an exact
// double, which rounds to an integer count of millionths with ties to even
// just as printf rounds under the default rounding mode. Values of 10^8 and
// more, infinities and NaNs go through snprintf.
[[gnu::always_inline]] inline char* appendTraceValue(char* out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    // 0x4cbebc20 is 10^8.
    if (!kLittleEndian || (bits & 0x7fffffffu) >= 0x4cbebc20u) {
        return out + std::snprintf(out, 64, " %f | ", static_cast<double>(value));
    }
    const double scaled = std::fabs(static_cast<double>(value)) * 1e6;  // below 2^52
#if FLT_EVAL_METHOD == 0
    // Adding and taking away 2^52 leaves the nearest integer.
    const uint64_t micro = static_cast<uint64_t>((scaled + 0x1p52) - 0x1p52);
#else
    const uint64_t micro = static_cast<uint64_t>(std::nearbyint(scaled));
#endif
    const int negative = static_cast<int>(bits >> 31);
    char* number = out + 1 + negative;
    if (micro < 100000000u) {
        // Below 100: the eight digits "ddDDDDDD" become "dd.DDDDDD", written
        // one byte early when the first d is a leading zero, over the blank
        // or the sign written next.
        const uint64_t digits = eightDigits(static_cast<uint32_t>(micro));
        const uint64_t head = (digits & 0xFFFFu) | (uint64_t{'.'} << 16) | (digits >> 16 << 24);
        const int oneWhole = micro < 10000000u;
        number -= oneWhole;
        std::memcpy(number, &head, sizeof head);
        number[8] = static_cast<char>(digits >> 56);
        number += 9;
    } else {
        // 100 and more, below 10^8: the whole part's digits, then six more.
        const uint32_t whole = static_cast<uint32_t>(micro / 1000000u);
        const int n = 3 + (whole >= 1000u) + (whole >= 10000u) + (whole >= 100000u) + (whole >= 1000000u) +
                      (whole >= 10000000u);
        const uint64_t wholeDigits = eightDigits(whole) >> (8 * (8 - n));
        std::memcpy(number, &wholeDigits, sizeof wholeDigits);
        number += n;
        const uint64_t sixDigits = eightDigits(static_cast<uint32_t>(micro % 1000000u)) >> 16;
        const uint64_t fraction = uint64_t{'.'} | sixDigits << 8;
        std::memcpy(number, &fraction, sizeof fraction);
        number += 7;
    }
    // The sign first, so that a positive value's blank lands on top of it.
    out[negative] = '-';
    out[0] = ' ';
    std::memcpy(number, " | ", 3);
    return number + 3;
}

// The trace goes through one buffer written out in large blocks: a printf per
// triangle would cost more than all the parsing.
class TraceBuffer {
public:
    static constexpr size_t maxLine = 256;  // three values of at most 64 bytes and the line feed

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

// A float array that grows by doubling: how many records of a kind there are
// is only known at the end of the file.
class Records {
public:
    explicit Records(size_t width) : width_(width) {}
    ~Records() { std::free(data_); }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    float* add() {
        if (count_ == capacity_) grow();
        return data_ + width_ * count_++;
    }
    size_t count() const { return count_; }
    const float* data() const { return data_; }

private:
    void grow() {
        // The C library moves large blocks by remapping them, not by copying.
        const size_t capacity = capacity_ ? 2 * capacity_ : 4096;
        float* data = static_cast<float*>(std::realloc(data_, capacity * width_ * sizeof(float)));
        if (!data) throw std::bad_alloc();
        data_ = data;
        capacity_ = capacity;
    }

    const size_t width_;
    float* data_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
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
        bool valid = readMaskedFace(line, end, index) || readPlainFace(line, end, index) ||
                     readFaceGenerally(line, end, index);
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
        cursor = appendTraceValue(cursor, valid ? positionData[3 * p[0]] : 0.0f);
        cursor = appendTraceValue(cursor, valid ? texCoordData[2 * t[0]] : 0.0f);
        cursor = appendTraceValue(cursor, valid ? normalData[3 * n[0] + 2] : 0.0f);
        *cursor++ = '\n';
        lastLength = static_cast<size_t>(cursor - lineStart);
        std::memcpy(lastKey, key, sizeof key);
    }
    trace.flush(cursor);
}

}  // namespace

int32_t loadObjMesh(const char* fileName, float** outVertices) {
    if (!fileName) return -1;
    const plat::MappedFile file(fileName);
    if (!file.opened()) return -1;
    const char* const text = reinterpret_cast<const char*>(file.data());
    const char* const end = text + file.size();

    // First pass: vertex records are read, face lines counted.
    Records positions(3), normals(3), texCoords(2);
    size_t faceCount = 0;
    const char *firstFace = end, *lastFace = end;
    for (LineStarts lines(text, end); const char* line = lines.next();) {
        if (*line == 'v') {
            if (end - line < 2) continue;
            switch (line[1]) {
                case ' ': readRecord(line + 1, end, positions.add(), 3); break;
                case 'n': readRecord(line + 2, end, normals.add(), 3); break;
                case 't': readRecord(line + 2, end, texCoords.add(), 2); break;
                default: break;
            }
        } else if (*line == 'f') {
            if (faceCount++ == 0) firstFace = line;
            lastFace = line;
        }
    }

    const size_t outputBytes = faceCount * 24 * sizeof(float);
    float* const output = static_cast<float*>(std::malloc(outputBytes ? outputBytes : 1));
    if (!output) throw std::bad_alloc();
    *outVertices = output;

    // Second pass, over the lines from the first face to the last.
    resolveFaces(firstFace, faceCount ? lastFace + 1 : firstFace, end, positions, normals, texCoords, output);
    return static_cast<int32_t>(faceCount);
}
