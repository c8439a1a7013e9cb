#include "app/ConfigStore.h"
#include "app/DebugLog.h"
#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "common/TempDir.h"
#include "link/eth/CTCPTransport.h"
#include "link/eth/CUDPTransport.h"
#include "link/eth/LocalInterfaces.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {
const uint32_t kLoop = IpFromOctets(127, 0, 0, 1);

// A loopback socket of the given type on a free port.
int Listener(int type, uint16_t& port) {
    int s = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = kLoop;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    if (type == SOCK_STREAM) ::listen(s, 4);
    return s;
}

struct LogCapture : ::testing::Test {
    TempDir dir;
    std::string saved;
    void SetUp() override {
        saved = AppStore().Path();
        SetProgramFolder(dir.Path());
        SetProgramFileStem("VaroConfig");
        AppStore().SetPath(dir.File("VaroConfig.ini"));
        AppStore().WriteInt("Debug", "Log", 1);
        DebugLogReset();
    }
    void TearDown() override {
        AppStore().SetPath(saved);
        DebugLogReset();
    }
    std::string Log() const { return TempDir::ReadAll(dir.File("VaroConfig.log")); }
};
}  // namespace

TEST_F(LogCapture, TcpNothingListeningFailsTheWriteWithResult3) {
    uint16_t port;
    int s = Listener(SOCK_STREAM, port);
    ::close(s);  // the port is free now: nothing listens there
    CTCPTransport t;
    t.Setup(kLoop, port, kLoop);
    uint8_t frame[11] = {0xE2, 0xE4};
    EXPECT_FALSE(t.WriteData(frame, sizeof frame));
    EXPECT_FALSE(t.IsConnected());
    std::string log = Log();
    EXPECT_NE(log.find("CTCPTransport::Connect(127.0.0.1:" + std::to_string(port) + ")..."), std::string::npos);
    EXPECT_NE(log.find("CTCPTransport::Connect() = 3"), std::string::npos);
}

TEST_F(LogCapture, TcpPeerCloseIsSeenAndTheNextWriteReconnects) {
    uint16_t port;
    int ls = Listener(SOCK_STREAM, port);
    CTCPTransport t;
    t.Setup(kLoop, port, kLoop);
    uint8_t out[4] = {1, 2, 3, 4}, in[4] = {};
    ASSERT_TRUE(t.WriteData(out, 4));
    int peer = ::accept(ls, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    uint8_t got[4];
    ASSERT_EQ(::recv(peer, got, 4, MSG_WAITALL), 4);
    ::send(peer, "\x05\x06", 2, 0);
    ::close(peer);
    // Two bytes arrived, then the peer went away: the read fails and the link disconnects.
    EXPECT_FALSE(t.ReadData(4, in));
    EXPECT_FALSE(t.IsConnected());
    EXPECT_NE(Log().find("CTCPTransport::ReadData(): CLOSED!"), std::string::npos);
    EXPECT_NE(Log().find("CTCPTransport::Disconnect(127.0.0.1:"), std::string::npos);

    ASSERT_TRUE(t.WriteData(out, 4));
    peer = ::accept(ls, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(::recv(peer, got, 4, MSG_WAITALL), 4);
    ::send(peer, "\x0A\x0B\x0C\x0D", 4, 0);
    EXPECT_TRUE(t.ReadData(4, in));
    EXPECT_EQ(in[3], 0x0D);
    ::close(peer);
    ::close(ls);
}

TEST_F(LogCapture, TcpSilentPeerTimesOut) {
    uint16_t port;
    int ls = Listener(SOCK_STREAM, port);
    CTCPTransport t;
    t.Setup(kLoop, port, kLoop);
    t.waitMs = 50;
    uint8_t b[1] = {0}, in[1];
    ASSERT_TRUE(t.WriteData(b, 1));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(t.ReadData(1, in));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_NE(Log().find("CTCPTransport::ReadData(): NO RESPONSE!"), std::string::npos);
    ::close(ls);
}

TEST(UdpTransport, LateReplyToAnEarlierRequestIsDiscarded) {
    uint16_t port;
    int dev = Listener(SOCK_DGRAM, port);
    CUDPTransport t;
    t.Setup(kLoop, port, kLoop);
    t.waitMs = 100;
    uint8_t req1[3] = {1, 1, 1}, req2[3] = {2, 2, 2};
    ASSERT_TRUE(t.WriteData(req1, 3));
    sockaddr_in from{};
    socklen_t flen = sizeof from;
    uint8_t got[16];
    ASSERT_EQ(::recvfrom(dev, got, sizeof got, 0, reinterpret_cast<sockaddr*>(&from), &flen), 3);
    uint8_t in[4];
    EXPECT_FALSE(t.ReadData(4, in));  // the device is late

    // The late reply arrives, then the next request goes out and gets its own reply.
    ::sendto(dev, "OLD!", 4, 0, reinterpret_cast<sockaddr*>(&from), flen);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(t.WriteData(req2, 3));
    ASSERT_EQ(::recv(dev, got, sizeof got, 0), 3);
    EXPECT_EQ(got[0], 2);
    ::sendto(dev, "NEW!", 4, 0, reinterpret_cast<sockaddr*>(&from), flen);
    ASSERT_TRUE(t.ReadData(4, in));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(in), 4), "NEW!");
    ::close(dev);
}

TEST(UdpTransport, ReadsFramePiecesFromOneDatagramAndCapsOversizedOnes) {
    uint16_t port;
    int dev = Listener(SOCK_DGRAM, port);
    CUDPTransport t;
    t.Setup(kLoop, port, kLoop);
    t.waitMs = 200;
    uint8_t req[1] = {9};
    ASSERT_TRUE(t.WriteData(req, 1));
    sockaddr_in from{};
    socklen_t flen = sizeof from;
    uint8_t got[4];
    ASSERT_EQ(::recvfrom(dev, got, sizeof got, 0, reinterpret_cast<sockaddr*>(&from), &flen), 1);
    // 300 bytes: only the first 256 are ever seen.
    std::string big(300, 'x');
    for (int i = 0; i < 300; ++i) big[size_t(i)] = char(i);
    ::sendto(dev, big.data(), big.size(), 0, reinterpret_cast<sockaddr*>(&from), flen);
    uint8_t a[9], b[247], c[1];
    ASSERT_TRUE(t.ReadData(9, a));
    ASSERT_TRUE(t.ReadData(247, b));
    EXPECT_EQ(b[246], 255);
    EXPECT_FALSE(t.ReadData(1, c));
    ::close(dev);
}

TEST(LocalInterfaces, LoopbackIsNeverOffered) {
    std::vector<REthernetInterface> list;
    ListLocalInterfaces(list);
    for (const auto& i : list) {
        EXPECT_NE(i.address & 0xFF, 127u) << IpToString(i.address);
        EXPECT_NE(i.address, 0u);
        EXPECT_EQ(i.reserved, 0u);
    }
}
