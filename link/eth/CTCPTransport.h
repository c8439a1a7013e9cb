#pragma once
#include <cstddef>
#include <cstdint>

// TCP byte transport to a device's Ethernet module (port 9000). Connects on the first write,
// keeps the connection across commands and drops it on any error; every wait is 350 ms.
class CTCPTransport {
public:
    CTCPTransport() = default;
    ~CTCPTransport();
    CTCPTransport(const CTCPTransport&) = delete;
    CTCPTransport& operator=(const CTCPTransport&) = delete;

    // Addresses with the first octet in the low byte.
    void Setup(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp);
    // 0 connected, 1 no socket, 2 bind failed, 3 no connection within the wait.
    int Connect();
    void Disconnect();
    bool IsConnected() const { return m_socket >= 0; }

    bool WriteData(const uint8_t* data, size_t count);
    // All count bytes or failure (peer closed, nothing within a wait, error).
    bool ReadData(size_t count, uint8_t* buffer);

    int waitMs = 350;

private:
    uint32_t m_remoteIp = 0;
    uint16_t m_remotePort = 9000;
    uint32_t m_localIp = 0;
    int m_socket = -1;
    int m_appliedWaitMs = -1;
    // What arrived beyond the bytes asked for: the point-B header is read byte by byte.
    uint8_t m_rx[512];
    size_t m_rxHead = 0, m_rxCount = 0;
};
