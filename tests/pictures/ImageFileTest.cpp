// The image-file layer: every BMP and TGA variant against the image it was made from, GIF
// frames, JPEG and PNG, and refusal of corrupt or truncated files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ImageFixtures.h"
#include "common/TempDir.h"
#include "pictures/CPicture.h"
#include "pictures/ImageFile.h"

namespace {
uint32_t Px(const ImageData& d, int x, int y) {
    const uint8_t* p = d.Row(y) + size_t(x) * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Channels quantised to `bits` the way the writers above quantise them, widened back.
uint32_t Quant(uint32_t p, int rBits, int gBits, int bBits) {
    auto q = [](uint32_t c, int bits) {
        if (bits >= 8) return c;
        uint32_t v = c >> (8 - bits), max = (1u << bits) - 1;
        return (v * 255 + max / 2) / max;
    };
    return q(p & 255, rBits) | q((p >> 8) & 255, gBits) << 8 | q((p >> 16) & 255, bBits) << 16 | (p & 0xFF000000u);
}

void ExpectSame(const ImageData& d, const TestImage& img, bool alpha, const char* what, int rb = 8, int gb = 8,
                int bb = 8) {
    ASSERT_EQ(d.width, img.w) << what;
    ASSERT_EQ(d.height, img.h) << what;
    EXPECT_EQ(d.hasAlpha, alpha) << what;
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) {
            uint32_t want = Quant(img.At(x, y), rb, gb, bb);
            if (!alpha) want |= 0xFF000000u;
            ASSERT_EQ(Px(d, x, y), want) << what << " at " << x << "," << y;
        }
}
}  // namespace

TEST(ImageFile, BmpVariants) {
    struct Case {
        const char* name;
        BmpOptions opt;
        int colours;
        bool alpha;
        int rb, gb, bb;
    } cases[] = {
        {"1 bit", {1}, 2, false, 8, 8, 8},
        {"4 bit", {4}, 16, false, 8, 8, 8},
        {"8 bit", {8}, 16, false, 8, 8, 8},
        {"8 bit core header", {8, false, 0, false, true}, 16, false, 8, 8, 8},
        {"16 bit 555", {16}, 16, false, 5, 5, 5},
        {"16 bit 565 masks", {16, false, 0, true}, 16, false, 5, 6, 5},
        {"24 bit", {24}, 16, false, 8, 8, 8},
        {"24 bit top-down", {24, true}, 16, false, 8, 8, 8},
        {"32 bit with alpha masks", {32, false, 0, true}, 16, true, 8, 8, 8},
        {"32 bit plain, alpha used", {32}, 16, true, 8, 8, 8},
        {"RLE8", {8, false, 8}, 16, false, 8, 8, 8},
        {"RLE4", {4, false, 4}, 16, false, 8, 8, 8},
    };
    for (const auto& c : cases) {
        // Odd sizes so row padding matters.
        TestImage img = PatternImage(13, 7, c.colours, c.alpha);
        Bytes b = MakeBmp(img, c.opt);
        EXPECT_EQ(DetectImageFormat(b.data(), b.size()), ImageFormat::Bmp) << c.name;
        ImageData d;
        std::string err;
        ASSERT_TRUE(DecodeImage(b.data(), b.size(), -1, d, &err)) << c.name << ": " << err;
        ExpectSame(d, img, c.alpha, c.name, c.rb, c.gb, c.bb);
    }
}

TEST(ImageFile, BmpMasksAreReadOnlyFromTheHeaderThatHoldsThem) {
    // 32-bit alpha bit fields (compression 6) in a 52-byte header: it holds the colour masks
    // only, so there is no alpha mask and the pixels that follow are not one.
    auto make = [](bool withPixels) {
        Bytes b(14 + 52, 0);
        b[0] = 'B';
        b[1] = 'M';
        b[10] = 14 + 52;
        b[14] = 52;
        b[18] = 2;   // width
        b[22] = 1;   // height
        b[26] = 1;   // planes
        b[28] = 32;  // bits
        b[30] = 6;   // alpha bit fields
        const uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 4; ++k) b[14 + 40 + size_t(4 * i + k)] = uint8_t(masks[i] >> (8 * k));
        if (withPixels) b.insert(b.end(), {0x33, 0x22, 0x11, 0x80, 0x66, 0x55, 0x44, 0x00});
        return b;
    };
    Bytes b = make(true);
    ImageData d;
    std::string err;
    ASSERT_TRUE(DecodeImage(b.data(), b.size(), -1, d, &err)) << err;
    EXPECT_FALSE(d.hasAlpha);
    EXPECT_EQ(Px(d, 0, 0), 0xFF332211u);
    EXPECT_EQ(Px(d, 1, 0), 0xFF665544u);
    // The header alone, in a buffer of exactly its size: refused without reading past it.
    Bytes bare = make(false);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bare.size()]);
    std::memcpy(exact.get(), bare.data(), bare.size());
    EXPECT_FALSE(DecodeBmp(exact.get(), bare.size(), d, &err, kDefaultMaxImagePixels));
}

