// contrail-assets <output folder> [music|mesh|images|all|icon]...
// Writes the demo's data files into the folder; see assets.h.
#include "tools/assets/assets.h"

#include "show/show.h"
#include "tools/common/files.h"

#include <cstdio>
#include <cstring>

namespace {

// The program names its files with "\" between folders; the generator writes
// them with "/".
std::string inFolder(const std::string& dir, const char* file) {
    std::string path = dir + "/" + file;
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool save(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (bytes.empty() || !files::writeFile(path, bytes)) {
        std::fprintf(stderr, "contrail-assets: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool makeMusic(const std::string& dir) {
    return save(inFolder(dir, show::kMusicFile), assets::encodeMp3(assets::composeMusic()));
}

bool makeMesh(const std::string& dir) {
    const std::string text = assets::encodeObj(assets::makeShip());
    return save(inFolder(dir, show::kMeshFile), std::vector<uint8_t>(text.begin(), text.end()));
}

bool makeImages(const std::string& dir) {
    const std::string images = dir + "/images", sky = images + "/skybox";
    if (!files::makeDirs(sky)) {
        std::fprintf(stderr, "contrail-assets: cannot create %s\n", sky.c_str());
        return false;
    }
    bool ok = save(inFolder(dir, show::kTitleCardFile), assets::encodeBmp(assets::makeTitleCard()));
    ok = save(inFolder(dir, show::kEndCardFile), assets::encodeBmp(assets::makeEndCard())) && ok;
    ok = save(inFolder(dir, show::kParticleFile), assets::encodeBmp(assets::makeParticle())) && ok;
    ok = save(inFolder(dir, show::kMeshTextureFile), assets::encodeBmp(assets::makeHullTexture())) && ok;
    for (int f = 0; f < 6; ++f)
        ok = save(inFolder(dir, show::kSkyFaceFiles[f]), assets::encodeBmp(assets::makeSkyFace(f, 512))) && ok;
    return ok;
}

// The desktop icon, from the title card; not part of the data folder.
bool makeIcon(const std::string& dir) {
    return save(dir + "/contrail.png", assets::encodePng(assets::makeIcon(assets::makeTitleCard(), 64)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: contrail-assets <output folder> [music|mesh|images|all|icon]...\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (!files::makeDirs(dir)) {
        std::fprintf(stderr, "contrail-assets: cannot create %s\n", dir.c_str());
        return 1;
    }
    bool ok = true;
    const bool all = argc == 2;
    for (int i = all ? 1 : 2; i < argc; ++i) {
        const char* what = all ? "all" : argv[i];
        const bool every = std::strcmp(what, "all") == 0;
        bool known = every;
        if (every || std::strcmp(what, "mesh") == 0) ok = makeMesh(dir) && ok, known = true;
        if (every || std::strcmp(what, "images") == 0) ok = makeImages(dir) && ok, known = true;
        if (every || std::strcmp(what, "music") == 0) ok = makeMusic(dir) && ok, known = true;
        if (std::strcmp(what, "icon") == 0) ok = makeIcon(dir) && ok, known = true;
        if (!known) {
            std::fprintf(stderr, "contrail-assets: unknown group '%s'\n", what);
            return 2;
        }
    }
    return ok ? 0 : 1;
}
