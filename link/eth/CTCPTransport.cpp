#include "CTCPTransport.h"

#include "app/DebugLog.h"
#include "app/IpAddress.h"
#include "link/eth/SocketWait.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
bool WaitFor(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (events | POLLERR | POLLHUP));
}
}  // namespace

CTCPTransport::~CTCPTransport() {
    if (m_socket >= 0) ::close(m_socket);
}

void CTCPTransport::Setup(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp) {
    m_remoteIp = remoteIp;
    m_remotePort = remotePort;
    // A device on this computer (a simulator on 127.x.x.x) is not reachable from an outside
    // interface's address, and the local list never offers loopback: let the system choose.
    m_localIp = (remoteIp & 0xFF) == 127 ? 0 : localIp;
}

int CTCPTransport::Connect() {
    std::string ip = IpToString(m_remoteIp);
    DebugLog("CTCPTransport::Connect(%s:%d)...", ip.c_str(), int(m_remotePort));
    int result = 0;
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        result = 1;
    } else {
        sockaddr_in local = SocketAddress(m_localIp, 0);
        if (::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            result = 2;
        } else {
            sockaddr_in remote = SocketAddress(m_remoteIp, m_remotePort);
            int r = ::connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
            if (r != 0) {
                result = 3;
                if (errno == EINPROGRESS && WaitFor(s, POLLOUT, waitMs)) {
                    int err = 0;
                    socklen_t len = sizeof err;
                    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) result = 0;
                }
            }
        }
        if (result != 0) {
            ::close(s);
        } else {
            int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // one small frame per exchange
            ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) & ~O_NONBLOCK);
            m_socket = s;
            m_appliedWaitMs = -1;
        }
    }
    DebugLog("CTCPTransport::Connect() = %d", result);
    return result;
}

void CTCPTransport::Disconnect() {
    if (m_socket < 0) return;
    DebugLog("CTCPTransport::Disconnect(%s:%d)", IpToString(m_remoteIp).c_str(), int(m_remotePort));
    ::close(m_socket);
    m_socket = -1;
    m_rxHead = m_rxCount = 0;
}

bool CTCPTransport::WriteData(const uint8_t* data, size_t count) {
    if (m_socket < 0 && Connect() != 0) return false;
    const int flags = SocketWaitFlags(m_socket, waitMs, m_appliedWaitMs) | MSG_NOSIGNAL;
    size_t done = 0;
    bool ok = true;
    while (done < count) {
        ssize_t n = ::send(m_socket, data + done, count - done, flags);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) DebugLog("CTCPTransport::WriteData(): error: %d", errno);
        ok = false;
        break;
    }
    if (!ok) {
        DebugLog("CTCPTransport::WriteData(): NO RESPONSE!");
        Disconnect();
    }
    return ok;
}

bool CTCPTransport::ReadData(size_t count, uint8_t* buffer) {
    if (m_socket < 0) return false;
    const int flags = SocketWaitFlags(m_socket, waitMs, m_appliedWaitMs);
    size_t done = 0;
    while (done < count) {
        if (m_rxCount > 0) {
            size_t take = std::min(m_rxCount, count - done);
            std::memcpy(buffer + done, m_rx + m_rxHead, take);
            m_rxHead += take;
            m_rxCount -= take;
            done += take;
            continue;
        }
        ssize_t n = ::recv(m_socket, m_rx, sizeof m_rx, flags);
        if (n > 0) {
            m_rxHead = 0;
            m_rxCount = size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            DebugLog("CTCPTransport::ReadData(): CLOSED!");
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            DebugLog("CTCPTransport::ReadData(): NO RESPONSE!");
        } else {
            DebugLog("CTCPTransport::ReadData(): error: %d", errno);
        }
        Disconnect();
        return false;
    }
    return true;
}
