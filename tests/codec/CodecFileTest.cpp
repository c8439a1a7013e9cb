// The library's exports and file encoding through ffprobe and ffmpeg (fixtures made with
// ffmpeg's lavfi sources inside a private folder).
#include "codec/CINIParser.h"
#include "codec/FerloFileEncoder.h"
#include "codec/TamoLib.h"
#include "codec/TamoTables.h"
#include "codec/CodecTestPictures.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace codectest;

namespace {

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0 && std::system("ffprobe -version >/dev/null 2>&1") == 0; }

bool Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }  // ASCII paths only

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool NoChildrenLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

// Runs with TMPDIR pointing into a folder of the test, so leftovers can be seen.
class FileEncoding : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
        const char* old = std::getenv("TMPDIR");
        m_oldTmp = old ? old : "";
        m_hadTmp = old != nullptr;
        std::filesystem::create_directory(m_dir.File("tmp"));
        setenv("TMPDIR", m_dir.File("tmp").c_str(), 1);
    }
    void TearDown() override {
        if (m_hadTmp)
            setenv("TMPDIR", m_oldTmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    bool TmpIsEmpty() const { return std::filesystem::is_empty(m_dir.File("tmp")); }

    // A 1920 x 1080 test picture and its planes as ffmpeg converts it.
    std::string MakePng(int w, int h) {
        std::string png = m_dir.File("picture.png");
        EXPECT_TRUE(Shell("ffmpeg -v quiet -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" + std::to_string(h) +
                        " -frames:v 1 '" + png + "'"));
        return png;
    }
    std::vector<uint8_t> ReferencePlanes(const std::string& file, int w, int h) {
        std::string yuv = m_dir.File("reference.yuv");
        EXPECT_TRUE(Shell("ffmpeg -v quiet -y -i '" + file + "' -vf scale=" + std::to_string(w) + ":" + std::to_string(h) +
                        ":out_range=tv -frames:v 1 -pix_fmt yuv420p -f rawvideo '" + yuv + "'"));
        return ReadFile(yuv);
    }
    std::string MakeClip(int seconds, bool audio, const std::string& name = "clip.mkv") {
        std::string clip = m_dir.File(name);
        std::string cmd = "ffmpeg -v quiet -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=" + std::to_string(seconds);
        if (audio) cmd += " -f lavfi -i sine=duration=" + std::to_string(seconds) + " -c:a pcm_s16le";
        EXPECT_TRUE(Shell(cmd + " -c:v mpeg4 '" + clip + "'"));
        return clip;
    }

    TempDir m_dir;
    std::string m_oldTmp;
    bool m_hadTmp = false;
};

}  // namespace

TEST(CodecExports, OnlyTheSixFunctionsAreExported) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&Tamo_Decode), &info), 0);
    ASSERT_NE(std::string(info.dli_fname).find("libtamo.so"), std::string::npos) << info.dli_fname;
    std::string cmd = "nm -D --defined-only '" + std::string(info.dli_fname) + "'";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        s = s.substr(s.rfind(' ') + 1);
        s.erase(s.find_last_not_of("\r\n") + 1);
        names.insert(s);
    }
    ASSERT_EQ(pclose(p), 0);
    std::set<std::string> expected = {"Tamo_Encode_HD", "Tamo_Encode_4K", "Tamo_Decode", "Tamo_Decode_RGB",
                                      "Tamo_EncodeImageFile_HD", "Tamo_EncodeImageFile_4K"};
    EXPECT_EQ(names, expected);
}

TEST(CodecExports, PlanesRoundTripAndRgb) {
    for (int type : {tamo::kTypeHD, tamo::kType4K}) {
        Planes src = MakeSynthetic(Synthetic::Gradient, type);
        const int units = type == tamo::kTypeHD ? 1171 : 3000;
        std::vector<uint8_t> out(size_t(units) * 512);
        int size = type == tamo::kTypeHD ? Tamo_Encode_HD(units, src.y.data(), src.cb.data(), src.cr.data(), out.data())
                                         : Tamo_Encode_4K(units, src.y.data(), src.cb.data(), src.cr.data(), out.data());
        ASSERT_GT(size, 304);
        ASSERT_LE(size, units * 512);
        EXPECT_EQ(out[4], type);
        EXPECT_EQ(out[5], 0);  // single pictures carry no frame rate
        Planes d(type);
        ASSERT_EQ(Tamo_Decode(out.data(), size, d.y.data(), d.cb.data(), d.cr.data()), 0);
        EXPECT_GT(Psnr(src.y, d.y, src.width, src.height), 45.0);

        std::vector<uint8_t> rgb(size_t(src.width) * src.height * 3, 7);
        ASSERT_EQ(Tamo_Decode_RGB(out.data(), size, d.y.data(), d.cb.data(), d.cr.data(), rgb.data()), 0);
        // Spot check against the conversion of the decoded planes.
        const int x = src.width / 3, l = src.height - 1;
        const float yy = 1.164f * (float(d.Y(x, l)) - 16.0f);
        const float u = float(d.Cb(x / 2, l / 2)) - 128.0f, v = float(d.Cr(x / 2, l / 2)) - 128.0f;
        auto c = [](float f) { return int(std::min(255.0f, std::max(0.0f, std::nearbyint(f)))); };
        const uint8_t* px = &rgb[(size_t(l) * src.width + x) * 3];
        EXPECT_EQ(px[0], c(yy + 1.793f * v));
        EXPECT_EQ(px[1], c(yy - 0.213f * u - 0.534f * v));
        EXPECT_EQ(px[2], c(yy + 2.115f * u));
    }
    // A stream that fails leaves the RGB output alone.
    std::vector<uint8_t> bad = {'T', 'a', 'm', 'o', 3};
    bad.resize(304);
    Planes d(tamo::kTypeHD);
    std::vector<uint8_t> rgb(1920 * 1080 * 3, 7);
    EXPECT_EQ(Tamo_Decode_RGB(bad.data(), int(bad.size()), d.y.data(), d.cb.data(), d.cr.data(), rgb.data()), 1);
    EXPECT_EQ(std::count(rgb.begin(), rgb.end(), 7), long(rgb.size()));
    EXPECT_EQ(Tamo_Decode(bad.data(), int(bad.size()), d.y.data(), d.cb.data(), d.cr.data()), 1);
}

