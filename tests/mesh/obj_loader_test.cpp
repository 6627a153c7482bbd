// obj_loader_test.cpp - the OBJ loader on written files: records, faces, numbers, failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif
#include <unistd.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mesh/mesh.h"
#include "mesh/obj_numbers.h"
#include "platform/whole_file.h"
#include "tests/support/test_assets.h"

namespace {

struct Loaded {
    int32_t count = 0;
    std::vector<float> floats;  // 24 per triangle
    std::string trace;          // what the loader printed
};

// Runs the loader on `text` with standard output caught in a file.
Loaded load(const std::string& text) {
    static const std::string dir = testassets::makeScratchDir();
    const std::string objPath = dir + "/mesh.obj";
    const std::string tracePath = dir + "/trace.txt";
    testassets::writeFile(objPath, text);

    std::fflush(stdout);
    const int savedStdout = dup(1);
    std::FILE* traceFile = std::fopen(tracePath.c_str(), "wb");
    dup2(fileno(traceFile), 1);
    float* vertices = nullptr;
    Loaded result;
    result.count = loadObjMesh(objPath.c_str(), &vertices);
    std::fflush(stdout);
    dup2(savedStdout, 1);
    close(savedStdout);
    std::fclose(traceFile);

    EXPECT_NE(vertices, nullptr);
    if (vertices && result.count > 0) result.floats.assign(vertices, vertices + 24 * result.count);
    std::free(vertices);
    std::FILE* in = std::fopen(tracePath.c_str(), "rb");
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) result.trace.append(buffer, got);
    std::fclose(in);
    return result;
}

std::vector<float> corner(const Loaded& m, int triangle, int c) {
    const float* p = &m.floats[static_cast<size_t>(24 * triangle + 8 * c)];
    return std::vector<float>(p, p + 8);
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
    return s;
}

size_t lineCount(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

const std::string kCube =
    "# two triangles\n"
    "v 1 2 3\n"
    "v 4 5 6\n"
    "v 7 8 9\n"
    "v -1.5 -2.5 -3.5\n"
    "vt 0.25 0.75\n"
    "vt 0.5 0.125\n"
    "vn 0 0 1\n"
    "vn 0 1 0\n"
    "f 1/1/1 2/2/2 3/1/1\n"
    "f 4/2/2 1/1/1 2/2/1\n";

}  // namespace

TEST(ObjLoader, ResolvesCornersIntoTheInterleavedLayoutAndTracesThem) {
    const Loaded m = load(kCube);
    ASSERT_EQ(m.count, 2);
    EXPECT_EQ(corner(m, 0, 0), (std::vector<float>{1, 2, 3, 0, 0, 1, 0.25f, 0.75f}));
    EXPECT_EQ(corner(m, 0, 1), (std::vector<float>{4, 5, 6, 0, 1, 0, 0.5f, 0.125f}));
    EXPECT_EQ(corner(m, 0, 2), (std::vector<float>{7, 8, 9, 0, 0, 1, 0.25f, 0.75f}));
    EXPECT_EQ(corner(m, 1, 0), (std::vector<float>{-1.5f, -2.5f, -3.5f, 0, 1, 0, 0.5f, 0.125f}));
    EXPECT_EQ(corner(m, 1, 2), (std::vector<float>{4, 5, 6, 0, 0, 1, 0.5f, 0.125f}));
    // One trace line per triangle: position x, texture u and normal z of the first corner.
    EXPECT_EQ(m.trace,
              " 1.000000 |  0.250000 |  1.000000 | \n"
              " -1.500000 |  0.500000 |  0.000000 | \n");
}

TEST(ObjLoader, CrLfAndLfLinesGiveTheSameMesh) {
    const Loaded lf = load(kCube);
    const Loaded crlf = load(replaceAll(kCube, "\n", "\r\n"));
    EXPECT_EQ(crlf.count, lf.count);
    EXPECT_EQ(crlf.floats, lf.floats);
    EXPECT_EQ(crlf.trace, lf.trace);
}

TEST(ObjLoader, FirstLineAndUnterminatedLastLineAreRecords) {
    const Loaded m = load("v 1 2 3\nvt 0.5 0.5\nvn 0 0 1\nf 1/1/1 1/1/1 1/1/1");
    ASSERT_EQ(m.count, 1);
    EXPECT_EQ(corner(m, 0, 2), (std::vector<float>{1, 2, 3, 0, 0, 1, 0.5f, 0.5f}));
    // A final line feed starts nothing, and a file of vertices alone has no triangles.
    EXPECT_EQ(load("v 1 2 3\nvt 0.5 0.5\nvn 0 0 1\nf 1/1/1 1/1/1 1/1/1\n").count, 1);
    EXPECT_EQ(load("v 1 2 3\nvt 0 0\nvn 0 0 1\n").count, 0);
    EXPECT_EQ(load("").count, 0);
    EXPECT_EQ(load("\n").count, 0);
}

