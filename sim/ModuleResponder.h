#pragma once
#include "lanora/protocol/ModuleProtocol.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The simulated Ethernet module's side of the discovery protocol: answers on UDP 9100 and 9101
// of its address (and the broadcasts arriving on that address's interface), keeps its network
// parameters, records blinks and sends log messages to port 19805.
struct RModuleSimConfig {
    RModulePort main;                 // main.ip is the address the responder binds to
    RMac mac{0x02, 0x56, 0x41, 0x52, 0x4F, 0x01};
    uint16_t family = 0x0101, variant = 0x0001;
    int ports = 1;                    // 1 or 2
    RModulePort second;
    bool passport = true;             // answers "WiZnGpAs"
    bool historyMarkers = false;      // 0x55AB at 290 and 'Z' at 415
    uint8_t pageCountByte = 0;        // byte 416 (defaults to historyPages.size() with markers)
    std::vector<std::string> historyPages;
    std::string identity = "VARO MODULE";  // written into the identity data

    // Faults.
    bool answerPortA = true, answerPortB = true;
    int dropReplies = 0;              // this many replies are swallowed first
    int replyDelayMs = 0;             // every reply goes out this late
    int portBExtraDelayMs = 0;        // replies from 9101 go out this much later still
    bool passportWrongMac = false;
    bool historyWrongIndex = false;
    size_t helloLength = 0;           // nonzero: cut the "TiBbhElO" reply to this length
    size_t passportLength = kPassportSize;

    // Log messages to port 19805.
    int logPeriodMs = 0;              // 0: only when asked
    uint32_t logTarget = 0xFFFFFFFF;  // broadcast unless told otherwise
    std::string logText = "Module running";
};

class CModuleResponder {
public:
    using AddressCallback = std::function<void(const RModulePort& main, const RModulePort& second)>;
    using EventCallback = std::function<void(const std::string& event)>;

    explicit CModuleResponder(RModuleSimConfig cfg);
    virtual ~CModuleResponder();
    CModuleResponder(const CModuleResponder&) = delete;
    CModuleResponder& operator=(const CModuleResponder&) = delete;

    // Binds the sockets and starts the thread; false when the address cannot be bound.
    bool Start();
    void Stop();

    // Called on the responder thread after "TiBbsEtA" changed the addresses (varosim moves its
    // port-9000 listener there).
    void SetAddressCallback(AddressCallback cb);
    // "blink", "set IP MASK GW [IP2 MASK2 GW2]", "log TEXT": one line per thing that happened.
    void SetEventCallback(EventCallback cb);

    int Blinks() const { return m_blinks; }
    int Requests() const { return m_requests; }
    RModulePort Address(int port) const;
    // Sends one "WiZnLoGe" message; target 0 means the configured target.
    bool SendLog(const std::string& text, uint32_t target = 0);

private:
    struct RPending {
        std::chrono::steady_clock::time_point due;
        int port;
        uint32_t toIp;
        uint16_t toPort;
        std::vector<uint8_t> data;
    };
    void Run();
    bool BindUnicast(uint32_t ip, int fds[2]);
    void Handle(int port, bool viaBroadcast, const uint8_t* d, size_t len, uint32_t fromIp, uint16_t fromPort);
    void Reply(int port, uint32_t toIp, uint16_t toPort, std::vector<uint8_t> data);
    void Flush();
    void Event(const std::string& e);
    std::vector<uint8_t> Passport() const;

    RModuleSimConfig m_cfg;
    mutable std::mutex m_lock;  // m_cfg addresses, callbacks
    AddressCallback m_onAddress;
    EventCallback m_onEvent;
    int m_uni[2] = {-1, -1};
    int m_bcast[2] = {-1, -1};
    int m_wake = -1;
    std::atomic<bool> m_run{false};
    std::atomic<int> m_blinks{0};
    std::atomic<int> m_requests{0};
    int m_dropLeft = 0;
    int m_logCount = 0;
    std::deque<RPending> m_pending;
    std::thread m_thread;
};
