// The settings page's device steps against a scripted device memory.
#include "SettingsFakes.h"
#include "common/TempDir.h"
#include "devicedata/SettingsPage.h"
#include "devicedata/SettingsReport.h"
#include "model/CPnPBlockSettings.h"
#include "model/CPnPGroupSettings.h"

#include <gtest/gtest.h>

namespace {
using Bytes = std::vector<uint8_t>;

const char* kRegisterModel = R"(<device><pnp>
<settings name="Regs" address="0x100">
  <node name="Root heading">
    <node name="Gain" address="0"/>
    <node name="Mute" address="5"/>
    <node name="Sub" collapse="1">
      <node name="Mode" address="10"><list value="0" name="A"/><list value="1" name="B"/><list value="2" name="C"/></node>
    </node>
  </node>
  <node name="Gone heading">
    <node name="Absent" address="15"/>
  </node>
  <node name="Opts" address="20">
    <checkbox mask="0x03" value="0x01" name="One"/>
    <checkbox mask="0x01" value="0x00" name="Zero"/>
    <checkbox mask="0x80" value="0x80" name="High"/>
  </node>
</settings></pnp></device>)";

// Node indices of kRegisterModel.
enum { kRoot, kGain, kMute, kSub, kMode, kGone, kAbsent, kOpts };

struct RegisterPage : ::testing::Test {
    FakeSettingsDevice dev{kRegisterModel};
    CPnPSettings* el = static_cast<CPnPSettings*>(dev.model.FindFirst(kPnPSettings));
    CSettingsPage page{dev.ctx, el};
    int shown = 0;

    void SetUp() override {
        ASSERT_NE(el, nullptr);
        page.onShowValue = [this] { ++shown; };
        // value byte, then min, max, default, step
        dev.engine.Put(0x100, {120, 0, 200, 100, 5});
        dev.engine.Put(0x105, {1, 0, 1, 0, 0});
        dev.engine.Put(0x10A, {1, 0, 2, 2, 0});
        dev.engine.Put(0x10F, {3, 3, 3, 0, 0});
        dev.engine.Put(0x114, {1, 0, 255, 0x80, 0});
    }
    void Open() {
        page.Open();
        dev.engine.Pump(dev.ops);
        ASSERT_TRUE(page.TreeReady());
    }
    void Select(int node) {
        ASSERT_TRUE(page.Select(node));
        dev.engine.Pump(dev.ops);
    }
    Bytes WrittenBytes() const {
        Bytes b;
        for (const auto& w : dev.engine.Writes()) {
            EXPECT_EQ(w.size, 1);
            b.push_back(w.data[0]);
        }
        return b;
    }
};
}  // namespace

