// Test tables made from image files, device reads, the frame preview and `varoctl table`.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/TempDir.h"
#include "pictures/CPicture.h"
#include "signals/CUIT.h"

namespace {
std::string SavePicture(const TempDir& dir, const char* name, int w, int h, uint32_t fill,
                        void (*draw)(CPicture&) = nullptr) {
    CPicture pic(w, h);
    pic.Fill(fill);
    if (draw) draw(pic);
    std::string path = dir.File(name);
    EXPECT_EQ(pic.SavePNG(path), 0);
    return path;
}

std::vector<int> Lengths(const CDataArray& a) {
    std::vector<int> out;
    for (const auto& s : a.spans) out.push_back(s->length);
    return out;
}
}  // namespace

TEST(UITFromPicture, OpaquePictureGivesNoWindowAndBecomesTheFrame) {
    TempDir dir;
    std::string png = SavePicture(dir, "white.png", 702, 576, 0x00FFFFFF);
    CUIT t;
    t.Reset();
    ASSERT_EQ(t.BuildFromPicture(png), 0);
    EXPECT_TRUE(t.windows.empty());
    EXPECT_EQ(std::count(t.mask.begin(), t.mask.end(), 0), kMaskSize);
    for (int L : {0, 300, 575}) {
        const uint8_t* line = t.FrameLine(L);
        EXPECT_EQ(line[17], 16) << "pixel 8 is the black margin";
        EXPECT_EQ(line[19], 235) << "pixel 9 is the picture's first pixel";
        EXPECT_EQ(line[2 * 710 + 1], 235);
        EXPECT_EQ(line[2 * 711 + 1], 16);
        EXPECT_EQ(line[24], 128);  // Cb of a white pair
    }
    // Lines 576 to 579 are black.
    for (int b = 0; b < kFrameLineBytes; b += 4) ASSERT_EQ(t.FrameLine(578)[b + 1], 16);
}

TEST(UITFromPicture, TransparentAreasBecomeWindows) {
    TempDir dir;
    struct Case {
        const char* name;
        uint32_t fill;
        void (*draw)(CPicture&);
        std::vector<std::pair<int, int>> windows;
        std::vector<int> spans;
    } cases[] = {
        {"clear.png", 0xFF000000, nullptr, {{0, 576}}, {702}},
        {"rect.png", 0x00202020, [](CPicture& p) { p.Fill(0xFF000000, 0, 100, 50, 100, 10); }, {{50, 10}},
         {100, 100, 502}},
        {"last.png", 0x00202020, [](CPicture& p) { p.Fill(0xFF000000, 0, 0, 575, 702, 1); }, {{575, 1}}, {702}},
    };
    for (const auto& c : cases) {
        std::string png = SavePicture(dir, c.name, 702, 576, c.fill, c.draw);
        CUIT t;
        t.Reset();
        ASSERT_EQ(t.BuildFromPicture(png), 0) << c.name;
        ASSERT_EQ(t.windows.size(), c.windows.size()) << c.name;
        EXPECT_EQ(t.windows[0].start, c.windows[0].first) << c.name;
        EXPECT_EQ(t.windows[0].count, c.windows[0].second) << c.name;
        for (int comp = 0; comp < 3; ++comp) EXPECT_EQ(Lengths(t.windows[0].signals[comp]), c.spans) << c.name;
        // The signal areas were drawn as black, so the window reads black back.
        const auto& y = t.windows[0].signals[0];
        const auto& sig = *y.spans[c.spans.size() == 3 ? 1 : 0];
        for (double v : sig.samples) ASSERT_EQ(v, 16.0) << c.name;
    }
}

TEST(UITFromPicture, OtherSizesAreScaledToTheActiveArea) {
    TempDir dir;
    // Left half transparent at half size: after scaling, about the left 351 pixels of every line.
    std::string png = SavePicture(dir, "half.png", 351, 288, 0x00404040,
                                  [](CPicture& p) { p.Fill(0xFF000000, 0, 0, 0, 150, 288); });
    CUIT t;
    ASSERT_EQ(t.BuildFromPicture(png), 0);
    ASSERT_EQ(t.windows.size(), 1u);
    EXPECT_EQ(t.windows[0].start, 0);
    EXPECT_EQ(t.windows[0].count, 576);
    EXPECT_TRUE(t.MaskBit(0, 0));
    EXPECT_TRUE(t.MaskBit(575, 290));
    EXPECT_FALSE(t.MaskBit(300, 310));
}

TEST(UITFromPicture, UnreadablePictureLeavesTheTable) {
    TempDir dir;
    CUIT t;
    t.Reset();
    EXPECT_EQ(t.BuildFromPicture(dir.File("none.png")), CPicture::kLoadCannotOpen);
    TempDir::WriteAll(dir.File("junk.png"), "not a picture at all");
    EXPECT_EQ(t.BuildFromPicture(dir.File("junk.png")), CPicture::kLoadInvalid);
    EXPECT_TRUE(t.IsSingleLine());
    EXPECT_EQ(t.FrameLine(100)[1], 0x10);
}

