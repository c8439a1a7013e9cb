// Text drawing: the font record layout, face resolution and drawn pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/ConfigStore.h"
#include "common/TempDir.h"
#include "pictures/TextDraw.h"

namespace {
struct Ink {
    int minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1, count = 0, opaque = 0;
};
Ink InkOf(const CPicture& p) {
    Ink k;
    for (int y = 0; y < p.Height(); ++y)
        for (int x = 0; x < p.Width(); ++x) {
            uint32_t t = p.At(x, y) >> 24;
            if (t == 255) continue;
            k.minX = std::min(k.minX, x);
            k.maxX = std::max(k.maxX, x);
            k.minY = std::min(k.minY, y);
            k.maxY = std::max(k.maxY, y);
            ++k.count;
            k.opaque += t == 0;
        }
    return k;
}
CPicture Transparent(int w, int h) {
    CPicture p(w, h);
    p.Fill(0xFF000000u);
    return p;
}
}  // namespace

TEST(FontRecord, LayoutAndRoundTrip) {
    CFontRecord f = PointFont("Arial", 12, 700, true);
    EXPECT_EQ(f.height, -16);  // 12 pt at 96 dpi
    EXPECT_EQ(FontPoints(f), 12);
    EXPECT_EQ(PointFont("MS Sans Serif", 10).height, -13);
    EXPECT_EQ(FontPoints(PointFont("MS Sans Serif", 10)), 10);
    f.underline = 1;
    f.charSet = 204;
    uint8_t b[60];
    f.ToBytes(b);
    EXPECT_EQ(b[0], 0xF0);  // -16 little-endian
    EXPECT_EQ(b[3], 0xFF);
    EXPECT_EQ(b[16], 0xBC);  // 700
    EXPECT_EQ(b[17], 0x02);
    EXPECT_EQ(b[20], 1);     // italic
    EXPECT_EQ(b[21], 1);     // underline
    EXPECT_EQ(b[23], 204);   // character set
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b + 28)), "Arial");
    EXPECT_TRUE(CFontRecord::FromBytes(b) == f);

    // Through the configuration store's checksummed structure format, as preferences keep it.
    TempDir dir;
    CConfigStore store(dir.File("t.ini"));
    ASSERT_TRUE(store.WriteStruct("PnP_Preferences", "struct_m_e", b, sizeof b));
    uint8_t back[60] = {};
    ASSERT_TRUE(store.ReadStruct("PnP_Preferences", "struct_m_e", back, sizeof back));
    EXPECT_TRUE(CFontRecord::FromBytes(back) == f);

    // A face name filling all 32 bytes is cut so it stays a string.
    std::memset(b + 28, 'x', 32);
    EXPECT_EQ(CFontRecord::FromBytes(b).FaceName().size(), 31u);
    CFontRecord g;
    g.SetFaceName(std::string(50, 'y'));
    EXPECT_EQ(g.FaceName(), std::string(31, 'y'));
}

TEST(TextDraw, FacesResolveThroughFontconfig) {
    for (const char* face : {"MS Sans Serif", "Arial", "Times New Roman", "No Such Face At All"}) {
        std::string file = ResolveFontFile(PointFont(face, 10));
        ASSERT_FALSE(file.empty()) << face;
        EXPECT_TRUE(std::filesystem::exists(file)) << face;
    }
    // Bold asks for a heavier face (or a synthetic one) and draws more ink.
    CPicture regular = Transparent(200, 40), bold = Transparent(200, 40);
    ASSERT_TRUE(DrawText(regular, "Heavy", PointFont("Arial", 14, 400), 0, 5, 30));
    ASSERT_TRUE(DrawText(bold, "Heavy", PointFont("Arial", 14, 700), 0, 5, 30));
    EXPECT_GT(InkOf(bold).count, InkOf(regular).count);
}

TEST(TextDraw, ColourCoverageAndBaseline) {
    CPicture pic = Transparent(240, 60);
    CFontRecord font = PointFont("Arial", 20);
    ASSERT_TRUE(DrawText(pic, "Hxg", font, 0x000000FF /* red */, 10, 40));
    Ink ink = InkOf(pic);
    ASSERT_GT(ink.count, 50);
    EXPECT_GT(ink.opaque, 20);  // stems are fully covered
    // On a transparent background every touched pixel has exactly the text colour; the
    // coverage is in its opacity.
    bool partial = false;
    for (int i = 0; i < 240 * 60; ++i) {
        uint32_t p = pic.Pixels()[i];
        if (p >> 24 == 255) continue;
        ASSERT_EQ(p & 0xFFFFFF, 0xFF0000u);
        partial |= (p >> 24) != 0;
    }
    EXPECT_TRUE(partial);  // antialiased edges
    // "H" sits on the baseline; "g" goes below it.
    TextExtent ext;
    ASSERT_TRUE(MeasureText("Hxg", font, ext));
    EXPECT_LE(ink.minY, 40 - 15);
    EXPECT_GE(ink.minY, 40 - ext.ascent);
    EXPECT_GT(ink.maxY, 40);
    EXPECT_LE(ink.maxY, 40 + ext.descent);
    EXPECT_GE(ink.minX, 10);
    EXPECT_LE(ink.maxX, 10 + ext.width + 1);

    // Over an opaque background the text mixes in and the pixel stays opaque.
    CPicture bg(60, 40);
    bg.Fill(0x00FFFFFF);
    ASSERT_TRUE(DrawText(bg, "W", font, 0, 5, 30));
    bool dark = false;
    for (int i = 0; i < 60 * 40; ++i) {
        EXPECT_EQ(bg.Pixels()[i] >> 24, 0u);
        dark |= bg.Pixels()[i] == 0;
    }
    EXPECT_TRUE(dark);
}

TEST(TextDraw, Alignment) {
    CFontRecord font = PointFont("MS Sans Serif", 12);
    TextExtent ext;
    ASSERT_TRUE(MeasureText("Label", font, ext));
    ASSERT_GT(ext.width, 20);
    struct Case {
        TextAlign align;
        int x;
    } cases[] = {{TextAlign::Left, 20}, {TextAlign::Right, 180}, {TextAlign::Centre, 100}};
    for (const auto& c : cases) {
        CPicture pic = Transparent(200, 30);
        ASSERT_TRUE(DrawText(pic, "Label", font, 0xFFFFFF, c.x, 22, c.align));
        Ink ink = InkOf(pic);
        switch (c.align) {
        case TextAlign::Left:
            EXPECT_NEAR(ink.minX, c.x, 2);
            break;
        case TextAlign::Right:
            EXPECT_NEAR(ink.maxX, c.x, 3);
            break;
        case TextAlign::Centre:
            EXPECT_NEAR((ink.minX + ink.maxX) / 2, c.x, 3);
            break;
        }
    }
    // Text running off the picture is clipped, not written outside it.
    CPicture small = Transparent(8, 8);
    EXPECT_TRUE(DrawText(small, "Clipped text", font, 0, -5, 6));
    EXPECT_TRUE(DrawText(small, "\xff\xfe bytes", font, 0, 0, 100));
}

TEST(TextDraw, UnderlineAddsABarBelowTheBaseline) {
    CFontRecord font = PointFont("Arial", 16);
    CPicture plain = Transparent(120, 40), under = Transparent(120, 40);
    ASSERT_TRUE(DrawText(plain, "ace", font, 0, 4, 25));
    font.underline = 1;
    ASSERT_TRUE(DrawText(under, "ace", font, 0, 4, 25));
    EXPECT_GT(InkOf(under).maxY, InkOf(plain).maxY);
}