TEST_F(RegisterPage, OpeningReadsLimitsPrunesAndExpands) {
    page.Open();
    EXPECT_FALSE(page.TreeReady());
    EXPECT_FALSE(page.Select(kGain));  // not ready yet: ignored
    dev.engine.Pump(dev.ops);
    ASSERT_TRUE(page.TreeReady());
    // The limits of every addressed node, four bytes after its value byte.
    std::vector<uint32_t> reads;
    for (const auto& c : dev.engine.started) {
        EXPECT_EQ(c.code, 3);
        EXPECT_EQ(c.size, 4);
        reads.push_back(c.address);
    }
    EXPECT_EQ(reads, (std::vector<uint32_t>{0x101, 0x106, 0x10B, 0x110, 0x115}));
    EXPECT_FALSE(el->nodes[kAbsent]->enabled);
    EXPECT_EQ(el->nodes[kGain]->controlKind, kPnPCtlSlider);
    EXPECT_EQ(el->nodes[kMute]->controlKind, kPnPCtlCheckBox);
    EXPECT_EQ(el->nodes[kMode]->controlKind, kPnPCtlList);
    EXPECT_EQ(el->nodes[kOpts]->controlKind, kPnPCtlFlags);

    // "Gone heading" lost its only child and goes too; "Sub" keeps its child but starts folded.
    const auto& t = page.Tree();
    ASSERT_EQ(t.size(), 6u);
    std::vector<int> nodes;
    for (const auto& it : t) nodes.push_back(it.node);
    EXPECT_EQ(nodes, (std::vector<int>{kRoot, kGain, kMute, kSub, kMode, kOpts}));
    EXPECT_EQ(t[0].children, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(t[0].expanded);
    EXPECT_EQ(t[3].parent, 0);
    EXPECT_EQ(t[3].children, (std::vector<int>{4}));
    EXPECT_FALSE(t[3].expanded);
    EXPECT_EQ(t[5].parent, -1);
    EXPECT_FALSE(t[5].expanded);
    EXPECT_EQ(el->currentNode, -1);
}

TEST_F(RegisterPage, SelectionReadsAndChangesWriteOneByte) {
    Open();
    dev.engine.started.clear();
    dev.engine.done = 0;
    Select(kGain);
    ASSERT_EQ(dev.engine.started.size(), 1u);
    EXPECT_EQ(dev.engine.started[0].address, 0x100u);
    EXPECT_EQ(dev.engine.started[0].size, 1);
    EXPECT_EQ(el->nodes[kGain]->value, 120);
    EXPECT_TRUE(dev.ui.messages.empty());

    page.MoveSlider(152);  // rounds to the step of 5
    dev.engine.Pump(dev.ops);
    page.StepUp();
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(WrittenBytes(), (Bytes{150, 155}));
    EXPECT_EQ(dev.engine.At(0x100), 155);
    EXPECT_EQ(dev.engine.Writes()[0].address, 0x100u);

    // The same list entry writes nothing; another one writes its value.
    Select(kMode);
    EXPECT_EQ(el->nodes[kMode]->value, 1);
    EXPECT_EQ(CSettingsPage::ChosenListItem(*el->nodes[kMode]), 1);
    page.ChooseListItem(1);
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(dev.engine.Writes().size(), 2u);
    page.ChooseListItem(2);
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(WrittenBytes(), (Bytes{150, 155, 2}));
    EXPECT_EQ(dev.engine.Writes().back().address, 0x10Au);

    // Flags: a radio button sets its bits, a check box toggles its mask.
    Select(kOpts);
    page.ClickFlag(1);  // "Zero": clears bit 0 of the 0x03 group
    dev.engine.Pump(dev.ops);
    page.ClickFlag(2);  // "High"
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(dev.engine.At(0x114), 0x80);
    page.ClickFlag(1);  // already chosen: nothing
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(WrittenBytes(), (Bytes{150, 155, 2, 0x00, 0x80}));
}

TEST_F(RegisterPage, OutOfRangeValueIsResetToDefault) {
    Open();
    dev.engine.Put(0x100, {230});
    Select(kGain);
    ASSERT_EQ(dev.ui.messages.size(), 1u);
    EXPECT_EQ(dev.ui.messages[0], "Value not initialized and will be reset to default!");
    EXPECT_EQ(dev.ui.icons[0], MsgIcon::Exclamation);
    EXPECT_EQ(WrittenBytes(), (Bytes{100}));
    EXPECT_EQ(dev.engine.At(0x100), 100);
    EXPECT_EQ(el->nodes[kGain]->value, 100);
    EXPECT_FALSE(dev.ops.Busy());
}

TEST_F(RegisterPage, ResetAllAsksThenWritesEveryDefault) {
    Open();
    Select(kRoot);
    dev.ui.answer = false;
    page.ResetToDefault();
    ASSERT_EQ(dev.ui.questions.size(), 1u);
    EXPECT_EQ(dev.ui.questions[0], "Reset all settings to default?");
    EXPECT_TRUE(dev.engine.Writes().empty());

    dev.ui.answer = true;
    page.ResetToDefault();
    dev.engine.Pump(dev.ops);
    std::vector<uint32_t> where;
    for (const auto& w : dev.engine.Writes()) where.push_back(w.address);
    EXPECT_EQ(where, (std::vector<uint32_t>{0x100, 0x105, 0x10A, 0x114}));  // the disabled node is left alone
    EXPECT_EQ(WrittenBytes(), (Bytes{100, 0, 2, 0x80}));
    ASSERT_FALSE(dev.ui.messages.empty());
    EXPECT_EQ(dev.ui.messages.back(), "Write complete.");
    EXPECT_EQ(el->nodes[kMode]->value, 2);

    // A single node goes back to its default through the ordinary write.
    Select(kMute);
    page.SetChecked(true);
    dev.engine.Pump(dev.ops);
    page.ResetToDefault();
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(dev.engine.At(0x105), 0);
    EXPECT_EQ(dev.ui.questions.size(), 2u);
}

TEST_F(RegisterPage, SliderMovedDuringWriteIsFollowed) {
    Open();
    Select(kGain);
    int32_t held = 150;
    page.sliderPosition = [&] { return std::optional<int32_t>(held); };
    page.MoveSlider(150);
    held = 177;  // the operator moved on while the write ran
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(WrittenBytes(), (Bytes{150, 175}));
    EXPECT_FALSE(dev.ops.Busy());
}

TEST_F(RegisterPage, FailedWriteKeepsTheOldValue) {
    Open();
    Select(kGain);
    dev.engine.failWith = 3;
    page.StepDown();
    dev.engine.Pump(dev.ops);
    ASSERT_FALSE(dev.ui.messages.empty());
    EXPECT_EQ(dev.ui.messages.back().rfind("Device link error", 0), 0u);
    EXPECT_EQ(el->nodes[kGain]->value, 120);
    EXPECT_EQ(dev.engine.At(0x100), 120);
}

TEST_F(RegisterPage, EthernetNotRespondingRereadsInsteadOfWriting) {
    Open();
    Select(kGain);
    bool down = true;
    dev.ctx.interfaceChoice = 3;
    dev.ctx.notResponding = [&] { return down; };
    size_t before = dev.engine.started.size();
    page.StepUp();
    ASSERT_FALSE(dev.ui.messages.empty());
    EXPECT_EQ(dev.ui.messages.back(), "Device link error:\n\nCommuinication error, please check connection cable and try again!");
    EXPECT_EQ(dev.ui.icons.back(), MsgIcon::Stop);
    EXPECT_FALSE(page.TreeReady());  // the page opens again
    dev.engine.Pump(dev.ops);
    EXPECT_TRUE(dev.engine.Writes().empty());
    EXPECT_EQ(dev.engine.started.size(), before + 5);  // the limits once more
    // The reset of everything checks the link first too.
    Select(kRoot);
    page.ResetToDefault();
    EXPECT_TRUE(dev.ui.questions.empty());
}

TEST_F(RegisterPage, BusyPageRefusesSelectionAndChanges) {
    Open();
    Select(kGain);
    page.StepUp();  // write pending
    EXPECT_FALSE(page.Select(kMute));
    page.StepUp();
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(WrittenBytes(), (Bytes{125}));
}

TEST_F(RegisterPage, ReportReadsEveryValueAgain) {
    TempDir dir;
    page.reportFolder = dir.Path();
    page.now = [] { return std::time_t(1700000000); };
    std::vector<std::string> opened;
    page.onOpenReport = [&](const std::string& p) { opened.push_back(p); };
    Open();
    dev.engine.Put(0x100, {42});
    dev.engine.Put(0x114, {0x81});
    Select(kRoot);
    size_t before = dev.engine.started.size();
    page.PrintReport();
    dev.engine.Pump(dev.ops);
    EXPECT_EQ(dev.engine.started.size(), before + 4);
    const char* expect =
        "Root heading\n"
        "  Gain : 42\n"
        "  [X] Mute\n"
        "  Sub\n"
        "    Mode : B\n"
        "Gone heading\n"
        "Opts :\n"
        " (o) One\n"
        " ( ) Zero\n"
        " [X] High\n";
    EXPECT_EQ(page.LastReportText(), expect);
    ASSERT_EQ(opened.size(), 1u);
    std::tm local{};
    std::time_t t = 1700000000;
    localtime_r(&t, &local);
    EXPECT_EQ(opened[0], dir.File(SettingsReportFileName(local)));
    std::string file = TempDir::ReadAll(opened[0]);
    EXPECT_EQ(file.substr(0, 14), "Root heading\r\n");
    EXPECT_EQ(std::count(file.begin(), file.end(), '\r'), 10);

    // The same second: the same name, the file replaced.
    dev.engine.Put(0x100, {43});
    page.PrintReport();
    dev.engine.Pump(dev.ops);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], opened[0]);
    EXPECT_NE(TempDir::ReadAll(opened[0]).find("Gain : 43\r\n"), std::string::npos);
}