TEST(CodecIniParser, SectionsAndKeys) {
    TempDir dir;
    TempDir::WriteAll(dir.File("probe.txt"),
                      "[STREAM]\nindex=0\ncoded_width=1\nwidth=640\nduration=N/A\nTAG:NUMBER_OF_FRAMES=42\r\n[/STREAM]\n"
                      "[FORMAT]\nwidth=9\nduration=10.000000\n[/FORMAT]\n");
    CINIParser ini;
    ASSERT_TRUE(ini.Open(dir.File("probe.txt")));
    EXPECT_EQ(ini.Get("width", "STREAM"), "640");
    EXPECT_EQ(ini.Get("width", "FORMAT"), "9");
    EXPECT_EQ(ini.Get("duration", "FORMAT"), "10.000000");
    EXPECT_EQ(ini.Get("TAG:NUMBER_OF_FRAMES", "STREAM"), "42");
    EXPECT_EQ(ini.Get("height", "STREAM"), "");
    EXPECT_EQ(ini.Get("index", "FORMAT"), "");
    EXPECT_FALSE(CINIParser().Open(dir.File("missing.txt")));
}

TEST_F(FileEncoding, PngGivesOneFrameWithoutAudioProbe) {
    std::string png = MakePng(1920, 1080);
    {
        FerloFileEncoder fe(png, tamo::kTypeHD, 1171, true, 8);
        ASSERT_TRUE(fe.Usable());
        EXPECT_EQ(fe.FrameCount(), 1);
        EXPECT_EQ(fe.ProbeRuns(), 1);
        EXPECT_EQ(fe.WorkerCount(), 1);
        EXPECT_FALSE(fe.HasAudio());
    }
    EXPECT_TRUE(TmpIsEmpty());
    EXPECT_TRUE(NoChildrenLeft());
}

TEST_F(FileEncoding, PngThroughTheExports) {
    struct Case {
        int type;
        int w, h, codedHeight;
        int units;
    } cases[] = {{tamo::kTypeHD, 1920, 1080, 1088, 1171}, {tamo::kType4K, 3840, 2160, 2160, 4000}};
    std::string png = MakePng(1920, 1080);
    for (const auto& c : cases) {
        auto ref = ReferencePlanes(png, c.w, c.h);
        ASSERT_EQ(ref.size(), size_t(c.w) * c.h * 3 / 2);
        std::vector<uint8_t> out(size_t(c.units) * 512);
        auto path = U16(png);
        int rc = c.type == tamo::kTypeHD ? Tamo_EncodeImageFile_HD(c.units, 1, path.c_str(), out.data())
                                         : Tamo_EncodeImageFile_4K(c.units, 1, path.c_str(), out.data());
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(out[5], 25);
        Planes d(c.type);
        ASSERT_EQ(Tamo_Decode(out.data(), int(out.size()), d.y.data(), d.cb.data(), d.cr.data()), 0);
        // The decoded picture matches ffmpeg's own conversion: planes laid out right.
        std::vector<uint8_t> refY(ref.begin(), ref.begin() + long(c.w) * c.h);
        std::vector<uint8_t> refCr(ref.end() - long(c.w / 2) * (c.h / 2), ref.end());
        std::vector<uint8_t> decCr(d.cr.begin(), d.cr.begin() + long(c.w / 2) * (c.h / 2));
        EXPECT_GT(Psnr(refY, d.y, c.w, c.h), 33.0) << c.type;
        EXPECT_GT(Psnr(refCr, decCr, c.w / 2, c.h / 2), 33.0) << c.type;
        if (c.type == tamo::kTypeHD) {
            // The coded lines below the picture are black luma and neutral chroma.
            EXPECT_LE(d.Y(100, 1087), 8);
            EXPECT_NEAR(d.Cb(100, 543), 128, 4);
        }
    }
    EXPECT_TRUE(TmpIsEmpty());
    EXPECT_TRUE(NoChildrenLeft());
}

