// compat.h - what the web build's C++ library lacks, included before every
// C++ file of the web build (see the top-level CMakeLists.txt).
//
// PLATFORM: Debian's emscripten 3.1.6 with its libc++ 14.
// LIMITATIONS: std::from_chars for float is given on top of strtof, reading
// at most 63 characters of a number (the OBJ loader's numbers are far shorter).
// DEPENDENCIES: the C library's strtof.
#pragma once

#ifdef __cplusplus
#include <charconv>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 16000
namespace std {

// Floating-point from_chars arrived in libc++ later than this emscripten.
inline from_chars_result from_chars(const char* first, const char* last, float& value,
                                    chars_format fmt = chars_format::general) {
    char buf[64 + 2];
    size_t n = static_cast<size_t>(last - first);
    if (n > 63) n = 63;
    size_t at = 0;
    if (fmt == chars_format::hex) {  // strtof reads hex digits only after "0x"
        buf[at++] = '0';
        buf[at++] = 'x';
    }
    std::memcpy(buf + at, first, n);
    buf[at + n] = '\0';
    // from_chars takes no leading blanks or plus sign; strtof would.
    if (n == 0 || buf[at] == ' ' || buf[at] == '\t' || buf[at] == '+' || buf[at] == '\n')
        return {first, errc::invalid_argument};
    char* stop = nullptr;
    errno = 0;
    const float parsed = std::strtof(buf, &stop);
    if (stop == buf + at || stop == buf) return {first, errc::invalid_argument};
    const char* ptr = first + (stop - buf - static_cast<ptrdiff_t>(at));
    if (errno == ERANGE) return {ptr, errc::result_out_of_range};
    value = parsed;
    return {ptr, errc{}};
}

}  // namespace std
#endif
#endif