TEST(SettingsReportFile, NameAndUncreatableFolder) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 9;
    t.tm_hour = 7;
    t.tm_min = 5;
    t.tm_sec = 3;
    EXPECT_EQ(SettingsReportFileName(t), "varo_20260109_070503.txt");
    bool written = true;
    std::string p = WriteSettingsReport("/nonexistent-folder-x", "r.txt", "a\n", &written);
    EXPECT_FALSE(written);
    EXPECT_EQ(p, "/nonexistent-folder-x/r.txt");
}

// ---------------------------------------------------------------- block settings

namespace {
const char* kBlockModel = R"(<device><pnp>
<settings_block name="All" address="0x2000" size="128">
  <node name="Head">
    <node name="Check" address="0" size="1" min="0" max="1" default="1"/>
    <node name="Slide" address="1" size="2" min="0" max="1000" step="10" default="500"/>
    <node name="Pick" address="3" size="1" default="1"><list value="0" name="Zero"/><list value="1" name="One"/></node>
    <node name="Nomatch" address="4" size="1"><list value="7" name="Seven"/></node>
    <node name="Flags" address="5" size="1" default="3"><checkbox mask="0x01" value="0x01" name="A"/><checkbox mask="0x06" value="0x02" name="B"/><checkbox mask="0x06" value="0x04" name="C"/></node>
  </node>
  <node name="Dec" address="8" size="4" type="dec" min="0" max="100000" default="250"/>
  <node name="Hex" address="12" size="2" type="hex" min="0" max="0xFFFF" default="0x00AB"/>
  <node name="Colour" address="16" size="3" type="color" default="EB8080"/>
  <node name="Addr" address="20" size="4" type="ipaddr" default="C0A80164"/>
  <node name="Text" address="24" size="8" type="ascii" default="CAM1"/>
  <node name="Textz" address="32" size="16" type="asciiz" default="Studio"/>
  <node name="Out" address="48" size="32" type="ipout" default="1100EFC80001138C00011200"><list value="1" name="M1"/><list value="9" name="M9"/></node>
</settings_block>
<settings_group name="Grp">
  <settings_block name="B%MACRO%" address="0x1000" size="16" macro_from="1" macro_to="2">
    <node name="Level %MACRO%" address="0" size="2" min="-100" max="100" step="1" default="5"/>
    <node name="On %MACRO%" address="+" size="1" min="0" max="1" default="1"/>
  </settings_block>
  <settings_block name="Empty" address="0x3000" size="0"><node name="Nothing" address="0" size="1"/></settings_block>
  <settings_block name="C" address="0x4000" size="8"><node name="X" address="0" size="1" min="0" max="9" default="2"/></settings_block>
</settings_group>
</pnp></device>)";