TEST_F(FileEncoding, FrameCountsAndFailures) {
    std::string clip = MakeClip(10, true);
    {
        FerloFileEncoder fe(clip, tamo::kTypeHD, 600, false);
        ASSERT_TRUE(fe.Usable());
        EXPECT_EQ(fe.FrameCount(), 250);
        EXPECT_TRUE(fe.HasAudio());
        EXPECT_EQ(fe.ProbeRuns(), 2);
        ASSERT_TRUE(fe.NextFrame());
        EXPECT_EQ(fe.FrameNumber(), 0u);
    }  // ffmpeg is still writing: it must be stopped and reaped
    EXPECT_TRUE(NoChildrenLeft());

    std::vector<uint8_t> out(600 * 512);
    auto path = U16(clip);
    EXPECT_EQ(Tamo_EncodeImageFile_HD(600, 0, path.c_str(), out.data()), 0);
    EXPECT_EQ(out[4], 1);

    TempDir::WriteAll(m_dir.File("garbage.mp4"), std::string(5000, 'x'));
    auto garbage = U16(m_dir.File("garbage.mp4"));
    EXPECT_EQ(Tamo_EncodeImageFile_HD(600, 0, garbage.c_str(), out.data()), -1);
    // A 4K budget of one unit cannot hold even the empty picture.
    EXPECT_EQ(Tamo_EncodeImageFile_4K(1, 0, path.c_str(), out.data()), -3);
    auto missing = U16(m_dir.File("missing.png"));
    EXPECT_EQ(Tamo_EncodeImageFile_4K(600, 0, missing.c_str(), out.data()), -1);
    EXPECT_TRUE(TmpIsEmpty());
    EXPECT_TRUE(NoChildrenLeft());
}

TEST_F(FileEncoding, MissingFfmpegFailsTheEncoding) {
    std::string png = MakePng(320, 240);
    // A PATH where only ffprobe can be found.
    std::string bin = m_dir.File("bin");
    std::filesystem::create_directory(bin);
    std::filesystem::create_symlink("/usr/bin/ffprobe", bin + "/ffprobe");
    std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", bin.c_str(), 1);
    std::vector<uint8_t> out(600 * 512);
    auto path = U16(png);
    int rc = Tamo_EncodeImageFile_HD(600, 1, path.c_str(), out.data());
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(rc, -3);
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(FileEncoding, FramesArriveInOrderFromSeveralWorkers) {
    std::string clip = MakeClip(2, true);
    FerloFileEncoder fe(clip, tamo::kTypeHD, 400, true, 2);
    ASSERT_TRUE(fe.Usable());
    ASSERT_EQ(fe.FrameCount(), 50);
    EXPECT_EQ(fe.WorkerCount(), 2);
    uint32_t n = 0;
    Planes d(tamo::kTypeHD);
    while (fe.NextFrame()) {
        ASSERT_EQ(fe.FrameNumber(), n);
        const uint8_t* s = fe.FrameData();
        ASSERT_LE(fe.FrameSize(), 400 * 512);
        EXPECT_EQ((uint32_t(s[8]) << 24) | (uint32_t(s[9]) << 16) | (uint32_t(s[10]) << 8) | s[11], n);
        ASSERT_EQ(Tamo_Decode(s, fe.FrameSize(), d.y.data(), d.cb.data(), d.cr.data()), 0);
        ++n;
    }
    // Every frame ffmpeg makes of the clip (its deinterlacer adds a couple at the end).
    std::string cmd = "ffmpeg -v quiet -i '" + clip + "' -vf fps=25,scale=1920:1080:out_range=tv,yadif=1 -an -pix_fmt yuv420p -r 25 -f rawvideo - | wc -c";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    unsigned long bytes = 0;
    ASSERT_EQ(std::fscanf(p, "%lu", &bytes), 1);
    pclose(p);
    const unsigned expected = unsigned(bytes / (1920 * 1080 * 3 / 2));
    EXPECT_GE(expected, 50u);
    EXPECT_EQ(n, expected);
    EXPECT_FALSE(fe.NextFrame());
    EXPECT_GT(fe.AudioBytes(), 0);
}

TEST(CodecFileEncoder, Utf16Paths) {
    const char16_t path[] = {u'/', u't', 0x00E9, 0x4E2D, 0xD83D, 0xDE00, u'.', u'p', 0};
    EXPECT_EQ(FerloFileEncoder::Utf16ToUtf8(path), "/t\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80.p");
    const char16_t lone[] = {0xD800, u'a', 0};
    EXPECT_EQ(FerloFileEncoder::Utf16ToUtf8(lone), "\xEF\xBF\xBD" "a");
}
