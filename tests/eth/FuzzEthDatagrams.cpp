// Any datagrams, of any length and in any number, as a device's answers to point-B
// transactions over the real UDP transport on loopback: the 256-byte datagram buffer is never
// read or written past what arrived, and a transaction always ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "link/CFrameLink.h"
#include "link/eth/CUDPTransport.h"

namespace {
// The device end: a socket on 127.0.0.1 that the transport talks to.
struct Rig {
    int device = -1;
    CUDPTransport transport;
    Rig() {
        device = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(device, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(device, reinterpret_cast<sockaddr*>(&a), &len);
        transport.Setup(a.sin_addr.s_addr, ntohs(a.sin_port), 0);
        transport.waitMs = 1;  // loopback datagrams are queued before sendto returns
    }
    ~Rig() { ::close(device); }
};

// Each request frame makes the device answer with the next group of datagrams from the input:
// a count byte (0-3), then per datagram a 16-bit length and as many bytes as the input still
// has, the rest of a long datagram filled with a byte pattern.
class DatagramPort : public IPortIO {
public:
    DatagramPort(Rig& rig, const uint8_t* d, size_t n) : m_rig(rig), m_d(d), m_n(n) {}
    bool PortWriteData(const uint8_t* data, int count) override {
        if (count < 0 || !m_rig.transport.WriteData(data, size_t(count))) return false;
        uint8_t req[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        bool got = false;
        while (::recvfrom(m_rig.device, req, sizeof req, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len) >= 0)
            got = true;
        if (!got || m_pos >= m_n) return true;
        const int datagrams = m_d[m_pos++] % 4;
        for (int i = 0; i < datagrams && m_pos + 2 <= m_n; ++i) {
            size_t size = size_t(m_d[m_pos]) | size_t(m_d[m_pos + 1]) << 8;
            m_pos += 2;
            if (size > 9000) size = 9000;
            std::vector<uint8_t> dg(size, 0xE2);
            const size_t take = std::min(size, m_n - m_pos);
            if (take) std::memcpy(dg.data(), m_d + m_pos, take);
            m_pos += take;
            ::sendto(m_rig.device, dg.data(), dg.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
        return true;
    }
    bool PortReadData(uint8_t* data, int count) override {
        return count >= 0 && m_rig.transport.ReadData(size_t(count), data);
    }

private:
    Rig& m_rig;
    const uint8_t* m_d;
    size_t m_n, m_pos = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig rig;
    if (size < 1) return 0;
    DatagramPort port(rig, data + 1, size - 1);
    CFrameLink f(LinkDialect::PointB, &port);
    f.SetRepeatWaitMs(0);
    const int max = f.MaxData();
    f.Begin(0x03);
    f.ReqData()[0] = data[0];
    f.Transaction(0x03, 1, data[0] % (max + 1), 3);
    return 0;
}