enum { kHead, kCheck, kSlide, kPick, kNomatch, kFlags, kDec, kHex, kColour, kAddr, kText, kTextz, kOut };

struct BlockPage : ::testing::Test {
    FakeSettingsDevice dev{kBlockModel};
    CPnPBlockSettings* blk = static_cast<CPnPBlockSettings*>(dev.model.FindFirst(kPnPSettingsBlock));
    CPnPGroupSettings* grp = static_cast<CPnPGroupSettings*>(dev.model.FindFirst(kPnPSettingsGroup));

    void Run() { dev.engine.Pump(dev.ops); }
    void OpenAndSelect(CSettingsPage& page, int node) {
        page.Open();
        Run();
        ASSERT_TRUE(page.TreeReady());
        ASSERT_TRUE(page.Select(node));
        Run();
    }
    int NodeNamed(CPnPSettings* el, const std::string& name) {
        for (size_t i = 0; i < el->nodes.size(); ++i)
            if (el->nodes[i]->name == name) return int(i);
        ADD_FAILURE() << name;
        return 0;
    }
};
}  // namespace

TEST_F(BlockPage, GroupSkipsEmptyBlockAndWritesOneSealedBlock) {
    ASSERT_NE(grp, nullptr);
    CSettingsPage page(dev.ctx, grp);
    dev.engine.Put(0x1010, {0xFF, 0xFF, 0x01});  // Level 2 = -1
    page.Open();
    Run();
    std::vector<std::pair<uint32_t, int>> reads;
    for (const auto& c : dev.engine.started) reads.push_back({c.address, c.size});
    EXPECT_EQ(reads, (std::vector<std::pair<uint32_t, int>>{{0x1000, 16}, {0x1010, 16}, {0x4000, 8}}));

    int level2 = NodeNamed(grp, "Level 2");
    ASSERT_TRUE(page.Select(level2));
    Run();
    EXPECT_EQ(grp->nodes[size_t(level2)]->value, -1);
    EXPECT_EQ(dev.engine.started.back().address, 0x1010u);  // the node's block read again

    page.StepUp();
    Run();
    ASSERT_EQ(dev.engine.Writes().size(), 1u);
    const auto& w = dev.engine.Writes()[0];
    EXPECT_EQ(w.address, 0x1010u);
    EXPECT_EQ(w.size, 16);
    Bytes rec = dev.engine.Get(0x1010, 16);
    EXPECT_TRUE(PnPBlockSealOk(rec));
    EXPECT_EQ(rec[0], 0);
    EXPECT_EQ(rec[1], 0);
    EXPECT_EQ(rec[2], 0x01);  // the rest of the record as read
    EXPECT_EQ(dev.engine.At(0x1000), 0xFF);  // the other block untouched

    // A failed write leaves the image and the value as they were.
    Bytes image = grp->blocks[1]->blockImage;
    dev.engine.failWith = 3;
    page.StepUp();
    Run();
    EXPECT_EQ(grp->blocks[1]->blockImage, image);
    EXPECT_EQ(grp->nodes[size_t(level2)]->value, 0);
    EXPECT_EQ(dev.engine.Get(0x1010, 16), rec);
}

