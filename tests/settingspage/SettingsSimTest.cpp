// The settings page through the real engine against varosim on a pty, holding the sample
// models; what was written is checked in the simulator's memory image.
#include "SettingsFakes.h"
#include "common/SimDeviceRig.h"
#include "common/TempDir.h"
#include "devicedata/CEngineAdapter.h"
#include "devicedata/SettingsPage.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/LinkTestSupport.h"
#include "link/eth/CEth1.h"
#include "app/IpAddress.h"
#include "model/CPnPBlockSettings.h"
#include "model/CPnPGroupSettings.h"
#include "sim/CSimImage.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>

namespace {
using Bytes = std::vector<uint8_t>;

class SettingsSim : public ::testing::Test, protected SimDeviceRig<RecordingUi> {
protected:
    void Start(const std::string& modelName, const std::string& dialect, int protocol, int choice) {
        ASSERT_EQ(Launch(modelName, dialect, protocol, choice), "");
    }
    void TearDown() override { serial.DestroyLinks(); }

    void Run() {
        if (ops.Busy()) {
            ASSERT_TRUE(RunOperation(ops, waiter, serial, 20000));
        }
    }
    CPnPSettings* Element(const std::string& name) {
        for (auto& e : model.elements)
            if (e->name == name) return static_cast<CPnPSettings*>(e.get());
        ADD_FAILURE() << name;
        return nullptr;
    }
    static int Node(CPnPSettings* el, const std::string& name) {
        for (size_t i = 0; i < el->nodes.size(); ++i)
            if (el->nodes[i]->name == name) return int(i);
        ADD_FAILURE() << name;
        return -1;
    }
    void Open(CSettingsPage& page) {
        page.Open();
        Run();
        ASSERT_TRUE(page.TreeReady());
    }
    void Select(CSettingsPage& page, const std::string& name) {
        ASSERT_TRUE(page.Select(Node(page.Element(), name)));
        Run();
    }
    Bytes Flash(uint32_t offset, size_t n) {
        CSimImage img;
        std::string err;
        EXPECT_TRUE(img.OpenExisting(sim->Image(), err)) << err;
        Bytes b(n);
        for (size_t i = 0; i < n; ++i) b[i] = img.Flash(0, offset + uint32_t(i));
        return b;
    }
    Bytes Direct(uint32_t offset, size_t n) {
        CSimImage img;
        std::string err;
        EXPECT_TRUE(img.OpenExisting(sim->Image(), err)) << err;
        return Bytes(img.Direct() + offset, img.Direct() + offset + n);
    }
    static std::vector<size_t> Differences(const Bytes& a, const Bytes& b) {
        std::vector<size_t> d;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            if (a[i] != b[i]) d.push_back(i);
        return d;
    }
};
}  // namespace

TEST_F(SettingsSim, RegisterSettingsWriteOneByteAndResetEverything) {
    Start("HD-OVL.xml", "pointb", kProtoPointB, 1);
    CPnPSettings* el = Element("Live adjustments");
    ASSERT_NE(el, nullptr);
    CSettingsPage page(ctx, el);
    Open(page);
    for (const auto& it : page.Tree()) EXPECT_NE(el->nodes[size_t(it.node)]->name, "Reserved");
    EXPECT_EQ(page.Tree().size(), 5u);

    // The page's root (the heading "Live adjustments") shows only its caption and reads nothing.
    size_t commands = waiter.ProgressCount();
    ASSERT_TRUE(page.Select(0));
    EXPECT_FALSE(ops.Busy());
    EXPECT_EQ(waiter.ProgressCount(), commands);

    Select(page, "Key clip");
    EXPECT_EQ(el->nodes[size_t(Node(el, "Key clip"))]->value, 16);
    Bytes before = Direct(0, 25);
    page.StepUp();
    Run();
    Bytes after = Direct(0, 25);
    EXPECT_EQ(Differences(before, after), (std::vector<size_t>{5}));
    EXPECT_EQ(after[5], 17);

    Select(page, "Preview pattern");
    page.ChooseListItem(2);
    Run();
    EXPECT_EQ(Direct(15, 1)[0], 2);

    // The root: "Reset all settings to default?" and every default byte.
    ASSERT_TRUE(page.Select(0));
    page.ResetToDefault();
    Run();
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], "Reset all settings to default?");
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back(), "Write complete.");
    Bytes reset = Direct(0, 25);
    EXPECT_EQ(reset[0], 100);
    EXPECT_EQ(reset[5], 16);
    EXPECT_EQ(reset[10], 1);
    EXPECT_EQ(reset[15], 0);

    // The report reads every value again.
    page.reportToFile = false;
    page.PrintReport();
    Run();
    EXPECT_EQ(page.LastReportText(),
              "Live adjustments\n"
              "  Key gain : 100\n"
              "  Key clip : 16\n"
              "  [X] Fade logo with caption\n"
              "  Preview pattern : Off\n");
}