TEST(ObjLoader, FacesMayReferToLaterRecordsAndUseOnlyThreeCorners) {
    const Loaded m = load(
        "f 3/2/1 2/1/1 1/2/1 9/9/9\n"  // fourth corner ignored, even out of range
        "v 1 1 1\nv 2 2 2\nv 3 3 3\nvt 0.1 0.2 0.9\nvt 0.3 0.4\nvn 0 0 -1 7\n");
    ASSERT_EQ(m.count, 1);
    EXPECT_EQ(corner(m, 0, 0), (std::vector<float>{3, 3, 3, 0, 0, -1, 0.3f, 0.4f}));
    EXPECT_EQ(corner(m, 0, 1), (std::vector<float>{2, 2, 2, 0, 0, -1, 0.1f, 0.2f}));
    EXPECT_EQ(corner(m, 0, 2), (std::vector<float>{1, 1, 1, 0, 0, -1, 0.3f, 0.4f}));
}

TEST(ObjLoader, OtherLinesAreNeitherCountedNorRead) {
    const Loaded m = load(
        "mtllib ship.mtl\no ship\ng hull\ns 1\nusemtl steel\n"
        "v\t9 9 9\n v 9 9 9\n# v 9 9 9\nvp 9 9 9\n"
        "v 1 2 3\n"
        "\tvt 9 9\nvt 0.5 0.25\n"
        "vn 0 1 0\n"
        "f 1/1/1 1/1/1 1/1/1\n"
        // Only one record of each kind was counted, so the second ones do not exist.
        "f 2/1/1 1/1/1 1/1/1\nf 1/2/1 1/1/1 1/1/1\nf 1/1/1 1/1/1 1/1/2\n");
    ASSERT_EQ(m.count, 4);
    EXPECT_EQ(corner(m, 0, 0), (std::vector<float>{1, 2, 3, 0, 1, 0, 0.5f, 0.25f}));
    for (int t = 1; t < 4; ++t) EXPECT_EQ(corner(m, t, 0), std::vector<float>(8, 0.0f)) << t;
}