TEST_F(BlockPage, OutOfRangeBlockValueWritesItsDefault) {
    CSettingsPage page(dev.ctx, grp);
    dev.engine.Put(0x1010, {200, 0});
    page.Open();
    Run();
    ASSERT_TRUE(page.Select(NodeNamed(grp, "Level 2")));
    Run();
    ASSERT_EQ(dev.ui.messages.size(), 1u);
    EXPECT_EQ(dev.ui.messages[0], kTextValueNotInitialized);
    Bytes rec = dev.engine.Get(0x1010, 16);
    EXPECT_EQ(rec[0], 5);
    EXPECT_EQ(rec[1], 0);
    EXPECT_TRUE(PnPBlockSealOk(rec));
}

TEST_F(BlockPage, ResetAllThenReportOfEveryControlKind) {
    ASSERT_NE(blk, nullptr);
    CSettingsPage page(dev.ctx, blk);
    TempDir dir;
    page.reportFolder = dir.Path();
    OpenAndSelect(page, kHead);
    page.ResetToDefault();
    Run();
    ASSERT_EQ(dev.ui.questions.size(), 1u);
    ASSERT_EQ(dev.engine.Writes().size(), 1u);
    EXPECT_EQ(dev.engine.Writes()[0].size, 128);
    EXPECT_EQ(dev.ui.messages.back(), "Write complete.");
    Bytes rec = dev.engine.Get(0x2000, 128);
    EXPECT_TRUE(PnPBlockSealOk(rec));
    EXPECT_EQ((Bytes{rec.begin(), rec.begin() + 6}), (Bytes{1, 0xF4, 0x01, 1, 0, 3}));
    EXPECT_EQ((Bytes{rec.begin() + 8, rec.begin() + 14}), (Bytes{250, 0, 0, 0, 0xAB, 0}));
    EXPECT_EQ((Bytes{rec.begin() + 16, rec.begin() + 24}), (Bytes{0xEB, 0x80, 0x80, 0xFF, 192, 168, 1, 100}));
    EXPECT_EQ(rec[60], 0);     // the descriptor's default bytes are zero past the text

    // The report of block settings prints the images without reading.
    size_t commands = dev.engine.started.size();
    page.PrintReport();
    EXPECT_EQ(dev.engine.started.size(), commands);
    const char* expect =
        "Head\n"
        "  [X] Check\n"
        "  Slide : 500\n"
        "  Pick : One\n"
        "  \n"
        "  Flags :\n"
        "   [X] A\n"
        "   (o) B\n"
        "   ( ) C\n"
        "Dec : 250\n"
        "Hex : AB\n"
        "Colour : Y:235, Cb:128, Cr:128\n"
        "Addr : 192.168.1.100\n"
        "Text : CAM1\n"
        "Textz : Studio\n"
        "Out :\n"
        "    IP: 239.200.0.1\n"
        "    Port: 5004\n"
        "    Protocol: UDP\n"
        "    ToS: 00\n"
        "    Options: No stuffings\n"
        "\n";
    EXPECT_EQ(page.LastReportText(), expect);
}