TEST(ImageFile, BmpRleAbsoluteRunsAndDelta) {
    // 6 x 3, 8-bit RLE: row 0 (bottom) an absolute run of 3 then a run of 3, end of line; a
    // delta skips to row 2, column 2; the skipped pixels take palette entry 0.
    TestImage pal = PatternImage(4, 1, 4);
    Bytes b = MakeBmp(pal, {8});  // only for its header and palette
    b.resize(size_t(b[10]));
    b[18] = 6;  // width
    b[22] = 3;  // height
    b[30] = 1;  // RLE8
    Bytes rle = {0, 3, 1, 2, 3, 0, 3, 2, 0, 0, 0, 2, 2, 1, 2, 3, 0, 1};
    b.insert(b.end(), rle.begin(), rle.end());
    ImageData d;
    ASSERT_TRUE(DecodeBmp(b.data(), b.size(), d, nullptr, kDefaultMaxImagePixels));
    auto pc = [&](int i) { return pal.rgba[size_t(i)]; };  // palette entry i is pattern pixel i
    // Bottom row is the last row of the image.
    uint32_t want2[6] = {pc(1), pc(2), pc(3), pc(2), pc(2), pc(2)};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Px(d, x, 2), want2[x]) << x;
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Px(d, x, 1), pc(0)) << x;
    EXPECT_EQ(Px(d, 1, 0), pc(0));
    EXPECT_EQ(Px(d, 2, 0), pc(3));
    EXPECT_EQ(Px(d, 3, 0), pc(3));
}

TEST(ImageFile, TgaVariants) {
    struct Case {
        const char* name;
        TgaOptions opt;
        int colours;
        bool alphaImage, alphaOut;
        int bits;
    } cases[] = {
        {"type 1 mapped", {1, 8}, 16, false, false, 8},
        {"type 2 24 bit", {2, 24}, 16, false, false, 8},
        {"type 2 32 bit alpha", {2, 32, false, false, 8}, 16, true, true, 8},
        {"type 2 top-left origin", {2, 24, true}, 16, false, false, 8},
        {"type 2 right-to-left", {2, 24, true, true}, 16, false, false, 8},
        {"type 2 16 bit", {2, 16}, 16, false, false, 5},
        {"type 3 grey", {3, 8}, 2, false, false, 8},
        {"type 9 mapped RLE", {9, 8}, 16, false, false, 8},
        {"type 10 RLE 32 bit", {10, 32, false, false, 8}, 3, true, true, 8},
        {"type 11 grey RLE", {11, 8, true}, 2, false, false, 8},
    };
    for (const auto& c : cases) {
        TestImage img = PatternImage(11, 6, c.colours, c.alphaImage);
        Bytes b = MakeTga(img, c.opt);
        EXPECT_EQ(DetectImageFormat(b.data(), b.size()), ImageFormat::Tga) << c.name;
        ImageData d;
        std::string err;
        ASSERT_TRUE(DecodeImage(b.data(), b.size(), -1, d, &err)) << c.name << ": " << err;
        ExpectSame(d, img, c.alphaOut, c.name, c.bits, c.bits, c.bits);
    }
}

TEST(ImageFile, PngColourTypes) {
    TestImage grey = PatternImage(9, 5, 2);  // black and white only, so grey is exact
    TestImage rgba = PatternImage(9, 5, 16, true);
    struct Case {
        int type;
        const TestImage* img;
        bool alpha;
    } cases[] = {{0, &grey, false}, {2, &rgba, false}, {3, &rgba, false}, {4, &grey, false}, {6, &rgba, true}};
    for (const auto& c : cases) {
        TestImage want = *c.img;
        if (c.type == 4) {  // grey + alpha: give the grey image alpha
            want = PatternImage(9, 5, 2, true);
        }
        Bytes b = MakePng(want, c.type);
        ImageData d;
        ASSERT_TRUE(DecodeImage(b.data(), b.size(), -1, d)) << c.type;
        ExpectSame(d, want, c.alpha || c.type == 4, "png");
    }
}