// Plain decimals take a short cut past the general parser; both must give
// the float that scanf's %e gives, bit for bit.
TEST(ObjLoader, NumbersReadAsScanfReadsThem) {
    std::vector<std::string> texts = {
        "0", "-0", "1", "+3", "-2.5", "1e3", "1.5E-3", ".5", "5.", "-.75e+2", "3.4028235e38", "3.5e38",
        "1e39", "-1e39", "1.17549435e-38", "1.4e-45", "7e-46", "1e-50", "0x1p3", "-0x1.8p-1", "0x", "inf",
        "-Infinity", "nan", "0.1000000000000000055511151231257827", "16777217", "2.5abc", "1e",
        "123456789012345678901234567890", "00000000000000000000000000000000000000001.5", "1,5", "1.5.5",
        "-5-", "--5", "5e", "12345678.5", "1.12345678", "\t7", " 7", "7\t8", "-0.0000001"};
    std::mt19937 random(99);
    char number[64];
    for (int i = 0; i < 40000; ++i) {
        const double magnitude =
            std::ldexp(static_cast<double>(random()) / 4294967296.0, static_cast<int>(random() % 40) - 20);
        std::snprintf(number, sizeof number, "%s%.*f", i % 2 ? "-" : "", static_cast<int>(random() % 12), magnitude);
        texts.push_back(number);
    }
    // As exporters write them: six significant digits, small ones with an exponent.
    for (int i = 0; i < 20000; ++i) {
        const double value = std::ldexp(static_cast<double>(random()) / 4294967296.0 - 0.5,
                                        static_cast<int>(random() % 60) - 40);
        std::snprintf(number, sizeof number, i % 2 ? "%e" : "%.6g", value);
        texts.push_back(number);
    }
    // Each text is followed by two more numbers, whose reading depends on where the first ends.
    std::string obj = "vt 0 0\nvn 0 0 1\n";
    for (const std::string& t : texts) obj += "v " + t + " 0 0\n";
    for (size_t i = 1; i <= texts.size(); ++i) obj += "f " + std::to_string(i) + "/1/1 1/1/1 1/1/1\n";
    const Loaded m = load(obj);
    ASSERT_EQ(m.count, static_cast<int32_t>(texts.size()));
    int mismatches = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        float expected[3] = {};
        std::sscanf((texts[i] + " 0 0").c_str(), "%e %e %e", &expected[0], &expected[1], &expected[2]);
        if (std::memcmp(&m.floats[24 * i], expected, sizeof expected) != 0 && ++mismatches < 5) {
            ADD_FAILURE() << texts[i] << ": " << m.floats[24 * i] << " " << m.floats[24 * i + 1] << " "
                          << m.floats[24 * i + 2] << " vs " << expected[0] << " " << expected[1] << " "
                          << expected[2];
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The trace's fast formatting must print exactly what printf(" %f | ") prints.
TEST(ObjLoader, TraceTextEqualsPrintf) {
    std::mt19937 random(20240611);
    std::vector<float> values = {0.0f, -0.0f, 0.0078125f, -0.0078125f, 0.5e-6f, 4.76837158203125e-7f,
                                 1.5e-7f, -1e-9f, 999999.9999f, 1e12f, 3.4028235e38f, -3.4028235e38f,
                                 1e-45f, 8388608.5f, 0.0000005f, 2.5e-6f, 123.4565f};
    // Where the printed form changes: the half-millionth that rounds to 0 or up,
    // each decade of the whole part, and the last value below 10^8 (the largest
    // written without the library) beside 10^8 itself.
    for (float f : {0.5e-6f, 9.9999995f, 10.0f, 100.0f, 1000.0f, 1e7f, 99999992.0f, 1e8f, FLT_MIN}) {
        for (float g : {f, std::nextafter(f, 0.0f), std::nextafter(f, 2 * f)}) {
            values.push_back(g);
            values.push_back(-g);
        }
    }
    for (int i = 0; i < 30000; ++i) {
        uint32_t bits = random();
        if (i % 3 == 0) bits = (bits & 0x807fffffu) | ((100 + bits % 60) << 23);  // mostly ordinary sizes
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (std::isnan(f)) continue;
        values.push_back(f);
    }
    std::string obj;
    char number[64];
    for (float f : values) {
        std::snprintf(number, sizeof number, "%.9g", static_cast<double>(f));
        obj += std::string("v ") + number + " 0 0\nvt " + number + " 0\nvn 0 0 " + number + "\n";
    }
    std::string expected;
    size_t faces = 0;
    const auto face = [&](size_t p, size_t t, size_t n) {
        obj += "f " + std::to_string(p) + "/" + std::to_string(t) + "/" + std::to_string(n) + " 1/1/1 1/1/1\n";
        for (size_t k : {p, t, n}) {
            std::snprintf(number, sizeof number, " %f | ", static_cast<double>(values[k - 1]));
            expected += number;
        }
        expected += "\n";
        ++faces;
    };
    for (size_t i = 1; i <= values.size(); ++i) {
        face(i, i, i);
        // Again from the same corner, then from a corner that differs in its texture coordinate only.
        if (i % 2 == 0) {
            face(i, i, i);
            face(i, 1, i);
        }
    }
    const Loaded m = load(obj);
    ASSERT_EQ(m.count, static_cast<int32_t>(faces));
    ASSERT_EQ(lineCount(m.trace), faces);
    size_t at = 0;
    for (size_t line = 0; line < faces; ++line) {
        const size_t a = m.trace.find('\n', at), b = expected.find('\n', at);
        ASSERT_EQ(m.trace.substr(at, a - at), expected.substr(at, b - at)) << "line " << line;
        at = a + 1;
    }
}

TEST(ObjLoader, MissingFileLeavesThePointerAlone) {
    float sentinel = 0.0f;
    float* vertices = &sentinel;
    EXPECT_EQ(loadObjMesh("/nonexistent/contrail/mesh.obj", &vertices), -1);
    EXPECT_EQ(vertices, &sentinel);
    EXPECT_EQ(loadObjMesh(nullptr, &vertices), -1);
    EXPECT_EQ(vertices, &sentinel);
}

#ifndef _WIN32  // no named pipes or socket files there
// Only regular files are read: a named pipe, socket, folder or device counts as
// a file that cannot be opened, and none of them may keep the loader waiting.
TEST(ObjLoaderHostile, OnlyRegularFilesAreOpened) {
    const std::string dir = testassets::makeScratchDir();
    const std::string pipePath = dir + "/pipe.obj", socketPath = dir + "/socket.obj";
    ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    const struct {
        const char* what;
        std::string path;
    } rows[] = {{"named pipe", pipePath}, {"socket", socketPath}, {"folder", dir},
                {"null device", "/dev/null"}, {"zero device", "/dev/zero"}};
    for (const auto& row : rows) {
        float sentinel = 0.0f;
        float* vertices = &sentinel;
        std::promise<int32_t> loaded;
        std::future<int32_t> result = loaded.get_future();
        std::thread loader([&] { loaded.set_value(loadObjMesh(row.path.c_str(), &vertices)); });
        if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << row.what << " kept the loader waiting";
            // A writer that comes and goes lets a waiting open of the pipe return.
            const int writer = open(row.path.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) close(writer);
        }
        loader.join();
        EXPECT_EQ(result.get(), -1) << row.what;
        EXPECT_EQ(vertices, &sentinel) << row.what;
        if (vertices != &sentinel) std::free(vertices);
    }
    close(listener);
}
#endif

// Faces that do not name existing records keep their place in the count but
// become all-zero triangles; nothing is read out of bounds (the sanitizer
// build checks that).

TEST(ObjLoaderHostile, BadFacesBecomeEmptyTriangles) {
    const std::string records = "v 1 2 3\nv 4 5 6\nvt 0.5 0.5\nvn 0 0 1\n";
    const char* faces[] = {
        "f 0/1/1 1/1/1 2/1/1",   "f -1/1/1 1/1/1 2/1/1", "f 3/1/1 1/1/1 2/1/1",   "f 1/2/1 1/1/1 2/1/1",
        "f 1/1/2 1/1/1 2/1/1",   "f 1/1/1 1/1/1",        "f 1//1 2//1 1//1",      "f 1 2 1",
        "f",                     "foo",                  "f 1/1/1 2/1/1 99999999999/1/1",
        "f 1/1/1 2/1/1 1/1/999999999999999999999999999999999999",
        "f 1/1/1 2/1/1 12345678/1/1",                    "f 1/1/1 2/1/1 1/1/1000000000",
        "f 1/1/1 2/1/1 1.1/1",
        "f 1/1/1 2/1/1 2/1/",    "f 1/ 1/1 2/1/1 1/1/1 x",  // %d skips the blank after '/'
    };
    // Long lines after the faces let the loader take its short cuts for them.
    for (const std::string& tail : {std::string(), "# " + std::string(200, '-') + "\n"}) {
        std::string obj = records;
        for (const char* f : faces) obj += std::string(f) + "\n";
        const Loaded m = load(obj + tail);
        ASSERT_EQ(m.count, static_cast<int32_t>(std::size(faces)));
        for (size_t t = 0; t + 1 < std::size(faces); ++t) {
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(corner(m, static_cast<int>(t), c), std::vector<float>(8, 0.0f)) << faces[t];
        }
        EXPECT_EQ(corner(m, static_cast<int>(std::size(faces)) - 1, 1),
                  (std::vector<float>{4, 5, 6, 0, 0, 1, 0.5f, 0.5f}));
        EXPECT_EQ(lineCount(m.trace), std::size(faces));
    }
}

// The arrays' sizes in a 32-bit size type (the web page's size_t): a face
// count that a file can claim must not wrap into a small allocation.
TEST(ObjLoaderHostile, ArraySizesThatDoNotFitAreRefused) {
    struct Row {
        uint32_t count, width, elementSize;
        bool fits;
        uint32_t bytes;
    } rows[] = {
        {0, 24, 4, true, 0},
        {44739242, 24, 4, true, 4294967232u},  // the most triangles that fit
        {44739243, 24, 4, false, 0},           // one more: the bytes would wrap to 32
        {178956971, 24, 4, false, 0},          // the floats would wrap to 8
        {357913941, 3, 4, true, 4294967292u},
    };
    for (const Row& row : rows) {
        uint32_t bytes = 0;
        EXPECT_EQ(objnum::arrayBytes(row.count, row.width, row.elementSize, bytes), row.fits) << row.count;
        if (row.fits) {
            EXPECT_EQ(bytes, row.bytes) << row.count;
        }
        uint64_t wide = 0;  // the same counts fit in 64 bits
        EXPECT_TRUE(objnum::arrayBytes<uint64_t>(row.count, row.width, row.elementSize, wide));
        EXPECT_EQ(wide, uint64_t{row.count} * row.width * row.elementSize);
    }
}

TEST(ObjLoaderHostile, TruncatedRecordsReadWhatIsThere) {
    const Loaded m = load("vt 0.25\nvn 1\nv 1 2\nf 1/1/1 1/1/1 1/1/1\nv 5 6 7.");
    ASSERT_EQ(m.count, 1);
    EXPECT_EQ(corner(m, 0, 0), (std::vector<float>{1, 2, 0, 1, 0, 0, 0.25f, 0}));
    const Loaded cut = load("v 1 2 3\nvt 0 0\nvn 0 0 1\nf 1/1/1 1/1/1 1/");
    ASSERT_EQ(cut.count, 1);
    EXPECT_EQ(corner(cut, 0, 0), std::vector<float>(8, 0.0f));
    EXPECT_EQ(load("v 1.").count, 0);
    EXPECT_EQ(load("f").count, 1);
    EXPECT_EQ(load("v").count, 0);
}

TEST(ObjLoaderHostile, LongLinesAreReadWhole) {
    const std::string padding(300000, ' ');  // lines longer than the loader's buffer
    const std::string digits(5000, '7');
    const Loaded m = load("v" + padding + "1" + padding + "2 3" + padding + "\n" +
                          "v 0." + digits + " " + digits + " 1\n" +
                          "vt 0.5 0.5 " + digits + "\nvn 0 0 1\n" +
                          "f" + padding + "1/1/1 2/1/1 1/1/1" + padding + "\n" +
                          "f 2/1/1 1/1/1 " + std::string(300, '0') + "1/1/1\n");
    ASSERT_EQ(m.count, 2);
    EXPECT_EQ(corner(m, 0, 0), (std::vector<float>{1, 2, 3, 0, 0, 1, 0.5f, 0.5f}));
    EXPECT_EQ(corner(m, 0, 1)[0], std::strtof(("0." + digits).c_str(), nullptr));
    EXPECT_EQ(corner(m, 0, 1)[1], HUGE_VALF);  // overflows like scanf's %e
    EXPECT_EQ(corner(m, 1, 2)[0], 1.0f);
}

#ifndef _WIN32  // Windows refuses to shorten a file that is open
// A file cut short between opening and reading reads as the shorter file it
// became, wherever the cut falls: in the first line, among the records, or
// among the faces, pieces after the loader's first.
TEST(ObjLoaderHostile, FilesCutShortWhileOpenReadAsShortFiles) {
    std::string text;
    for (int i = 0; i < 12000; ++i)
        text += "v " + std::to_string(i) + " 0.5 -" + std::to_string(i % 7) + "\n";
    text += "vt 0.25 0.75\nvn 0 0 1\n";
    for (int i = 1; i + 2 <= 12000; ++i)
        text += "f " + std::to_string(i) + "/1/1 " + std::to_string(i + 1) + "/1/1 1/1/1\n";
    static size_t cutTo = 0;
    for (size_t length :
         {size_t{1}, size_t{5}, size_t{100000}, size_t{300000}, text.size() - 300, text.size() - 1}) {
        SCOPED_TRACE(length);
        cutTo = length;
        plat::setFileOpenedHook([](const char* path) { truncate(path, static_cast<off_t>(cutTo)); });
        const Loaded cut = load(text);
        plat::setFileOpenedHook(nullptr);
        const Loaded whole = load(text.substr(0, length));
        EXPECT_EQ(cut.count, whole.count);
        EXPECT_EQ(cut.floats, whole.floats);
        EXPECT_EQ(cut.trace, whole.trace);
    }
}
#endif

TEST(ObjLoaderHostile, BinaryJunkNeverBreaksTheCount) {
    std::mt19937 random(7);
    const std::string alphabet = std::string("fvnt/ 0123456789.-e\r\n\t\0\xff", 25);
    for (int round = 0; round < 200; ++round) {
        std::string junk;
        const size_t size = random() % 4000;
        for (size_t i = 0; i < size; ++i) {
            junk += round % 2 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
        }
        size_t faces = 0;
        for (size_t i = 0; i < junk.size(); ++i)
            faces += junk[i] == 'f' && (i == 0 || junk[i - 1] == '\n');
        const Loaded m = load(junk);
        ASSERT_EQ(m.count, static_cast<int32_t>(faces)) << "round " << round;
        ASSERT_EQ(lineCount(m.trace), faces);
    }
}
