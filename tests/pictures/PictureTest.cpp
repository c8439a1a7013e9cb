// CPicture: loading with the load modes and the fit table, the black/white pair, saving,
// raw device files and the pixel operations.
#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "common/TempDir.h"
#include "pictures/CPicture.h"

namespace {
// A w x h PNG whose pixel (x, y) is opaque 0x00RRGGBB with R = x, G = y, B = 7.
std::string GradientPng(const TempDir& dir, int w, int h, const char* name = "img.png") {
    TestImage img;
    img.w = w;
    img.h = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.rgba.push_back(uint32_t(x) | uint32_t(y) << 8 | 7u << 16 | 0xFF000000u);
    std::string path = dir.File(name);
    WriteFile(path, MakePng(img, 2));
    return path;
}
uint32_t Grad(int x, int y) { return uint32_t(x) << 16 | uint32_t(y) << 8 | 7u; }

std::string FlatPng(const TempDir& dir, int w, int h, uint32_t rgb, const char* name) {
    TestImage img;
    img.w = w;
    img.h = h;
    uint32_t c = (rgb >> 16 & 255) | (rgb & 0xFF00) | (rgb & 255) << 16 | 0xFF000000u;
    img.rgba.assign(size_t(w * h), c);
    std::string path = dir.File(name);
    WriteFile(path, MakePng(img, 2));
    return path;
}
}  // namespace

TEST(Picture, LoadModesChooseTheSize) {
    TempDir dir;
    std::string path = GradientPng(dir, 6, 4);
    struct Case {
        int mode, W, H, wantW, wantH;
    } cases[] = {
        {CPicture::kLoadNone, 3, 3, 6, 4},   {CPicture::kLoadResize, 9, 5, 9, 5}, {CPicture::kLoadCrop, 4, 6, 4, 6},
        {CPicture::kLoadClip, 4, 6, 4, 4},   {CPicture::kLoadClip, 8, 2, 6, 2},   {CPicture::kLoadAspect, 8, 2, 8, 2},
        {CPicture::kLoadResize, 0, 5, 6, 4},  // a zero size means "as it is"
        {CPicture::kLoadCrop, 6, 4, 6, 4},
    };
    for (const auto& c : cases) {
        CPicture pic;
        ASSERT_EQ(pic.Load(path, true, c.mode, c.W, c.H), 0);
        EXPECT_EQ(pic.Width(), c.wantW) << c.mode << " " << c.W << "x" << c.H;
        EXPECT_EQ(pic.Height(), c.wantH) << c.mode << " " << c.W << "x" << c.H;
    }
    // Crop: the image at the top left, the rest transparent black.
    CPicture crop;
    ASSERT_EQ(crop.Load(path, true, CPicture::kLoadCrop, 4, 6), 0);
    EXPECT_EQ(crop.At(3, 3), Grad(3, 3));
    EXPECT_EQ(crop.At(0, 4), 0xFF000000u);
    EXPECT_EQ(crop.At(3, 5), 0xFF000000u);
    CPicture clip;
    ASSERT_EQ(clip.Load(path, true, CPicture::kLoadClip, 4, 6), 0);
    EXPECT_EQ(clip.At(3, 2), Grad(3, 2));
    CPicture none;
    ASSERT_EQ(none.Load(path, true, CPicture::kLoadNone, 3, 3), 0);
    EXPECT_EQ(none.At(5, 3), Grad(5, 3));
}