TEST_F(BlockPage, TypedEditorsAndStreamStartStop) {
    CSettingsPage page(dev.ctx, blk);
    OpenAndSelect(page, kHead);
    page.ResetToDefault();
    Run();
    auto rec = [&] { return dev.engine.Get(0x2000, 128); };

    ASSERT_TRUE(page.Select(kDec));
    Run();
    EXPECT_EQ(CSettingsPage::TypedText(*blk->nodes[kDec]), "250");
    page.SetTyped("123456789");  // above max: limited
    Run();
    EXPECT_EQ(blk->nodes[kDec]->value, 100000);
    Bytes d = rec();
    EXPECT_EQ((Bytes{d.begin() + 8, d.begin() + 12}), (Bytes{0xA0, 0x86, 0x01, 0x00}));

    ASSERT_TRUE(page.Select(kHex));
    Run();
    EXPECT_EQ(CSettingsPage::TypedText(*blk->nodes[kHex]), "AB");
    page.SetTyped("beef");
    Run();
    EXPECT_EQ(rec()[12], 0xEF);
    EXPECT_EQ(rec()[13], 0xBE);

    ASSERT_TRUE(page.Select(kTextz));
    Run();
    page.SetTyped("A very long name indeed");
    Run();
    Bytes z = rec();
    EXPECT_EQ(std::string(z.begin() + 32, z.begin() + 48), std::string("A very long nam") + '\0');

    ASSERT_TRUE(page.Select(kAddr));
    Run();
    std::string fields[4] = {"10", "", "3", "4"};  // an empty field gives 0.0.0.0
    page.SetIpAddr(fields);
    Run();
    EXPECT_EQ(CSettingsPage::TypedText(*blk->nodes[kAddr]), "");

    ASSERT_TRUE(page.Select(kOut));
    Run();
    size_t writes = dev.engine.Writes().size();
    std::string bad[4] = {"10", "", "0", "7"};
    EXPECT_FALSE(page.StartStream(bad, "1234", 0, 1, false, "2e"));
    std::string ip[4] = {"10", "0", "0", "7"};
    EXPECT_FALSE(page.StartStream(ip, "0", 0, 1, false, "2e"));
    EXPECT_FALSE(page.StartStream(ip, "65536", 0, 1, false, "2e"));
    EXPECT_EQ(dev.engine.Writes().size(), writes);
    dev.engine.Put(0x2000 + 48 + 10, {0xE2});  // bits 5-7 the device set
    ASSERT_TRUE(page.Select(kOut));
    Run();
    EXPECT_TRUE(page.StartStream(ip, "1234", 1, 1, false, "2e"));
    Run();
    Bytes s = rec();
    EXPECT_EQ((Bytes{s.begin() + 48, s.begin() + 60}),
              (Bytes{0x11, 0x00, 10, 0, 0, 7, 0x04, 0xD2, 0x00, 0x09, 0xE1, 0x2E}));
    page.StopStream();
    Run();
    EXPECT_EQ(rec()[48], 0x10);
    EXPECT_EQ(rec()[58], 0xE1);
    EXPECT_TRUE(PnPBlockSealOk(rec()));
}

