// The shipped sample models: they load, name only files the build makes, use every element
// kind, and their memory layouts fit the simulated flash without overlapping.
#include "common/TempDir.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPModel.h"
#include "model/CPnPSerial.h"
#include "sim/SimFromModel.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {
std::string BinDir() {
    const char* d = std::getenv("VARO_BIN_DIR");
    return d ? d : "";
}

std::vector<std::string> SampleModels() {
    std::vector<std::string> out;
    for (const char* folder : {"ModelsPnP", "ModelsOld"}) {
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator(BinDir() + "/" + folder, ec))
            if (e.path().extension() == ".xml") out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

const SimWrite* WriteAt(const SimModelImage& img, uint32_t address) {
    for (const auto& w : img.writes)
        if (w.address == address) return &w;
    return nullptr;
}

struct Region {
    uint64_t begin, end;
    std::string what;
};
}  // namespace

TEST(SampleModels, LoadWithoutMissingFilesAndPrint) {
    auto models = SampleModels();
    ASSERT_GE(models.size(), 4u) << "sample models not in " << BinDir();
    TempDir tmp;
    for (const auto& path : models) {
        SCOPED_TRACE(path);
        CPnPModel m;
        m.SetProgramFolder(BinDir());
        ASSERT_EQ(m.Load(path), kPnPLoaded);
        EXPECT_FALSE(m.elements.empty());
        EXPECT_FALSE(m.pages.empty());
        for (auto& e : m.elements)
            for (auto& it : e->items)
                if (!it->fileName.empty()) {
                    EXPECT_TRUE(std::filesystem::is_regular_file(it->fileName)) << it->fileName;
                }

        std::string out = tmp.File("out.json");
        int rc = std::system(("\"" + BinDir() + "/varoctl\" model \"" + path + "\" > \"" + out + "\"").c_str());
        ASSERT_TRUE(WIFEXITED(rc));
        EXPECT_EQ(WEXITSTATUS(rc), 0);
        std::string json = TempDir::ReadAll(out);
        EXPECT_NE(json.find("\"result\":0"), std::string::npos);
        EXPECT_NE(json.find("\"missingFiles\":[]"), std::string::npos);
    }
}

