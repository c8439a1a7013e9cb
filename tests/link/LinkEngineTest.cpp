// The engine's link selection: which link objects survive which change, and dropped commands.
#include <gtest/gtest.h>

#include "LinkTestSupport.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"

namespace {
int g_made = 0, g_alive = 0;

// Stands in for the Ethernet link: a long-lived point-B link over a scripted transport.
class FakeEthernet : public CLongLivedLink {
public:
    FakeEthernet(ILinkNotifier* n) : CLongLivedLink("CEth1") {
        ++g_made;
        ++g_alive;
        SetNotifier(n);
        StartWorker();
    }
    ~FakeEthernet() override {
        StopWorker();
        --g_alive;
    }

protected:
    int EnsureOpen() override { return kLinkOk; }
    bool IsConnected() const override { return false; }
    IPortIO* Port() override { return &m_port; }

private:
    ScriptPort m_port;
};

class LinkEngine : public ::testing::Test {
protected:
    void SetUp() override {
        g_made = g_alive = 0;
        CSerial::SetEthernetFactory([](int, uint32_t, uint32_t, ILinkNotifier* n) {
            return std::unique_ptr<CLongLivedLink>(new FakeEthernet(n));
        });
    }
    void TearDown() override { CSerial::SetEthernetFactory(nullptr); }
    TempDir dir;
    LinkLogSetup log{dir};
    CLinkWaiter waiter, other;
};
}  // namespace

TEST_F(LinkEngine, SelectionKeepsAndReplacesLinkObjects) {
    CSerial engine;
    const uint32_t ip = 0x0100007F, local = 0x0200007F;
    engine.SelectLink(ip, kProtoTcp, &waiter, 0, 1, local);
    EXPECT_EQ(g_made, 1);
    engine.SelectLink(ip, kProtoTcp, &waiter, 0, 9, local);  // bus address only: kept
    EXPECT_EQ(g_made, 1);
    engine.SelectLink(ip, kProtoTcp, &waiter, 3, 9, local);  // serial port only: kept
    EXPECT_EQ(g_made, 1);
    engine.SelectLink(ip, kProtoTcp, &waiter, 3, 9, 0x0300007F);  // local interface: new link
    EXPECT_EQ(g_made, 2);
    EXPECT_EQ(g_alive, 1);
    engine.SelectLink(ip, kProtoUdp, &waiter, 3, 9, 0x0300007F);  // protocol: new link
    EXPECT_EQ(g_made, 3);
    engine.SelectLink(ip, kProtoUdp, &other, 3, 9, 0x0300007F);  // notifier: new link
    EXPECT_EQ(g_made, 4);
    EXPECT_EQ(g_alive, 1);

    // RS-422 next to it: the Ethernet link goes, an RS-422 object comes for the stored port.
    AppStore().WriteString("Ports", "COM4", dir.File("nothing"));
    engine.SelectLink(ip, kProtoPointB, &waiter, 3, 9, 0x0300007F);
    EXPECT_EQ(g_alive, 0);
    ASSERT_NE(engine.Serial232B(), nullptr);
    EXPECT_EQ(engine.Serial232B()->PortPath(), dir.File("nothing"));
    CSerial232B* rs422 = engine.Serial232B();
    engine.SelectLink(ip, kProtoPointB, &waiter, 3, 4, 0);  // bus address, local: kept
    EXPECT_EQ(engine.Serial232B(), rs422);
    engine.SelectLink(ip, kProtoPointB, &waiter, 2, 4, 0);  // another port: new object
    EXPECT_EQ(log.Count("CSerial232B::Start("), 2u);
    EXPECT_EQ(log.Count("CSerial232B::Stop()"), 1u);
    // A port that cannot be opened: result 1.
    engine.SelectLink(ip, kProtoPointB, &waiter, 3, 4, 0);
    uint8_t buf[4];
    engine.StartCommand(4, kCmdRead, 0, buf);
    EXPECT_EQ(waiter.Wait(&engine, 5000).result, kLinkPortOpen);
}

TEST_F(LinkEngine, CommandsWithoutTheirLinkObjectAreDropped) {
    CSerial engine;
    engine.SelectLink(0, kProtoTcp, &waiter, 0, 1, 0);  // no device address: no Ethernet link
    EXPECT_EQ(g_made, 0);
    uint8_t buf[4];
    engine.StartCommand(4, kCmdRead, 0, buf);
    EXPECT_EQ(waiter.Wait(&engine, 700).result, -1);
    EXPECT_EQ(log.Count("CSerial::StartCommand(3)"), 1u);
    // The long-lived link completes the commands it has nothing to do for at once, queued.
    engine.SelectLink(0x0100007F, kProtoTcp, &waiter, 0, 1, 0);
    buf[0] = 0x5A;
    engine.StartCommand(4, kCmdIdentity, 0, buf);
    auto c = waiter.Wait(&engine, 2000);
    EXPECT_EQ(c.result, kLinkOk);
    EXPECT_EQ(buf[0], 0x5A);
    EXPECT_EQ(log.Count("CEth1::Run(): command: 1"), 1u);
    engine.DestroyLinks();
    EXPECT_EQ(g_alive, 0);
}
