#include "lanora/protocol/ModuleExchange.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
using Clock = std::chrono::steady_clock;

sockaddr_in Addr(uint32_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = ip;  // our uint32 holds the wire bytes in memory order
    return a;
}

// One UDP socket bound to ip:port with broadcast and address reuse, non-blocking; -1 on failure.
int OpenSocket(uint32_t ip, uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    sockaddr_in a = Addr(ip, port);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct RSocketPair {
    int fd[2] = {-1, -1};
    ~RSocketPair() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void Drop(int i) {
        if (fd[i] >= 0) ::close(fd[i]);
        fd[i] = -1;
    }
    bool Any() const { return fd[0] >= 0 || fd[1] >= 0; }
};

constexpr uint16_t kPorts[2] = {kModulePortA, kModulePortB};

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Waits up to waitMs for a datagram on either socket and hands each one over. A socket whose
// receive fails is dropped. Returns when the callback says stop (true) or time runs out.
template <class F>
bool ReceiveUntil(RSocketPair& s, Clock::time_point deadline, int pollMs, F&& onDatagram) {
    uint8_t buf[kReceiveSize + 500];
    while (s.Any()) {
        int left = MsLeft(deadline);
        if (left <= 0) break;
        pollfd p[2];
        nfds_t n = 0;
        int which[2];
        for (int i = 0; i < 2; ++i)
            if (s.fd[i] >= 0) {
                p[n] = {s.fd[i], POLLIN, 0};
                which[n++] = i;
            }
        int r = ::poll(p, n, std::min(pollMs, left));
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (nfds_t k = 0; k < n; ++k) {
            if (!(p[k].revents & (POLLIN | POLLERR | POLLHUP))) continue;
            ssize_t len = ::recv(s.fd[which[k]], buf, sizeof buf, 0);
            if (len < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) s.Drop(which[k]);
                continue;
            }
            if (onDatagram(buf, size_t(len))) return true;
        }
    }
    return false;
}
}  // namespace

bool ModuleBroadcast(uint32_t localIp, EModuleMode mode, const std::vector<uint8_t>& request,
                     RBroadcastResult& out, const RModuleTiming& timing) {
    if (localIp == 0 || request.empty()) return false;
    auto start = Clock::now();
    RSocketPair s;
    for (int i = 0; i < 2; ++i) {
        s.fd[i] = OpenSocket(localIp, kPorts[i]);
        if (s.fd[i] < 0) continue;
        sockaddr_in to = Addr(INADDR_BROADCAST, kPorts[i]);
        if (::sendto(s.fd[i], request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
            ssize_t(request.size()))
            s.Drop(i);
    }
    if (mode == EModuleMode::Set || mode == EModuleMode::Blink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timing.settleMs));
        return true;
    }
    RMac wanted{};
    if (request.size() >= 14) std::memcpy(wanted.data(), &request[8], 6);
    auto deadline = start + std::chrono::milliseconds(timing.collectMs);
    bool got = ReceiveUntil(s, deadline, timing.pollMs, [&](const uint8_t* d, size_t len) {
        switch (mode) {
        case EModuleMode::CollectModules: {
            RModuleRecord rec;
            if (ParseModuleRecord(d, len, rec) &&
                std::none_of(out.modules.begin(), out.modules.end(),
                             [&](const RModuleRecord& m) { return m.Mac() == rec.Mac(); }))
                out.modules.push_back(rec);
            return false;
        }
        case EModuleMode::CollectDevices: {
            RDeviceRecord rec;
            if (ParseDeviceRecord(d, len, rec) &&
                std::none_of(out.devices.begin(), out.devices.end(),
                             [&](const RDeviceRecord& m) { return m.Mac() == rec.Mac(); }))
                out.devices.push_back(rec);
            return false;
        }
        case EModuleMode::Passport: return ParsePassport(d, len, &wanted, out.passport);
        case EModuleMode::History:
            // Only the requested page: the duplicate of the previous page (it was asked on both
            // ports) must not end the reading.
            if (len < kHistoryMinBroadcast || !ModuleHasCommand(d, len, ModuleCmd::kHistory) ||
                (request.size() > 14 && d[8] != request[14]))
                return false;
            out.reply.assign(d, d + std::min(len, kHistorySize));
            return true;
        default: return true;
        }
    });
    // The collect modes and the history mode succeed when the time runs out.
    return mode == EModuleMode::Passport ? got : true;
}

