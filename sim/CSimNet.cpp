#include "sim/CSimNet.h"

#include "app/IpAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
constexpr int64_t kStalledMs = 500;  // a client's replies back up this long: it is gone

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

CSimNet::CSimNet(CSimLine& line, const RSimFaults& faults, const RSimNetFaults& netFaults, uint32_t seed)
    : m_line(line), m_faults(faults, seed), m_net(netFaults) {}

CSimNet::~CSimNet() {
    CloseListeners();
    for (auto& c : m_clients) ::close(c->fd);
}

void CSimNet::CloseListeners() {
    if (m_listen >= 0) ::close(m_listen);
    if (m_udp >= 0) ::close(m_udp);
    m_listen = m_udp = -1;
}

bool CSimNet::Bind(uint32_t tcpIp, uint32_t udpIp, std::string& error) {
    int one = 1;
    if (tcpIp) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a = SocketAddress(tcpIp, m_port);
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 8) != 0) {
            error = std::string("cannot listen on TCP port ") + std::to_string(m_port) + ": " + std::strerror(errno);
            return false;
        }
    }
    if (udpIp) {
        m_udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a = SocketAddress(udpIp, m_port);
        ::setsockopt(m_udp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (m_udp < 0 || ::bind(m_udp, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            error = std::string("cannot bind UDP port ") + std::to_string(m_port) + ": " + std::strerror(errno);
            return false;
        }
    }
    m_tcpIp = tcpIp;
    m_udpIp = udpIp;
    return true;
}

bool CSimNet::Open(uint32_t tcpIp, uint32_t udpIp, uint16_t port, std::string& error) {
    m_port = port;
    return Bind(tcpIp, udpIp, error);
}

void CSimNet::Emit(int fd, const std::vector<uint8_t>& bytes, const void* to, unsigned toLen) {
    if (fd >= 0) {
        size_t sent = 0;
        int64_t giveUp = NowMs() + kStalledMs;
        while (sent < bytes.size()) {
            ssize_t w = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (w > 0) {
                sent += size_t(w);
                giveUp = NowMs() + kStalledMs;
            } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
                // A host that never reads its replies would hold up every other client: hang
                // up on it; the poll loop then drops it.
                if (NowMs() >= giveUp) {
                    ::shutdown(fd, SHUT_RDWR);
                    return;
                }
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return;
            }
        }
    } else if (m_udp >= 0) {
        ::sendto(m_udp, bytes.data(), bytes.size(), 0, static_cast<const sockaddr*>(to), toLen);
    }
}

void CSimNet::Serve(const std::vector<uint8_t>& frame, int fd, const void* to, unsigned toLen) {
    ++m_frames;
    if (m_faults.DropRequest()) return;
    std::vector<uint8_t> reply;
    if (!m_line.HandleFrame(frame, NowMs(), reply)) return;
    m_faults.Apply(reply);
    if (m_net.delayMs > 0) {
        Delayed d{NowMs() + m_net.delayMs, fd, reply, {}};
        if (to) d.to.assign(static_cast<const uint8_t*>(to), static_cast<const uint8_t*>(to) + toLen);
        m_delayed.push_back(std::move(d));
        return;
    }
    Emit(fd, reply, to, toLen);
}

void CSimNet::DropClient(size_t i) {
    int fd = m_clients[i]->fd;
    ::close(fd);
    // Delayed replies for a closed connection go nowhere.
    for (auto& d : m_delayed)
        if (d.fd == fd) d.fd = -2;
    m_clients.erase(m_clients.begin() + long(i));
}

void CSimNet::Run(const std::atomic<bool>& stop) {
    uint8_t buf[2048];
    std::vector<uint8_t> frame;
    while (!stop.load()) {
        if (uint32_t to = m_moveTo.exchange(0)) {
            uint32_t tcp = m_tcpIp ? to : 0, udp = m_udpIp ? to : 0;
            CloseListeners();
            std::string err;
            if (!Bind(tcp, udp, err)) CloseListeners();
        }
        std::vector<pollfd> fds;
        if (m_listen >= 0) fds.push_back({m_listen, POLLIN, 0});
        if (m_udp >= 0) fds.push_back({m_udp, POLLIN, 0});
        for (auto& c : m_clients) fds.push_back({c->fd, POLLIN, 0});
        int timeout = 100;
        if (!m_delayed.empty()) timeout = int(std::max<int64_t>(0, std::min<int64_t>(100, m_delayed.front().dueMs - NowMs())));
        ::poll(fds.data(), fds.size(), timeout);

        while (!m_delayed.empty() && m_delayed.front().dueMs <= NowMs()) {
            Delayed d = std::move(m_delayed.front());
            m_delayed.pop_front();
            if (d.fd == -2) continue;
            Emit(d.fd, d.bytes, d.to.empty() ? nullptr : d.to.data(), unsigned(d.to.size()));
        }

        size_t k = 0;
        if (m_listen >= 0) {
            if (fds[k++].revents & POLLIN) {
                int c = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (c >= 0) {
                    int one = 1;
                    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    m_clients.push_back(std::unique_ptr<Client>(new Client{c, CSimFrameAssembler(SimDialect::PointB)}));
                    ++m_connections;
                }
            }
        }
        if (m_udp >= 0) {
            if (fds[k++].revents & POLLIN) {
                sockaddr_in from{};
                socklen_t flen = sizeof from;
                ssize_t n = ::recvfrom(m_udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen);
                if (n > 0) {
                    // One datagram carries whole frames; nothing of it is kept for the next.
                    CSimFrameAssembler a(SimDialect::PointB);
                    a.Feed(buf, size_t(n));
                    while (a.Next(frame)) Serve(frame, -1, &from, flen);
                }
            }
        }
        // Clients: fds[k..] line up with m_clients as they were when polled.
        size_t polledClients = fds.size() - k;
        for (size_t i = 0, ci = 0; i < polledClients && ci < m_clients.size(); ++i) {
            if (!(fds[k + i].revents & (POLLIN | POLLHUP | POLLERR))) {
                ++ci;
                continue;
            }
            Client& c = *m_clients[ci];
            ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                DropClient(ci);
                continue;
            }
            bool closed = false;
            if (n > 0 && c.hangingUp) {
                ++ci;
                continue;
            }
            if (n > 0) {
                c.asm_.Feed(buf, size_t(n));
                while (c.asm_.Next(frame)) {
                    Serve(frame, c.fd, nullptr, 0);
                    if (m_net.closeAfter > 0 && ++c.frames >= unsigned(m_net.closeAfter)) {
                        closed = true;
                        break;
                    }
                }
            }
            if (closed) {
                // A graceful hang-up: closing at once with a request in flight would make the
                // host see a reset instead of the end of the stream. The host closes in turn.
                ::shutdown(c.fd, SHUT_WR);
                c.hangingUp = true;
            }
            ++ci;
        }
    }
}
