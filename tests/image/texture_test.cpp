// texture_test.cpp - loadTexture and the cube map in an offscreen GL context.
#include "image/image.h"

#include "tests/image/bmp_files.h"
#include "platform/offscreen/offscreen_gl.h"

#include "platform/gl.h"

namespace {

using bmp::Bytes;

Bytes trueColourFile(const bmp::Picture& picture) {
    return bmp::encode(bmp::Layout{picture.width, picture.height, 24, bmp::store(picture, 24)});
}

bmp::Picture uniform(int size, uint32_t colour) {
    return {size, size, std::vector<uint32_t>(size_t(size) * size, colour)};
}

GLint integer(GLenum name) {
    GLint v = 0;
    glGetIntegerv(name, &v);
    return v;
}

Bytes texImage(GLenum target, size_t bytes) {
    Bytes texels(bytes);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(target, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

class GlTest : public bmp::ScriptedTest {
protected:
    void SetUp() override {
        ScriptedTest::SetUp();
        ASSERT_TRUE(gl.ok()) << gl.error();
    }
    plat::OffscreenGl gl{4, 4};
};

TEST_F(GlTest, TextureIsBoundLinearAndNeverShared) {
    const std::string path = write("t.bmp", trueColourFile(uniform(2, 0x336699)));
    const int32_t first = loadTexture(path.c_str());
    const int32_t second = loadTexture(path.c_str());
    ASSERT_GT(first, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), second);
    for (int32_t name : {first, second}) {
        glBindTexture(GL_TEXTURE_2D, GLuint(name));
        for (GLenum filter : {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER}) {
            GLint v = 0;
            glGetTexParameteriv(GL_TEXTURE_2D, filter, &v);
            EXPECT_EQ(v, GL_LINEAR);
        }
    }
    EXPECT_TRUE(boxes().empty());
}

TEST_F(GlTest, PictureCornersLandOnTextureCorners) {
    auto picture = uniform(4, 0x00FF00);
    picture.values[12] = 0xFF0000;  // bottom left
    picture.values[3] = 0x0000FF;   // top right
    ASSERT_GT(loadTexture(write("t.bmp", trueColourFile(picture)).c_str()), 0);

    // One texel per pixel: pixel centres sample texel centres, (0.125, 0.125) and so on.
    glViewport(0, 0, 4, 4);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
    for (const auto& [s, t] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}}) {
        glTexCoord2i(s, t);
        glVertex2i(2 * s - 1, 2 * t - 1);
    }
    glEnd();
    glDisable(GL_TEXTURE_2D);
    const auto rgb = gl.readRgbTopDown();
    ASSERT_EQ(rgb.size(), 48u);
    auto at = [&](int row, int column) { return Bytes(&rgb[12 * row + 3 * column], &rgb[12 * row + 3 * column + 3]); };
    EXPECT_EQ(at(3, 0), (Bytes{255, 0, 0}));
    EXPECT_EQ(at(0, 3), (Bytes{0, 0, 255}));
    EXPECT_EQ(at(1, 1), (Bytes{0, 255, 0}));
}

TEST_F(GlTest, OddWidthsUploadWithoutShear) {
    const auto picture = bmp::randomPicture(5, 3, 0x1000000, 11);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    ASSERT_GT(loadTexture(write("odd.bmp", trueColourFile(picture)).c_str()), 0);
    EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 8);
    EXPECT_EQ(texImage(GL_TEXTURE_2D, 5 * 3 * 3), bmp::expected(picture, {}));
}

