// contrail-fuzz-seeds <folder>: writes the fuzz targets' first inputs into
// <folder>/dib, <folder>/obj and <folder>/mp3. Each is small (libFuzzer's length limit starts
// from the largest) and together they reach every layout and record kind the
// loaders take; the ship's pictures and mesh come from the asset generator's own
// encoders, cut down to a few pixels and triangles.
#include "tools/assets/assets.h"
#include "tools/common/files.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> 8 * i));
}

struct Dib {
    int32_t width, height;
    uint16_t bits;
    Bytes data;
    uint32_t entries = 0;  // colour-table entries written
    uint32_t headerSize = 40, compression = 0, colorsUsed = 0;
    bool fileHeader = true;
};

Bytes encode(const Dib& d) {
    const uint32_t entry = d.headerSize == 12 ? 3 : 4;
    const uint32_t headerAt = d.fileHeader ? 14 : 0;
    const uint32_t bitsAt = headerAt + d.headerSize + d.entries * entry;
    Bytes b;
    if (d.fileHeader) {
        b = {'B', 'M'};
        put(b, bitsAt + uint32_t(d.data.size()), 4);
        put(b, 0, 4);
        put(b, bitsAt, 4);
    }
    put(b, d.headerSize, 4);
    if (d.headerSize == 12) {
        for (uint32_t v : {uint32_t(d.width), uint32_t(d.height), 1u, uint32_t{d.bits}}) put(b, v, 2);
    } else {
        put(b, uint32_t(d.width), 4);
        put(b, uint32_t(d.height), 4);
        put(b, 1, 2);
        put(b, d.bits, 2);
        for (uint32_t v : {d.compression, 0u, 2835u, 2835u, d.colorsUsed, 0u}) put(b, v, 4);
    }
    for (uint32_t i = 0; i < d.entries; ++i) put(b, 0x10203 * (i + 1) & 0xFFFFFF, int(entry));
    b.insert(b.end(), d.data.begin(), d.data.end());
    return b;
}

// Rows of `stride` bytes counting up from `first`.
Bytes ramp(size_t stride, int rows, uint8_t first = 1) {
    Bytes data(stride * size_t(rows));
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(first + i * 37);
    return data;
}

assets::Picture gradient(int width, int height) {
    assets::Picture p(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float* c = p.at(x, y);
            c[0] = float(x) / float(width);
            c[1] = float(y) / float(height);
            c[2] = 0.5f;
        }
    }
    return p;
}