TEST_F(BlockPage, ControlsShownPerNode) {
    CSettingsPage page(dev.ctx, blk);
    OpenAndSelect(page, kHead);
    RSettingsControls c = page.Controls();
    EXPECT_TRUE(c.caption);
    EXPECT_EQ(c.captionText, "Head");
    EXPECT_TRUE(c.reset && c.print);
    EXPECT_FALSE(c.checkBox || c.slider || c.list || c.text || c.info);

    struct Case {
        int node;
        bool caption, checkBox, slider, list, listEnabled, text, set, ip, ipout, colour, print;
        int flags;
    } cases[] = {
        {kCheck, false, true, false, false, false, false, false, false, false, false, false, 0},
        {kSlide, true, false, true, false, false, false, false, false, false, false, false, 0},
        {kPick, true, false, false, true, true, false, false, false, false, false, false, 0},
        {kNomatch, true, false, false, true, false, false, false, false, false, false, false, 0},
        {kFlags, true, false, false, false, false, false, false, false, false, false, false, 3},
        {kDec, true, false, false, false, false, true, true, false, false, false, true, 0},
        {kAddr, true, false, false, false, false, false, true, true, false, false, true, 0},
        {kColour, true, false, false, false, false, false, false, false, false, true, true, 0},
        {kOut, true, false, false, false, false, false, false, true, true, false, true, 0},
    };
    for (const auto& k : cases) {
        ASSERT_TRUE(page.Select(k.node));
        Run();
        c = page.Controls();
        EXPECT_EQ(c.caption, k.caption) << k.node;
        EXPECT_EQ(c.checkBox, k.checkBox) << k.node;
        EXPECT_EQ(c.slider, k.slider) << k.node;
        EXPECT_EQ(c.valueText, k.slider) << k.node;
        EXPECT_EQ(c.list, k.list) << k.node;
        EXPECT_EQ(c.listEnabled, k.listEnabled) << k.node;
        EXPECT_EQ(c.text, k.text) << k.node;
        EXPECT_EQ(c.set && c.setEnabled, k.set) << k.node;
        EXPECT_EQ(c.ipAddress, k.ip) << k.node;
        EXPECT_EQ(c.ipout, k.ipout) << k.node;
        EXPECT_EQ(c.colour, k.colour) << k.node;
        EXPECT_EQ(c.print, k.print) << k.node;
        EXPECT_TRUE(c.reset) << k.node;
        EXPECT_EQ(c.flagCount, k.flags) << k.node;
    }
    ASSERT_TRUE(page.Select(kFlags));
    Run();
    c = page.Controls();
    EXPECT_FALSE(c.flagRadio[0]);
    EXPECT_TRUE(c.flagRadio[1]);
    EXPECT_TRUE(c.flagRadio[2]);
}

TEST_F(BlockPage, ColourChoiceWritesConvertedBytes) {
    CSettingsPage page(dev.ctx, blk);
    OpenAndSelect(page, kHead);
    page.ResetToDefault();
    Run();
    ASSERT_TRUE(page.Select(kColour));
    Run();
    size_t writes = dev.engine.Writes().size();
    // White is what the default bytes already show: nothing to write.
    page.ChooseColour(0x00FFFFFF);
    Run();
    EXPECT_EQ(dev.engine.Writes().size(), writes);
    page.ChooseColour(0x000000FF);  // red
    Run();
    ASSERT_EQ(dev.engine.Writes().size(), writes + 1);
    Bytes r = dev.engine.Get(0x2000 + 16, 3);
    EXPECT_LT(r[0], 100);   // dark luma
    EXPECT_GT(r[2], 200);   // strong Cr
    EXPECT_LT(r[1], 128);
}