TEST_F(SettingsSim, BlockChangesWriteOneSealedBlockAndResetRestoresDefaults) {
    Start("HD-OVL.xml", "pointb", kProtoPointB, 1);
    const Bytes initialLogo = Flash(0x3000, 128);
    ASSERT_TRUE(PnPBlockSealOk(initialLogo));

    CPnPSettings* out = Element("Output");
    CSettingsPage outPage(ctx, out);
    Open(outPage);
    Select(outPage, "Output delay (frames)");
    Bytes before = Flash(0x2000, 64);
    outPage.StepUp();
    Run();
    Bytes after = Flash(0x2000, 64);
    EXPECT_EQ(Differences(before, after), (std::vector<size_t>{1, 62, 63}));  // the value and the CRC
    EXPECT_EQ(after[1], 1);
    EXPECT_TRUE(PnPBlockSealOk(after));

    // A settings group writes the block of the node's own input.
    CPnPSettings* inputs = Element("Inputs");
    CSettingsPage inPage(ctx, inputs);
    Open(inPage);
    Select(inPage, "Input 3 source");
    Bytes others = Flash(0x4000, 0x80);
    inPage.ChooseListItem(1);
    Run();
    Bytes now = Flash(0x4000, 0x80);
    EXPECT_EQ(Differences(others, now), (std::vector<size_t>{0x40, 0x5E, 0x5F}));
    EXPECT_EQ(now[0x40], 1);
    EXPECT_TRUE(PnPBlockSealOk(Bytes(now.begin() + 0x40, now.begin() + 0x60)));

    // Changes, then "Reset to default" on the root: the record the model's defaults make.
    CPnPSettings* logo = Element("Logo and caption");
    CSettingsPage logoPage(ctx, logo);
    Open(logoPage);
    Select(logoPage, "Position X");
    logoPage.StepDown();
    Run();
    Select(logoPage, "Caption ID");
    logoPage.SetTyped("XY");
    Run();
    EXPECT_NE(Flash(0x3000, 128), initialLogo);
    ASSERT_TRUE(logoPage.Select(0));
    logoPage.ResetToDefault();
    Run();
    EXPECT_EQ(ui.messages.back(), "Write complete.");
    EXPECT_EQ(Flash(0x3000, 128), initialLogo);
}

