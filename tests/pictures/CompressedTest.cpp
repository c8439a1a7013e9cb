// Compressed pictures: the slot check value, the system codec route through libtamo.so (planes,
// chroma of even lines, stacks of frames), the DNxHD route through ffmpeg (both ranges, a
// missing ffmpeg, no temporary files left), the compressed pictures element with its files and
// slot reads, and the pictures page running the work as an operation of its own.
#include "app/ProgramFolder.h"
#include "app/Strings.h"
#include "codec/TamoLib.h"
#include "common/TempDir.h"
#include "elementpages/FakeDevice.h"
#include "link/CLinkWaiter.h"
#include "model/CPnPPics.h"
#include "model/CPnPPicsCompressed.h"
#include "pictures/CompressedPicture.h"
#include "pictures/LoadingOptions.h"
#include "pictures/PicturesPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace {
constexpr int W = kCompressedFrameWidth, H = kCompressedFrameHeight;

struct AnsweringUi : FakeUi {
    bool AskYesNo(const std::string&, MsgIcon, bool) override { return true; }
};

struct Rig : FakeDeviceContext<FakeEngine, AnsweringUi> {
    explicit Rig(const std::string& pnp) : FakeDeviceContext("<device><pnp>" + pnp + "</pnp></device>", 0x1000000) {
        ctx.interfaceChoice = 3;
    }
    CPnPPics& Pics(size_t i = 0) { return *static_cast<CPnPPics*>(model.elements[i].get()); }
    CPnPPicsCompressed& Compressed(size_t i = 0) { return *static_cast<CPnPPicsCompressed*>(model.elements[i].get()); }
};

// Smooth colour ramps with a few hard edges: what a logo or caption looks like to a codec.
CPicture Scene(int w, int h, int seed = 0) {
    CPicture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t r = uint32_t((x * 255) / w), g = uint32_t((y * 255) / h), b = uint32_t(((x + y + seed * 300) / 8) & 0xFF);
            if (((x / 240) + (y / 135)) % 5 == 0) r = g = b = 235;
            p.At(x, y) = (r << 16) | (g << 8) | b;
        }
    return p;
}

// Peak signal-to-noise ratio of the colour channels of b against a, in dB.
double Psnr(const CPicture& a, const CPicture& b, int rows = -1) {
    if (rows < 0) rows = a.Height();
    double se = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < a.Width(); ++x)
            for (int s : {0, 8, 16}) {
                const double d = double((a.At(x, y) >> s) & 0xFF) - double((b.At(x, y) >> s) & 0xFF);
                se += d * d;
            }
    const double mse = se / (double(rows) * a.Width() * 3);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

uint32_t LE32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The check fields equal, and equal to the CRC of the slot with them zeroed (computed here
// bytewise, not with the code under test).
void ExpectSealed(const uint8_t* slot) {
    ASSERT_EQ(std::memcmp(slot, "Tamo", 4), 0);
    const uint32_t stored = LE32(slot + 28);
    EXPECT_EQ(stored, LE32(slot + 600060));
    std::vector<uint8_t> copy(slot, slot + kCodecFrameBytes);
    std::memset(copy.data() + 28, 0, 4);
    std::memset(copy.data() + 600060, 0, 4);
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : copy) {
        crc ^= uint32_t(byte) << 24;
        for (int k = 0; k < 8; ++k) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    EXPECT_EQ(stored, crc);
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(dir); it != std::filesystem::recursive_directory_iterator(); ++it) ++n;
    return n;
}

// TMPDIR pointed at a folder of the test, so what the routes leave behind shows.
struct TempEnv {
    TempDir tmp;
    std::string oldTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    TempEnv() { setenv("TMPDIR", tmp.Path().c_str(), 1); }
    ~TempEnv() {
        if (oldTmp.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", oldTmp.c_str(), 1);
    }
};

const char* const kElements = R"(
    <pictures_compressed name="Dnx" width="1920" height="1080" format="0"><item name="S0" address="0"/></pictures_compressed>
    <pictures_compressed name="Own" width="1920" height="1080" format="0x1" mode="resize"><item name="S0" address="0"/><item name="S1" address="0x100000"/></pictures_compressed>
    <pictures_compressed name="Other" width="1920" height="1080" format="2"><item name="S0" address="0"/></pictures_compressed>
    <pictures_compressed name="Small" width="2" height="2" format="1"><item name="S0" address="0"/></pictures_compressed>)";
}  // namespace

