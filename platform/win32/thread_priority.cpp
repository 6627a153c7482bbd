// The priority of a thread that feeds sound, on Windows.
//
// PLATFORM: Windows (and Wine). LIMITATIONS: none; any program may raise its
//   own threads within its priority class.
// DEPENDENCIES: kernel32 (SetThreadPriority).
#include "platform/audio.h"

#include <windows.h>

namespace plat {

void raiseSoundThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

}  // namespace plat
