// Loading options: dithering, vertical filter, luma key and shadows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "pictures/LoadingOptions.h"

namespace {
CPicture Flat(int w, int h, uint32_t c) {
    CPicture p(w, h);
    p.Fill(c);
    return p;
}
}  // namespace

TEST(Dither, ReproducibleAndNeverTouchesTransparency) {
    CPicture pic(64, 16);
    for (int i = 0; i < 64 * 16; ++i) pic.Pixels()[i] = uint32_t(i * 2654435761u) | 0x5A000000u;
    for (int i = 0; i < 64; ++i) pic.Pixels()[i] = 0x7F030201u;  // dark bytes: must not wrap below 0
    CPicture a(pic), b(pic);
    CDitherRandom r1(42), r2(42);
    DitherPicture(a, r1);
    DitherPicture(b, r2);
    EXPECT_EQ(std::memcmp(a.Pixels(), b.Pixels(), 64 * 16 * 4), 0);
    int lowered = 0, total = 0;
    for (int i = 0; i < 64 * 16; ++i) {
        uint32_t o = pic.Pixels()[i], n = a.Pixels()[i];
        EXPECT_EQ(o >> 24, n >> 24);
        for (int s = 0; s < 24; s += 8) {
            int d = int((n >> s) & 255) - int((o >> s) & 255);
            EXPECT_TRUE(d == 0 || (d >= -10 && d <= -5)) << d;
            if (i >= 64) {
                ++total;
                lowered += d != 0;
            }
        }
    }
    // About three bytes in four are lowered (those with room to go down).
    EXPECT_NEAR(double(lowered) / total, 0.75, 0.05);
    for (int i = 0; i < 64; ++i)  // 1, 2, 3 minus 5..10 is below 0: left alone
        EXPECT_EQ(a.Pixels()[i], 0x7F030201u);
}

TEST(Dither, FollowsTheDrawSequence) {
    // One pixel: the bytes B, G, R take draws in order; a draw below 8191 leaves the byte.
    CDitherRandom probe(7);
    std::vector<int> draws;
    for (int i = 0; i < 8; ++i) draws.push_back(probe.Next());
    for (int d : draws) {
        EXPECT_GE(d, 0);
        EXPECT_LE(d, 32767);
    }
    CPicture pic = Flat(1, 1, 0x00646464);
    CDitherRandom rng(7);
    DitherPicture(pic, rng);
    size_t k = 0;
    uint32_t want = 0;
    for (int s = 0; s < 24; s += 8) {
        int v = 100;
        if (draws[k++] >= 8191) v += draws[k++] / 6553 - 10;
        want |= uint32_t(v) << s;
    }
    EXPECT_EQ(pic.At(0, 0), want);
}

TEST(VerticalFilter, WeightsAndSmallPictures) {
    EXPECT_EQ(VerticalFilterWeight(0), 0);
    EXPECT_EQ(VerticalFilterWeight(1), 1368);
    EXPECT_EQ(VerticalFilterWeight(-1), 1368);
    EXPECT_EQ(VerticalFilterWeight(255), 21846);
    EXPECT_EQ(VerticalFilterWeight(-255), 21846);
    for (int h : {1, 2}) {
        CPicture pic(3, h);
        for (int i = 0; i < 3 * h; ++i) pic.Pixels()[i] = uint32_t(i) * 0x3F1F0F07u;
        CPicture before(pic);
        VerticalFilter(pic);
        EXPECT_EQ(std::memcmp(pic.Pixels(), before.Pixels(), size_t(3 * h) * 4), 0) << h;
    }
}

TEST(VerticalFilter, SoftensStepsFromUnfilteredNeighbours) {
    // Rows 0, 255, 0, 0: row 1 has both neighbours 255 below: e = f = 21846,
    // (0 x 21846 + (65536 - 43692) x 255 + 0) >> 16 = 84. Row 2 uses the unfiltered row 1
    // (255): e = 21846, f = 0: (65536 - 21846) x 0 + 255 x 21846 >> 16 = 85. Ends stay.
    CPicture pic(1, 4);
    pic.At(0, 0) = 0x00000000;
    pic.At(0, 1) = 0xFFFFFFFF;
    pic.At(0, 2) = 0x00000000;
    pic.At(0, 3) = 0x00000000;
    VerticalFilter(pic);
    EXPECT_EQ(pic.At(0, 0), 0u);
    EXPECT_EQ(pic.At(0, 1), 0x54545454u);  // the transparency byte is filtered too
    EXPECT_EQ(pic.At(0, 2), 0x55555555u);
    EXPECT_EQ(pic.At(0, 3), 0u);
    // A flat picture is unchanged.
    CPicture flat = Flat(5, 5, 0x20406080);
    VerticalFilter(flat);
    EXPECT_EQ(flat.At(2, 2), 0x20406080u);
}

