#include "sim/ModuleResponder.h"

#include "lanora/protocol/ModuleExchange.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {
using Clock = std::chrono::steady_clock;
constexpr uint16_t kPorts[2] = {kModulePortA, kModulePortB};

sockaddr_in Addr(uint32_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = ip;
    return a;
}


int UdpSocket(uint32_t ip, uint16_t port, const std::string& device) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (!device.empty() &&
        ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), socklen_t(device.size())) != 0) {
        ::close(fd);
        return -1;
    }
    sockaddr_in a = Addr(ip, port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void PutPort(std::vector<uint8_t>& v, size_t off, const RModulePort& p) {
    ModulePutIp(&v[off], p.ip);
    ModulePutIp(&v[off + 4], p.mask);
    ModulePutIp(&v[off + 8], p.gateway);
}
RModulePort GetPort(const uint8_t* p) { return {ModuleGetIp(p), ModuleGetIp(p + 4), ModuleGetIp(p + 8)}; }
}  // namespace

CModuleResponder::CModuleResponder(RModuleSimConfig cfg) : m_cfg(std::move(cfg)) {
    m_dropLeft = m_cfg.dropReplies;
}

CModuleResponder::~CModuleResponder() { Stop(); }

void CModuleResponder::SetAddressCallback(AddressCallback cb) {
    std::lock_guard<std::mutex> g(m_lock);
    m_onAddress = std::move(cb);
}
void CModuleResponder::SetEventCallback(EventCallback cb) {
    std::lock_guard<std::mutex> g(m_lock);
    m_onEvent = std::move(cb);
}

RModulePort CModuleResponder::Address(int port) const {
    std::lock_guard<std::mutex> g(m_lock);
    return port == 0 ? m_cfg.main : m_cfg.second;
}

bool CModuleResponder::BindUnicast(uint32_t ip, int fds[2]) {
    for (int i = 0; i < 2; ++i) {
        fds[i] = UdpSocket(ip, kPorts[i], {});
        if (fds[i] < 0) {
            if (i == 1) ::close(fds[0]);
            fds[0] = fds[1] = -1;
            return false;
        }
    }
    return true;
}

