// sdl2_platform.h - what the SDL backend lets tests replace.
//
// Message boxes are shown through SDL_ShowMessageBox; a test sets a function
// of its own that reads the box SDL would show (its buttons and their ids) and
// answers as a user would, or fails as SDL does where no box can be shown.
#pragma once

#include <SDL.h>

namespace plat {

// SDL_ShowMessageBox's signature: 0 when shown, with the id of the button
// pressed (-1 when the box was closed without one); negative when no box could
// be shown.
using BoxShower = int (*)(const SDL_MessageBoxData* box, int* buttonId);
void setBoxShower(BoxShower show);  // null: SDL_ShowMessageBox again

}  // namespace plat
