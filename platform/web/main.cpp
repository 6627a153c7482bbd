// contrail in a web page: the demo on the browser's backends. The page's loop
// runs the shell's loop one pass per frame; "play again" starts the show as a
// fresh process would.
#include "demo/demo.h"
#include "platform/web/web.h"
#include "shell/shell.h"
#include "sound/sound.h"

#include <cstdlib>

namespace {

void freshProcess() {
    resetShell();
    fullscreen = false;       // the new show stays in the page, like the first; F1 goes full-screen
    demoState = DemoState{};  // the last show's objects are abandoned, as at a process's end
    std::srand(1);            // the particles' trail starts as in a new process
}

int clockNow() { return FSOUND_Stream_GetTime(demoState.musicStream); }
int phaseNow() { return static_cast<int>(phaseAt(FSOUND_Stream_GetTime(demoState.musicStream))); }

}  // namespace

int main() {
    plat::setPlatform(plat::webPlatform());
    setScene({.initScene = initScene, .drawScene = drawScene});
    plat::PageHooks hooks;
    hooks.start = shellStart;
    hooks.pass = [](bool* queueWasEmpty) { return runOnePass(queueWasEmpty); };
    hooks.end = shellEnd;
    hooks.reset = freshProcess;
    hooks.clock = clockNow;
    hooks.phase = phaseNow;
    plat::runPage(hooks);
    return 0;
}