bool CModuleResponder::Start() {
    Stop();
    if (!BindUnicast(m_cfg.main.ip, m_uni)) return false;
    // Broadcasts are taken only from the interface that carries our address (all of 127/8 is
    // the loopback's); without one we answer unicast only, never a stranger's network.
    std::string dev = ModuleInterfaceOf(m_cfg.main.ip);
    if (dev.empty() && (m_cfg.main.ip & 0xFF) == 127) dev = "lo";
    for (int i = 0; i < 2 && !dev.empty(); ++i) m_bcast[i] = UdpSocket(INADDR_BROADCAST, kPorts[i], dev);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_run = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CModuleResponder::Stop() {
    if (m_thread.joinable()) {
        m_run = false;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t w = ::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    for (int* f : {&m_uni[0], &m_uni[1], &m_bcast[0], &m_bcast[1], &m_wake}) {
        if (*f >= 0) ::close(*f);
        *f = -1;
    }
    m_pending.clear();
}

void CModuleResponder::Event(const std::string& e) {
    EventCallback cb;
    {
        std::lock_guard<std::mutex> g(m_lock);
        cb = m_onEvent;
    }
    if (cb) cb(e);
}

bool CModuleResponder::SendLog(const std::string& text, uint32_t target) {
    RMac mac;
    uint32_t ip;
    uint16_t family, variant;
    {
        std::lock_guard<std::mutex> g(m_lock);
        mac = m_cfg.mac;
        ip = m_cfg.main.ip;
        family = m_cfg.family;
        variant = m_cfg.variant;
        if (target == 0) target = m_cfg.logTarget;
    }
    std::vector<uint8_t> d(18 + text.size() + 1, 0);
    std::memcpy(d.data(), ModuleCmd::kLog, 8);
    std::memcpy(&d[8], mac.data(), 6);
    ModulePutBE16(&d[14], family);
    ModulePutBE16(&d[16], variant);
    std::memcpy(&d[18], text.data(), text.size());
    int fd = UdpSocket(ip, 0, {});
    if (fd < 0) return false;
    sockaddr_in to = Addr(target, kModuleLogPort);
    bool ok = ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == ssize_t(d.size());
    ::close(fd);
    return ok;
}

std::vector<uint8_t> CModuleResponder::Passport() const {
    std::vector<uint8_t> p(kPassportSize, 0);
    std::memcpy(p.data(), ModuleCmd::kPassport, 8);
    RMac mac = m_cfg.mac;
    if (m_cfg.passportWrongMac) mac[5] ^= 0xFF;
    std::memcpy(&p[8], mac.data(), 6);
    // Identity data: our own layout, the tool does not look into it.
    std::string id = m_cfg.identity;
    std::memcpy(&p[14], id.data(), std::min<size_t>(id.size(), 64));
    ModulePutBE16(&p[80], m_cfg.family);
    ModulePutBE16(&p[82], m_cfg.variant);
    for (size_t i = 84; i < 290; ++i) p[i] = uint8_t(i * 7);
    for (size_t i = 292; i < 415; ++i) p[i] = uint8_t(i * 3);
    if (m_cfg.historyMarkers) {
        p[290] = 0xAB;
        p[291] = 0x55;
        p[415] = 'Z';
    }
    p[416] = m_cfg.pageCountByte ? m_cfg.pageCountByte
                                 : (m_cfg.historyMarkers ? uint8_t(m_cfg.historyPages.size()) : 0);
    p[417] = 0x5C;
    p.resize(std::max(m_cfg.passportLength, size_t(8)));
    return p;
}

void CModuleResponder::Reply(int port, uint32_t toIp, uint16_t toPort, std::vector<uint8_t> data) {
    if ((port == 0 && !m_cfg.answerPortA) || (port == 1 && !m_cfg.answerPortB)) return;
    if (m_dropLeft > 0) {
        --m_dropLeft;
        return;
    }
    int delay = m_cfg.replyDelayMs + (port == 1 ? m_cfg.portBExtraDelayMs : 0);
    RPending p{Clock::now() + std::chrono::milliseconds(delay), port, toIp, toPort, std::move(data)};
    // Keep the queue in time order: Flush sends from the front.
    auto at = std::upper_bound(m_pending.begin(), m_pending.end(), p.due,
                               [](Clock::time_point t, const RPending& q) { return t < q.due; });
    m_pending.insert(at, std::move(p));
}

void CModuleResponder::Flush() {
    auto now = Clock::now();
    while (!m_pending.empty() && m_pending.front().due <= now) {
        const RPending& r = m_pending.front();
        sockaddr_in to = Addr(r.toIp, r.toPort);
        if (m_uni[r.port] >= 0)
            ::sendto(m_uni[r.port], r.data.data(), r.data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        m_pending.pop_front();
    }
}

void CModuleResponder::Handle(int port, bool viaBroadcast, const uint8_t* d, size_t len, uint32_t fromIp,
                              uint16_t fromPort) {
    if (len < 8) return;
    ++m_requests;
    auto forMe = [&] { return len >= 14 && std::memcmp(d + 8, m_cfg.mac.data(), 6) == 0; };
    auto macZero = [&] {
        return len >= 14 && std::all_of(d + 8, d + 14, [](uint8_t b) { return b == 0; });
    };
    RModulePort main, second;
    {
        std::lock_guard<std::mutex> g(m_lock);
        main = m_cfg.main;
        second = m_cfg.second;
    }
    const int further = m_cfg.ports >= 2 ? 1 : 0;

    if (ModuleHasCommand(d, len, ModuleCmd::kHello) || ModuleHasCommand(d, len, ModuleCmd::kList)) {
        std::vector<uint8_t> r(28 + 12 * further, 0);
        std::memcpy(r.data(), ModuleCmd::kHello, 8);
        std::memcpy(&r[8], m_cfg.mac.data(), 6);
        PutPort(r, 14, main);
        ModulePutBE16(&r[26], uint16_t(further));
        if (further) PutPort(r, 28, second);
        if (m_cfg.helloLength) r.resize(m_cfg.helloLength);
        Reply(port, fromIp, fromPort, std::move(r));
    } else if (ModuleHasCommand(d, len, ModuleCmd::kDeviceList)) {
        std::vector<uint8_t> r(44, 0);
        std::memcpy(r.data(), ModuleCmd::kDeviceHello, 8);
        std::memcpy(&r[8], m_cfg.mac.data(), 6);
        PutPort(r, 14, main);
        ModulePutBE16(&r[26], m_cfg.family);
        ModulePutBE16(&r[28], m_cfg.variant);
        ModulePutBE16(&r[30], uint16_t(further));
        if (further) PutPort(r, 32, second);
        Reply(port, fromIp, fromPort, std::move(r));
    } else if (ModuleHasCommand(d, len, ModuleCmd::kSet) && len >= 26 && forMe()) {
        RModulePort newMain = GetPort(d + 14), newSecond = second;
        if (len >= 28) {
            size_t n = ModuleGetBE16(d + 26);
            if (n >= 1 && len >= 28 + 12 * n) newSecond = GetPort(d + 28);
        }
        // Both copies of the request (9100 and 9101) carry the same values; act once.
        if (newMain == main && newSecond == second) return;
        if (newMain.ip != main.ip) {
            int fds[2];
            if (BindUnicast(newMain.ip, fds)) {
                for (int i = 0; i < 2; ++i) {
                    ::close(m_uni[i]);
                    m_uni[i] = fds[i];
                }
            }
        }
        AddressCallback cb;
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_cfg.main = newMain;
            m_cfg.second = newSecond;
            cb = m_onAddress;
        }
        std::string e = "set " + ModuleIpText(newMain.ip) + " " + ModuleIpText(newMain.mask) + " " +
                        ModuleIpText(newMain.gateway);
        if (further)
            e += " " + ModuleIpText(newSecond.ip) + " " + ModuleIpText(newSecond.mask) + " " +
                 ModuleIpText(newSecond.gateway);
        if (cb) cb(newMain, newSecond);
        Event(e);
    } else if (ModuleHasCommand(d, len, ModuleCmd::kBlink) && forMe()) {
        // One blink per request, not per port it arrived on.
        if (port == 0 || !m_cfg.answerPortA) {
            ++m_blinks;
            Event("blink");
        }
    } else if (ModuleHasCommand(d, len, ModuleCmd::kGetPassport) && m_cfg.passport &&
               (forMe() || (!viaBroadcast && macZero()))) {
        Reply(port, fromIp, fromPort, Passport());
    } else if (ModuleHasCommand(d, len, ModuleCmd::kGetHistory) && len >= 15 &&
               (forMe() || (!viaBroadcast && macZero()))) {
        size_t idx = d[14];
        if (idx >= m_cfg.historyPages.size()) return;
        const std::string& text = m_cfg.historyPages[idx];
        std::vector<uint8_t> r(10 + text.size() + 1, 0);
        std::memcpy(r.data(), ModuleCmd::kHistory, 8);
        r[8] = uint8_t(m_cfg.historyWrongIndex ? idx + 1 : idx);
        r[9] = 1;
        std::memcpy(&r[10], text.data(), text.size());
        if (r.size() < 26) r.resize(26, 0);
        Reply(port, fromIp, fromPort, std::move(r));
    }
}

void CModuleResponder::Run() {
    auto nextLog = Clock::now() + std::chrono::milliseconds(m_cfg.logPeriodMs);
    uint8_t buf[2048];
    while (m_run) {
        auto now = Clock::now();
        auto wakeAt = now + std::chrono::milliseconds(500);
        if (!m_pending.empty()) wakeAt = std::min(wakeAt, m_pending.front().due);
        if (m_cfg.logPeriodMs > 0) wakeAt = std::min(wakeAt, nextLog);
        int timeout = int(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count()));
        pollfd p[5] = {{m_uni[0], POLLIN, 0},
                       {m_uni[1], POLLIN, 0},
                       {m_bcast[0], POLLIN, 0},
                       {m_bcast[1], POLLIN, 0},
                       {m_wake, POLLIN, 0}};
        int r = ::poll(p, 5, timeout);
        if (!m_run) break;
        if (r > 0) {
            for (int i = 0; i < 4; ++i) {
                if (p[i].fd < 0 || !(p[i].revents & POLLIN)) continue;
                sockaddr_in from{};
                socklen_t fl = sizeof from;
                ssize_t n = ::recvfrom(p[i].fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
                if (n < 0) continue;
                uint32_t fromIp = from.sin_addr.s_addr;
                // Our own log broadcasts and replies come back on the broadcast sockets: skip.
                if (fromIp == Address(0).ip) continue;
                Handle(i % 2, i >= 2, buf, size_t(n), fromIp, ntohs(from.sin_port));
            }
        }
        if (m_cfg.logPeriodMs > 0 && Clock::now() >= nextLog) {
            nextLog = Clock::now() + std::chrono::milliseconds(m_cfg.logPeriodMs);
            std::string text = m_cfg.logText + " #" + std::to_string(++m_logCount);
            if (SendLog(text)) Event("log " + text);
        }
        Flush();
    }
}