TEST(CompressedSlot, Crc32Mpeg2CheckValueAndSeal) {
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc32Mpeg2(text, sizeof text), 0x0376E6E7u);  // the catalogued check value
    EXPECT_EQ(Crc32Mpeg2(text, 0), 0xFFFFFFFFu);
    // Lengths around the 8-byte table steps and the 16/64-byte folded blocks, any start value,
    // against the plain bitwise CRC.
    std::mt19937 data(9);
    for (size_t n : {1, 7, 8, 15, 16, 63, 64, 65, 79, 80, 127, 128, 129, 4099, 600064}) {
        std::vector<uint8_t> v(n);
        for (auto& x : v) x = uint8_t(data());
        const uint32_t start = data();
        uint32_t want = start;
        for (uint8_t byte : v) {
            want ^= uint32_t(byte) << 24;
            for (int k = 0; k < 8; ++k) want = (want & 0x80000000u) ? (want << 1) ^ 0x04C11DB7u : want << 1;
        }
        EXPECT_EQ(Crc32Mpeg2(v.data(), n, start), want) << n;
    }

    // Whatever the check fields held before, sealing gives the same value.
    std::vector<uint8_t> a(kCodecFrameBytes), b;
    std::mt19937 rng(5);
    for (auto& x : a) x = uint8_t(rng());
    std::memcpy(a.data(), "Tamo", 4);
    b = a;
    std::memset(b.data() + 28, 0xAB, 4);
    std::memset(b.data() + 600060, 0x00, 4);
    SealCodecSlot(a.data());
    SealCodecSlot(b.data());
    EXPECT_EQ(a, b);
    ExpectSealed(a.data());
}

TEST(CompressedElement, AttributesBufferAndItemSizes) {
    Rig r(kElements);
    struct Case {
        int32_t codec, slot, format;
        bool usable;
    } cases[] = {{0, 606208, 5, true}, {1, 600064, 6, true}, {2, 0, -1, false}, {1, 600064, 6, false}};
    for (size_t i = 0; i < 4; ++i) {
        CPnPPicsCompressed& e = r.Compressed(i);
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.kind, kPnPPicturesCompressed);
        EXPECT_EQ(e.codec, cases[i].codec);
        EXPECT_EQ(e.SlotSize(), cases[i].slot);
        EXPECT_EQ(e.format, cases[i].format);
        for (const auto& it : e.items) EXPECT_EQ(it->size, cases[i].slot);
        EXPECT_EQ(e.Usable(), cases[i].usable);
        EXPECT_TRUE(e.deviceBuffer.empty());
        EXPECT_FALSE(e.loaded);
        EXPECT_FALSE(e.standardDefinition);  // BT.709
    }
    EXPECT_EQ(r.Compressed(1).loadMode, CPicture::kLoadResize);
    EXPECT_EQ(r.Compressed(3).width, 4);  // raised to 4, and then no route takes it
    // Nothing loads into an element without a route, and it says why.
    TempDir dir;
    const std::string png = dir.File("a.png");
    ASSERT_EQ(Scene(W, H).SavePNG(png), 0);
    CDitherRandom rng(1);
    for (size_t i : {2u, 3u}) {
        const PnPPicsLoad out = r.Compressed(i).LoadFromFile(png, false, false, rng);
        EXPECT_EQ(out.result, PnPPicsLoad::kUnusable);
        EXPECT_FALSE(out.message.empty());
        EXPECT_FALSE(r.Compressed(i).loaded);
    }
}

