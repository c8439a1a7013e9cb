// Hostile traffic on port 9000, both ways: junk sent to varosim must not stop it serving the
// next real command, and a device that answers junk must end every command with the right
// result within the link's own bounded waits.
#include "NetSim.h"
#include "common/TempDir.h"
#include "link/CFrameLink.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/eth/CEth1.h"
#include "../link/LinkTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <thread>

namespace {
sockaddr_in Address(uint32_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = ip;
    return a;
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n, bool noSync = false) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        b = uint8_t(rng());
        if (noSync && b == 0xE2) b = 0x11;  // never a frame start
    }
    return v;
}

struct EngineRun {
    TempDir dir;
    LinkLogSetup log{dir};
    CSerial engine;
    CLinkWaiter waiter;
    EngineRun() { CEth1::Install(); }
    // -1 when the command did not end within the bound.
    int Run(int size, int cmd, uint32_t address, uint8_t* buf) {
        engine.StartCommand(size, cmd, address, buf);
        return waiter.Wait(&engine, 30000).result;
    }
};

// Answers every request on port 9000 of a loopback address with what reply() makes of it:
// a list of datagrams (UDP) or of chunks sent one after the other (TCP).
class JunkDevice {
public:
    using Reply = std::function<std::vector<std::vector<uint8_t>>(const std::vector<uint8_t>& request)>;
    JunkDevice(bool tcp, uint32_t ip, Reply reply) : m_tcp(tcp), m_reply(std::move(reply)) {
        m_fd = ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = Address(ip, 9000);
        m_ok = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && (!tcp || ::listen(m_fd, 4) == 0);
        if (m_ok) m_thread = std::thread([this] { Serve(); });
    }
    ~JunkDevice() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_fd >= 0) ::close(m_fd);
    }
    bool Ok() const { return m_ok; }
    unsigned Requests() const { return m_requests.load(); }