TEST_F(SettingsSim, ReportOfEveryControlKind) {
    Start("HD-OVL.xml", "pointb", kProtoPointB, 1);
    std::string text;
    for (const char* name : {"Output", "Logo and caption", "Network"}) {
        CSettingsPage page(ctx, Element(name));
        page.reportToFile = false;
        Open(page);
        page.PrintReport();
        text += page.LastReportText();
    }
    EXPECT_EQ(text,
              "Output\n"
              "  Output options :\n"
              "   [X] Embed audio\n"
              "   [X] Pass ancillary data\n"
              "   (o) BT.709\n"
              "   ( ) BT.2020\n"
              "   ( ) BT.601\n"
              "  Output delay (frames) : 0\n"
              "  Vertical shift (lines) : 0\n"
              "  Black level : 64\n"
              "Logo\n"
              "  Logo slot : Logo 1\n"
              "  Position X : 1600\n"
              "  Position Y : 40\n"
              "  Opacity (%) : 255\n"
              "  Fade time (s) : 10\n"
              "  [ ] Luma key\n"
              "Colours\n"
              "  Caption text : Y:235, Cb:128, Cr:128\n"
              "  Caption box : Y:040, Cb:109, Cr:240\n"
              "  Safe area marker : Y:162, Cb:044, Cr:142\n"
              "Caption\n"
              "  Caption text : Studio 1\n"
              "  Caption ID : CAM1\n"
              "  Caption timeout (frames) : 250\n"
              "  Overlay ID : 1\n"
              "Network\n"
              "  Device address : 192.168.1.100\n"
              "  Subnet mask : 255.255.255.0\n"
              "  Gateway : 192.168.1.1\n"
              "  Stream output :\n"
              "    IP: 239.200.0.1\n"
              "    Port: 5004\n"
              "    Protocol: RTP\n"
              "    ToS: 00\n"
              "\n"
              "  Stream name : HD-OVL program\n"
              "  Time to live : 16\n");
}

// The RS-232 sample: register settings among the flash addresses behind the short frames.
TEST_F(SettingsSim, ShortFramesRegisterByte) {
    Start("SD-OVL.xml", "short2", kProtoShort2, 0);
    CPnPSettings* el = Element("Logo inserter");
    CSettingsPage page(ctx, el);
    Open(page);
    for (const auto& it : page.Tree()) EXPECT_NE(el->nodes[size_t(it.node)]->name, "Extended range");
    Select(page, "Position X (x4 pixels)");
    EXPECT_EQ(el->nodes[size_t(Node(el, "Position X (x4 pixels)"))]->value, 140);
    Bytes before = Flash(0x1F0000, 50);
    // Registers are plain memory: a write may set bits as well as clear them, 140 (0x8C) ->
    // 115 (0x73) -> 141 (0x8D), and touches nothing else.
    for (int v : {115, 141}) {
        page.MoveSlider(v);
        Run();
        Bytes after = Flash(0x1F0000, 50);
        EXPECT_EQ(Differences(before, after), (std::vector<size_t>{15}));
        EXPECT_EQ(after[15], v);
    }
}

