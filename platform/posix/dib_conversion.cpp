// dib_conversion.cpp - no system DIB engine off Windows: the picture loader converts by itself.
#include "platform/dib.h"

namespace plat {

// No DIB engine here: the picture loader converts by itself.
DibConversion systemDibConversion() { return nullptr; }

}  // namespace plat
