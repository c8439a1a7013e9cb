// varoctl multiscreen on the sample model: render writes the device data and pictures offline,
// check names the first overlap, write puts the three kinds of data into varosim over TCP.
#include "../eth/NetSim.h"
#include "common/RunProgram.h"
#include "common/TempDir.h"
#include "model/CPnPModel.h"
#include "signals/MultiScreenDoc.h"
#include "sim/CSimImage.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace {
std::string Bin() {
    const char* b = std::getenv("VARO_BIN_DIR");
    return b ? b : ".";
}
std::string SampleModel() { return Bin() + "/ModelsPnP/HD-OVL.xml"; }

using Outcome = RProgramOutcome;

Outcome Varoctl(const TempDir& dir, std::vector<std::string> args) {
    return RunProgram(dir, Bin() + "/varoctl", std::move(args));
}

std::string ImageBytes(const std::string& image, uint32_t address, size_t n) {
    CSimImage img;
    std::string err;
    if (!img.OpenExisting(image, err)) return {};
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i) out[i] = char(img.Flash(int((address + i) >> 28), uint32_t(address + i) & 0x0FFFFFFFu));
    return out;
}

struct Sample {
    CPnPModel model;
    CPnPMultiScreen* ms = nullptr;
    CMultiScreen doc;
    Sample() {
        model.SetProgramFolder(Bin() + "/");
        if (model.Load(SampleModel()) != kPnPLoaded) return;
        ms = static_cast<CPnPMultiScreen*>(model.FindFirst(kPnPMultiScreen));
        if (ms) MultiScreenBuild(doc, *ms, false);
    }
    CScreenElement* El(int display, int id) {
        for (auto& l : doc.displays[size_t(display)]->layers)
            for (auto& e : l->elements)
                if (e->id == id) return e.get();
        return nullptr;
    }
};
}  // namespace

TEST(VaroctlMultiScreen, RenderAndCheck) {
    TempDir dir;
    Outcome r = Varoctl(dir, {"multiscreen", "render", "--model", SampleModel(), dir.File("out")});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* f : {"background1.png", "background2.png", "cover.png", "composed.png"})
        EXPECT_TRUE(std::filesystem::exists(dir.File(std::string("out/") + f))) << f;
    EXPECT_EQ(std::filesystem::file_size(dir.File("out/background1.bin")), 1036800u);
    EXPECT_EQ(std::filesystem::file_size(dir.File("out/cover.bin")), 5u * 960u * 1080u * 2u);
    const std::string settings = TempDir::ReadAll(dir.File("out/settings.bin"));
    ASSERT_EQ(settings.size(), 256u);
    EXPECT_EQ(uint8_t(settings[8]), 120u);  // Input 2: 960 / 8
    EXPECT_EQ(uint8_t(settings[44]), 860u & 0xFF);
    EXPECT_EQ(uint8_t(settings[45]) & 0x0F, 860u >> 8);

    // A layout with Input 2 moved onto Input 1.
    Sample s;
    ASSERT_TRUE(s.ms);
    s.El(0, 2)->x = 500;
    ASSERT_EQ(MultiScreenSave(s.doc, *s.ms, dir.File("overlap.mss")), 0);
    r = Varoctl(dir, {"multiscreen", "check", dir.File("overlap.mss"), "--model", SampleModel()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("[Input 1] and [Input 2]"), std::string::npos) << r.out;
    s.El(0, 2)->x = 960;
    ASSERT_EQ(MultiScreenSave(s.doc, *s.ms, dir.File("fine.mss")), 0);
    r = Varoctl(dir, {"multiscreen", "check", dir.File("fine.mss"), "--model", SampleModel()});
    EXPECT_EQ(r.out, "no overlap\n");

    // The render of a loaded file carries its positions; a damaged file is refused.
    s.El(0, 2)->x = 1000;
    ASSERT_EQ(MultiScreenSave(s.doc, *s.ms, dir.File("moved.mss")), 0);
    r = Varoctl(dir, {"multiscreen", "render", "--model", SampleModel(), "--mss", dir.File("moved.mss"), dir.File("m")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(uint8_t(TempDir::ReadAll(dir.File("m/settings.bin"))[8]), 125u);  // 1000 / 8
    TempDir::WriteAll(dir.File("bad.mss"), "MSC\x1a");
    r = Varoctl(dir, {"multiscreen", "check", dir.File("bad.mss"), "--model", SampleModel()});
    EXPECT_EQ(r.code, 66);
    EXPECT_NE(r.err.find("Loading failed - file is corrupt!"), std::string::npos) << r.err;
    r = Varoctl(dir, {"multiscreen", "render", dir.File("x")});
    EXPECT_EQ(r.code, 64);
}

TEST(VaroctlMultiScreen, WritePutsTheThreeKindsOfDataIntoTheDevice) {
    TempDir dir;
    Outcome r = Varoctl(dir, {"multiscreen", "render", "--model", SampleModel(), dir.File("out")});
    ASSERT_EQ(r.code, 0) << r.err;
    const uint32_t ip = NetSim::NextAddress();
    const std::string image = dir.File("dev.img");
    NetSim sim({"--tcp", IpToString(ip), "--model", SampleModel()}, image);
    ASSERT_TRUE(sim.Ready());
    r = Varoctl(dir, {"--link", "tcp:" + IpToString(ip), "multiscreen", "write"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string bg1 = TempDir::ReadAll(dir.File("out/background1.bin"));
    const std::string bg2 = TempDir::ReadAll(dir.File("out/background2.bin"));
    const std::string cover = TempDir::ReadAll(dir.File("out/cover.bin"));
    const std::string settings = TempDir::ReadAll(dir.File("out/settings.bin"));
    EXPECT_TRUE(ImageBytes(image, 0x10100000, bg1.size()) == bg1);
    EXPECT_TRUE(ImageBytes(image, 0x10200000, bg2.size()) == bg2);
    EXPECT_TRUE(ImageBytes(image, 0x10400000, cover.size()) == cover);
    EXPECT_TRUE(ImageBytes(image, 0x10000000, settings.size()) == settings);
}
