#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/CSimFrames.h"

// Faults of the network front end, on top of the line faults (drop, corrupt, stray).
struct RSimNetFaults {
    int delayMs = 0;     // every reply goes out this late (UDP: a late reply)
    int closeAfter = 0;  // TCP: the connection is closed after this many frames (0: never)
};

// The network front end: point-B frames over TCP and UDP on one address, port 9000, the way a
// device's Ethernet module carries them. Several clients may connect; each TCP connection
// has its own frame stream, each UDP datagram is answered to its sender.
class CSimNet {
public:
    CSimNet(CSimLine& line, const RSimFaults& faults, const RSimNetFaults& netFaults, uint32_t seed);
    ~CSimNet();

    // ip: first octet in the low byte. Either may be left out (0 for "no").
    bool Open(uint32_t tcpIp, uint32_t udpIp, uint16_t port, std::string& error);
    // Serves until stop becomes true.
    void Run(const std::atomic<bool>& stop);
    // Moves the listeners to another address (the module was given a new one); thread-safe,
    // carried out by Run().
    void MoveTo(uint32_t ip) { m_moveTo = ip; }

    unsigned Frames() const { return m_frames.load(); }
    unsigned Connections() const { return m_connections.load(); }

private:
    struct Client {
        int fd;
        CSimFrameAssembler asm_;
        unsigned frames = 0;
        bool hangingUp = false;  // FIN sent; what still arrives is thrown away
    };
    struct Delayed {
        int64_t dueMs;
        int fd;  // TCP client, or -1 for UDP
        std::vector<uint8_t> bytes;
        std::vector<uint8_t> to;  // sockaddr for UDP
    };
    bool Bind(uint32_t tcpIp, uint32_t udpIp, std::string& error);
    void CloseListeners();
    void Serve(const std::vector<uint8_t>& frame, int fd, const void* to, unsigned toLen);
    void Emit(int fd, const std::vector<uint8_t>& bytes, const void* to, unsigned toLen);
    void DropClient(size_t i);

    CSimLine& m_line;
    CSimFaultInjector m_faults;
    RSimNetFaults m_net;
    uint16_t m_port = 9000;
    uint32_t m_tcpIp = 0, m_udpIp = 0;
    int m_listen = -1, m_udp = -1;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::deque<Delayed> m_delayed;
    std::atomic<uint32_t> m_moveTo{0};
    std::atomic<unsigned> m_frames{0}, m_connections{0};
};
