// The priority of a thread that feeds sound, on POSIX systems.
//
// PLATFORM: Linux and other POSIX systems (a no-op where threads have no nice value).
// LIMITATIONS: only what the system grants unasked: a lower nice value needs
//   root or RLIMIT_NICE; otherwise the thread keeps its priority.
// DEPENDENCIES: setpriority on the thread's id (Linux), else nothing.
#include "platform/audio.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace plat {

void raiseSoundThreadPriority() {
#if defined(__linux__)
    // On Linux a thread has a nice value of its own, set through its id.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -10);
#endif
}

}  // namespace plat
