// The command line, and the folders the capture reads from and writes into.
#include "tools/capture/capture.h"

#include "platform/whole_file.h"
#include "tools/common/files.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace capture {

namespace {

const char kUsage[] =
    "usage: contrail-capture [options]\n"
    "Records the show at a fixed frame rate into numbered PNG frames, a WAV of the\n"
    "soundtrack and, when ffmpeg is installed, an MP4 of both.\n"
    "\n"
    "  --data DIR   the data folder with music.mp3, the mesh and images/ (default: .)\n"
    "  --out DIR    where the files go, made if missing (default: capture)\n"
    "  --fps N      frames per second, 1..1000 (default: 60); frame n shows the\n"
    "               music position n * 1000 / N ms, rounded down\n"
    "  --from S     record from S seconds into the show (default: 0)\n"
    "  --to S       and up to S seconds, S excluded (default: 52, the end)\n"
    "  --at S       write only the frame on screen S seconds in (repeatable);\n"
    "               the frames before it are rendered but not written\n"
    "  --no-video   skip the MP4\n"
    "  --no-skip    draw every frame of the title and end cards too; by default a\n"
    "               card's frames repeat its first ones once two came out the same\n"
    "  --help       this text\n"
    "\n"
    "Files: frame_NNNNN.png (N is the frame number counted from the start of the\n"
    "show), contrail.wav (48 kHz stereo), contrail.mp4 (H.264 + AAC).\n";

int64_t parseSeconds(const char* option, const char* text) {
    char* end = nullptr;
    const double s = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(s >= 0.0) || s > 1e6)
        fail(std::string(option) + " needs seconds (0 or more), not \"" + text + "\"", 2);
    return std::llround(s * 1000.0);
}

int parseFps(const char* text) {
    char* end = nullptr;
    const long fps = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || fps < 1 || fps > 1000)
        fail(std::string("--fps needs a whole number from 1 to 1000, not \"") + text + "\"", 2);
    return static_cast<int>(fps);
}

bool takesValue(const std::string& a) {
    return a == "--data" || a == "--out" || a == "--fps" || a == "--from" || a == "--to" || a == "--at";
}

void setOption(Options& o, const std::string& a, const char* v) {
    if (a == "--data") {
        o.data = v;
    } else if (a == "--out") {
        o.out = v;
    } else if (a == "--fps") {
        o.fps = parseFps(v);
    } else if (a == "--from") {
        o.fromMs = parseSeconds("--from", v);
    } else if (a == "--to") {
        o.toMs = parseSeconds("--to", v);
    } else {
        const int64_t ms = parseSeconds("--at", v);
        if (ms >= kShowEndMs) fail(std::string("--at ") + v + " is after the end of the show (52 s)", 2);
        o.atMs.push_back(ms);
    }
}

}  // namespace

void fail(const std::string& what, int status) {
    std::fprintf(stderr, "contrail-capture: %s\n", what.c_str());
    std::exit(status);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (a == "--no-video" || a == "--no-skip") {
            (a == "--no-video" ? o.video : o.skipStill) = false;
            continue;
        }
        if (!takesValue(a)) fail("unknown option \"" + a + "\" (see --help)", 2);
        if (i + 1 >= argc) fail(a + " needs a value (see --help)", 2);
        setOption(o, a, argv[++i]);
    }
    if (o.fromMs >= o.toMs) fail("--from must come before --to", 2);
    if (!o.atMs.empty() && (o.fromMs != 0 || o.toMs != kShowEndMs))
        fail("--at goes without --from and --to", 2);
    return o;
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) fail("cannot read the current folder");
    return std::string(cwd) + "/" + path;
}

void prepareOutput(const std::string& dir) {
    if (!files::makeDirs(dir))
        fail("cannot make the output folder " + dir + " (" + std::strerror(errno) + ")");
    const std::string probe = dir + "/.contrail-capture-probe";
    FILE* f = files::isDirectory(dir) ? std::fopen(probe.c_str(), "wb") : nullptr;
    if (f == nullptr) fail("cannot write into the output folder " + dir);
    std::fclose(f);
    std::remove(probe.c_str());
}

void enterDataFolder(const std::string& dir) {
    if (!files::isDirectory(dir)) fail("no data folder at " + dir + " (see --data)");
    if (chdir(dir.c_str()) != 0)
        fail("cannot enter the data folder " + dir + " (" + std::strerror(errno) + ")");
    for (const char* file : {show::kMusicFile, show::kMeshFile, show::kMeshTextureFile}) {
        const std::string path = plat::nativePath(file);
        if (access(path.c_str(), R_OK) != 0) fail(dir + " is not a data folder: " + path + " is missing");
    }
}

}  // namespace capture
