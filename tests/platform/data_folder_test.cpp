// Where the program looks for its data: the working folder first, then
// beside the executable (and its data folder), then the installed folder.
#include "platform/data_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

}  // namespace

TEST(DataFolder, FirstFolderHoldingTheMarkerWins) {
    const fs::path exeDir = fs::read_symlink("/proc/self/exe").parent_path();
    const fs::path scratch =
        fs::temp_directory_path() / ("contrail-data-folder-" + std::to_string(::getpid()));
    const fs::path work = scratch / "work", installed = scratch / "installed";
    fs::create_directories(work);
    const fs::path start = fs::current_path();
    // Beside the executable the marker has a name no build file has.
    const std::string marker = "data-folder-marker-" + std::to_string(::getpid());

    struct Row {
        const char* what;
        bool inWork, besideExe, inExeData, inInstalled;
        const char* expected;  // "work", "exe", "exe/data", "installed" or "" (none: stays)
    } rows[] = {
        {"working folder before the executable's", true, true, true, true, "work"},
        {"beside the executable before its data folder", false, true, true, true, "exe"},
        {"the executable's data folder", false, false, true, true, "exe/data"},
        {"the installed folder last", false, false, false, true, "installed"},
        {"nowhere: stays", false, false, false, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(work);
        fs::remove_all(installed);
        fs::remove(exeDir / marker);
        fs::remove(exeDir / "data" / marker);
        if (row.inWork) touch(work / marker);
        if (row.besideExe) touch(exeDir / marker);
        if (row.inExeData) touch(exeDir / "data" / marker);
        if (row.inInstalled) touch(installed / marker);
        fs::create_directories(work);
        fs::current_path(work);

        const bool found = plat::enterDataFolder(marker.c_str(), installed.c_str());
        const fs::path now = fs::current_path();
        fs::current_path(start);
        const std::string expected = row.expected;
        EXPECT_EQ(found, !expected.empty());
        const fs::path want = expected == "work"        ? work
                              : expected == "exe"       ? exeDir
                              : expected == "exe/data"  ? exeDir / "data"
                              : expected == "installed" ? installed
                                                        : work;
        EXPECT_TRUE(fs::equivalent(now, want)) << now << " instead of " << want;
    }
    fs::remove(exeDir / marker);
    fs::remove(exeDir / "data" / marker);
    std::error_code ignored;
    fs::remove(exeDir / "data", ignored);  // only if the test made it (empty)
    fs::remove_all(scratch);
}
