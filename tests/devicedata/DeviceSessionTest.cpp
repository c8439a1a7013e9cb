#include "../eth/NetSim.h"
#include "../link/LinkTestSupport.h"
#include "common/TempDir.h"
#include "devicedata/DeviceSession.h"
#include "link/CLinkWaiter.h"
#include "link/eth/CEth1.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {
struct RecordingUi : IOperationUi {
    std::vector<std::string> messages;
    void OperationStateChanged(bool) override {}
    void ShowProgressLine(bool) override {}
    void ProgressChanged() override {}
    void ShowMessage(const std::string& t, MsgIcon) override { messages.push_back(t); }
    bool AskYesNo(const std::string&, MsgIcon, bool) override { return false; }
    void SetTimer(bool) override {}
};

std::string BinDir() {
    const char* b = std::getenv("VARO_BIN_DIR");
    return std::string(b ? b : ".") + "/";
}

struct Session : ::testing::Test {
    TempDir dir;
    LinkLogSetup log{dir};
    RecordingUi ui;
    CLinkWaiter waiter;
    CDeviceSession s{ui, &waiter};
    int models = 0;
    void SetUp() override {
        CEth1::Install();
        s.programFolder = BinDir();
        s.onModelChanged = [this] { ++models; };
    }
    void Run() { RunOperation(s.Ops(), waiter, s.Engine(), 60000); }
};
}  // namespace

TEST_F(Session, EthernetSignatureLoadsTheModelFile) {
    uint32_t ip = NetSim::NextAddress();
    NetSim sim({"--tcp", IpToString(ip), "--model", BinDir() + "ModelsPnP/HD-OVL.xml"}, dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    s.interfaceChoice = CDeviceSession::kTcp;
    s.deviceIp = ip;
    s.Redetect();
    EXPECT_EQ(s.Ops().Kind(), kOpSignature);
    Run();
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
    EXPECT_TRUE(s.signatureMode);
    EXPECT_EQ(s.modelName, "HD-OVL");
    ASSERT_NE(s.model, nullptr);
    EXPECT_FALSE(s.model->groupNames.empty());
    EXPECT_EQ(s.Context().model, s.model.get());
    EXPECT_EQ(s.EffectiveModelName(), "HD-OVL");
    EXPECT_TRUE(s.modelHasFiles);
    EXPECT_FALSE(s.missingFileSeen) << s.firstMissingFile;
}

TEST_F(Session, NoSignatureWarnsAndLoadsTheListedModel) {
    uint32_t ip = NetSim::NextAddress();
    NetSim sim({"--udp", IpToString(ip), "--signature", ""}, dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    s.interfaceChoice = CDeviceSession::kUdp;
    s.deviceIp = ip;
    s.FillModelList();
    ASSERT_FALSE(s.modelList.empty());
    s.listedModelName = s.modelList.front();
    s.Redetect();
    Run();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Plug&Play information not detected!\n\nPlease select your device model from the list.");
    EXPECT_FALSE(s.signatureMode);
    ASSERT_NE(s.model, nullptr);
    EXPECT_EQ(s.EffectiveModelName(), s.modelList.front());
}

TEST_F(Session, UnknownSignatureAndMissingListedModel) {
    uint32_t ip = NetSim::NextAddress();
    NetSim sim({"--tcp", IpToString(ip), "--signature", "NO-SUCH-MODEL   "}, dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    s.deviceIp = ip;
    s.Redetect();
    Run();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].find("Plug&Play information file for this model [NO-SUCH-MODEL] not found!"), 0u);
    EXPECT_EQ(s.model, nullptr);

    ui.messages.clear();
    s.ChooseListedModel("gone");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].find("Error opening file!"), 0u);
    EXPECT_TRUE(s.listedModelName.empty());
}

TEST_F(Session, SignatureWithAPathFindsNoModelFile) {
    // ModelsOld/VOL-100.xml exists in the program folder; the signature must not reach it.
    ASSERT_TRUE(std::filesystem::exists(BinDir() + "ModelsOld/VOL-100.xml"));
    uint32_t ip = NetSim::NextAddress();
    NetSim sim({"--tcp", IpToString(ip), "--signature", "../ModelsOld/VOL-100"}, dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    s.deviceIp = ip;
    s.Redetect();
    Run();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].find("Plug&Play information file for this model [../ModelsOld/VOL-100] not found!"), 0u)
        << ui.messages[0];
    EXPECT_EQ(s.model, nullptr);
}

TEST_F(Session, EthernetWithoutAddressReadsNothing) {
    s.deviceIp = 0;
    s.Redetect();
    EXPECT_FALSE(s.Ops().Busy());
    EXPECT_EQ(s.model, nullptr);
}

TEST_F(Session, Rs485ScanWithNoDeviceReadsNoSignature) {
    SimProcess sim(dir, {"--dialect", "busb", "--bus-address", "7"});
    ASSERT_TRUE(sim.Ready());
    s.interfaceChoice = CDeviceSession::kRS485;
    s.portPath = sim.Path();
    // Stop the device: nobody answers on the bus.
    sim.Pause();
    s.Redetect();
    EXPECT_EQ(s.Ops().Kind(), kOpBusScan);
    Run();
    sim.Resume();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "No compatible devices found!");
    EXPECT_EQ(s.busAddress, -1);
    EXPECT_FALSE(s.Ops().Busy());
    EXPECT_EQ(log.Count("CSerial::StartCommand(3)"), 0u);
}

TEST_F(Session, Rs485ScanFindsTheDeviceThenReadsItsSignature) {
    SimProcess sim(dir, {"--dialect", "busb", "--bus-address", "7", "--signature", "HD-OVL"});
    ASSERT_TRUE(sim.Ready());
    s.interfaceChoice = CDeviceSession::kRS485;
    s.portPath = sim.Path();
    s.Redetect();
    Run();
    EXPECT_EQ(s.busList, std::vector<int>{7});
    EXPECT_EQ(s.busAddress, 7);
    EXPECT_EQ(s.modelName, "HD-OVL");
}

// A window keeps pages on the model's elements: it must hear of every model change before the
// old model is freed (its pages read their elements when they go: ASan catches a late one),
// and is never told anything else while its pages are stale.
TEST_F(Session, PagesAreDroppedBeforeTheirModel) {
    s.FillModelList();
    ASSERT_GE(s.modelList.size(), 1u);
    const CPnPModel* pagesOf = nullptr;  // the model the "window" built its pages for
    const CPnPBlock* page = nullptr;
    std::string pageName;
    std::vector<std::string> stale;
    s.onModelChanged = [&] {
        if (page) {
            EXPECT_EQ(page->name, pageName);  // the old page is deactivated and deleted
        }
        pagesOf = s.model.get();
        page = pagesOf && !pagesOf->pages.empty() ? pagesOf->pages.front() : nullptr;
        pageName = page ? page->name : "";
    };
    s.onBusListChanged = [&] {
        if (pagesOf != s.model.get()) stale.push_back("bus list");
        if (page) {
            EXPECT_EQ(page->name, pageName);
        }
    };

    for (int round = 0; round < 2; ++round) {
        // A listed model replaced by another one, then a new connection choice.
        s.ChooseListedModel(s.modelList.front());
        s.ChooseListedModel(s.modelList.back());
        ASSERT_NE(s.model, nullptr);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(pagesOf, s.model.get());
        s.interfaceChoice = CDeviceSession::kTcp;
        s.deviceIp = 0;
        s.Redetect();
        EXPECT_EQ(s.model, nullptr);
        EXPECT_EQ(pagesOf, nullptr);
    }
    EXPECT_TRUE(stale.empty()) << stale.front();
}
