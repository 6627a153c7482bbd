// The built-in font: every character the pictures may need exists, glyphs are
// distinct, and the smooth renderer draws what the bitmaps say.
#include <gtest/gtest.h>

#include "tools/assets/assets.h"

#include <cstring>
#include <set>
#include <string>

namespace {

const std::string kRequired =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,!?:;-+=/'\"()&*#_";

TEST(AssetFont, CoversLettersDigitsAndPunctuationWithDistinctGlyphs) {
    std::set<std::string> seen;
    for (char c : kRequired) {
        const uint8_t* rows = assets::glyphRows(c);
        ASSERT_NE(rows, nullptr) << "no glyph for '" << c << "'";
        std::string key(reinterpret_cast<const char*>(rows), assets::kGlyphHeight);
        int bits = 0;
        for (int r = 0; r < assets::kGlyphHeight; ++r) {
            EXPECT_EQ(rows[r] & ~0x1F, 0) << "'" << c << "' is wider than 5 columns";
            bits += __builtin_popcount(rows[r]);
        }
        if (c != ' ') {
            EXPECT_GT(bits, 0) << "'" << c << "' is blank";
        }
        EXPECT_TRUE(seen.insert(key).second) << "'" << c << "' looks like another glyph";
        // Capitals and digits stand on the baseline; only a few lower-case letters descend.
        const bool descends = rows[7] || rows[8];
        EXPECT_EQ(descends, std::strchr("gjpqy,;_", c) != nullptr) << c;
    }
    EXPECT_EQ(assets::glyphRows('\x7f'), nullptr);
    EXPECT_EQ(assets::glyphRows('\xe9'), nullptr);
}

TEST(AssetFont, RenderedTextFollowsTheBitmaps) {
    const double scale = 6;
    for (char c : std::string("AgT7%")) {
        const assets::TextMask mask = assets::renderText(std::string(1, c), scale);
        const uint8_t* rows = assets::glyphRows(c == '%' ? '?' : c);   // unknown characters show as '?'
        ASSERT_GT(mask.width, 0);
        // The centre of every cell is covered exactly where the bitmap has a dot.
        for (int r = 0; r < assets::kGlyphHeight; ++r)
            for (int col = 0; col < assets::kGlyphWidth; ++col) {
                const int x = int((col + 1.5) * scale), y = int((r + 1.5) * scale);
                const float a = mask.alpha[size_t(y) * mask.width + x];
                if (rows[r] & (0x10 >> col)) {
                    EXPECT_GT(a, 0.9f) << c << " " << r << "," << col;
                } else {
                    EXPECT_LT(a, 0.5f) << c << " " << r << "," << col;
                }
            }
    }
    EXPECT_EQ(assets::textWidth("ab", 4), (2 * assets::kGlyphAdvance - 1) * 4);
    EXPECT_EQ(assets::textWidth("", 4), 0);
}

}  // namespace
