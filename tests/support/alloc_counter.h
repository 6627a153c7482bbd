// alloc_counter.h - counts the heap allocations of a whole test or benchmark program.
//
// Include it in exactly one source file of the program. It replaces operator
// new and malloc, calloc, realloc and the aligned forms, handing each on to the
// C library's own, and counts every allocation, per thread and in all.
//
// While a `Watch` is alive on a thread, that thread's allocations are also told
// apart: the program's are those asked for by its own code, where no GL driver
// code is on the stack. The driver allocates while it draws (Mesa's llvmpipe
// takes a vertex array for every draw and compiles shaders with LLVM when the
// state is new), which no caller can avoid. `mapCode` must have run once the
// driver is loaded, so the driver's code is known.
//
// Under AddressSanitizer, which owns malloc, only operator new is counted.
#pragma once

#include <execinfo.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace alloccount {

struct Counts {
    uint64_t program = 0;  // only while a Watch is alive
    uint64_t all = 0;
};

inline std::atomic<uint64_t> allThreads{0};
inline thread_local Counts thisThread;
inline thread_local bool watching = false;
inline thread_local bool walking = false;

// Allocations made so far by the calling thread, and by every thread.
inline Counts ofThisThread() { return thisThread; }
inline uint64_t ofAllThreads() { return allThreads.load(std::memory_order_relaxed); }

class Watch {
public:
    Watch() { watching = true; }
    ~Watch() { watching = false; }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
};

// The code of the program and of the language's runtime (C and C++ libraries,
// the loader); anything else on the stack belongs to a library it called.
struct Range {
    uintptr_t lo = 0, hi = 0;
};
inline Range ownCode[64];
inline int ownCodeCount = 0;

inline bool isOwnCode(const void* address) {
    const auto a = reinterpret_cast<uintptr_t>(address);
    for (int i = 0; i < ownCodeCount; ++i)
        if (a >= ownCode[i].lo && a < ownCode[i].hi) return true;
    return false;
}

// Reads the process's code mappings (Linux). Call it after the GL driver is loaded.
inline void mapCode() {
    static const char* const kRuntime[] = {"libc.so",  "libstdc++.so", "libgcc_s.so", "libm.so",
                                           "ld-linux", "libasan.so",   "libubsan.so"};
    const auto self = reinterpret_cast<uintptr_t>(&mapCode);
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr) return;
    char line[4096];
    int count = 0;
    Range found[64];
    while (std::fgets(line, sizeof line, maps) != nullptr && count < 64) {
        unsigned long lo = 0, hi = 0;
        char perms[8] = {};
        if (std::sscanf(line, "%lx-%lx %7s", &lo, &hi, perms) != 3 || perms[2] != 'x') continue;
        const char* slash = std::strrchr(line, '/');
        const char* name = slash ? slash + 1 : std::strstr(line, "[vdso]");
        bool own = (self >= lo && self < hi) || (name != nullptr && std::strncmp(name, "[vdso]", 6) == 0);
        for (const char* runtime : kRuntime)
            own = own || (name != nullptr && std::strstr(name, runtime) == name);
        if (own) found[count++] = {lo, hi};
    }
    std::fclose(maps);
    void* warm[4];
    backtrace(warm, 4);  // its first call loads the unwinder, which allocates
    for (int i = 0; i < count; ++i) ownCode[i] = found[i];
    ownCodeCount = count;
}

// Whether an allocation called from `caller` is the program's: it is, if no
// frame of the stack lies outside the program's code and the runtime.
inline bool byProgram(const void* caller) {
    if (!isOwnCode(caller) || walking) return false;
    walking = true;
    void* frames[64];
    const int n = backtrace(frames, 64);
    walking = false;
    for (int i = 0; i < n; ++i)
        if (!isOwnCode(frames[i])) return false;
    return true;
}

inline void note(const void* caller) {
    allThreads.fetch_add(1, std::memory_order_relaxed);
    ++thisThread.all;
    if (watching && byProgram(caller)) ++thisThread.program;
}

}  // namespace alloccount

#if defined(__SANITIZE_ADDRESS__)
#define CONTRAIL_ALLOC_COUNT_NEW_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CONTRAIL_ALLOC_COUNT_NEW_ONLY 1
#endif
#endif

#ifdef CONTRAIL_ALLOC_COUNT_NEW_ONLY

// The sanitizer pairs every allocation with its release: the forms replaced
// here all take from and give back to malloc (out of line, so that the
// compiler does not take free() after operator new for a mistake).
inline void* countedMalloc(std::size_t n, const void* caller) {
    alloccount::note(caller);
    return std::malloc(n ? n : 1);
}
__attribute__((noinline)) void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return countedMalloc(n, __builtin_return_address(0));
}
__attribute__((noinline)) void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return countedMalloc(n, __builtin_return_address(0));
}
__attribute__((noinline)) void* operator new(std::size_t n) {
    if (void* p = operator new(n, std::nothrow)) return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new[](std::size_t n) {
    if (void* p = operator new[](n, std::nothrow)) return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#else

extern "C" {
// glibc's own allocator, under the names it exports for replacements like this one.
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

#define CONTRAIL_ALLOC_NOTE() alloccount::note(__builtin_return_address(0))

extern "C" {
__attribute__((noinline)) void* malloc(size_t size) noexcept {
    CONTRAIL_ALLOC_NOTE();
    return __libc_malloc(size);
}
__attribute__((noinline)) void* calloc(size_t count, size_t size) noexcept {
    CONTRAIL_ALLOC_NOTE();
    return __libc_calloc(count, size);
}
__attribute__((noinline)) void* realloc(void* p, size_t size) noexcept {
    CONTRAIL_ALLOC_NOTE();
    return __libc_realloc(p, size);
}
void free(void* p) noexcept { __libc_free(p); }
__attribute__((noinline)) void* memalign(size_t alignment, size_t size) noexcept {
    CONTRAIL_ALLOC_NOTE();
    return __libc_memalign(alignment, size);
}
__attribute__((noinline)) void* aligned_alloc(size_t alignment, size_t size) noexcept {
    CONTRAIL_ALLOC_NOTE();
    return __libc_memalign(alignment, size);
}
__attribute__((noinline)) int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    CONTRAIL_ALLOC_NOTE();
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) return 12;  // ENOMEM
    *out = p;
    return 0;
}
__attribute__((noinline)) void* valloc(size_t size) noexcept {
    CONTRAIL_ALLOC_NOTE();
    return __libc_memalign(4096, size);
}
}

// The array and nothrow forms of the standard library come here.
__attribute__((noinline)) void* operator new(std::size_t n) {
    CONTRAIL_ALLOC_NOTE();
    if (void* p = __libc_malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new(std::size_t n, std::align_val_t alignment) {
    CONTRAIL_ALLOC_NOTE();
    if (void* p = __libc_memalign(static_cast<size_t>(alignment), n ? n : 1)) return p;
    throw std::bad_alloc();
}

#undef CONTRAIL_ALLOC_NOTE

#endif
