#include "platform/dib.h"

namespace plat {

// No DIB engine here: the picture loader converts by itself.
DibConversion systemDibConversion() { return nullptr; }

}  // namespace plat