// varoctl settings over the same link: the model from the signature, a byte and a block.
TEST_F(SettingsSim, VaroctlSettings) {
    Start("HD-OVL.xml", "pointb", kProtoPointB, 1);
    serial.DestroyLinks();  // varoctl owns the line now
    auto varoctl = [&](const std::string& args, std::string& out) {
        std::string file = dir.File("varoctl.out");
        int rc = std::system(("\"" + BinDir() + "/varoctl\" --link rs422:" + sim->Path() + " settings " + args +
                              " > \"" + file + "\" 2>/dev/null")
                                 .c_str());
        out = TempDir::ReadAll(file);
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
    std::string out;
    ASSERT_EQ(varoctl("list", out), 0);
    EXPECT_NE(out.find("[Live adjustments]\nLive adjustments\n  Key gain : 120\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[Inputs]\nInput 1\n  Input 1 source : SDI\n"), std::string::npos);

    EXPECT_EQ(varoctl("set 'Key clip' 40", out), 0);
    EXPECT_EQ(out, "Key clip : 40\n");
    EXPECT_EQ(Direct(5, 1)[0], 40);

    EXPECT_EQ(varoctl("set 'Input 2 source' Stream", out), 0);
    EXPECT_EQ(out, "Input 2 source : Stream\n");
    Bytes rec = Flash(0x4020, 32);
    EXPECT_EQ(rec[0], 2);
    EXPECT_TRUE(PnPBlockSealOk(rec));

    EXPECT_EQ(varoctl("get 'Caption/Caption text'", out), 0);
    EXPECT_EQ(out, "Caption text : Studio 1\n");
    EXPECT_EQ(varoctl("get 'Caption text'", out), 64);  // two settings carry the name
    EXPECT_EQ(varoctl("set 'Key clip' 300", out), 64);

    EXPECT_EQ(varoctl("reset", out), 0);
    EXPECT_EQ(Direct(5, 1)[0], 16);
    EXPECT_EQ(Flash(0x4020, 1)[0], 0);
}

// Over Ethernet TCP on a loopback address of its own: a group write, then a device that stops
// answering makes the next change re-read the page instead of writing.
TEST(SettingsSimTcp, GroupWriteAndNotRespondingCheck) {
    TempDir dir;
    LinkLogSetup log{dir};
    const unsigned pid = unsigned(getpid());
    const std::string ip = "127.0." + std::to_string((pid >> 8) & 0xFF) + "." + std::to_string(2 + pid % 250);
    const std::string image = dir.File("tcp.img");
    pid_t sim = fork();
    if (sim == 0) {
        std::string exe = BinDir() + "/varosim";
        std::vector<std::string> args{exe, "--tcp", ip, "--image", image, "--model", BinDir() + "/ModelsPnP/HD-OVL.xml"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    ASSERT_GT(sim, 0);
    struct Reap {
        pid_t pid;
        ~Reap() {
            kill(pid, SIGCONT);
            kill(pid, SIGTERM);
            int st;
            waitpid(pid, &st, 0);
        }
    } reap{sim};
    for (int i = 0; i < 300 && !std::filesystem::exists(image); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    CEth1::Install();
    CLinkWaiter waiter;
    CSerial serial;
    CEngineAdapter engine{serial};
    RecordingUi ui;
    COperations ops{engine, ui};
    std::vector<uint8_t> buffer(RDeviceContext::kBufferSize);
    CPnPModel model;
    ASSERT_EQ(model.Load(BinDir() + "/ModelsPnP/HD-OVL.xml"), kPnPLoaded);
    uint32_t ipValue = 0;
    ASSERT_TRUE(IpFromString(ip, ipValue));
    serial.SelectLink(ipValue, kProtoTcp, &waiter, 0, -1, 0);
    RDeviceContext ctx;
    ctx.ops = &ops;
    ctx.engine = &engine;
    ctx.ui = &ui;
    ctx.buffer = buffer.data();
    ctx.bufferSize = buffer.size();
    ctx.model = &model;
    ctx.interfaceChoice = 3;
    ctx.notResponding = [&] { return serial.NotResponding(); };
    auto run = [&] {
        if (ops.Busy()) {
            ASSERT_TRUE(RunOperation(ops, waiter, serial, 20000));
        }
    };

    auto* inputs = static_cast<CPnPSettings*>(model.FindFirst(kPnPSettingsGroup));
    ASSERT_NE(inputs, nullptr);
    CSettingsPage page(ctx, inputs);
    page.Open();
    run();
    ASSERT_TRUE(page.TreeReady());
    int delay4 = -1;
    for (size_t i = 0; i < inputs->nodes.size(); ++i)
        if (inputs->nodes[i]->name == "Input 4 delay (lines)") delay4 = int(i);
    ASSERT_TRUE(page.Select(delay4));
    run();
    page.MoveSlider(77);
    run();
    {
        CSimImage img;
        std::string err;
        ASSERT_TRUE(img.OpenExisting(image, err)) << err;
        Bytes rec(32);
        for (size_t i = 0; i < rec.size(); ++i) rec[i] = img.Flash(0, 0x4060 + uint32_t(i));
        EXPECT_EQ(rec[2], 77);
        EXPECT_EQ(rec[3], 0);
        EXPECT_TRUE(PnPBlockSealOk(rec));
    }
    ASSERT_TRUE(ui.messages.empty());

    // The device falls silent; the link's idle polls notice it.
    kill(sim, SIGSTOP);
    for (int i = 0; i < 100 && !serial.NotResponding(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(serial.NotResponding());
    page.StepUp();
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages[0], "Device link error:\n\nCommuinication error, please check connection cable and try again!");
    EXPECT_FALSE(page.TreeReady());  // opened again, its read running
    kill(sim, SIGCONT);
    run();
    EXPECT_EQ(inputs->nodes[size_t(delay4)]->value, 77);
    serial.DestroyLinks();
}
