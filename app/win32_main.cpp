// contrail.exe: the demo on the native backends. No options; everything is
// read from the working directory.
//
// PLATFORM: Windows. LIMITATIONS: none beyond the backends'.
// DEPENDENCIES: the Win32 window system, WASAPI (waveOut where it cannot
//   start) and the Audio Compression Manager, through platform/win32.
#include "demo/demo.h"
#include "platform/audio.h"
#include "shell/shell.h"

int main() {
    plat::setPlatform(plat::win32Platform());
    plat::setAudioOutput(plat::fallbackAudioOutput(plat::wasapiAudioOutput(), plat::waveOutAudioOutput()));
    plat::setMp3Decoder(plat::acmDecoder());
    setScene({.initScene = initScene, .drawScene = drawScene});
    return WinMain(nullptr, nullptr, nullptr, 0);
}
