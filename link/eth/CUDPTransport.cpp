#include "CUDPTransport.h"

#include "app/DebugLog.h"
#include "app/IpAddress.h"
#include "link/eth/SocketWait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CUDPTransport::~CUDPTransport() {
    if (m_socket >= 0) ::close(m_socket);
}

void CUDPTransport::Setup(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp) {
    m_remoteIp = remoteIp;
    m_remotePort = remotePort;
    // A device on this computer (a simulator on 127.x.x.x) is not reachable from an outside
    // interface's address, and the local list never offers loopback: let the system choose.
    m_localIp = (remoteIp & 0xFF) == 127 ? 0 : localIp;
}

bool CUDPTransport::Connect() {
    DebugLog("CUDPTransport::Connect(%s:%d)...", IpToString(m_remoteIp).c_str(), int(m_remotePort));
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    int one = 1;
    sockaddr_in local = SocketAddress(m_localIp, 0);
    sockaddr_in remote = SocketAddress(m_remoteIp, m_remotePort);
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0 ||
        ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        // Connected: only that peer's datagrams are received.
        ::connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(s);
        return false;
    }
    m_socket = s;
    m_appliedWaitMs = -1;
    return true;
}

void CUDPTransport::Disconnect() {
    if (m_socket >= 0) ::close(m_socket);
    m_socket = -1;
    m_count = 0;
}

bool CUDPTransport::WriteData(const uint8_t* data, size_t count) {
    m_count = 0;
    if (m_socket < 0 && !Connect()) return false;
    // Late replies to earlier requests still queued in the socket are stale now.
    uint8_t scratch[256];
    while (::recv(m_socket, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {
    }
    const int flags = SocketWaitFlags(m_socket, waitMs, m_appliedWaitMs);
    ssize_t n;
    do {
        n = ::send(m_socket, data, count, flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        DebugLog("CUDPTransport::WriteData(): ERROR %d", errno);
        Disconnect();
        return false;
    }
    return true;
}

bool CUDPTransport::ReadData(size_t count, uint8_t* buffer) {
    if (m_socket < 0 || count > sizeof m_buffer) return false;
    if (m_count < count) {
        const int flags = SocketWaitFlags(m_socket, waitMs, m_appliedWaitMs);
        ssize_t n;
        do {
            n = ::recv(m_socket, m_buffer, sizeof m_buffer, flags);
        } while (n < 0 && errno == EINTR);
        // A new datagram replaces whatever was left of the previous one.
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) m_count = n > 0 ? size_t(n) : 0;
        if (m_count < count) return false;
    }
    std::memcpy(buffer, m_buffer, count);
    std::memmove(m_buffer, m_buffer + count, m_count - count);
    m_count -= count;
    return true;
}
