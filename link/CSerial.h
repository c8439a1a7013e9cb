#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/CLongLivedLink.h"
#include "link/CPerCommandLink.h"
#include "link/CSerial232B.h"
#include "link/LinkDefs.h"

// The command engine: the one door to the device. Keeps the current link, replaces link
// objects when the connection changes, and runs one command at a time on it. Everything here
// is called from the owner's (user-interface) thread; results come through ILinkNotifier.
class CSerial {
public:
    // The Ethernet link lives in its own files; it plugs in here so the engine can make it.
    using EthernetFactory =
        std::function<std::unique_ptr<CLongLivedLink>(int protocol, uint32_t ip, uint32_t localIp, ILinkNotifier*)>;
    static void SetEthernetFactory(EthernetFactory f);

    CSerial();
    ~CSerial();

    // portIndex: the store's `Port` (0-based; COM1 is 0), resolved through section `Ports`.
    void SelectLink(uint32_t ip, int protocol, ILinkNotifier* notify, int portIndex, int busAddress, uint32_t localIp);
    // Same with a port path given directly (varoctl, tests).
    void SelectLinkPath(uint32_t ip, int protocol, ILinkNotifier* notify, const std::string& portPath, int busAddress,
                        uint32_t localIp);
    void SetVerify(bool on) { m_verify = on; }
    bool Verify() const { return m_verify; }

    // Returns at once. Buffers: reads fill it, writes take from it; a scan needs 255 bytes and
    // buffer[0] cleared; the bus-address write takes buffer[0]. Dropped (no completion) on
    // protocols 5 to 7 without their link object.
    void StartCommand(int size, int command, uint32_t address, uint8_t* buffer);

    int ErrorKind() const;
    uint32_t ErrorAddress() const;
    uint32_t CommandAddress() const;
    int CommandCode() const { return m_command; }
    // The per-command links' watchdog, called once a second while an operation runs.
    int CheckTimeout();
    bool NotResponding() const;
    // Destroys the long-lived link objects (the main window closing).
    void DestroyLinks();

    int Protocol() const { return m_protocol; }
    CSerial232B* Serial232B() const { return m_232b.get(); }
    CLongLivedLink* Ethernet() const { return m_eth.get(); }

private:
    void Select(uint32_t ip, int protocol, ILinkNotifier* notify, const std::string& path, int portIndex,
                int busAddress, uint32_t localIp);
    CPerCommandLink* PerCommand() const;

    int m_protocol = 0;
    ILinkNotifier* m_notify = nullptr;
    int m_portIndex = -1;
    std::string m_path;
    int m_bus = -1;
    uint32_t m_ip = 0, m_local = 0;
    bool m_verify = false;
    int m_command = 0;
    uint32_t m_address = 0;

    CSerial232 m_232;
    CSerial485 m_485;
    CSerial485B m_485b;
    std::unique_ptr<CSerial232B> m_232b;
    std::unique_ptr<CLongLivedLink> m_eth;
    int m_ethProtocol = 0;
    uint32_t m_ethIp = 0, m_ethLocal = 0;
    ILinkNotifier* m_ethNotify = nullptr;
};
