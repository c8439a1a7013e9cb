#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Module discovery and management protocol: UDP 9100/9101 for requests and replies, 19805 for
// the modules' log messages. Every message starts with an 8-character command word.
// This library is shared by Lanora, varoctl and the configuration program's search, and links
// nothing else of the system. IPv4 addresses here are uint32 with the first octet in the low byte
// (the wire order read as a little-endian integer).

constexpr uint16_t kModulePortA = 9100;
constexpr uint16_t kModulePortB = 9101;
constexpr uint16_t kModuleLogPort = 19805;

constexpr size_t kModuleRequestSize = 26;
constexpr size_t kModuleRecordSize = 168;   // stored "TiBbhElO" reply
constexpr size_t kModuleRecordMin = 26;
constexpr size_t kDeviceRecordSize = 172;   // stored "WiZnHeLo" reply
constexpr size_t kDeviceRecordMin = 30;
constexpr size_t kPassportSize = 418;       // stored "WiZnPaSs" reply
constexpr size_t kPassportMin = 290;
constexpr size_t kHistorySize = 1499;       // stored "WiZnHiSt" reply
constexpr size_t kHistoryMinBroadcast = 10;
constexpr size_t kHistoryMinUnicast = 26;
constexpr size_t kLogMessageMin = 19;       // 18 bytes or fewer are ignored
constexpr size_t kReceiveSize = 1024;
// Further ports a 168-byte record can hold: (168 - 28) / 12.
constexpr unsigned kMaxFurtherPorts = (kModuleRecordSize - 28) / 12;

namespace ModuleCmd {
constexpr char kHello[] = "TiBbhElO";
constexpr char kList[] = "TiBblIsT";
constexpr char kDeviceList[] = "WiZnLiSt";
constexpr char kDeviceHello[] = "WiZnHeLo";
constexpr char kSet[] = "TiBbsEtA";
constexpr char kBlink[] = "TiBblInK";
constexpr char kGetPassport[] = "WiZnGpAs";
constexpr char kPassport[] = "WiZnPaSs";
constexpr char kGetHistory[] = "WiZnGhSt";
constexpr char kHistory[] = "WiZnHiSt";
constexpr char kLog[] = "WiZnLoGe";
}  // namespace ModuleCmd

using RMac = std::array<uint8_t, 6>;

// Exact, case-sensitive comparison of the command word; false for anything shorter than 8 bytes.
bool ModuleHasCommand(const uint8_t* data, size_t len, const char* word);

uint32_t ModuleGetIp(const uint8_t* p);  // 4 wire bytes, first octet first
void ModulePutIp(uint8_t* p, uint32_t ip);
uint16_t ModuleGetBE16(const uint8_t* p);
void ModulePutBE16(uint8_t* p, uint16_t v);

std::string MacToText(const RMac& mac);          // "%02X:%02X:..." ; empty for the all-zero MAC
bool MacFromText(const std::string& text, RMac& mac);  // "00:11:22:33:44:55" or with '-'
bool MacIsZero(const RMac& mac);
std::string ModuleIpText(uint32_t ip);           // "%d.%d.%d.%d"
bool ModuleIpFromText(const std::string& text, uint32_t& ip);  // strict dotted decimal

// One network port of a module: address, mask, gateway.
struct RModulePort {
    uint32_t ip = 0, mask = 0, gateway = 0;
    bool operator==(const RModulePort&) const = default;
};

// A row of the module list: the 168-byte "TiBbhElO" record (port count in host order at 26)
// followed by the device family and variant codes in host order (0 when unknown).
struct RModuleListRecord {
    std::array<uint8_t, kDeviceRecordSize> bytes{};

    RMac Mac() const;
    RModulePort Port(unsigned index) const;      // 0 = the main port, 1.. further ports
    void SetPort(unsigned index, const RModulePort& p);
    uint16_t FurtherPorts() const;               // as stored (host order)
    uint16_t Family() const;
    uint16_t Variant() const;
    void SetFamily(uint16_t f);
    void SetVariant(uint16_t v);
};

// Records as they come from the collect modes.
struct RModuleRecord {  // "TiBbhElO", 168 bytes, port count converted to host order
    std::array<uint8_t, kModuleRecordSize> bytes{};
    RMac Mac() const;
};
struct RDeviceRecord {  // "WiZnHeLo", 172 bytes, port count at 30 converted to host order
    std::array<uint8_t, kDeviceRecordSize> bytes{};
    RMac Mac() const;
    uint16_t Family() const { return ModuleGetBE16(&bytes[26]); }
    uint16_t Variant() const { return ModuleGetBE16(&bytes[28]); }
    uint16_t FurtherPorts() const;
};

// Parsing of received datagrams. Each returns false for anything it does not accept and never
// reads beyond len.
bool ParseModuleRecord(const uint8_t* data, size_t len, RModuleRecord& out);
bool ParseDeviceRecord(const uint8_t* data, size_t len, RDeviceRecord& out);
// expectMac null: any MAC (request sent to a known address).
bool ParsePassport(const uint8_t* data, size_t len, const RMac* expectMac, std::array<uint8_t, kPassportSize>& out);
// History pages exist only with both markers; then byte 416 is their count.
int PassportHistoryPages(const std::array<uint8_t, kPassportSize>& passport);

struct RHistoryPage {
    int index = -1;
    bool hasText = false;
    std::string text;  // up to the first zero byte or the end of what arrived
};
bool ParseHistoryPage(const uint8_t* data, size_t len, size_t minLen, RHistoryPage& out);

struct RLogMessage {
    RMac mac{};
    uint16_t family = 0, variant = 0;
    std::string text;  // printable characters up to the first non-printable one
};
bool ParseLogMessage(const uint8_t* data, size_t len, RLogMessage& out);

// Requests.
std::vector<uint8_t> ModuleRequest(const char* word, const RMac* mac = nullptr);
std::vector<uint8_t> ModuleSetRequest(const RMac& mac, const RModulePort& p);
// Extended form: the whole record with its new values, port count big-endian again.
std::vector<uint8_t> ModuleSetRequestExtended(const RModuleListRecord& rec);
std::vector<uint8_t> ModuleHistoryRequest(const RMac* mac, int page);

// Merge of a refresh: module records first, each taking family/variant from a device record
// with the same MAC; then device records whose MAC is not yet listed; sorted by MAC.
std::vector<RModuleListRecord> MergeModuleLists(const std::vector<RModuleRecord>& modules,
                                                const std::vector<RDeviceRecord>& devices);
// The "IP" column: one port: its address; one further port: "a / b"; otherwise empty.
std::string ModuleIpColumn(const RModuleListRecord& rec);

// First octet 1..223 except 127, last octet 1..254.
bool ModuleIpValid(uint32_t ip);

// Device name table: first row whose family matches and whose variant matches or is 0.
const char* ModuleDeviceName(uint16_t family, uint16_t variant);  // nullptr when unknown
size_t ModuleDeviceNameRows();

// CRC-16/MODBUS (init 0xFFFF, reflected polynomial 0xA001).
uint16_t ModuleCrc16(const uint8_t* data, size_t len);