bool ModuleUnicast(uint32_t localIp, uint32_t deviceIp, const std::vector<uint8_t>& request, size_t minReply,
                   uint8_t* buf, size_t bufSize, size_t& got, const RModuleTiming& timing,
                   const ModuleReplyFilter& accept) {
    got = 0;
    if (localIp == 0 || deviceIp == 0 || request.empty()) return false;
    auto start = Clock::now();
    RSocketPair s;
    for (int i = 0; i < 2; ++i) {
        s.fd[i] = OpenSocket(localIp, kPorts[i]);
        if (s.fd[i] < 0) continue;
        sockaddr_in to = Addr(deviceIp, kPorts[i]);
        if (::connect(s.fd[i], reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
            ::send(s.fd[i], request.data(), request.size(), 0) != ssize_t(request.size()))
            s.Drop(i);
    }
    auto deadline = start + std::chrono::milliseconds(timing.unicastMs);
    return ReceiveUntil(s, deadline, timing.pollMs, [&](const uint8_t* d, size_t len) {
        if (len < minReply || (accept && !accept(d, len))) return false;
        got = std::min(len, bufSize);
        std::memcpy(buf, d, got);
        return true;
    });
}

std::vector<RModuleInterface> ModuleLocalInterfaces() {
    std::vector<RModuleInterface> list;
    ifaddrs* ifa = nullptr;
    if (::getifaddrs(&ifa) != 0) return list;
    for (ifaddrs* p = ifa; p; p = p->ifa_next) {
        if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET) continue;
        uint32_t ip = reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr;
        uint32_t mask = p->ifa_netmask ? reinterpret_cast<sockaddr_in*>(p->ifa_netmask)->sin_addr.s_addr : 0;
        unsigned first = ip & 0xFF;
        if (ip == 0 || first == 127 || first == 255) continue;
        if (std::any_of(list.begin(), list.end(), [&](const RModuleInterface& i) { return i.ip == ip; })) continue;
        list.push_back({ip, mask, 0});
    }
    ::freeifaddrs(ifa);
    return list;
}

std::vector<RModuleListRecord> ModuleRefresh(uint32_t localIp, const RModuleTiming& timing) {
    RBroadcastResult mods, devs;
    ModuleBroadcast(localIp, EModuleMode::CollectModules, ModuleRequest(ModuleCmd::kHello), mods, timing);
    ModuleBroadcast(localIp, EModuleMode::CollectDevices, ModuleRequest(ModuleCmd::kDeviceList), devs, timing);
    return MergeModuleLists(mods.modules, devs.devices);
}

std::vector<RModuleRecord> ModuleFindDevices(uint32_t localIp, const RModuleTiming& timing) {
    RBroadcastResult r;
    ModuleBroadcast(localIp, EModuleMode::CollectModules, ModuleRequest(ModuleCmd::kList), r, timing);
    std::stable_sort(r.modules.begin(), r.modules.end(), [](const RModuleRecord& a, const RModuleRecord& b) {
        return int32_t(ModuleGetIp(&a.bytes[14])) < int32_t(ModuleGetIp(&b.bytes[14]));
    });
    return r.modules;
}

bool ModuleReadPassport(uint32_t localIp, const RMac* mac, uint32_t deviceIp, RPassportRead& out,
                        const RModuleTiming& timing) {
    out.pages.clear();
    if (mac) {
        RBroadcastResult r;
        if (!ModuleBroadcast(localIp, EModuleMode::Passport, ModuleRequest(ModuleCmd::kGetPassport, mac), r, timing))
            return false;
        out.passport = r.passport;
    } else {
        uint8_t buf[kPassportSize];
        size_t got = 0;
        auto isPassport = [](const uint8_t* d, size_t n) { return ModuleHasCommand(d, n, ModuleCmd::kPassport); };
        if (!ModuleUnicast(localIp, deviceIp, ModuleRequest(ModuleCmd::kGetPassport), kPassportMin, buf,
                           sizeof buf, got, timing, isPassport) ||
            !ParsePassport(buf, got, nullptr, out.passport))
            return false;
    }
    int pages = PassportHistoryPages(out.passport);
    for (int i = 0; i < pages; ++i) {
        RHistoryPage page;
        std::vector<uint8_t> req = ModuleHistoryRequest(mac, i);
        if (mac) {
            RBroadcastResult r;
            ModuleBroadcast(localIp, EModuleMode::History, req, r, timing);
            if (!ParseHistoryPage(r.reply.data(), r.reply.size(), kHistoryMinBroadcast, page)) break;
        } else {
            std::vector<uint8_t> buf(kHistorySize);
            size_t got = 0;
            auto isPage = [i](const uint8_t* d, size_t n) {
                return ModuleHasCommand(d, n, ModuleCmd::kHistory) && n > 8 && d[8] == uint8_t(i);
            };
            if (!ModuleUnicast(localIp, deviceIp, req, kHistoryMinUnicast, buf.data(), buf.size(), got, timing,
                               isPage) ||
                !ParseHistoryPage(buf.data(), got, kHistoryMinUnicast, page))
                break;
        }
        if (page.index != i) break;
        out.pages.push_back(std::move(page));
    }
    return true;
}

