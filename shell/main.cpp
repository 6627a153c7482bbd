// contrail: the demo. No options; everything is read from the working directory.
#include "shell/shell.h"

int main() {
    plat::setPlatform(plat::sdl2Platform());
    return WinMain(nullptr, nullptr, nullptr, 0);
}