TEST_F(GlTest, FailedTexturesMakeNoName) {
    GLuint before = 0, after = 0;
    glGenTextures(1, &before);
    glBindTexture(GL_TEXTURE_2D, before);
    EXPECT_EQ(loadTexture(nullptr), -1);
    EXPECT_EQ(loadTexture((folder / "absent.bmp").c_str()), -1);
    EXPECT_TRUE(boxes().empty());
    bmp::Layout v4{1, 1};
    v4.headerSize = 108;
    EXPECT_EQ(loadTexture(write("v4.bmp", bmp::encode(v4)).c_str()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Unknown DIB file format.");
    // Files that cannot be read: the loader's box, and no wait on the FIFO.
    const std::vector<std::string> special = bmp::specialFiles(folder);
    for (const std::string& path : special) {
        SCOPED_TRACE(path);
        plat::resetScript();
        EXPECT_EQ(bmp::withoutStall(special[0], [&] { return loadTexture(path.c_str()); }), -1);
        EXPECT_EQ(bmp::withoutStall(special[0], [&] { return loadCubeFace(path.c_str()); }), nullptr);
        ASSERT_EQ(boxes().size(), 2u);
        EXPECT_EQ(boxes()[1].text, "Failed to open DIB file " + path + ".\n");
    }
    glGenTextures(1, &after);
    EXPECT_EQ(after, before + 1);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), GLint(before));
}

class CubeMapTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        home = std::filesystem::current_path();
        std::filesystem::current_path(folder);
    }
    void TearDown() override {
        std::filesystem::current_path(home);
        GlTest::TearDown();
    }
    std::filesystem::path home;
};

const char* const kFaceNames[] = {"rt", "lt", "up", "dn", "ft", "bt"};

TEST_F(CubeMapTest, FacesInOrderWithTheirParameters) {
    for (int i = 0; i < 6; ++i) {
        write(std::string("images/skybox/") + kFaceNames[i] + ".bmp", trueColourFile(uniform(512, 0x102030u * (i + 1))));
    }
    EnvironmentCubeMap cubeMap;
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(kFaceNames[i]);
        EXPECT_EQ(texImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + i, 512 * 512 * 3),
                  bmp::expected(uniform(512, 0x102030u * (i + 1)), {}));
    }
    for (const auto& [name, value] : {std::pair<GLenum, GLint>{GL_TEXTURE_WRAP_S, GL_REPEAT}, {GL_TEXTURE_WRAP_T, GL_REPEAT},
                                      {GL_TEXTURE_WRAP_R, GL_REPEAT}, {GL_TEXTURE_MAG_FILTER, GL_NEAREST},
                                      {GL_TEXTURE_MIN_FILTER, GL_NEAREST}}) {
        GLint v = 0;
        glGetTexParameteriv(GL_TEXTURE_CUBE_MAP, name, &v);
        EXPECT_EQ(v, value) << std::hex << name;
    }
    for (GLenum coordinate : {GL_S, GL_T, GL_R}) {
        GLint mode = 0;
        glGetTexGeniv(coordinate, GL_TEXTURE_GEN_MODE, &mode);
        EXPECT_EQ(mode, GL_NORMAL_MAP);
    }
    for (GLenum capability : {GL_TEXTURE_CUBE_MAP, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R}) {
        EXPECT_FALSE(glIsEnabled(capability));
    }
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_CUBE_MAP), 0);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(CubeMapTest, MissingAndMisSizedFacesGetEmptyStorage) {
    EnvironmentCubeMap nothingThere;  // not even the folder
    write("images/skybox/up.bmp", trueColourFile(uniform(256, 0xFF00FF)));
    write("images/skybox/ft.bmp", trueColourFile(uniform(512, 0x00FF00)));
    EXPECT_EQ(loadCubeFace("images\\skybox\\up.bmp"), nullptr);
    uint8_t* pixels = loadCubeFace("images\\skybox\\ft.bmp");
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[1], 0xFF);
    std::free(pixels);

    EnvironmentCubeMap cubeMap;
    GLint width = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_CUBE_MAP_POSITIVE_Y, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, 512);
    const Bytes up = texImage(GL_TEXTURE_CUBE_MAP_POSITIVE_Y, 512 * 512 * 3);
    EXPECT_NE(Bytes(up.begin(), up.begin() + 3), (Bytes{255, 0, 255}));  // not read from the small array
    EXPECT_EQ(texImage(GL_TEXTURE_CUBE_MAP_POSITIVE_Z, 512 * 512 * 3), bmp::expected(uniform(512, 0x00FF00), {}));
    EXPECT_TRUE(boxes().empty());
}

}  // namespace