private:
    void Serve() {
        std::vector<int> clients;
        std::vector<uint8_t> buf(70000);
        while (!m_stop) {
            std::vector<pollfd> fds{{m_fd, POLLIN, 0}};
            for (int c : clients) fds.push_back({c, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                if (m_tcp) {
                    int c = ::accept(m_fd, nullptr, nullptr);
                    if (c >= 0) clients.push_back(c);
                } else {
                    sockaddr_in from{};
                    socklen_t len = sizeof from;
                    ssize_t n = ::recvfrom(m_fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
                    if (n >= 0) {
                        ++m_requests;
                        for (const auto& d : m_reply({buf.begin(), buf.begin() + n}))
                            ::sendto(m_fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
                    }
                }
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                int c = fds[i].fd;
                ssize_t n = ::recv(c, buf.data(), buf.size(), 0);
                if (n <= 0) {
                    ::close(c);
                    clients.erase(std::find(clients.begin(), clients.end(), c));
                    break;  // fds no longer line up with clients
                }
                ++m_requests;
                for (const auto& d : m_reply({buf.begin(), buf.begin() + n}))
                    if (::send(c, d.data(), d.size(), MSG_NOSIGNAL) < 0) break;
            }
        }
        for (int c : clients) ::close(c);
    }

    bool m_tcp;
    Reply m_reply;
    int m_fd = -1;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned> m_requests{0};
    std::thread m_thread;
};

// The point-B status request as the link sends it.
std::vector<uint8_t> StatusRequest() {
    struct Capture : IPortIO {
        std::vector<uint8_t> frame;
        bool PortWriteData(const uint8_t* d, int n) override {
            frame.assign(d, d + n);
            return true;
        }
        bool PortReadData(uint8_t*, int) override { return false; }
    } port;
    CFrameLink f(LinkDialect::PointB, &port);
    f.Begin(0x09);
    f.PointBTransaction(0, 0, 1);
    return port.frame;
}

// A point-B reply header that matches the request, then data bytes and a CRC that do not.
std::vector<uint8_t> MatchingHeader(const std::vector<uint8_t>& req, uint8_t dataLen) {
    std::vector<uint8_t> r = {0xE2, 0xE4, 0, 0, 0, 0, 0, 0x80, dataLen};
    if (req.size() >= 7) {
        r[4] = req[2];
        r[5] = req[3];
        r[6] = req[6];
    }
    return r;
}
}  // namespace

// varosim serves TCP and UDP on one address; junk of every length arrives first.
TEST(EthHostile, SimulatorKeepsServingAfterJunk) {
    EngineRun run;
    const uint32_t ip = NetSim::NextAddress();
    NetSim sim({"--tcp", IpToString(ip), "--udp", IpToString(ip), "--chip", "S25FL016K"}, run.dir.File("dev.img"));
    ASSERT_TRUE(sim.Ready());
    std::mt19937 rng(42);

    int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(udp, 0);
    sockaddr_in to = Address(ip, 9000);
    for (size_t len : {0, 1, 10, 250, 251, 252, 1500, 65000}) {
        for (int k = 0; k < 4; ++k) {
            std::vector<uint8_t> d = RandomBytes(rng, len);
            // Half of them look like the start of a frame, with a length byte of any value.
            if (k >= 2 && len >= 9) {
                d[0] = 0xE2;
                d[1] = 0xE4;
                d[8] = uint8_t(k == 2 ? 240 : 255);
            }
            EXPECT_EQ(::sendto(udp, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to), ssize_t(len));
        }
    }
    ::close(udp);

    // TCP: a stream of garbage, a half frame left hanging, and a half frame with a hang-up;
    // the first two connections stay open while the real commands run.
    std::vector<int> held;
    for (int kind = 0; kind < 3; ++kind) {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(s, 0);
        ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        std::vector<uint8_t> d;
        if (kind == 0) d = RandomBytes(rng, 100000);
        else d = {0xE2, 0xE4, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 240, 1, 2, 3, 4};
        size_t sent = 0;
        while (sent < d.size()) {
            ssize_t n = ::send(s, d.data() + sent, d.size() - sent, MSG_NOSIGNAL);
            ASSERT_GT(n, 0);
            sent += size_t(n);
        }
        if (kind == 2) ::close(s);
        else held.push_back(s);
    }

    // A host that keeps sending requests but never reads their replies is dropped once the
    // replies back up; it does not hold up everybody else.
    {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int small = 4096;
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        ::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd p{s, POLLOUT, 0};
        ASSERT_EQ(::poll(&p, 1, 2000), 1);
        std::vector<uint8_t> burst;
        const std::vector<uint8_t> status = StatusRequest();
        ASSERT_FALSE(status.empty());
        for (int i = 0; i < 200; ++i) burst.insert(burst.end(), status.begin(), status.end());
        bool dropped = false;
        for (int i = 0; i < 20000 && !dropped; ++i) {
            if (::send(s, burst.data(), burst.size(), MSG_NOSIGNAL) >= 0) continue;
            if (errno != EAGAIN) {
                dropped = true;
                break;
            }
            p = {s, POLLOUT, 0};
            if (::poll(&p, 1, 5000) != 1) break;  // stuck: the simulator stopped reading for good
            if (p.revents & (POLLERR | POLLHUP)) dropped = true;
        }
        EXPECT_TRUE(dropped);
        ::close(s);
    }

    // Real commands over both transports answer on their first attempt: no wait ran out.
    run.log.Clear();
    for (int proto : {int(kProtoTcp), int(kProtoUdp)}) {
        run.engine.SelectLink(ip, proto, &run.waiter, 0, -1, 0);
        std::vector<uint8_t> data = RandomBytes(rng, 600), back(600, 0);
        ASSERT_EQ(run.Run(600, kCmdEraseWrite, 0x20000 + 0x1000 * uint32_t(proto), data.data()), kLinkOk) << proto;
        ASSERT_EQ(run.Run(600, kCmdRead, 0x20000 + 0x1000 * uint32_t(proto), back.data()), kLinkOk) << proto;
        EXPECT_EQ(back, data) << proto;
    }
    EXPECT_EQ(run.log.Count("no resp"), 0u) << run.log.Log();
    for (int s : held) ::close(s);
}

// The program facing a device that answers junk: every command ends with the result its
// replies deserve, never hangs, never reads past what arrived (the sanitizer build checks).
TEST(EthHostile, DeviceAnsweringJunkEndsEachCommand) {
    using Datagrams = std::vector<std::vector<uint8_t>>;
    auto rng = std::make_shared<std::mt19937>(5);
    struct Case {
        const char* name;
        bool tcp;
        JunkDevice::Reply reply;
        std::vector<int> results;  // acceptable results
    };
    const std::vector<Case> cases = {
        {"empty datagram", false, [](const auto&) { return Datagrams{{}}; }, {kLinkNoReply}},
        {"short junk", false, [rng](const auto&) { return Datagrams{RandomBytes(*rng, 1 + (*rng)() % 200, true)}; },
         {kLinkNoReply}},
        // Only the 256-byte buffer's worth is taken; the rest of the datagram is never read.
        {"oversize datagram", false, [rng](const auto&) { return Datagrams{RandomBytes(*rng, 65000, true)}; },
         {kLinkNoReply}},
        {"junk flood", false,
         [rng](const auto&) {
             Datagrams d;
             for (int i = 0; i < 6; ++i) d.push_back(RandomBytes(*rng, 256, true));
             return d;
         },
         {kLinkBadReply}},
        {"bad CRC", false,
         [](const auto& req) {
             auto r = MatchingHeader(req, 4);
             r.insert(r.end(), {1, 2, 3, 4, 0xAA, 0x55});
             return Datagrams{r};
         },
         {kLinkBadReply}},
        {"truncated reply", false,
         [](const auto& req) {
             auto r = MatchingHeader(req, 240);
             r.resize(20, 0x33);
             return Datagrams{r};
         },
         {kLinkNoReply}},
        {"random datagrams", false, [rng](const auto&) { return Datagrams{RandomBytes(*rng, (*rng)() % 300)}; },
         {kLinkNoReply, kLinkBadReply}},
        {"tcp short junk", true, [rng](const auto&) { return Datagrams{RandomBytes(*rng, 1 + (*rng)() % 200, true)}; },
         {kLinkNoReply}},
        {"tcp junk stream", true, [rng](const auto&) { return Datagrams{RandomBytes(*rng, 8000, true)}; },
         {kLinkBadReply}},
        {"tcp bad CRC", true,
         [](const auto& req) {
             auto r = MatchingHeader(req, 2);
             r.insert(r.end(), {7, 7, 0, 0});
             return Datagrams{r};
         },
         {kLinkBadReply}},
    };
    EngineRun run;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t ip = NetSim::NextAddress();
        JunkDevice dev(c.tcp, ip, c.reply);
        ASSERT_TRUE(dev.Ok());
        run.engine.SelectLink(ip, c.tcp ? kProtoTcp : kProtoUdp, &run.waiter, 0, -1, 0);
        uint8_t buf[300] = {};
        for (int cmd : {int(kCmdRead), int(kCmdEraseWrite), int(kCmdStatus)}) {
            // A silent device costs every attempt's wait: one command shows it.
            const bool silent = std::find(c.results.begin(), c.results.end(), kLinkNoReply) != c.results.end();
            if (cmd != kCmdRead && silent && std::string(c.name) != "empty datagram")
                continue;
            int r = run.Run(cmd == kCmdStatus ? 0 : 300, cmd, 0x1000, buf);
            EXPECT_NE(std::find(c.results.begin(), c.results.end(), r), c.results.end())
                << "command " << cmd << " ended with " << r;
        }
        EXPECT_GT(dev.Requests(), 0u);
        if (c.results == std::vector<int>{kLinkNoReply}) {
            EXPECT_TRUE(run.engine.NotResponding());
        }
    }
}