TEST(Picture, FitTable) {
    TempDir dir;
    // Required 4 x 4: the shapes are 4 x 4, 8 x 2 and 2 x 8.
    struct Case {
        int iw, ih, wantW, wantH;
    } cases[] = {
        {3, 3, 4, 4},  // fits the first shape
        {7, 2, 8, 2},  // only the second
        {2, 7, 2, 8},  // only the third
        {7, 5, 8, 2},  // none; width <= 2W
        {9, 8, 2, 8},  // none; width > 2W, height <= 2H
        {9, 9, 4, 4},  // none; both beyond
    };
    for (const auto& c : cases) {
        std::string path = GradientPng(dir, c.iw, c.ih);
        CPicture pic;
        ASSERT_EQ(pic.Load(path, true, CPicture::kLoadFit, 4, 4), 0);
        EXPECT_EQ(pic.Width(), c.wantW) << c.iw << "x" << c.ih;
        EXPECT_EQ(pic.Height(), c.wantH) << c.iw << "x" << c.ih;
        EXPECT_EQ(pic.At(0, 0), Grad(0, 0));
        // Beyond the image: transparent black.
        if (c.iw < pic.Width()) {
            EXPECT_EQ(pic.At(c.iw, 0), 0xFF000000u);
        }
        if (c.ih < pic.Height()) {
            EXPECT_EQ(pic.At(0, c.ih), 0xFF000000u);
        }
    }
}

TEST(Picture, AspectPadsOrCropsTheMiddle) {
    TempDir dir;
    // Flat 6 x 4 image into 8 x 2: w = 2 x 6 / 4 = 3, padded 2 left and 3 right with opaque black.
    std::string flat = FlatPng(dir, 6, 4, 0x336699, "flat.png");
    CPicture pic;
    ASSERT_EQ(pic.Load(flat, true, CPicture::kLoadAspect, 8, 2), 0);
    uint32_t row[8];
    for (int x = 0; x < 8; ++x) row[x] = pic.At(x, 1);
    EXPECT_EQ(row[0], 0u);
    EXPECT_EQ(row[1], 0u);
    for (int x = 2; x < 5; ++x) EXPECT_EQ(row[x], 0x336699u) << x;
    for (int x = 5; x < 8; ++x) EXPECT_EQ(row[x], 0u) << x;
    // Gradient 6 x 4 into 2 x 4: w = 4 x 6 / 4 = 6 (no resampling), columns 2 and 3 kept.
    std::string grad = GradientPng(dir, 6, 4);
    ASSERT_EQ(pic.Load(grad, true, CPicture::kLoadAspect, 2, 4), 0);
    ASSERT_EQ(pic.Width(), 2);
    EXPECT_EQ(pic.At(0, 1), Grad(2, 1));
    EXPECT_EQ(pic.At(1, 3), Grad(3, 3));
}

TEST(Picture, AlphaOnlyWhenWanted) {
    TempDir dir;
    TestImage img = PatternImage(4, 2, 16, true);
    std::string path = dir.File("a.png");
    WriteFile(path, MakePng(img, 6));
    CPicture with, without;
    ASSERT_EQ(with.Load(path, true, 0, 0, 0), 0);
    ASSERT_EQ(without.Load(path, false, 0, 0, 0), 0);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(with.At(x, 1) >> 24, 255 - (img.At(x, 1) >> 24));
        EXPECT_EQ(without.At(x, 1) >> 24, 0u);
        EXPECT_EQ(with.At(x, 1) & 0xFFFFFF, without.At(x, 1) & 0xFFFFFF);
    }
}

TEST(Picture, GifFrameCountAndDelay) {
    TempDir dir;
    std::vector<uint32_t> pal = {0xFF0000, 0x00FF00};
    std::string path = dir.File("anim.gif");
    WriteFile(path, MakeGif(2, 2, pal,
                            {GifFrame{0, 0, 2, 2, {0, 0, 0, 0}, 4}, GifFrame{0, 0, 2, 2, {1, 1, 1, 1}, 12}}));
    CPicture pic;
    ASSERT_EQ(pic.Load(path, true, 0, 0, 0, 1), 0);
    EXPECT_EQ(pic.FrameCount(), 2);
    EXPECT_EQ(pic.FrameDelay(), 120);
    EXPECT_EQ(pic.At(1, 1), 0x0000FF00u);
    ASSERT_EQ(pic.Load(path, true, 0, 0, 0), 0);
    EXPECT_EQ(pic.FrameDelay(), 40);
    EXPECT_EQ(pic.At(1, 1), 0x00FF0000u);
    EXPECT_EQ(pic.Load(path, true, 0, 0, 0, 2), 3);
    EXPECT_TRUE(pic.Empty());
    // Other formats have no frames.
    ASSERT_EQ(pic.Load(FlatPng(dir, 2, 2, 0, "p.png"), true, 0, 0, 0), 0);
    EXPECT_EQ(pic.FrameCount(), 0);
    EXPECT_EQ(pic.FrameDelay(), 0);
}