// A few neighbouring triangles of the ship, with only the vertices they use.
assets::ObjMesh shipPiece(size_t first, size_t count) {
    const assets::ObjMesh ship = assets::makeShip();
    assets::ObjMesh piece;
    std::map<int, int> renumbered;
    for (size_t t = first * 3; t < (first + count) * 3 && t < ship.triangles.size(); ++t) {
        const int v = ship.triangles[t];
        auto [at, added] = renumbered.emplace(v, int(renumbered.size()));
        if (added) {
            piece.positions.insert(piece.positions.end(), &ship.positions[size_t(v) * 3],
                                   &ship.positions[size_t(v) * 3 + 3]);
            piece.normals.insert(piece.normals.end(), &ship.normals[size_t(v) * 3],
                                 &ship.normals[size_t(v) * 3 + 3]);
            piece.uvs.insert(piece.uvs.end(), &ship.uvs[size_t(v) * 2], &ship.uvs[size_t(v) * 2 + 2]);
        }
        piece.triangles.push_back(at->second);
    }
    return piece;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: contrail-fuzz-seeds <folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::map<std::string, Bytes> seeds;

    seeds["dib/asset-24.bmp"] = assets::encodeBmp(gradient(6, 5));
    seeds["dib/index-1.bmp"] = encode({9, 3, 1, ramp(4, 3), 2});
    seeds["dib/index-4.bmp"] = encode({5, 3, 4, ramp(4, 3), 16});
    Dib d{7, 3, 8, ramp(8, 3), 3};
    d.colorsUsed = 3;
    seeds["dib/index-8-short-table.bmp"] = encode(d);
    seeds["dib/rgb-16.bmp"] = encode({3, 2, 16, ramp(8, 2)});
    seeds["dib/rgb-32.bmp"] = encode({3, 2, 32, ramp(12, 2)});
    seeds["dib/top-down-24.bmp"] = encode({4, -3, 24, ramp(12, 3)});
    d = Dib{5, 2, 4, ramp(4, 2), 16};
    d.headerSize = 12;
    seeds["dib/core-4.bmp"] = encode(d);
    d.fileHeader = false;
    seeds["dib/packed-core-4.dib"] = encode(d);
    d = Dib{3, 2, 8, ramp(4, 2), 4};
    d.colorsUsed = 4;
    d.fileHeader = false;
    seeds["dib/packed-8.dib"] = encode(d);
    // Row 0: literal 2 1 2, padded; a jump one row up; a 2; end of line; a run
    // of five 1s, one past the edge; end of picture.
    d = Dib{4, 3, 8, {0, 3, 2, 1, 2, 0, 0, 2, 0, 1, 1, 2, 0, 0, 5, 1, 0, 1}, 3};
    d.compression = 1;
    d.colorsUsed = 3;
    seeds["dib/rle-8.bmp"] = encode(d);
    d = Dib{8, 2, 4, {5, 0x12, 0, 3, 0x21, 0x20, 0, 2, 1, 1, 2, 0x33, 0, 0, 4, 0x45, 0, 1}, 16};
    d.compression = 2;
    seeds["dib/rle-4.bmp"] = encode(d);

    // A tenth of a second of a tone through the generator's own encoder: the
    // tag frame and a few frames of music.
    assets::Stereo tone;
    for (int i = 0; i < assets::kSampleRate / 10; ++i) {
        tone.left.push_back(0.5f * float(i % 109) / 109.0f - 0.25f);
        tone.right.push_back(tone.left.back());
    }
    seeds["mp3/tone.mp3"] = assets::encodeMp3(tone);

    seeds["obj/ship-piece.obj"] = text(assets::encodeObj(shipPiece(2990, 12)));
    assets::ObjMesh tetra;
    tetra.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    tetra.normals = {-0.577f, -0.577f, -0.577f, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    tetra.uvs = {0, 0, 1, 0, 0, 1, 1, 1};
    tetra.triangles = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
    seeds["obj/tetrahedron.obj"] = text(assets::encodeObj(tetra));
    // What a hand-written file holds: comments, blank and indented lines,
    // carriage returns, exponents and signs, short and bad faces, a quad, other
    // record kinds and no line feed at the end.
    seeds["obj/odd-lines.obj"] = text(
        "# comment\r\n\nv 1 2 3\r\nv\t-1.5e2 +.25 7\nv 1e-40 3.4e38 -0\n  v 9 9 9\nvp 1 2\n"
        "vt 0.5 1\nvt 1e2\nvn 0 0 1\nvn 1 0\n"
        "f 1/1/1 2/2/1 3/1/2\nf 1/1/1 2/2/1 3/1/9\nf 1//1 2//1 3//1\nf -1/-1/-1 1/1/1 2/2/2\n"
        "f 1/1/1 2/2/1 3/1/2 1/2/1\nfoo\nf\nusemtl x\ns off\nf 3/2/1 2/1/1 1/1/1");

    bool ok = true;
    for (const auto& [name, bytes] : seeds)
        ok = files::makeDirs(dir + "/" + name.substr(0, name.find('/'))) &&
             files::writeFile(dir + "/" + name, bytes) && ok;
    if (!ok) std::fprintf(stderr, "contrail-fuzz-seeds: cannot write into %s\n", dir.c_str());
    return ok ? 0 : 1;
}
