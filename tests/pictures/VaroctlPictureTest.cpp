// varoctl picture: raw device files written and read back through the command line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "ImageFixtures.h"
#include "common/TempDir.h"
#include "pictures/CPicture.h"
#include "pictures/LoadingOptions.h"
#include "pictures/PictureConvert.h"

namespace {
int Varoctl(const std::string& args) {
    const char* bin = std::getenv("VARO_BIN_DIR");
    std::string cmd = std::string(bin ? bin : ".") + "/varoctl " + args + " >/dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}
Bytes Read(const std::string& path) {
    std::string s = TempDir::ReadAll(path);
    return Bytes(s.begin(), s.end());
}
}  // namespace

TEST(VaroctlPicture, ToDeviceWritesTheConvertedRawFile) {
    TempDir dir;
    std::string png = dir.File("in.png");
    WriteFile(png, MakePng(PatternImage(8, 4, 16, true), 6));
    CPicture pic;
    ASSERT_EQ(pic.Load(png, true, 0, 0, 0), 0);
    for (int format : {0, 2, 3, 4}) {
        std::string raw = dir.File("out" + std::to_string(format) + ".raw");
        ASSERT_EQ(Varoctl("picture to-device " + png + " " + raw + " --format " + std::to_string(format) +
                          " --width 8 --height 4 --linesize 10 --hdtv --saturation 60"),
                  0)
            << format;
        Bytes want(RawPictureFileSize(format, 10, 4), 0);
        ASSERT_TRUE(PictureToDevice(pic, true, format, 60, want.data(), want.size(), 10));
        EXPECT_EQ(Read(raw), want) << format;
    }
    // Options run in the page's order: dither (seed 1), vertical filter, luma key.
    std::string raw = dir.File("opts.raw");
    ASSERT_EQ(Varoctl("picture to-device " + png + " " + raw +
                      " --format 3 --width 8 --height 4 --dither --vfilter --lumakey 5,1,1,2"),
              0);
    CPicture p2(pic);
    CDitherRandom rng(1);
    ApplyLoadingOptions(p2, true, true, rng);
    LumaKey(p2, {5, 1, 1, 2});
    Bytes want(RawPictureFileSize(3, 8, 4));
    ASSERT_TRUE(PictureToDevice(p2, false, 3, 100, want.data(), want.size(), 0));
    EXPECT_EQ(Read(raw), want);
    // A picture smaller than the device size sits at the top left of a transparent one.
    ASSERT_EQ(Varoctl("picture to-device " + png + " " + raw + " --format 3 --width 10 --height 5 --mode none"), 0);
    Bytes placed = Read(raw);
    ASSERT_EQ(placed.size(), 5u * 5 * 8);
    EXPECT_EQ(placed[4 * 5 * 8], 0);  // row 4, first pixel: opacity 0
    EXPECT_EQ(placed[4 * 8], 0);      // row 0, pixel 8
}

TEST(VaroctlPicture, FromDeviceRoundTrip) {
    TempDir dir;
    std::string png = dir.File("in.png");
    TestImage img = PatternImage(6, 4, 1);
    for (auto& p : img.rgba) p = 0xFF4080C0u;  // flat, so 4:2:2 loses nothing
    WriteFile(png, MakePng(img, 2));
    std::string raw = dir.File("p.raw"), back = dir.File("back.png");
    ASSERT_EQ(Varoctl("picture to-device " + png + " " + raw + " --format 2 --width 6 --height 4"), 0);
    ASSERT_EQ(Varoctl("picture from-device " + raw + " " + back + " --format 2 --width 6 --height 4"), 0);
    CPicture pic;
    ASSERT_EQ(pic.Load(back, true, 0, 0, 0), 0);
    ASSERT_EQ(pic.Width(), 6);
    uint32_t p = pic.At(3, 2);
    EXPECT_EQ(p >> 24, 0u);
    EXPECT_NEAR(int(p >> 16 & 255), 0xC0, 3);
    EXPECT_NEAR(int(p >> 8 & 255), 0x80, 3);
    EXPECT_NEAR(int(p & 255), 0x40, 3);
}

TEST(VaroctlPicture, ErrorsAndExitCodes) {
    TempDir dir;
    std::string png = dir.File("in.png"), junk = dir.File("junk.png"), raw = dir.File("r.raw");
    WriteFile(png, MakePng(PatternImage(4, 2, 4), 2));
    WriteFile(junk, Bytes{'n', 'o', 'p', 'e'});
    WriteFile(raw, Bytes(10, 0));
    struct Case {
        std::string args;
        int rc;
    } cases[] = {
        {"picture to-device " + dir.File("missing.png") + " " + dir.File("o") + " --format 2 --width 4 --height 2", 66},
        {"picture to-device " + junk + " " + dir.File("o") + " --format 2 --width 4 --height 2", 65},
        // Compressed frames are full HD: a 4 x 2 picture cannot be one.
        {"picture to-device " + png + " " + dir.File("o") + " --format 5 --width 4 --height 2", 65},
        {"picture to-device " + png + " " + dir.File("o") + " --format 2 --width 4", 64},
        {"picture to-device " + png + " " + dir.File("o") + " --format 2 --width 4 --height 2 --linesize 2", 64},
        {"picture to-device " + png + " " + dir.File("o") + " --format 2 --width 4 --height 2 --mode sideways", 64},
        {"picture to-device " + png + " " + dir.File("o") + " --format 2 --width 4 --height 2 --lumakey 10,0,0,0", 64},
        {"picture to-device " + png + " " + dir.File("no/dir/o") + " --format 2 --width 4 --height 2", 73},
        {"picture from-device " + raw + " " + dir.File("o.png") + " --format 3 --width 4 --height 2", 65},
        {"picture from-device " + dir.File("none.raw") + " " + dir.File("o.png") + " --format 2 --width 4 --height 2", 66},
        {"picture sideways", 64},
    };
    for (const auto& c : cases) EXPECT_EQ(Varoctl(c.args), c.rc) << c.args;
}
