// varoctl's module commands against varomodsim, each on its own side of a namespace pair.
#include "lanora/protocol/ModulePassportFile.h"
#include "common/TempDir.h"
#include "modules/ChildProcess.h"
#include "modules/NetNs.h"

#include <gtest/gtest.h>

namespace {
std::string Bin(const char* name) {
    const char* dir = std::getenv("VARO_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}
}  // namespace

class VaroctlModules : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_ns.Ok()) GTEST_SKIP() << "network namespace tests skipped: " << m_ns.Error();
    }
    std::unique_ptr<CChildProcess> Sim(std::vector<std::string> args) {
        std::vector<std::string> argv = {"ip", "netns", "exec", m_ns.Name(1), Bin("varomodsim")};
        argv.insert(argv.end(), args.begin(), args.end());
        auto p = std::make_unique<CChildProcess>(argv);
        EXPECT_TRUE(p->WaitFor("ready", 5000));
        return p;
    }
    std::unique_ptr<CChildProcess> Ctl(std::vector<std::string> args) {
        std::vector<std::string> argv = {"ip", "netns", "exec", m_ns.Name(0), Bin("varoctl"), "--local", "198.18.0.1"};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<CChildProcess>(argv);
    }
    CNetNsPair m_ns;
};

TEST_F(VaroctlModules, ListSetBlinkAndPassport) {
    ASSERT_TRUE(m_ns.AddAddress(1, "198.18.0.3/24"));
    auto a = Sim({"--discovery", "198.18.0.2", "--mac", "02:56:00:00:00:0A", "--family", "0x0201", "--variant", "2"});
    auto b = Sim({"--discovery", "198.18.0.3", "--mac", "02:56:00:00:00:0B", "--ports", "2", "--ip2", "10.1.1.3",
                  "--history", "2"});
    auto list = Ctl({"modules"});
    std::string out = list->ReadRest(8000);
    EXPECT_EQ(list->Wait(), 0);
    EXPECT_NE(out.find("02:56:00:00:00:0A  198.18.0.2"), std::string::npos) << out;
    EXPECT_NE(out.find("Varo CT-7 Caption Titler"), std::string::npos) << out;
    EXPECT_NE(out.find("02:56:00:00:00:0B  198.18.0.3 / 10.1.1.3"), std::string::npos) << out;
    EXPECT_LT(out.find(":0A"), out.find(":0B")) << "sorted by MAC";

    auto bad = Ctl({"setip", "02:56:00:00:00:0A", "10.0.0.0", "255.0.0.0", "10.0.0.1"});
    EXPECT_EQ(bad->Wait(), 64) << "invalid address refused";
    auto set = Ctl({"setip", "02:56:00:00:00:0A", "198.18.0.7", "255.255.255.0", "198.18.0.1"});
    EXPECT_EQ(set->Wait(), 0);
    EXPECT_TRUE(a->WaitFor("set 198.18.0.7 255.255.255.0 198.18.0.1", 2000));
    auto blink = Ctl({"blink", "02:56:00:00:00:0B"});
    EXPECT_EQ(blink->Wait(), 0);
    EXPECT_TRUE(b->WaitFor("blink", 2000));

    TempDir dir;
    auto pass = Ctl({"passport", "02:56:00:00:00:0B", dir.File("p.txt")});
    EXPECT_EQ(pass->Wait(), 0);
    std::string text = TempDir::ReadAll(dir.File("p.txt"));
    EXPECT_EQ(text.rfind("---DEVICEPASSPORT---\n", 0), 0u);
    // Header: version 1, header size 62, data size 418, then the module's address 198.18.0.3.
    EXPECT_EQ(text.substr(21, 32), "010000003E000000A2010000C6120003");
    EXPECT_NE(text.find("---HISTORY PAGE 2---\nHistory page 2: power on, link up\n"), std::string::npos) << text;

    auto none = Ctl({"passport", "198.18.0.99", dir.File("q.txt")});
    EXPECT_EQ(none->Wait(), 3) << "nobody answers at that address";
    EXPECT_FALSE(std::filesystem::exists(dir.File("q.txt")));
}

TEST_F(VaroctlModules, LogPrintsMessagesUntilInterrupted) {
    auto log = Ctl({"log"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto sim = Sim({"--discovery", "198.18.0.2", "--mac", "02:56:00:00:00:0C", "--family", "0x0301", "--variant", "9", "--log-period",
                    "100", "--log-text", "Signal lost"});
    std::string line;
    ASSERT_TRUE(log->WaitFor("Signal lost", 5000, &line));
    EXPECT_NE(line.find(";02:56:00:00:00:0C;Varo TS Test Line Generator;Signal lost #"), std::string::npos) << line;
    EXPECT_EQ(log->Stop(), 0);
}

// varosim with its discovery responder: listed, and a new address takes the device's TCP port
// along with it.
TEST_F(VaroctlModules, VarosimDiscoveryMovesTheDevice) {
    ASSERT_TRUE(m_ns.AddAddress(1, "198.18.0.7/24"));
    TempDir dir;
    auto sim = std::make_unique<CChildProcess>(std::vector<std::string>{
        "ip", "netns", "exec", m_ns.Name(1), Bin("varosim"), "--tcp", "198.18.0.2", "--image", dir.File("dev.img"),
        "--signature", "MODSIM", "--discovery", "198.18.0.2", "--mac", "02:56:00:00:00:0D", "--family", "0x0801",
        "--variant", "2"});
    ASSERT_TRUE(sim->WaitFor("discovery on 198.18.0.2", 5000));
    auto list = Ctl({"modules"});
    std::string out = list->ReadRest(8000);
    EXPECT_EQ(list->Wait(), 0);
    EXPECT_NE(out.find("02:56:00:00:00:0D  198.18.0.2"), std::string::npos) << out;
    EXPECT_NE(out.find("Varo NX-2 Dual Network Bridge"), std::string::npos) << out;

    auto sig = [&](const char* ip) {
        auto p = Ctl({"--link", std::string("tcp:") + ip, "signature"});
        std::string text = p->ReadRest(10000);
        int rc = p->Wait();
        return rc == 0 && text.find("MODSIM") != std::string::npos;
    };
    EXPECT_TRUE(sig("198.18.0.2"));
    auto set = Ctl({"setip", "02:56:00:00:00:0D", "198.18.0.7", "255.255.255.0", "198.18.0.1"});
    EXPECT_EQ(set->Wait(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(sig("198.18.0.7")) << "the TCP listener moved to the new address";
}