TEST(UITDeviceData, LineSignalReadFillsEveryLineAndOneWindow) {
    CUIT t;
    std::vector<uint8_t> line(kFrameLineBytes);
    for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i * 3);
    t.SetFromLineSignal(line.data(), line.size());
    for (int L = 0; L < kFrameLines; ++L) ASSERT_EQ(0, std::memcmp(t.FrameLine(L), line.data(), line.size())) << L;
    ASSERT_TRUE(t.IsSingleLine());
    for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(Lengths(t.windows[0].signals[c]), (std::vector<int>{702}));
        EXPECT_EQ(t.windows[0].signals[c].spans[0]->kind, kSpanPoints);
    }
    EXPECT_EQ(t.windows[0].signals[0].spans[0]->samples[0], double(uint8_t(19 * 3)));
    EXPECT_EQ(t.windows[0].signals[1].spans[0]->samples[1], double(uint8_t(18 * 3)) - 128.0);
}

TEST(UITDeviceData, TableReadReplacesTheFrameAndDropsWindowsButKeepsTheMask) {
    CUIT t;
    t.Reset();
    t.mask[7] = 0x12;
    std::vector<uint8_t> data(kFrameSize, 0x5A);
    t.SetFrameFromDevice(data.data(), data.size());
    EXPECT_EQ(t.frame, data);
    EXPECT_TRUE(t.windows.empty());
    EXPECT_EQ(t.mask[7], 0x12);
}

TEST(UITPreview, FrameConvertsThroughBT601) {
    CUIT t;
    t.Reset();
    // Luma 235 with neutral chroma is white; the blank table is black.
    std::memset(t.FrameLine(10), 0, kFrameLineBytes);
    for (int b = 0; b < kFrameLineBytes; b += 4) {
        uint8_t* l = t.FrameLine(10);
        l[b] = 128, l[b + 1] = 235, l[b + 2] = 128, l[b + 3] = 235;
    }
    CPicture pic;
    ASSERT_TRUE(t.FrameToPicture(pic));
    EXPECT_EQ(pic.Width(), 768);
    EXPECT_EQ(pic.Height(), 580);
    EXPECT_EQ(pic.At(0, 0) & 0x00FFFFFF, 0u);
    EXPECT_EQ(pic.At(400, 10) & 0x00FFFFFF, 0x00FFFFFFu);
}

namespace {
int RunTableCommand(const std::string& args, std::string* out = nullptr) {
    const char* bin = std::getenv("VARO_BIN_DIR");
    std::string cmd = std::string(bin ? bin : ".") + "/varoctl table " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int st = pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
}  // namespace

TEST(VaroctlTable, FromPictureShowAndFrame) {
    TempDir dir;
    std::string png = SavePicture(dir, "rect.png", 702, 576, 0x00FFFFFF,
                                  [](CPicture& p) { p.Fill(0xFF000000, 0, 100, 50, 100, 10); });
    std::string out;
    ASSERT_EQ(RunTableCommand("from-picture " + png + " " + dir.File("t.uit"), &out), 0) << out;
    CUIT t;
    ASSERT_EQ(t.Load(dir.File("t.uit")), kFileOk);
    ASSERT_EQ(t.windows.size(), 1u);
    EXPECT_EQ(t.windows[0].start, 50);

    ASSERT_EQ(RunTableCommand("show " + dir.File("t.uit"), &out), 0);
    EXPECT_NE(out.find("1 window"), std::string::npos) << out;
    EXPECT_NE(out.find("lines 50-59 (10)"), std::string::npos) << out;
    EXPECT_NE(out.find("samples 200-701 (502)"), std::string::npos) << out;
    EXPECT_NE(out.find("masked pixels: 1000 of 404352"), std::string::npos) << out;

    ASSERT_EQ(RunTableCommand("frame " + dir.File("t.uit") + " " + dir.File("f.png"), &out), 0) << out;
    CPicture pic;
    ASSERT_EQ(pic.Load(dir.File("f.png"), false, 0, 0, 0), 0);
    EXPECT_EQ(pic.Width(), 768);
    EXPECT_EQ(pic.At(9 + 10, 5) & 0x00FFFFFF, 0x00FFFFFFu);   // the picture
    EXPECT_EQ(pic.At(9 + 150, 55) & 0x00FFFFFF, 0u);          // the signal area, black

    std::string opaque = SavePicture(dir, "opaque.png", 702, 576, 0x00808080);
    ASSERT_EQ(RunTableCommand("from-picture " + opaque + " " + dir.File("o.uit"), &out), 0);
    EXPECT_NE(out.find("Warning: No transparent windows defined!"), std::string::npos) << out;

    EXPECT_EQ(RunTableCommand("show " + dir.File("missing.uit")), 66);
    TempDir::WriteAll(dir.File("bad.uit"), "UIT\x1A short");
    EXPECT_EQ(RunTableCommand("show " + dir.File("bad.uit"), &out), 65);
    EXPECT_NE(out.find("Loading failed - file is corrupt!"), std::string::npos) << out;
    EXPECT_EQ(RunTableCommand("from-picture " + dir.File("none.png") + " " + dir.File("x.uit")), 66);
    EXPECT_EQ(RunTableCommand("frobnicate"), 64);
}
