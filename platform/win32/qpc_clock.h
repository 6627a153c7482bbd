// qpc_clock.h - the Windows outputs' time: the performance counter in
// nanoseconds, the clock IAudioClock's positions are stamped with. (Include
// after <windows.h>.)
#pragma once

#include <cstdint>

namespace plat {

inline int64_t qpcNanos() {
    constexpr int64_t kNanos = 1000000000;
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    // Split so that days of counts times 10^9 cannot overflow.
    return static_cast<int64_t>(count.QuadPart / frequency.QuadPart * kNanos +
                                count.QuadPart % frequency.QuadPart * kNanos / frequency.QuadPart);
}

}  // namespace plat
