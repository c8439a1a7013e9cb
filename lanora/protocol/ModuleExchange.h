#pragma once
#include "lanora/protocol/ModuleProtocol.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// The UDP exchanges with the modules. They block the caller for their wait times; only the log
// listener runs a thread of its own.

enum class EModuleMode { CollectModules, CollectDevices, Set, Blink, Passport, History };

struct RModuleTiming {
    int collectMs = 2000;   // broadcast wait for replies
    int settleMs = 200;     // set/blink: time to let the datagrams leave
    int unicastMs = 3000;   // wait for a reply from a known address
    int pollMs = 100;
};

struct RBroadcastResult {
    std::vector<RModuleRecord> modules;
    std::vector<RDeviceRecord> devices;
    std::array<uint8_t, kPassportSize> passport{};
    std::vector<uint8_t> reply;  // history mode: the first "WiZnHiSt" datagram as it arrived
};

// Sends request from localIp:9100 and localIp:9101 to 255.255.255.255 on the same ports and
// gathers what the mode asks for. A local address of 0 sends nothing and fails.
bool ModuleBroadcast(uint32_t localIp, EModuleMode mode, const std::vector<uint8_t>& request,
                     RBroadcastResult& out, const RModuleTiming& timing = {});

// Sends request to deviceIp:9100 and :9101 and takes the first datagram of at least minReply
// bytes from either, at most bufSize of it. With accept given, datagrams it refuses are passed
// over and the wait goes on: a module answers on both ports, and the second answer to the
// previous request can arrive on the sockets of the next one.
using ModuleReplyFilter = std::function<bool(const uint8_t* data, size_t len)>;
bool ModuleUnicast(uint32_t localIp, uint32_t deviceIp, const std::vector<uint8_t>& request, size_t minReply,
                   uint8_t* buf, size_t bufSize, size_t& got, const RModuleTiming& timing = {},
                   const ModuleReplyFilter& accept = nullptr);

// Local IPv4 interfaces for the interface lists: address 0, 127.x and 255.x skipped, no duplicates.
struct RModuleInterface {
    uint32_t ip = 0, mask = 0, reserved = 0;
};
std::vector<RModuleInterface> ModuleLocalInterfaces();
// Name of the local interface that carries ip (empty when none does).
std::string ModuleInterfaceOf(uint32_t ip);

// Refresh as the setup tool does it: module records, then device records, merged and sorted.
std::vector<RModuleListRecord> ModuleRefresh(uint32_t localIp, const RModuleTiming& timing = {});

// The configuration program's search: "TiBblIsT" on both ports, one record per MAC, sorted by
// the address read as a signed little-endian 32-bit integer. Nothing found gives an empty list.
std::vector<RModuleRecord> ModuleFindDevices(uint32_t localIp, const RModuleTiming& timing = {});

// Passport and its history pages, by MAC (broadcast) or from a known address (mac == nullptr).
struct RPassportRead {
    std::array<uint8_t, kPassportSize> passport{};
    std::vector<RHistoryPage> pages;  // pages read before the first failure
};
bool ModuleReadPassport(uint32_t localIp, const RMac* mac, uint32_t deviceIp, RPassportRead& out,
                        const RModuleTiming& timing = {});

// The thread that receives the modules' log messages on port 19805 of the local address (and
// their broadcasts arriving on that address's interface).
class CModuleLogListener {
public:
    using Handler = std::function<void(const uint8_t* data, size_t len)>;
    CModuleLogListener() = default;
    virtual ~CModuleLogListener();
    CModuleLogListener(const CModuleLogListener&) = delete;
    CModuleLogListener& operator=(const CModuleLogListener&) = delete;

    // The handler runs on the listener thread for every accepted "WiZnLoGe" datagram.
    bool Start(uint32_t localIp, Handler handler, int waitMs = 1000);
    // Clears the run flag and waits up to 2000 ms for the thread.
    void Stop();
    bool Running() const { return m_state != nullptr; }

private:
    struct RState;
    std::shared_ptr<RState> m_state;
    std::thread m_thread;
};
