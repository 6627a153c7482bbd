// web_engine.cpp - in a web page the streams play on the browser's Web Audio
// (platform/web/web_sound.cpp): the page has no threads for the mixer.
#include "sound/engine.h"

namespace snd {

const plat::StreamEngineApi& buildEngine() { return *plat::webStreamEngine(); }

}  // namespace snd
