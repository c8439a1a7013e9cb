#pragma once
#include <cstddef>
#include <cstdint>

// UDP transport to a device's Ethernet module: one request frame per datagram, replies read
// out of a 256-byte datagram buffer (a frame never exceeds 251 bytes).
class CUDPTransport {
public:
    CUDPTransport() = default;
    ~CUDPTransport();
    CUDPTransport(const CUDPTransport&) = delete;
    CUDPTransport& operator=(const CUDPTransport&) = delete;

    void Setup(uint32_t remoteIp, uint16_t remotePort, uint32_t localIp);
    bool Connect();
    void Disconnect();
    bool IsConnected() const { return m_socket >= 0; }

    // Sends one frame. Whatever is left of earlier replies is thrown away first, so a late
    // reply to an earlier request is never taken for the answer to this one.
    bool WriteData(const uint8_t* data, size_t count);
    // count bytes from the datagram buffer, receiving one datagram when it holds too few.
    bool ReadData(size_t count, uint8_t* buffer);

    int waitMs = 350;

private:
    uint32_t m_remoteIp = 0;
    uint16_t m_remotePort = 9000;
    uint32_t m_localIp = 0;
    int m_socket = -1;
    int m_appliedWaitMs = -1;
    uint8_t m_buffer[256];
    size_t m_count = 0;
};