TEST(CompressedElement, SystemCodecLoadSaveAndRawRoundTrip) {
    Rig r(kElements);
    CPnPPicsCompressed& e = r.Compressed(1);
    TempDir dir;
    const CPicture scene = Scene(W, H);
    const std::string png = dir.File("scene.png"), small = dir.File("small.png");
    ASSERT_EQ(scene.SavePNG(png), 0);
    ASSERT_EQ(Scene(960, 540).SavePNG(small), 0);
    CDitherRandom rng(1);

    ASSERT_EQ(e.LoadFromFile(png, false, false, rng).result, PnPPicsLoad::kLoaded);
    EXPECT_TRUE(e.loaded);
    ASSERT_EQ(e.deviceBuffer.size(), kCodecFrameBytes);
    ExpectSealed(e.deviceBuffer.data());
    // The bytes after the stream are zero up to the tail check.
    const uint8_t* s = e.deviceBuffer.data();
    EXPECT_TRUE(std::all_of(s + kCodecBudgetUnits * 512, s + 600060, [](uint8_t b) { return b == 0; }));

    // Mode resize takes a smaller image; the exact-size element (DNxHD, mode 0) refuses it
    // with 21350 and keeps its state.
    Rig r2(kElements);
    const PnPPicsLoad wrong = r2.Compressed(0).LoadFromFile(small, false, false, rng);
    EXPECT_EQ(wrong.result, PnPPicsLoad::kWrongSize);
    EXPECT_NE(wrong.message.find("1920 x 1080"), std::string::npos);
    EXPECT_FALSE(r2.Compressed(0).loaded);

    // Saved as its bytes and loaded back: the same slot, a picture within the codec's quality.
    const std::string bin = dir.File("slot.bin"), out = dir.File("out.png"), bmp = dir.File("out.bmp");
    ASSERT_EQ(e.SaveToFile(bin), 0);
    ASSERT_EQ(e.SaveToFile(out), 0);
    ASSERT_EQ(e.SaveToFile(bmp), 0);
    EXPECT_EQ(std::filesystem::file_size(bin), kCodecFrameBytes);
    Rig r3(kElements);
    CPnPPicsCompressed& back = r3.Compressed(1);
    ASSERT_EQ(back.LoadFromFile(bin, false, false, rng).result, PnPPicsLoad::kLoaded);
    EXPECT_EQ(back.deviceBuffer, e.deviceBuffer);
    EXPECT_GT(Psnr(scene, back.picture), 34.0);
    EXPECT_EQ(back.picture.At(5, 5) >> 24, 0u);  // opaque
    CPicture saved;
    ASSERT_EQ(saved.Load(out, false, 0, 0, 0), 0);
    EXPECT_GT(Psnr(scene, saved), 34.0);

    // A short raw file and a slot of garbage: 21301, the element unchanged.
    std::vector<uint8_t> garbage(kCodecFrameBytes);
    std::mt19937 g(3);
    for (auto& b : garbage) b = uint8_t(g());
    const std::string junk = dir.File("junk.bin"), shortFile = dir.File("short.bin");
    { std::ofstream(junk, std::ios::binary).write(reinterpret_cast<const char*>(garbage.data()), std::streamsize(garbage.size())); }
    { std::ofstream(shortFile, std::ios::binary).write(reinterpret_cast<const char*>(garbage.data()), 1000); }
    for (const std::string& f : {junk, shortFile}) {
        const PnPPicsLoad bad = back.LoadFromFile(f, false, false, rng);
        EXPECT_EQ(bad.message, FormatMessage(kStrImageError + 1, {f}));
        EXPECT_TRUE(back.loaded);
        EXPECT_EQ(back.deviceBuffer, e.deviceBuffer);
    }
    // Read from a device that answers garbage: the bytes are kept, the picture black, not loaded.
    EXPECT_FALSE(back.FromDeviceBuffer(garbage.data(), garbage.size()));
    EXPECT_FALSE(back.loaded);
    EXPECT_EQ(back.picture.At(100, 100), 0u);
    EXPECT_EQ(back.deviceBuffer, garbage);
    EXPECT_FALSE(back.FromDeviceBuffer(garbage.data(), 100));  // short: refused before any copy
}

