// engine.h - the stream engine this build's sound layer plays through, unless
// a test sets another (plat::setStreamEngine): the mixer on the desktop
// (mixer_engine.cpp), Web Audio in a web page (web_engine.cpp).
#pragma once

#include "platform/audio.h"

namespace snd {

const plat::StreamEngineApi& buildEngine();

}  // namespace snd