// ---- log listener ----

struct CModuleLogListener::RState {
    std::atomic<bool> run{true};
    int wake = -1;
    int fds[2] = {-1, -1};
    Handler handler;
    int waitMs = 1000;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    ~RState() {
        for (int f : fds)
            if (f >= 0) ::close(f);
        if (wake >= 0) ::close(wake);
    }
};

// Name of the interface that carries ip, for the broadcast socket.
std::string ModuleInterfaceOf(uint32_t ip) {
    std::string name;
    ifaddrs* ifa = nullptr;
    if (::getifaddrs(&ifa) != 0) return name;
    for (ifaddrs* p = ifa; p; p = p->ifa_next)
        if (p->ifa_addr && p->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr == ip) {
            name = p->ifa_name;
            break;
        }
    ::freeifaddrs(ifa);
    return name;
}

CModuleLogListener::~CModuleLogListener() { Stop(); }

bool CModuleLogListener::Start(uint32_t localIp, Handler handler, int waitMs) {
    Stop();
    if (localIp == 0) return false;
    auto st = std::make_shared<RState>();
    st->handler = std::move(handler);
    st->waitMs = waitMs;
    st->fds[0] = OpenSocket(localIp, kModuleLogPort);
    if (st->fds[0] < 0) return false;
    // A socket bound to a unicast address does not see broadcasts here; a second one bound to
    // the broadcast address on the same interface does. Optional: without it we still listen.
    std::string ifname = ModuleInterfaceOf(localIp);
    int b = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (b >= 0) {
        int on = 1;
        sockaddr_in a = Addr(INADDR_BROADCAST, kModuleLogPort);
        if (ifname.empty() ||
            ::setsockopt(b, SOL_SOCKET, SO_BINDTODEVICE, ifname.c_str(), socklen_t(ifname.size())) != 0 ||
            ::setsockopt(b, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(b, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(b);
            b = -1;
        }
    }
    st->fds[1] = b;
    st->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_state = st;
    m_thread = std::thread([st] {
        uint8_t buf[kReceiveSize];
        while (st->run) {
            pollfd p[3] = {{st->fds[0], POLLIN, 0}, {st->fds[1], POLLIN, 0}, {st->wake, POLLIN, 0}};
            int r = ::poll(p, 3, st->waitMs);
            if (!st->run) break;
            if (r > 0) {
                for (int i = 0; i < 2; ++i) {
                    if (p[i].fd < 0 || !(p[i].revents & POLLIN)) continue;
                    ssize_t len = ::recv(p[i].fd, buf, sizeof buf, 0);
                    if (len > 18 && ModuleHasCommand(buf, size_t(len), ModuleCmd::kLog) && st->handler)
                        st->handler(buf, size_t(len));
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard<std::mutex> lock(st->m);
        st->done = true;
        st->cv.notify_all();
    });
    return true;
}

void CModuleLogListener::Stop() {
    if (!m_state) return;
    auto st = m_state;
    st->run = false;
    if (st->wake >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t w = ::write(st->wake, &one, sizeof one);
    }
    bool finished;
    {
        std::unique_lock<std::mutex> lock(st->m);
        finished = st->cv.wait_for(lock, std::chrono::milliseconds(2000), [&] { return st->done; });
    }
    // A handler that never returns cannot be killed safely here: the thread keeps its own
    // reference to the state and is left to end on its own.
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
    m_state.reset();
}