TEST(CompressedRoutes, SystemCodecTakesChromaFromEvenLinesOnly) {
    // Even lines grey, odd lines red: the stream's chroma is the grey's (128), not red's.
    CPicture p(W, H);
    for (int y = 0; y < H; ++y) p.Fill(y & 1 ? 0x00FF0000u : 0x00808080u, 0, 0, y, W, 1);
    std::vector<uint8_t> slot(kCodecFrameBytes);
    std::string error;
    ASSERT_TRUE(CompressPicture(p, CompressedCodec::System, DnxhdRange::Pc, slot.data(), slot.size(), error)) << error;
    std::vector<uint8_t> y(size_t(W) * 1088), cb(size_t(W / 2) * 544), cr(size_t(W / 2) * 544);
    ASSERT_EQ(Tamo_Decode(slot.data(), int(slot.size()), y.data(), cb.data(), cr.data()), 0);
    int worst = 0;
    for (size_t i = 0; i < size_t(W / 2) * 540; ++i)
        worst = std::max({worst, std::abs(int(cb[i]) - 128), std::abs(int(cr[i]) - 128)});
    EXPECT_LE(worst, 3);
    // Luma of both lines is kept: grey 0x80 and red differ.
    EXPECT_GT(std::abs(int(y[0]) - int(y[W])), 20);
    // The spare coded lines: luma 0, chroma 128.
    EXPECT_LE(int(y[size_t(W) * 1086]), 3);
    EXPECT_LE(std::abs(int(cb[size_t(W / 2) * 543]) - 128), 3);

    // Decoded: every line has the grey's chroma, so the odd lines are no longer red.
    CPicture back(W, H);
    ASSERT_TRUE(DecompressFrame(slot.data(), slot.size(), CompressedCodec::System, back, 0, error)) << error;
    const uint32_t odd = back.At(500, 501);
    const int r = int((odd >> 16) & 0xFF), g = int((odd >> 8) & 0xFF), b = int(odd & 0xFF);
    EXPECT_LT(std::abs(r - g) + std::abs(g - b), 12) << std::hex << odd;
}

TEST(CompressedRoutes, StackedFramesOfAPicturesElement) {
    Rig r(R"(<pictures name="Tall" width="1920" height="2160" newformat="6" hdtv="1"><item name="S" address="0"/></pictures>
             <pictures name="One" width="1920" height="1080" newformat="6"><item name="S" address="0"/></pictures>)");
    CPnPPics& tall = r.Pics(0);
    TempDir dir;
    CPicture pic(W, 2 * H);
    const CPicture top = Scene(W, H, 0), bottom = Scene(W, H, 1);
    std::memcpy(pic.Row(0), top.Row(0), size_t(W) * H * 4);
    std::memcpy(pic.Row(H), bottom.Row(0), size_t(W) * H * 4);
    const std::string png = dir.File("tall.png");
    ASSERT_EQ(pic.SavePNG(png), 0);
    CDitherRandom rng(1);
    ASSERT_EQ(tall.LoadFromFile(png, false, false, rng).result, PnPPicsLoad::kLoaded);
    ASSERT_GE(tall.deviceBuffer.size(), 2 * kCodecFrameBytes);
    ExpectSealed(tall.deviceBuffer.data());
    ExpectSealed(tall.deviceBuffer.data() + kCodecFrameBytes);
    // Each frame holds its own rows.
    CPicture f(W, H);
    std::string error;
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(DecompressFrame(tall.deviceBuffer.data() + k * kCodecFrameBytes, kCodecFrameBytes,
                                    CompressedCodec::System, f, 0, error));
        EXPECT_GT(Psnr(k ? bottom : top, f), 34.0) << k;
        EXPECT_LT(Psnr(k ? top : bottom, f), 25.0) << k;
    }
    // Reading the slot back decodes the first frame into the top rows; the rows below are black.
    std::vector<uint8_t> slotBytes = tall.deviceBuffer;
    ASSERT_TRUE(tall.FromDeviceBuffer(slotBytes.data(), slotBytes.size()));
    EXPECT_GT(Psnr(top, tall.picture, H), 34.0);
    EXPECT_EQ(tall.picture.At(10, H + 10), 0u);

    // A picture the route cannot take (not a whole number of frames) is refused untouched.
    std::vector<uint8_t> buf(4 * kCodecFrameBytes, 0x5A);
    EXPECT_FALSE(CompressPicture(CPicture(W, H + 2), CompressedCodec::System, DnxhdRange::Pc, buf.data(), buf.size(), error));
    EXPECT_FALSE(CompressPicture(CPicture(W, 2 * H), CompressedCodec::System, DnxhdRange::Pc, buf.data(), kCodecFrameBytes, error));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0x5A; }));
}

