#include "CEth1.h"

#include "app/ConfigStore.h"
#include "app/DebugLog.h"
#include "link/CSerial.h"

#include <cstdio>

CEth1::CEth1(int protocol, uint32_t deviceIp, uint32_t localIp, ILinkNotifier* notify, uint16_t port)
    : CLongLivedLink("CEth1"), m_protocol(protocol), m_deviceIp(deviceIp), m_localIp(localIp) {
    DebugLog("CEth1::Start(%08X) @ %08X, protocol = %d", deviceIp, localIp, protocol);
    m_dump = AppStore().ReadInt("Debug", "Serial", 0) != 0;
    m_tcp.Setup(deviceIp, port, localIp);
    m_udp.Setup(deviceIp, port, localIp);
    SetNotifier(notify);
    StartWorker();
}

CEth1::~CEth1() {
    DebugLog("CEth1::Stop()");
    StopWorker();
    m_tcp.Disconnect();
    m_udp.Disconnect();
}

void CEth1::AfterCommand(int) {
    // The transports drop their connection on errors themselves; keep-alives follow it.
    m_connected = m_protocol == 6 ? m_tcp.IsConnected() : m_udp.IsConnected();
}

void CEth1::CutOff() {
    // Every wait is bounded, so the worker ends within a few waits; nothing to cut.
}

void CEth1::Dump(const char* what, const uint8_t* data, int count) {
    for (int i = 0; i < count; i += 16) {
        char line[16 * 3 + 1];
        int len = 0;
        for (int j = i; j < count && j < i + 16; ++j) len += std::snprintf(line + len, sizeof line - size_t(len), "%02X ", data[j]);
        line[len] = 0;
        DebugLog("CEth1::%s() [%s]", what, line);
    }
}

bool CEth1::PortWriteData(const uint8_t* data, int count) {
    if (count < 0) return false;
    if (m_dump) Dump("PortWriteData", data, count);
    bool ok = m_protocol == 6 ? m_tcp.WriteData(data, size_t(count)) : m_udp.WriteData(data, size_t(count));
    m_connected = m_protocol == 6 ? m_tcp.IsConnected() : m_udp.IsConnected();
    return ok;
}

bool CEth1::PortReadData(uint8_t* data, int count) {
    if (count < 0) return false;
    bool ok = m_protocol == 6 ? m_tcp.ReadData(size_t(count), data) : m_udp.ReadData(size_t(count), data);
    m_connected = m_protocol == 6 ? m_tcp.IsConnected() : m_udp.IsConnected();
    if (ok && m_dump) Dump("PortReadData", data, count);
    return ok;
}

void CEth1::Install() {
    CSerial::SetEthernetFactory([](int protocol, uint32_t ip, uint32_t localIp, ILinkNotifier* notify) {
        return std::unique_ptr<CLongLivedLink>(new CEth1(protocol, ip, localIp, notify));
    });
}