TEST(LumaKey, KeyedAreaSoftEdgesAndTransparencyAdd) {
    // All of the key colour: fully transparent (the border counts as keyed).
    CPicture all = Flat(6, 5, 0x00123456);
    LumaKey(all, {});
    for (int i = 0; i < 30; ++i) EXPECT_EQ(all.Pixels()[i], 0xFF123456u);

    // A band three rows high (rows 3-5) across a keyed field. First pass: row 2 sees 6 keyed
    // of 9 (170 -> 255), row 3 sees 3 (85 -> 170), row 4 none (0). Second pass: row 4
    // (170 + 0 + 170) x 3 / 9 = 113, row 3 (255 + 170 + 0) x 3 / 9 = 141, row 2 226.
    CPicture band = Flat(9, 9, 0x00000000);
    for (int y = 3; y <= 5; ++y)
        for (int x = 0; x < 9; ++x) band.At(x, y) = 0x00FFFFFF;
    LumaKey(band, {});
    const uint32_t want[9] = {255, 255, 226, 141, 113, 141, 226, 255, 255};
    for (int y = 0; y < 9; ++y) EXPECT_EQ(band.At(4, y) >> 24, want[y]) << y;
    EXPECT_EQ(band.At(4, 4) & 0xFFFFFF, 0xFFFFFFu);  // colours are kept

    // A line one pixel thin sees 6 keyed of 9 in the first pass (170 -> 255): it is keyed out.
    CPicture line = Flat(9, 9, 0x00000000);
    for (int x = 0; x < 9; ++x) line.At(x, 4) = 0x00FFFFFF;
    LumaKey(line, {});
    EXPECT_EQ(line.At(4, 4) >> 24, 255u);

    // 50% (index 5): an unkeyed interior pixel of a large unkeyed area gets transparency 80.
    CPicture block = Flat(12, 12, 0x00FF0000);
    block.At(0, 0) = 0x0000FF00;  // the key is the top-left colour
    LumaKey(block, {5, 0, 0, 0});
    EXPECT_EQ(block.At(6, 6), 0x50FF0000u);
    EXPECT_EQ(block.At(0, 0) >> 24, 255u);
}

TEST(LumaKey, ShadowDirectionsAndColours) {
    // A 7 x 7 opaque white square (5..11) in a keyed black 17 x 17 field; its centre (8, 8)
    // stays opaque. The keyed transparency at (10, 10), two in from a corner, is 103:
    // the first pass gives the corner 255 and the edges 170, the second (4 x 170 + 255) / 9.
    auto make = [] {
        CPicture p = Flat(17, 17, 0x00000000);
        for (int y = 5; y <= 11; ++y)
            for (int x = 5; x <= 11; ++x) p.At(x, y) = 0x00FFFFFF;
        return p;
    };
    CPicture keyed = make();
    LumaKey(keyed, {});
    ASSERT_EQ(keyed.At(10, 10) >> 24, 103u);
    ASSERT_EQ(keyed.At(8, 8), 0x00FFFFFFu);

    // Size 3: the shadow at (x, y) copies the keyed copy at (x + 3 dx, y + 3 dy), so 5 pixels
    // from the centre against the direction it shows the keyed (8 - 2 dx, 8 - 2 dy), 103,
    // where the keyed picture itself is fully transparent (skipped by the blend).
    struct Case {
        int type, dx, dy, colourIndex, transparencyIndex;
        uint32_t colour, trans;
    } cases[] = {
        {1, -1, -1, 0, 0, 0x000000, 103}, {2, +1, -1, 1, 0, 0x7F7F7F, 103},
        {3, -1, +1, 2, 0, 0xA0A0A0, 103}, {4, +1, +1, 0, 0, 0x000000, 103},
        // 20% adds 32 to the keyed copy (135) and again to its shadow: 167.
        {1, -1, -1, 1, 2, 0x7F7F7F, 167},
    };
    for (const auto& c : cases) {
        CPicture p = make();
        LumaKey(p, {c.transparencyIndex, c.type, 3, c.colourIndex});
        int qx = 8 - 5 * c.dx, qy = 8 - 5 * c.dy;
        EXPECT_EQ(p.At(qx, qy), c.colour | c.trans << 24) << c.type;
        // On the other side there is no shadow.
        EXPECT_EQ(p.At(8 + 5 * c.dx, 8 + 5 * c.dy) >> 24, 255u) << c.type;
        // The opaque centre of the square is on top.
        if (c.transparencyIndex == 0) {
            EXPECT_EQ(p.At(8, 8), 0x00FFFFFFu) << c.type;
        }
    }

    // Bottom-right, size 2: strips of 2 pixels along the left and top edges are fully transparent.
    CPicture br = make();
    LumaKey(br, {0, 1, 2, 1});
    for (int i = 0; i < 17; ++i)
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(br.At(i, k), 0xFFFFFFFFu);
            EXPECT_EQ(br.At(k, i), 0xFFFFFFFFu);
        }
    EXPECT_EQ(br.At(16, 16) >> 24, 255u);

    // Size 0: the shadow lies exactly under the picture, hidden where it is opaque.
    CPicture under = make();
    LumaKey(under, {0, 4, 0, 2});
    EXPECT_EQ(under.At(8, 8), 0x00FFFFFFu);
    EXPECT_EQ(under.At(0, 0), 0xFFA0A0A0u);
}