TEST(CompressedRoutes, DnxhdThroughFfmpegInBothRanges) {
    if (FfmpegPath().empty()) GTEST_SKIP() << "no ffmpeg on this machine";
    TempEnv env;
    const CPicture scene = Scene(W, H);
    std::vector<uint8_t> pc(kDnxhdFrameBytes), tv(kDnxhdFrameBytes);
    std::string error;
    ASSERT_TRUE(CompressPicture(scene, CompressedCodec::Dnxhd, DnxhdRange::Pc, pc.data(), pc.size(), error)) << error;
    ASSERT_TRUE(CompressPicture(scene, CompressedCodec::Dnxhd, DnxhdRange::Tv, tv.data(), tv.size(), error)) << error;
    EXPECT_NE(pc, tv);  // the range reaches ffmpeg
    // Read back the one way the device's frames are read: full range written, so studio white
    // (235) comes back stretched; studio range written, it comes back as it was.
    CPicture back(W, H);
    ASSERT_TRUE(DecompressFrame(pc.data(), pc.size(), CompressedCodec::Dnxhd, back, 0, error)) << error;
    EXPECT_GE(back.At(100, 100) & 0xFF, 250u);
    ASSERT_TRUE(DecompressFrame(tv.data(), tv.size(), CompressedCodec::Dnxhd, back, 0, error)) << error;
    EXPECT_NEAR(int(back.At(100, 100) & 0xFF), 235, 3);
    // ffmpeg's own colour conversion and 4:2:2 chroma around the hard edges bound the quality.
    EXPECT_GT(Psnr(scene, back), 27.0);
    EXPECT_EQ(back.At(7, 7) >> 24, 0u);  // ffmpeg's opaque alpha became our transparency 0
    EXPECT_EQ(FilesIn(env.tmp.Path()), 0u);

    // A frame ffmpeg cannot decode: failure, the picture as it was, nothing left behind.
    CPicture keep = back;
    std::vector<uint8_t> junk(kDnxhdFrameBytes, 0x33);
    EXPECT_FALSE(DecompressFrame(junk.data(), junk.size(), CompressedCodec::Dnxhd, back, 0, error));
    EXPECT_EQ(std::memcmp(keep.Pixels(), back.Pixels(), size_t(W) * H * 4), 0);
    EXPECT_EQ(FilesIn(env.tmp.Path()), 0u);

    // Stop while ffmpeg runs ends the work at once, without a result.
    EXPECT_FALSE(CompressPicture(scene, CompressedCodec::Dnxhd, DnxhdRange::Tv, pc.data(), pc.size(), error,
                                 [] { return true; }));
    EXPECT_EQ(FilesIn(env.tmp.Path()), 0u);
}

TEST(CompressedRoutes, MissingFfmpegGives21301AndLeavesNoFile) {
    TempDir folder;  // a program folder without ffmpeg
    const std::string oldFolder = ProgramFolder();
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    TempDir dir;
    const std::string png = dir.File("a.png");
    ASSERT_EQ(Scene(W, H).SavePNG(png), 0);
    TempEnv env;
    SetProgramFolder(folder.Path() + "/");
    setenv("PATH", "", 1);
    Rig r(kElements);
    CDitherRandom rng(1);
    const PnPPicsLoad out = r.Compressed(0).LoadFromFile(png, false, false, rng);
    EXPECT_TRUE(FfmpegPath().empty());
    setenv("PATH", oldPath.c_str(), 1);
    SetProgramFolder(oldFolder);
    EXPECT_EQ(out.result, PnPPicsLoad::kImageError);
    EXPECT_EQ(out.message, FormatMessage(kStrImageError + 1, {png}));
    EXPECT_FALSE(r.Compressed(0).loaded);
    EXPECT_EQ(FilesIn(env.tmp.Path()), 0u);
}

TEST(CompressedRoutes, FfmpegOfTheProgramFolderComesFirst) {
    TempDir folder;
    const std::string fake = folder.File("ffmpeg");
    { std::ofstream(fake) << "#!/bin/sh\nexit 1\n"; }
    std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
    const std::string oldFolder = ProgramFolder();
    SetProgramFolder(folder.Path() + "/");
    EXPECT_EQ(FfmpegPath(), fake);
    // It runs and writes nothing: a short output is a failure.
    TempEnv env;
    std::vector<uint8_t> slot(kDnxhdFrameBytes);
    std::string error;
    EXPECT_FALSE(CompressPicture(Scene(W, H), CompressedCodec::Dnxhd, DnxhdRange::Pc, slot.data(), slot.size(), error));
    EXPECT_EQ(FilesIn(env.tmp.Path()), 0u);
    SetProgramFolder(oldFolder);
}