TEST(Picture, BlackWhitePair) {
    TempDir dir;
    auto bmp = [&](const char* name, std::vector<uint32_t> rgb) {
        CPicture p(int(rgb.size()), 1);
        for (size_t i = 0; i < rgb.size(); ++i) p.Pixels()[i] = rgb[i];
        ASSERT_EQ(p.SaveBMP(dir.File(name)), 0);
    };
    // K (100, 50, 0) over W (200, 150, 100): d = (150 - 450 + 765) / 3 = 155,
    // R = 200 x 127 / 155 = 163, G = 100 x 127 / 155 = 81, B = 0, transparency 100.
    // Identical pixels: d = 255, colour K x 254 / 255, transparency 0. Black over white: d = 0.
    bmp("logo.bmp", {0x643200, 0xC8FA10, 0x000000});
    bmp("logo_w.bmp", {0xC89664, 0xC8FA10, 0xFFFFFF});
    const uint32_t want[3] = {0x64A35100u, 0x00C7F90Fu, 0xFF000000u};
    for (const char* name : {"logo_w.bmp", "logo.bmp"}) {
        CPicture pic;
        ASSERT_EQ(pic.Load(dir.File(name), true, 0, 0, 0), 0) << name;
        for (int x = 0; x < 3; ++x) EXPECT_EQ(pic.At(x, 0), want[x]) << name << " " << x;
    }
    // Without want alpha, or without a companion, the file is taken as it is.
    CPicture plain;
    ASSERT_EQ(plain.Load(dir.File("logo.bmp"), false, 0, 0, 0), 0);
    EXPECT_EQ(plain.At(0, 0), 0x643200u);
    bmp("alone.bmp", {0x123456});
    ASSERT_EQ(plain.Load(dir.File("alone.bmp"), true, 0, 0, 0), 0);
    EXPECT_EQ(plain.At(0, 0), 0x123456u);
    // A companion of another size is ignored.
    bmp("odd.bmp", {0x643200, 0x000000});
    bmp("odd_W.bmp", {0xC89664});
    ASSERT_EQ(plain.Load(dir.File("odd.bmp"), true, 0, 0, 0), 0);
    EXPECT_EQ(plain.At(0, 0), 0x643200u);
    // Versions that do not match must not wrap around: K (255, 0, 0) with W (255, 255, 255)
    // gives d = 85 and red (255 + 255 + 85 - 255) x 127 / 85 = 508, kept at 255; K (0, 0, 0)
    // with W (255, 255, 0) gives blue (0 + 0 + 85 - 255) x 127 / 85 < 0, kept at 0.
    bmp("bad.bmp", {0xFF0000, 0x000000});
    bmp("bad_W.bmp", {0xFFFFFF, 0xFFFF00});
    ASSERT_EQ(plain.Load(dir.File("bad.bmp"), true, 0, 0, 0), 0);
    EXPECT_EQ(plain.At(0, 0), 0xAAFF7F7Fu);  // green and blue (0 + 255 + 85 - 255) x 127 / 85 = 127
    EXPECT_EQ(plain.At(1, 0) & 0xFF, 0u);
}

