// data_folder.h - finding the folder the show's files are read from.
//
// Every file is read by a name relative to the working directory. Started from
// a menu, the program's working directory is the home folder, so at start-up
// it moves to the first folder that holds the data: the working directory
// itself, else the folder of the executable (or its "data" folder, as in a
// build tree), else the installed data folder: first as seen from the
// executable's prefix (bin/../share/...), then at its own path.
#pragma once

namespace plat {

// Where the Debian package puts the data.
constexpr const char* kInstalledDataFolder = "/usr/share/games/contrail";

// `marker` is a file every data folder holds. Makes the first folder that has
// it the working directory and returns true; false (and nothing changed) when
// none has it, and the loaders then report the missing files as usual.
bool enterDataFolder(const char* marker, const char* installedFolder = kInstalledDataFolder);

}  // namespace plat
