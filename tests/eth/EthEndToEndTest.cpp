#include "NetSim.h"
#include "common/TempDir.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/eth/CEth1.h"
#include "../link/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

namespace {
struct EthLink : ::testing::TestWithParam<int> {
    TempDir dir;
    LinkLogSetup log{dir};
    CSerial engine;
    CLinkWaiter waiter;
    uint32_t ip = NetSim::NextAddress();

    static void SetUpTestSuite() { CEth1::Install(); }
    std::vector<std::string> Serve(std::vector<std::string> extra = {}) {
        std::vector<std::string> a = {GetParam() == kProtoTcp ? "--tcp" : "--udp", IpToString(ip)};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    void Select(uint32_t local = 0) { engine.SelectLink(ip, GetParam(), &waiter, 0, -1, local); }
    int Run(int size, int cmd, uint32_t address, uint8_t* buf) {
        engine.StartCommand(size, cmd, address, buf);
        return waiter.Wait(&engine, 60000).result;
    }
};
}  // namespace

TEST_P(EthLink, WritesAndReadsOfEveryShape) {
    NetSim sim(Serve({"--chip", "S25FL016K"}), dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    Select();
    std::mt19937 rng(7);
    struct Shape {
        uint32_t address, size;
    } shapes[] = {
        {0x000000, 10},        // start of a page
        {0x000FFA, 10},        // across a page boundary
        {0x010000 - 100, 700}, // across a 64 KB block
        {0x123456, 4096 + 17}, // several pages, partial head and tail
        {0x000200, 1},         // one byte
        {0xF0000010, 64},      // the direct region
    };
    for (const auto& s : shapes) {
        std::vector<uint8_t> data(s.size), back(s.size, 0);
        for (auto& b : data) b = uint8_t(rng());
        ASSERT_EQ(Run(int(s.size), kCmdEraseWrite, s.address, data.data()), kLinkOk) << std::hex << s.address;
        ASSERT_EQ(Run(int(s.size), kCmdRead, s.address, back.data()), kLinkOk) << std::hex << s.address;
        EXPECT_EQ(back, data) << std::hex << s.address;
    }
    // The signature address reads as a 32-byte text field.
    uint8_t sig[32] = {};
    EXPECT_EQ(Run(32, kCmdRead, 0x80FFFFFF, sig), kLinkOk);
    EXPECT_EQ(Run(0, kCmdClock, 0, nullptr), kLinkOk);
}

TEST_P(EthLink, SilentDeviceSetsNotRespondingThroughKeepAlive) {
    NetSim sim(Serve(), dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    Select();
    uint8_t b[16];
    ASSERT_EQ(Run(16, kCmdRead, 0, b), kLinkOk);
    EXPECT_FALSE(engine.NotResponding());
    auto* link = engine.Ethernet();
    unsigned before = link->KeepAlives();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_GE(link->KeepAlives(), before + 1);  // polls while idle and connected
    sim.Pause();
    for (int i = 0; i < 100 && !engine.NotResponding(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(engine.NotResponding());
}

TEST_P(EthLink, ChangingOnlyTheLocalInterfaceRecreatesTheLink) {
    NetSim sim(Serve(), dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    Select(IpFromOctets(127, 0, 0, 1));
    CLongLivedLink* first = engine.Ethernet();
    ASSERT_NE(first, nullptr);
    engine.SelectLink(ip, GetParam(), &waiter, 0, 5, IpFromOctets(127, 0, 0, 1));  // bus address only
    EXPECT_EQ(engine.Ethernet(), first);
    Select(IpFromOctets(127, 0, 0, 2));
    EXPECT_NE(engine.Ethernet(), nullptr);
    EXPECT_NE(log.Log().find("CEth1::Start(" ), std::string::npos);
    EXPECT_EQ(log.Count("CEth1::Start("), 2u);
    uint8_t b[8];
    EXPECT_EQ(Run(8, kCmdRead, 0, b), kLinkOk);  // bound to the new local address
}

INSTANTIATE_TEST_SUITE_P(Transports, EthLink, ::testing::Values(int(kProtoTcp), int(kProtoUdp)),
                         [](const auto& info) { return info.param == kProtoTcp ? "Tcp" : "Udp"; });

TEST(EthTcp, NothingListeningEndsWithWriteFailure) {
    CEth1::Install();
    TempDir dir;
    LinkLogSetup log{dir};
    CSerial engine;
    CLinkWaiter waiter;
    uint32_t ip = NetSim::NextAddress();  // nobody serves there
    engine.SelectLink(ip, kProtoTcp, &waiter, 0, -1, 0);
    uint8_t b[8];
    engine.StartCommand(8, kCmdRead, 0, b);
    EXPECT_EQ(waiter.Wait(&engine, 60000).result, kLinkWrite);
    size_t attempts = log.Count("CTCPTransport::Connect(" + IpToString(ip) + ":9000)...");
    EXPECT_GE(attempts, 1u);
    EXPECT_EQ(log.Count("CTCPTransport::Connect() = 3"), attempts);
}

TEST(EthTcp, PeerCloseIsLoggedAndTheNextCommandReconnects) {
    CEth1::Install();
    TempDir dir;
    LinkLogSetup log{dir};
    uint32_t ip = NetSim::NextAddress();
    // A 16-byte read of an S25FL sector takes 21 frames: the device hangs up inside the second
    // read; the page retry or the next command connects again.
    NetSim sim({"--tcp", IpToString(ip), "--chip", "S25FL016K", "--close-after", "30"}, dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    CSerial engine;
    CLinkWaiter waiter;
    engine.SelectLink(ip, kProtoTcp, &waiter, 0, -1, 0);
    uint8_t b[16];
    std::vector<int> results;
    for (int i = 0; i < 3; ++i) {
        engine.StartCommand(16, kCmdRead, 0, b);
        results.push_back(waiter.Wait(&engine, 60000).result);
    }
    EXPECT_EQ(results.back(), kLinkOk);
    const size_t closed = log.Count("CTCPTransport::ReadData(): CLOSED!");
    EXPECT_GE(closed, 1u);
    EXPECT_EQ(log.Count("CTCPTransport::Connect() = 0"), closed + 1) << log.Log();
}
