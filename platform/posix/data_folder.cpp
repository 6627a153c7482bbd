// The data folder on POSIX systems: the executable's own path comes from
// /proc/self/exe where there is one (Linux); elsewhere only the working
// directory and the installed folder are tried.
#include "platform/data_folder.h"

#include <filesystem>
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
    if (!error) {
        folders.push_back(exe.parent_path());
        folders.push_back(exe.parent_path() / "data");
    }
    if (installedFolder) folders.emplace_back(installedFolder);
    for (const fs::path& folder : folders) {
        if (!holds(folder)) continue;
        fs::current_path(folder, error);
        return !error;
    }
    return false;
}

}  // namespace plat
