// contrail: the demo. No options; everything is read from the data folder.
#include "demo/demo.h"
#include "platform/audio.h"
#include "platform/data_folder.h"
#include "shell/shell.h"
#include "show/show.h"

int main() {
    plat::enterDataFolder(show::kMeshFile);
    plat::tuneAllocator();
    plat::setPlatform(plat::sdl2Platform());
    plat::setAudioOutput(plat::fallbackAudioOutput(plat::pulseAudioOutput(), plat::sdl2AudioOutput()));
    plat::setMp3Decoder(plat::mpg123Decoder());
    setScene({.initScene = initScene, .drawScene = drawScene});
    return WinMain(nullptr, nullptr, nullptr, 0);
}