TEST(Picture, SavePngDepthFollowsTransparency) {
    TempDir dir;
    CPicture pic(3, 2);
    pic.Fill(0x00102030);
    ASSERT_EQ(pic.SavePNG(dir.File("opaque.png")), 0);
    EXPECT_EQ(uint8_t(TempDir::ReadAll(dir.File("opaque.png"))[25]), 2);  // colour type RGB
    pic.At(1, 1) = 0x80405060;
    ASSERT_EQ(pic.SavePNG(dir.File("alpha.png")), 0);
    EXPECT_EQ(uint8_t(TempDir::ReadAll(dir.File("alpha.png"))[25]), 6);  // RGBA
    CPicture back;
    ASSERT_EQ(back.Load(dir.File("alpha.png"), true, 0, 0, 0), 0);
    EXPECT_EQ(back.At(1, 1), 0x80405060u);
    EXPECT_EQ(back.At(0, 0), 0x00102030u);
    // BMP drops transparency.
    ASSERT_EQ(pic.SaveBMP(dir.File("p.bmp")), 0);
    ASSERT_EQ(back.Load(dir.File("p.bmp"), true, 0, 0, 0), 0);
    EXPECT_EQ(back.At(1, 1), 0x00405060u);
    EXPECT_NE(pic.SavePNG(dir.File("no/such/folder.png")), 0);
    EXPECT_NE(CPicture().SavePNG(dir.File("empty.png")), 0);
}

TEST(Picture, RawFiles) {
    TempDir dir;
    struct Case {
        int format, L, H;
        size_t size;
    } cases[] = {{0, 10, 3, 60}, {2, 11, 2, 40}, {3, 10, 3, 120}, {4, 10, 3, 75}, {5, 10, 3, 606208}, {6, 1, 1, 600064}, {9, 4, 1, 8}};
    for (const auto& c : cases) EXPECT_EQ(RawPictureFileSize(c.format, c.L, c.H), c.size) << c.format;
    std::vector<uint8_t> buf(120);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = uint8_t(i * 3);
    ASSERT_EQ(WriteRawPictureFile(3, dir.File("p.raw"), buf.data(), buf.size(), 10, 3), 0);
    EXPECT_EQ(TempDir::ReadAll(dir.File("p.raw")).size(), 120u);
    std::vector<uint8_t> in(120);
    ASSERT_EQ(ReadRawPictureFile(3, dir.File("p.raw"), in.data(), in.size(), 10, 3), 0);
    EXPECT_EQ(in, buf);
    EXPECT_EQ(ReadRawPictureFile(3, dir.File("p.raw"), in.data(), in.size(), 10, 4), 3);  // file too short
    EXPECT_EQ(ReadRawPictureFile(3, dir.File("missing.raw"), in.data(), in.size(), 10, 3), 1);
    EXPECT_EQ(ReadRawPictureFile(3, dir.File("p.raw"), in.data(), 100, 10, 3), 3);  // buffer too small
    EXPECT_EQ(WriteRawPictureFile(3, dir.File("nodir/p.raw"), buf.data(), buf.size(), 10, 3), 1);
    EXPECT_EQ(WriteRawPictureFile(3, dir.File("q.raw"), buf.data(), 100, 10, 3), 1);
}

TEST(Picture, DownscaleAndUpscale) {
    CPicture pic(5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) pic.At(x, y) = uint32_t(x * 10 + y) * 0x01010101u;
    pic.DownscaleByTwo();
    ASSERT_EQ(pic.Width(), 2);
    ASSERT_EQ(pic.Height(), 1);
    // (0 + 10 + 1 + 11) / 4 = 5 and (20 + 30 + 21 + 31) / 4 = 25 in every byte, transparency included.
    EXPECT_EQ(pic.At(0, 0), 0x05050505u);
    EXPECT_EQ(pic.At(1, 0), 0x19191919u);
    pic.UpscaleByTwo();
    ASSERT_EQ(pic.Width(), 4);
    ASSERT_EQ(pic.Height(), 2);
    EXPECT_EQ(pic.At(1, 1), 0x05050505u);
    EXPECT_EQ(pic.At(2, 0), 0x19191919u);
    CPicture one(1, 1);
    one.DownscaleByTwo();
    EXPECT_TRUE(one.Empty());
}