TEST(SampleModels, FullModelUsesEveryKindAndFitsItsFlash) {
    CPnPModel m;
    m.SetProgramFolder(BinDir());
    ASSERT_EQ(m.Load(BinDir() + "/ModelsPnP/HD-OVL.xml"), kPnPLoaded);
    EXPECT_TRUE(m.timeSync);
    std::set<int> kinds;
    for (auto& e : m.elements) kinds.insert(e->kind);
    EXPECT_EQ(kinds.size(), 16u);
    auto* g = static_cast<CPnPGroupSettings*>(m.FindFirst(kPnPSettingsGroup));
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(g->blocks.size(), 4u);
    EXPECT_EQ(g->blocks[3]->name, "Input 4");

    // Every region the model names lies in one 16 MB flash region or the 64 KB direct region,
    // and no two overlap.
    std::vector<Region> regions;
    auto add = [&](uint32_t addr, int64_t size, const std::string& what) {
        if (size <= 0) return;
        regions.push_back({addr, addr + uint64_t(size), what});
        if (addr >= 0xF0000000u)
            EXPECT_LE(addr + uint64_t(size), 0xF0010000u) << what;
        else
            EXPECT_LE((addr & 0x0FFFFFFFu) + uint64_t(size), 0x1000000u) << what;
    };
    for (auto& e : m.elements) {
        for (auto& it : e->items) add(it->address, it->size, e->name + "/" + it->name);
        if (e->kind == kPnPSettingsBlock) add(e->address, static_cast<CPnPBlockSettings&>(*e).size, e->name);
        if (e->kind == kPnPSettingsGroup)
            for (auto& b : static_cast<CPnPGroupSettings&>(*e).blocks) add(b->address, b->size, b->name);
        if (e->kind == kPnPSettings)
            for (auto& n : static_cast<CPnPSettings&>(*e).nodes)
                if (n->HasAddress()) add(e->address + n->address, 5, n->name);
    }
    std::sort(regions.begin(), regions.end(), [](auto& a, auto& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < regions.size(); ++i)
        EXPECT_LE(regions[i - 1].end, regions[i].begin) << regions[i - 1].what << " overlaps " << regions[i].what;
}

TEST(SimFromModel, FullHdModel) {
    auto img = SimFromModel(BinDir() + "/ModelsPnP/HD-OVL.xml", BinDir());
    ASSERT_EQ(img.result, kPnPLoaded);
    EXPECT_EQ(img.signature, "HD-OVL");
    EXPECT_TRUE(img.missingFiles.empty());
    EXPECT_EQ(img.identity, (std::vector<uint8_t>{0x48, 0x44, 0x2D, 0x4F, 0x56, 0x4C, 0x00, 0x01, 0x02}));
    EXPECT_GT(img.flashBytesNeeded, 0x800000u);
    EXPECT_LE(img.flashBytesNeeded, 0x1000000u);

    // A sealed block record holding the node defaults and the sim_value hint.
    const SimWrite* video = WriteAt(img, 0x1000);
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->bytes.size(), 64u);
    EXPECT_TRUE(PnPBlockSealOk(video->bytes));
    EXPECT_EQ(video->bytes[1], 1);    // reference source default
    EXPECT_EQ(video->bytes[2], 148);  // horizontal phase from sim_value
    EXPECT_EQ(video->bytes[6], 1);    // bypass relay default

    // The series of input records, each sealed, at consecutive addresses.
    for (uint32_t a = 0x4000; a < 0x4080; a += 0x20) {
        const SimWrite* w = WriteAt(img, a);
        ASSERT_NE(w, nullptr) << std::hex << a;
        EXPECT_TRUE(PnPBlockSealOk(w->bytes));
        EXPECT_EQ(w->bytes[4], 1);  // enabled
    }
    // Typed defaults: addresses, texts and the stream descriptor.
    const SimWrite* net = WriteAt(img, 0x5000);
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(net->bytes[0], 192);
    EXPECT_EQ(net->bytes[3], 100);
    EXPECT_EQ(net->bytes[0x10], 0x10);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&net->bytes[0x30])), "HD-OVL program");

    // Register settings: value, min, max, default, step.
    const SimWrite* reg = WriteAt(img, 0xF0000000);
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg->bytes, (std::vector<uint8_t>{120, 0, 200, 100, 1}));
    const SimWrite* reserved = WriteAt(img, 0xF0000014);
    ASSERT_NE(reserved, nullptr);
    EXPECT_EQ(reserved->bytes[1], reserved->bytes[2]);  // min = max: not shown

    // Controls and status records from the node hints.
    const SimWrite* ctl = WriteAt(img, 0xF0000200);
    ASSERT_NE(ctl, nullptr);
    EXPECT_EQ(ctl->bytes[0], 0x05);
    EXPECT_EQ(ctl->bytes[1], 0x00);
    const SimWrite* st = WriteAt(img, 0xF0000100);
    ASSERT_NE(st, nullptr);
    EXPECT_EQ(st->bytes[0], 0x01);
    EXPECT_EQ(st->bytes[3], 0x01);

    const SimWrite* sn = WriteAt(img, 0x7000);
    ASSERT_NE(sn, nullptr);
    EXPECT_EQ(CPnPSerial::Text(sn->bytes.data(), sn->bytes.size()), "48440A17-00000025-00000000-00003039");

    // Factory files at their items.
    const SimWrite* logo = WriteAt(img, 0x20000);
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->bytes.size(), 81920u);
    const SimWrite* bars = WriteAt(img, 0x1A0000);
    ASSERT_NE(bars, nullptr);
    EXPECT_EQ(bars->bytes.size(), 1536u);
}

