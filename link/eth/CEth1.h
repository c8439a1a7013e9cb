#pragma once
#include "link/CLongLivedLink.h"
#include "link/PortIO.h"
#include "link/eth/CTCPTransport.h"
#include "link/eth/CUDPTransport.h"

#include <atomic>

// The Ethernet link (protocols 6 TCP and 7 UDP): the point-B sequences of the RS-422 link on
// the same long-lived worker, over a socket to port 9000 of the device's module.
class CEth1 : public CLongLivedLink, private IPortIO {
public:
    static constexpr uint16_t kPort = 9000;

    // Logs "CEth1::Start(...)" and starts the worker. port: 9000 except in tests.
    CEth1(int protocol, uint32_t deviceIp, uint32_t localIp, ILinkNotifier* notify, uint16_t port = kPort);
    ~CEth1() override;

    // Makes the command engine create this class for protocols 6 and 7.
    static void Install();

    int Protocol() const { return m_protocol; }
    uint32_t DeviceIp() const { return m_deviceIp; }
    uint32_t LocalIp() const { return m_localIp; }

protected:
    int EnsureOpen() override { return kLinkOk; }  // TCP connects on the first write
    bool IsConnected() const override { return m_connected.load(); }
    void AfterCommand(int result) override;
    void CutOff() override;
    IPortIO* Port() override { return this; }

private:
    bool PortWriteData(const uint8_t* data, int count) override;
    bool PortReadData(uint8_t* data, int count) override;
    void Dump(const char* what, const uint8_t* data, int count);

    int m_protocol;
    uint32_t m_deviceIp, m_localIp;
    bool m_dump = false;
    CTCPTransport m_tcp;
    CUDPTransport m_udp;
    std::atomic<bool> m_connected{false};
};
