// The data folder on POSIX systems: the executable's own path comes from
// /proc/self/exe where there is one (Linux); elsewhere only the working
// directory and the installed folder are tried.
#include "platform/data_folder.h"

#include <filesystem>
#include <iterator>
#include <system_error>
#include <vector>

namespace plat {

bool enterDataFolder(const char* marker, const char* installedFolder) {
    namespace fs = std::filesystem;
    std::error_code error;
    const auto holds = [&](const fs::path& folder) { return fs::is_regular_file(folder / marker, error); };
    if (holds(".")) return true;
    std::vector<fs::path> folders;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    const bool knowExe = !error;
    if (knowExe) {
        folders.push_back(exe.parent_path());
        folders.push_back(exe.parent_path() / "data");
    }
    if (installedFolder) {
        // The installed folder relative to the executable's prefix first
        // (/usr/games and /usr/share/games under another root, as in a package
        // unpacked elsewhere), then where it is.
        const fs::path installed(installedFolder);
        if (knowExe && installed.has_root_directory() &&
            std::distance(installed.begin(), installed.end()) > 2) {
            const fs::path underPrefix =
                installed.lexically_relative(installed.root_path() / *std::next(installed.begin()));
            folders.push_back(exe.parent_path().parent_path() / underPrefix);
        }
        folders.push_back(installed);
    }
    // A folder that holds the marker but cannot be entered (no search
    // permission, gone in the meantime) leaves the next one to try.
    for (const fs::path& folder : folders) {
        if (!holds(folder)) continue;
        fs::current_path(folder, error);
        if (!error) return true;
    }
    return false;
}

}  // namespace plat