TEST(SimFromModel, SignaturesAndIdentity) {
    auto sd = SimFromModel(BinDir() + "/ModelsPnP/SD-OVL.xml", BinDir());
    ASSERT_EQ(sd.result, kPnPLoaded);
    EXPECT_EQ(sd.signature, "SD-OVL");
    // Serial from the identity read: the identity carries it.
    EXPECT_EQ(sd.identity, (std::vector<uint8_t>{0x53, 0x44, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34}));
    EXPECT_LE(sd.flashBytesNeeded, 0x200000u);
    const SimWrite* opts = WriteAt(sd, 0x1F0000 + 40);
    ASSERT_NE(opts, nullptr);
    EXPECT_EQ(opts->bytes, (std::vector<uint8_t>{5, 0, 255, 1, 1}));

    for (const char* old : {"VOL-100", "VOL-200"}) {
        auto img = SimFromModel(BinDir() + "/ModelsOld/" + old + ".xml", BinDir());
        EXPECT_EQ(img.result, kPnPLoaded);
        EXPECT_EQ(img.signature, "") << old;
        EXPECT_TRUE(img.missingFiles.empty());
    }
    EXPECT_EQ(SimFromModel(BinDir() + "/ModelsPnP/none.xml", BinDir()).result, kPnPCannotOpen);
}

TEST(SimFromModel, HintsFallbacksAndGroupTemplates) {
    TempDir dir;
    TempDir::WriteAll(dir.File("fw.bin"), std::string(10, '\x5A'));
    TempDir::WriteAll(dir.File("m.xml"),
                      "<r><pnp sim_signature=\"TEST-1\">"
                      "<settings address=\"0x100\"><node address=\"0\" min=\"2\" max=\"9\" default=\"4\" step=\"0\"/></settings>"
                      "<settings_group>"
                      "<settings_block address=\"0x1000\" size=\"8\" macro_from=\"1\" macro_to=\"2\">"
                      "<node address=\"0\" default=\"7\"/></settings_block>"
                      "<settings_block address=\"0x2000\" size=\"8\"><node address=\"0\" default=\"3\" sim_value=\"9\"/>"
                      "<node address=\"+\" size=\"4\" type=\"ascii\" sim_value=\"ABCDEFG\"/></settings_block>"
                      "</settings_group>"
                      "<controls address=\"0x300\" size=\"2\" sim_value=\"F0FF\">"
                      "<control offset=\"0\" mask=\"0x0F\" value=\"0x05\" sim_value=\"1\"/></controls>"
                      "<service><item address=\"0x400\" size=\"4\" filename=\"fw.bin\"/>"
                      "<item address=\"0x500\" size=\"4\" filename=\"gone.bin\"/></service>"
                      "<serial address=\"0x600\" size=\"4\"/>"
                      "</pnp></r>");
    auto img = SimFromModel(dir.File("m.xml"), dir.Path());
    ASSERT_EQ(img.result, kPnPLoaded);
    EXPECT_EQ(img.signature, "TEST-1");
    // Register limits fall back to the node's own attributes; a step of 0 becomes 1.
    ASSERT_NE(WriteAt(img, 0x100), nullptr);
    EXPECT_EQ(WriteAt(img, 0x100)->bytes, (std::vector<uint8_t>{4, 2, 9, 4, 1}));
    ASSERT_NE(WriteAt(img, 0x1000), nullptr);
    ASSERT_NE(WriteAt(img, 0x1008), nullptr);
    EXPECT_EQ(WriteAt(img, 0x1008)->bytes[0], 7);
    const SimWrite* plain = WriteAt(img, 0x2000);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->bytes[0], 9);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&plain->bytes[1]), 4), "ABCD");
    EXPECT_TRUE(PnPBlockSealOk(plain->bytes));  // the ascii node runs into the CRC: not written
    ASSERT_NE(WriteAt(img, 0x300), nullptr);
    EXPECT_EQ(WriteAt(img, 0x300)->bytes, (std::vector<uint8_t>{0xF5, 0xFF}));
    ASSERT_NE(WriteAt(img, 0x400), nullptr);
    EXPECT_EQ(WriteAt(img, 0x400)->bytes, (std::vector<uint8_t>(4, 0x5A)));
    ASSERT_EQ(img.missingFiles.size(), 1u);
    ASSERT_NE(WriteAt(img, 0x600), nullptr);
    EXPECT_EQ(WriteAt(img, 0x600)->bytes.size(), 8u);  // serial sizes are at least 8
}
