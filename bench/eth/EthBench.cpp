// Ethernet link throughput against varosim, as a ratio against a plain ping-pong in the same run.
//
// For TCP and for UDP: the engine (CSerial with CEth1, command 5) writes 1 MiB to a simulated
// S25FL016K on a loopback address. A recording proxy first notes every exchange of that write
// (request and reply sizes). The baseline then replays the same exchanges, same sizes, in the
// same order, between a plain client and a tiny echo server in a process of its own, the way
// the engine and varosim talk. Reports the median of several rounds of each; goal <= 1.3.
//
// Usage: eth_bench [--rounds N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/IpAddress.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/eth/CEth1.h"
#include "tests/eth/NetSim.h"

namespace {
using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

constexpr uint16_t kPort = 9000;
constexpr int kSize = 1 << 20;

sockaddr_in Address(uint32_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = ip;
    return a;
}
uint32_t Loopback(unsigned n) { return IpFromOctets(127, 90 + unsigned(getpid()) % 100, 7, n); }

struct Exchange {
    size_t request = 0, reply = 0;
};

bool SendAll(int fd, const uint8_t* d, size_t n) {
    while (n) {
        ssize_t w = ::send(fd, d, n, MSG_NOSIGNAL);
        if (w <= 0) return false;
        d += w;
        n -= size_t(w);
    }
    return true;
}
bool RecvAll(int fd, uint8_t* d, size_t n) {
    while (n) {
        ssize_t r = ::recv(fd, d, n, 0);
        if (r <= 0) return false;
        d += r;
        n -= size_t(r);
    }
    return true;
}

// Sits between the engine and varosim and notes the exchanges while recording is on.
class RecordingProxy {
public:
    RecordingProxy(bool tcp, uint32_t listenIp, uint32_t simIp) : m_tcp(tcp), m_simIp(simIp) {
        m_fd = ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = Address(listenIp, kPort);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (tcp && ::listen(m_fd, 2) != 0)) {
            std::perror("proxy bind");
            std::exit(1);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~RecordingProxy() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    std::atomic<bool> recording{false};
    std::vector<Exchange> exchanges;  // read once recording is off and the link idle

private:
    void Note(bool request, size_t n) {
        if (!recording) return;
        if (request && (exchanges.empty() || m_lastReply)) exchanges.push_back({0, 0});
        if (exchanges.empty()) return;
        (request ? exchanges.back().request : exchanges.back().reply) += n;
        m_lastReply = !request;
    }
    void Run() {
        uint8_t buf[70000];
        int client = -1;
        int sim = ::socket(AF_INET, (m_tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
        sockaddr_in simAddr = Address(m_simIp, kPort);
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        if (!m_tcp) ::connect(sim, reinterpret_cast<sockaddr*>(&simAddr), sizeof simAddr);
        while (!m_stop) {
            pollfd fds[2] = {{m_tcp ? (client >= 0 ? client : m_fd) : m_fd, POLLIN, 0}, {sim, POLLIN, 0}};
            if (::poll(fds, 2, 50) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                if (m_tcp && client < 0) {
                    client = ::accept(m_fd, nullptr, nullptr);
                    int one = 1;
                    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    ::close(sim);
                    sim = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                    ::setsockopt(sim, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    ::connect(sim, reinterpret_cast<sockaddr*>(&simAddr), sizeof simAddr);
                    continue;
                }
                ssize_t n = m_tcp ? ::recv(client, buf, sizeof buf, 0)
                                  : ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
                if (n <= 0 && m_tcp) {
                    ::close(client);
                    client = -1;
                    continue;
                }
                if (n > 0) {
                    Note(true, size_t(n));
                    ::send(sim, buf, size_t(n), MSG_NOSIGNAL);
                }
            }
            if (fds[1].revents & POLLIN) {
                ssize_t n = ::recv(sim, buf, sizeof buf, 0);
                if (n > 0) {
                    Note(false, size_t(n));
                    if (m_tcp) SendAll(client, buf, size_t(n));
                    else ::sendto(m_fd, buf, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
                }
            }
        }
        if (client >= 0) ::close(client);
        ::close(sim);
    }

    bool m_tcp;
    uint32_t m_simIp;
    int m_fd = -1;
    bool m_lastReply = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The baseline's device: a child process answering request i with reply i of the script,
// over and over (one TCP connection per round, or datagrams).
pid_t StartEchoServer(bool tcp, uint32_t ip, const std::vector<Exchange>& script) {
    int fd = ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Address(ip, kPort);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (tcp && ::listen(fd, 2) != 0)) {
        std::perror("echo bind");
        std::exit(1);
    }
    pid_t pid = ::fork();
    if (pid != 0) {
        ::close(fd);
        return pid;
    }
    std::vector<uint8_t> in(70000), out(256, 0x5A);
    for (;;) {
        if (tcp) {
            int c = ::accept(fd, nullptr, nullptr);
            if (c < 0) continue;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            for (const auto& e : script)
                if (!RecvAll(c, in.data(), e.request) || !SendAll(c, out.data(), e.reply)) break;
            ::close(c);
        } else {
            for (const auto& e : script) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                if (::recvfrom(fd, in.data(), in.size(), 0, reinterpret_cast<sockaddr*>(&from), &len) < 0) break;
                if (e.reply) ::sendto(fd, out.data(), e.reply, 0, reinterpret_cast<sockaddr*>(&from), len);
            }
        }
    }
}

// One round of the plain ping-pong: seconds.
double PingPong(bool tcp, uint32_t ip, const std::vector<Exchange>& script) {
    int s = ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    int one = 1;
    if (tcp) ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a = Address(ip, kPort);
    std::vector<uint8_t> req(256, 0xA5), rep(70000);
    const auto t0 = Clock::now();
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("ping-pong connect");
        std::exit(1);
    }
    for (const auto& e : script) {
        bool ok = tcp ? SendAll(s, req.data(), e.request) && RecvAll(s, rep.data(), e.reply)
                      : ::send(s, req.data(), e.request, 0) == ssize_t(e.request) &&
                            (e.reply == 0 || ::recv(s, rep.data(), rep.size(), 0) == ssize_t(e.reply));
        if (!ok) {
            std::fprintf(stderr, "ping-pong broke off\n");
            std::exit(1);
        }
    }
    const double t = Seconds(t0);
    ::close(s);
    return t;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Progress answered on the worker itself: what the link costs without the hand-over of each
// progress step to another thread.
class InlineNotifier : public ILinkNotifier {
public:
    int LinkProgress(int) override { return 0; }
    void LinkCompleted(int result, int, bool) override {
        std::lock_guard<std::mutex> l(m_lock);
        m_result = result;
        m_cv.notify_all();
    }
    int Wait() {
        std::unique_lock<std::mutex> l(m_lock);
        m_cv.wait_for(l, std::chrono::seconds(120), [this] { return m_result >= 0; });
        const int r = m_result;
        m_result = -1;
        return r;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    int m_result = -1;
};

struct Engine {
    explicit Engine(bool inlineProgress = false) : m_inline(inlineProgress) {}
    CSerial engine;
    CLinkWaiter waiter;
    InlineNotifier quick;
    // Seconds for one 1 MiB erase-and-write; exits on a link error.
    double Write(uint32_t ip, int proto, std::vector<uint8_t>& data) {
        engine.SelectLink(ip, proto, m_inline ? static_cast<ILinkNotifier*>(&quick) : &waiter, 0, -1, 0);
        const auto t0 = Clock::now();
        engine.StartCommand(kSize, kCmdEraseWrite, 0, data.data());
        const int r = m_inline ? quick.Wait() : waiter.Wait(&engine, 120000).result;
        const double t = Seconds(t0);
        if (r != kLinkOk) {
            std::fprintf(stderr, "engine write over %s ended with %d\n", proto == kProtoTcp ? "TCP" : "UDP", r);
            std::exit(1);
        }
        return t;
    }

private:
    bool m_inline;
};
}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    }
    if (!std::getenv("VARO_BIN_DIR")) ::setenv("VARO_BIN_DIR", VARO_BIN_DIR_DEFAULT, 0);
    ::signal(SIGPIPE, SIG_IGN);
    CEth1::Install();

    char tmpl[] = "/tmp/eth_bench.XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string tmp = tmpl;
    const uint32_t simIp = Loopback(1), proxyIp = Loopback(2), echoIp = Loopback(3);
    NetSim sim({"--tcp", IpToString(simIp), "--udp", IpToString(simIp), "--chip", "S25FL016K"}, tmp + "/dev.img");
    if (!sim.Ready()) {
        std::fprintf(stderr, "varosim did not start\n");
        return 1;
    }
    std::vector<uint8_t> data(kSize);
    std::mt19937 rng(3);
    for (auto& b : data) b = uint8_t(rng());

    std::printf("Ethernet link: 1 MiB erase-and-write to varosim (S25FL016K) on loopback, %d rounds\n", rounds);
    for (int proto : {int(kProtoTcp), int(kProtoUdp)}) {
        const bool tcp = proto == kProtoTcp;
        std::vector<Exchange> script;
        {
            RecordingProxy proxy(tcp, proxyIp, simIp);
            Engine e;
            e.Write(proxyIp, proto, data);  // connects, so no connect lands in the recording
            proxy.recording = true;
            e.Write(proxyIp, proto, data);
            proxy.recording = false;
            script = proxy.exchanges;
        }
        size_t reqBytes = 0, repBytes = 0;
        for (const auto& x : script) {
            reqBytes += x.request;
            repBytes += x.reply;
        }
        pid_t echo = StartEchoServer(tcp, echoIp, script);
        std::vector<double> engineT, inlineT, plainT, ratios, inlineRatios;
        Engine e, q(true);
        e.Write(simIp, proto, data);  // warm-up, connection made
        q.Write(simIp, proto, data);
        for (int r = 0; r < rounds; ++r) {
            engineT.push_back(e.Write(simIp, proto, data));
            inlineT.push_back(q.Write(simIp, proto, data));
            plainT.push_back(PingPong(tcp, echoIp, script));
            ratios.push_back(engineT.back() / plainT.back());
            inlineRatios.push_back(inlineT.back() / plainT.back());
        }
        ::kill(echo, SIGTERM);
        ::waitpid(echo, nullptr, 0);
        std::printf("%s: %zu exchanges, %zu request bytes, %zu reply bytes\n", tcp ? "TCP" : "UDP", script.size(),
                    reqBytes, repBytes);
        std::printf("  ping-pong                          median %.3f s\n", Median(plainT));
        std::printf("  engine, progress to waiting thread median %.3f s  ratio %.2f (per-round median %.2f)\n",
                    Median(engineT), Median(engineT) / Median(plainT), Median(ratios));
        std::printf("  engine, progress answered inline   median %.3f s  ratio %.2f (per-round median %.2f)\n",
                    Median(inlineT), Median(inlineT) / Median(plainT), Median(inlineRatios));
    }
    std::printf("goal: ratio <= 1.30\n");
    sim.Stop();
    std::system(("rm -rf " + tmp).c_str());
    return 0;
}
