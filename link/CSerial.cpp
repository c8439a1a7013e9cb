#include "link/CSerial.h"

#include "app/DebugLog.h"
#include "link/CSerialPort.h"

namespace {
CSerial::EthernetFactory& Factory() {
    static CSerial::EthernetFactory f;
    return f;
}
}  // namespace

void CSerial::SetEthernetFactory(EthernetFactory f) { Factory() = std::move(f); }

CSerial::CSerial() = default;

CSerial::~CSerial() { DestroyLinks(); }

void CSerial::DestroyLinks() {
    m_eth.reset();
    m_232b.reset();
}

void CSerial::SelectLink(uint32_t ip, int protocol, ILinkNotifier* notify, int portIndex, int busAddress,
                         uint32_t localIp) {
    Select(ip, protocol, notify, ComPortPath(portIndex + 1), portIndex, busAddress, localIp);
}

void CSerial::SelectLinkPath(uint32_t ip, int protocol, ILinkNotifier* notify, const std::string& portPath,
                             int busAddress, uint32_t localIp) {
    Select(ip, protocol, notify, portPath, -1, busAddress, localIp);
}

void CSerial::Select(uint32_t ip, int protocol, ILinkNotifier* notify, const std::string& path, int portIndex,
                     int busAddress, uint32_t localIp) {
    if (m_eth && (protocol != m_ethProtocol || ip != m_ethIp || localIp != m_ethLocal || notify != m_ethNotify))
        m_eth.reset();
    if (m_232b && (protocol != kProtoPointB || path != m_232b->PortPath() || notify != m_232b->Notifier()))
        m_232b.reset();
    m_ip = ip;
    m_local = localIp;
    m_notify = notify;
    m_path = path;
    m_portIndex = portIndex;
    m_protocol = protocol;
    m_bus = busAddress;
    if ((protocol == kProtoTcp || protocol == kProtoUdp) && ip != 0 && !m_eth && Factory()) {
        m_eth = Factory()(protocol, ip, localIp, notify);
        m_ethProtocol = protocol;
        m_ethIp = ip;
        m_ethLocal = localIp;
        m_ethNotify = notify;
    }
    if (protocol == kProtoPointB && !m_232b) m_232b = std::make_unique<CSerial232B>(path, portIndex, notify);
}

CPerCommandLink* CSerial::PerCommand() const {
    switch (m_protocol) {
        case kProtoShort1:
        case kProtoShort2: return const_cast<CSerial232*>(&m_232);
        case kProtoBus: return const_cast<CSerial485*>(&m_485);
        case kProtoBusB: return const_cast<CSerial485B*>(&m_485b);
        default: return nullptr;
    }
}

void CSerial::StartCommand(int size, int command, uint32_t address, uint8_t* buffer) {
    DebugLog("CSerial::StartCommand(%d)", command);
    m_command = command;
    m_address = address;
    const uint32_t n = size < 0 ? 0u : uint32_t(size);
    switch (m_protocol) {
        case kProtoShort1:
        case kProtoShort2:
            m_232.SetProtocol2(m_protocol == kProtoShort2);
            m_232.StartCommand(m_notify, m_path, m_bus, command, buffer, address, n);
            break;
        case kProtoBus: m_485.StartCommand(m_notify, m_path, m_bus, command, buffer, address, n); break;
        case kProtoBusB: m_485b.StartCommand(m_notify, m_path, m_bus, command, buffer, address, n); break;
        case kProtoPointB:
            if (m_232b) {
                m_232b->SetVerify(m_verify);
                m_232b->Command(command, buffer, address, n);
            }
            break;
        case kProtoTcp:
        case kProtoUdp:
            if (m_eth) {
                m_eth->SetVerify(m_verify);
                m_eth->Command(command, buffer, address, n);
            }
            break;
        default: break;
    }
}

int CSerial::ErrorKind() const {
    if (auto* l = PerCommand()) return l->ErrorKind();
    if (m_protocol == kProtoPointB && m_232b) return m_232b->ErrorKind();
    if (m_eth) return m_eth->ErrorKind();
    return 0;
}

uint32_t CSerial::ErrorAddress() const {
    if (auto* l = PerCommand()) return l->ErrorAddress();
    if (m_protocol == kProtoPointB && m_232b) return m_232b->ErrorAddress();
    if (m_eth) return m_eth->ErrorAddress();
    return 0;
}

uint32_t CSerial::CommandAddress() const { return m_address; }

int CSerial::CheckTimeout() {
    if (auto* l = PerCommand()) return l->CheckTimeout();
    return 0;
}

bool CSerial::NotResponding() const {
    if (m_protocol == kProtoPointB && m_232b) return m_232b->NotResponding();
    return m_eth ? m_eth->NotResponding() : false;
}