// The page runs Load and the decompression after a Read as an operation of their own; a
// window (here a waiter) receives their completion like a command's.
TEST(CompressedPage, LoadAndReadRunAsOperationsOffTheCallingThread) {
    Rig r(kElements);
    CLinkWaiter waiter;
    r.ctx.notifier = &waiter;
    waiter.onProgress = [&](int v) { return r.ops.Progress(v); };
    CPicturesPage page(r.Compressed(1), r.ctx);
    TempDir dir;
    const std::string png = dir.File("scene.png");
    ASSERT_EQ(Scene(W, H).SavePNG(png), 0);

    bool done = false;
    ASSERT_TRUE(page.Load(png, {}, [&] { done = true; }));
    EXPECT_EQ(r.ops.Kind(), kOpLocalWork);
    EXPECT_FALSE(done);
    const CLinkWaiter::Completion c = waiter.Wait(nullptr, 60000);
    EXPECT_EQ(c.result, 0);
    r.ops.Completed(c.result, c.value);
    EXPECT_TRUE(done);
    EXPECT_FALSE(r.ops.Busy());
    ASSERT_TRUE(page.CanWrite());
    const std::vector<uint8_t> slot = r.Compressed(1).deviceBuffer;
    ExpectSealed(slot.data());

    // Write goes straight to the slot's address with the slot's bytes.
    ASSERT_TRUE(page.Write(1, false));
    ASSERT_EQ(r.engine.started.back().code, 5);
    EXPECT_EQ(r.engine.started.back().address, 0x100000u);
    EXPECT_EQ(r.engine.started.back().size, int(kCodecFrameBytes));
    r.ops.Completed(0, 0);

    // Read: the bytes arrive, then the decompression runs as the next operation.
    Rig r2(kElements);
    r2.ctx.notifier = &waiter;
    waiter.onProgress = [&](int v) { return r2.ops.Progress(v); };
    CPicturesPage page2(r2.Compressed(1), r2.ctx);
    done = false;
    ASSERT_TRUE(page2.Read(0, [&] { done = true; }));
    std::memcpy(r2.engine.started.back().buffer, slot.data(), slot.size());
    r2.ops.Completed(0, 0);
    EXPECT_EQ(r2.ops.Kind(), kOpLocalWork);
    const CLinkWaiter::Completion c2 = waiter.Wait(nullptr, 60000);
    r2.ops.Completed(c2.result, c2.value);
    EXPECT_TRUE(done);
    EXPECT_TRUE(r2.Compressed(1).loaded);
    EXPECT_EQ(r2.Compressed(1).deviceBuffer, slot);
    EXPECT_TRUE(r2.ui.messages.empty());

    // A slot of garbage: the operator is told, the element is not loaded.
    done = false;
    ASSERT_TRUE(page2.Read(0, [&] { done = true; }));
    std::memset(r2.engine.started.back().buffer, 0x77, slot.size());
    r2.ops.Completed(0, 0);
    const CLinkWaiter::Completion c3 = waiter.Wait(nullptr, 60000);
    r2.ops.Completed(c3.result, c3.value);
    EXPECT_TRUE(done);
    EXPECT_FALSE(r2.Compressed(1).loaded);
    ASSERT_EQ(r2.ui.messages.size(), 1u);
    EXPECT_NE(r2.ui.messages[0].find("does not decode"), std::string::npos);
}

TEST(CompressedPage, StopEndsTheLoadWithoutChangingTheElement) {
    if (FfmpegPath().empty()) GTEST_SKIP() << "no ffmpeg on this machine";
    Rig r(kElements);
    CLinkWaiter waiter;
    r.ctx.notifier = &waiter;
    waiter.onProgress = [&](int v) { return r.ops.Progress(v); };
    CPicturesPage page(r.Compressed(0), r.ctx);
    TempDir dir;
    const std::string png = dir.File("scene.png");
    ASSERT_EQ(Scene(W, H).SavePNG(png), 0);
    bool done = false;
    ASSERT_TRUE(page.Load(png, {}, [&] { done = true; }));
    r.ops.RequestStop();
    const CLinkWaiter::Completion c = waiter.Wait(nullptr, 60000);
    EXPECT_EQ(c.result, 6);
    r.ops.Completed(c.result, c.value);
    EXPECT_FALSE(done);
    EXPECT_FALSE(r.ops.Busy());
    EXPECT_FALSE(r.Compressed(0).loaded);
    EXPECT_TRUE(r.Compressed(0).deviceBuffer.empty());
}