TEST(ImageFile, JpegDecodesCloseToTheSource) {
    TestImage img = PatternImage(24, 16, 1);  // one colour: JPEG keeps it within a few levels
    for (auto& p : img.rgba) p = 0xFF3080C0u;
    for (bool grey : {false, true}) {
        Bytes b = MakeJpeg(img, 95, grey);
        EXPECT_EQ(DetectImageFormat(b.data(), b.size()), ImageFormat::Jpeg);
        ImageData d;
        ASSERT_TRUE(DecodeImage(b.data(), b.size(), -1, d));
        EXPECT_EQ(d.width, 24);
        EXPECT_EQ(d.height, 16);
        EXPECT_FALSE(d.hasAlpha);
        uint32_t p = Px(d, 5, 5);
        int r = grey ? 0xC0 : 0xC0, g = grey ? 0xC0 : 0x80, bl = grey ? 0xC0 : 0x30;
        EXPECT_NEAR(int(p & 255), r, 3);
        EXPECT_NEAR(int((p >> 8) & 255), g, 3);
        EXPECT_NEAR(int((p >> 16) & 255), bl, 3);
        EXPECT_EQ(p >> 24, 255u);
    }
}

TEST(ImageFile, GifFramesDelaysAndTransparency) {
    std::vector<uint32_t> pal = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    GifFrame f0{0, 0, 4, 2, std::vector<uint8_t>(8, 0), 10};
    GifFrame f1{2, 0, 2, 2, {1, 3, 1, 3}, 25, 3};  // index 3 transparent: frame 0 shows through
    GifFrame f2{0, 1, 4, 1, std::vector<uint8_t>(4, 2), 7};
    Bytes b = MakeGif(4, 2, pal, {f0, f1, f2});
    struct Case {
        int frame;
        int delay;
        uint32_t row0[4];
        uint32_t row1[4];
    } cases[] = {
        {-1, 10, {0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF}, {0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF}},
        {1, 25, {0xFF0000FF, 0xFF0000FF, 0xFF00FF00, 0xFF0000FF}, {0xFF0000FF, 0xFF0000FF, 0xFF00FF00, 0xFF0000FF}},
        {2, 7, {0xFF0000FF, 0xFF0000FF, 0xFF00FF00, 0xFF0000FF}, {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000}},
    };
    for (const auto& c : cases) {
        ImageData d;
        ASSERT_TRUE(DecodeImage(b.data(), b.size(), c.frame, d)) << c.frame;
        EXPECT_EQ(d.frameCount, 3);
        EXPECT_EQ(d.frameDelay, c.delay);
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(Px(d, x, 0), c.row0[x]) << c.frame << " " << x;
            EXPECT_EQ(Px(d, x, 1), c.row1[x]) << c.frame << " " << x;
        }
    }
    ImageData d;
    EXPECT_FALSE(DecodeImage(b.data(), b.size(), 3, d));

    // A single frame whose transparent index becomes alpha.
    Bytes t = MakeGif(2, 1, pal, {GifFrame{0, 0, 2, 1, {0, 3}, 0, 3}});
    ASSERT_TRUE(DecodeImage(t.data(), t.size(), -1, d));
    EXPECT_TRUE(d.hasAlpha);
    EXPECT_EQ(Px(d, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(Px(d, 1, 0) >> 24, 0u);
}

TEST(ImageFile, CorruptAndTruncatedFilesGiveResult3) {
    TempDir dir;
    TestImage img = PatternImage(16, 16, 16, true);
    std::vector<uint32_t> pal = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    std::vector<uint8_t> idx(256);
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = uint8_t((i * 7 / 3) % 4);
    struct Case {
        const char* name;
        Bytes data;
    } files[] = {
        {"bmp", MakeBmp(img, {24})},
        {"bmp rle", MakeBmp(PatternImage(16, 16, 16), {8, false, 8})},
        {"tga", MakeTga(img, {2, 32})},
        {"tga rle", MakeTga(img, {10, 24})},
        {"png", MakePng(img, 6)},
        {"jpeg", MakeJpeg(img)},
        {"gif", MakeGif(16, 16, pal, {GifFrame{0, 0, 16, 16, idx, 5}})},
    };
    for (const auto& f : files) {
        CPicture pic;
        std::string path = dir.File("whole");
        WriteFile(path, f.data);
        ASSERT_EQ(pic.Load(path, true, 0, 0, 0), 0) << f.name;
        // Cut at the middle and just before the end; and corrupt the header's size fields.
        for (size_t cut : {f.data.size() / 2, f.data.size() - 5, size_t(20), size_t(3)}) {
            WriteFile(path, Bytes(f.data.begin(), f.data.begin() + long(cut)));
            pic = CPicture(3, 3);
            EXPECT_EQ(pic.Load(path, true, 0, 0, 0), 3) << f.name << " cut at " << cut;
            EXPECT_TRUE(pic.Empty());
        }
    }
    // Sizes in the header that the data cannot back.
    Bytes bmp = MakeBmp(img, {24});
    bmp[22] = 0xFF;
    bmp[23] = 0x7F;  // height 32767
    ImageData d;
    EXPECT_FALSE(DecodeImage(bmp.data(), bmp.size(), -1, d));
    Bytes tga = MakeTga(img, {2, 24});
    tga[12] = 0xFF;
    tga[13] = 0xFF;
    EXPECT_FALSE(DecodeImage(tga.data(), tga.size(), -1, d));
    Bytes junk = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    EXPECT_EQ(DetectImageFormat(junk.data(), junk.size()), ImageFormat::Unknown);
    EXPECT_FALSE(DecodeImage(junk.data(), junk.size(), -1, d));
    CPicture pic;
    EXPECT_EQ(pic.Load(dir.File("missing.png"), true, 0, 0, 0), 1);
}

TEST(ImageFile, FormatIsToldFromContentNotName) {
    TempDir dir;
    TestImage img = PatternImage(5, 4, 16);
    WriteFile(dir.File("really-a-png.bmp"), MakePng(img, 2));
    WriteFile(dir.File("really-a-bmp.jpg"), MakeBmp(img, {24}));
    for (const char* n : {"really-a-png.bmp", "really-a-bmp.jpg"}) {
        CPicture pic;
        ASSERT_EQ(pic.Load(dir.File(n), false, 0, 0, 0), 0) << n;
        EXPECT_EQ(pic.At(2, 1), (img.At(2, 1) & 0xFF00) | (img.At(2, 1) & 0xFF) << 16 | (img.At(2, 1) >> 16 & 0xFF));
    }
}

TEST(ImageFile, BicubicResamplingKeepsFlatAreasAndEdges) {
    ImageData in;
    in.Allocate(8, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            uint8_t* p = in.Row(y) + x * 4;
            p[0] = x < 4 ? 200 : 20;
            p[1] = 100;
            p[2] = 50;
            p[3] = 255;
        }
    for (auto [w, h] : {std::pair{16, 12}, {3, 2}, {8, 6}, {1, 1}}) {
        ImageData out = ResampleBicubic(in, w, h);
        ASSERT_EQ(out.width, w);
        ASSERT_EQ(out.height, h);
        // Repeated edges: the far left and right columns keep their flat colours.
        if (w > 8) {
            EXPECT_EQ(out.Row(0)[0], 200) << w;
            EXPECT_EQ(out.Row(h - 1)[(w - 1) * 4], 20) << w;
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                EXPECT_EQ(out.Row(y)[x * 4 + 1], 100);
                EXPECT_EQ(out.Row(y)[x * 4 + 3], 255);
            }
    }
    // Same size is the identity.
    ImageData same = ResampleBicubic(in, 8, 6);
    EXPECT_EQ(same.rgba, in.rgba);
}

TEST(ImageFile, ResamplingDoesNotBleedColourFromTransparentPixels) {
    // Left half fully transparent red, right half opaque blue: wherever some opacity appears
    // after resampling, its colour comes from the blue side only.
    ImageData in;
    in.Allocate(6, 4);
    in.hasAlpha = true;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            uint8_t* p = in.Row(y) + x * 4;
            p[0] = x < 3 ? 255 : 0;
            p[2] = x < 3 ? 0 : 255;
            p[3] = x < 3 ? 0 : 255;
        }
    for (auto [w, h] : {std::pair{17, 9}, {4, 3}}) {
        ImageData out = ResampleBicubic(in, w, h);
        bool someAlpha = false;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = out.Row(y) + x * 4;
                if (p[3] == 0) continue;
                someAlpha = true;
                EXPECT_EQ(p[0], 0) << w << " " << x << "," << y;
                EXPECT_EQ(p[2], 255) << w << " " << x << "," << y;
            }
        EXPECT_TRUE(someAlpha);
    }
}