TEST(Picture, FillCopyBlend) {
    CPicture pic(4, 4);
    pic.Fill(0x00FF0000);
    pic.Fill(0x11223344, 0, 2, 2, 5, 5);  // clipped
    EXPECT_EQ(pic.At(3, 3), 0x11223344u);
    EXPECT_EQ(pic.At(1, 1), 0x00FF0000u);
    // Mode 1: colour with transparency 128 over opaque red: t = min(128, 255) = 128;
    // R = (0 x 127 + 128 x 255) / 255 = 128, B = (255 x 127 + 0) / 255 = 127, transparency 0.
    pic.Fill(0x800000FF, 1, 0, 0, 1, 1);
    EXPECT_EQ(pic.At(0, 0), 0x0080007Fu);

    CPicture src(2, 2);
    src.Pixels()[0] = 0x000000FF;  // opaque blue
    src.Pixels()[1] = 0xF0FFFFFF;  // 240: skipped by blend
    src.Pixels()[2] = 0xEF00FF00;  // 239: blended
    src.Pixels()[3] = 0x40FFFFFF;
    CPicture dst(3, 3);
    dst.Fill(0x10000000);
    dst.BlendRect(src, 1, 1, 0, 0, 5, 5);
    EXPECT_EQ(dst.At(1, 1), 0x000000FFu);
    EXPECT_EQ(dst.At(2, 1), 0x10000000u);
    // 239 over transparency 16: t = min(239, 239) = 239, G = (255 x 16 + 0) / 255 = 16, trans = min(239, 16).
    EXPECT_EQ(dst.At(1, 2), 0x10001000u);
    dst.CopyRect(src, -1, 0, 0, 0, 2, 2);  // clipped on the left
    EXPECT_EQ(dst.At(0, 0), 0xF0FFFFFFu);
    EXPECT_EQ(dst.At(0, 1), 0x40FFFFFFu);
    dst.CopyRect(src, 2, 2, 1, 1, 10, 10);
    EXPECT_EQ(dst.At(2, 2), 0x40FFFFFFu);
}

TEST(Picture, ScaledCopyCheckerboardInvert) {
    CPicture src(2, 3);
    for (int i = 0; i < 6; ++i) src.Pixels()[i] = uint32_t(i);
    CPicture dst(4, 6);
    dst.ScaledCopy(src, 0, 0, 4, 6);
    EXPECT_EQ(dst.At(3, 5), 5u);
    EXPECT_EQ(dst.At(1, 2), 2u);
    EXPECT_EQ(dst.At(2, 0), 1u);
    // Swapped axes: a 3-wide, 2-high rectangle shows the source transposed.
    CPicture rot(3, 2);
    rot.ScaledCopy(src, 0, 0, 3, 2, true);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(rot.At(j, i), src.At(i, j)) << i << "," << j;
    // Partly outside the destination: clipped.
    dst.ScaledCopy(src, 2, 4, 4, 6);
    EXPECT_EQ(dst.At(2, 4), 0u);
    // A rectangle far larger than the destination only costs the visible part.
    dst.ScaledCopy(src, -3, -2, 1 << 30, 1 << 30);
    EXPECT_EQ(dst.At(3, 5), 0u);

    CPicture cb(17, 9);
    cb.Checkerboard();
    EXPECT_EQ(cb.At(0, 0), 0x00FFFFFFu);
    EXPECT_EQ(cb.At(8, 0), 0x00A0A0A0u);
    EXPECT_EQ(cb.At(8, 8), 0x00FFFFFFu);
    EXPECT_EQ(cb.At(16, 8), 0x00A0A0A0u);
    cb.At(0, 0) = 0x30123456;
    cb.InvertTransparency();
    EXPECT_EQ(cb.At(0, 0), 0xCF123456u);
    EXPECT_EQ(cb.At(8, 0), 0xFFA0A0A0u);
}

TEST(Picture, CopiesAreDeep) {
    CPicture a(3, 2);
    a.Fill(0x01020304);
    CPicture b(a);
    b.At(0, 0) = 0;
    EXPECT_EQ(a.At(0, 0), 0x01020304u);
    CPictureBMP c(a);
    EXPECT_EQ(c.Width(), 3);
    EXPECT_EQ(c.At(2, 1), 0x01020304u);
    CPicture d;
    d = a;
    a.Clear();
    EXPECT_EQ(d.At(1, 1), 0x01020304u);
    EXPECT_FALSE(CPicture().Create(-1, 5));
    EXPECT_FALSE(CPicture().Create(1 << 20, 1 << 20));
}
