// obj_numbers.h - the OBJ loader's number readers and its trace formatter.
//
// The general readers read what scanf would read from a copy of the line:
// "%e" for a real, "f %d/%d/%d %d/%d/%d %d/%d/%d" for a face; they are the
// reference. The quick ones give the same results, faster for the usual
// shapes of vertex and face lines (one blank before each number, plain
// decimals, indices of up to eight digits) and by the general readers for
// anything else. All of them read the text in place, stop at a line feed as
// the end of the copy would stop scanf, and never look at `end` or past it.
// The trace formatter likewise has a fast form and the library's. The fuzz
// target (tests/fuzz/obj_fuzz.cpp) holds each fast form to its reference on
// every input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace objnum {

// Reads one real as %e does (leading blanks, optional sign, decimal or
// hexadecimal digits, inf, nan). Returns the end of the number, or nullptr
// when there is none.
const char* readReal(const char* p, const char* end, float& value);

// Read `count` reals from p, as "%e %e %e" does; those that cannot be read are 0.
void readReals(const char* p, const char* end, float* out, int count);
void readRealsQuickly(const char* p, const char* end, float* out, int count);

// Read the nine indices of a face line, from its 'f'; false when they cannot
// all be read. Anything after the third corner is ignored.
bool readFace(const char* line, const char* end, int64_t (&index)[9]);
bool readFaceQuickly(const char* line, const char* end, int64_t (&index)[9]);

// The most bytes one trace value takes: " %f | " for -FLT_MAX.
constexpr size_t kMaxTraceValue = 54;

// Append printf's " %f | " for value at out, and return its end.
char* appendTraceValue(char* out, float value);
char* appendTraceValueGenerally(char* out, float value);

// count × width × elementSize, the bytes of an array, computed in the size
// type the loader allocates with; false when the product does not fit.
// Where size_t has 32 bits (the web page) a file of a few hundred megabytes
// can claim more faces than an array can hold.
template <typename Size>
constexpr bool arrayBytes(Size count, Size width, Size elementSize, Size& bytes) {
    return !__builtin_mul_overflow(count, width, &bytes) &&
           !__builtin_mul_overflow(bytes, elementSize, &bytes);
}

}  // namespace objnum
