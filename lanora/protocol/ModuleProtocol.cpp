#include "lanora/protocol/ModuleProtocol.h"

#include <algorithm>
#include <cstdio>

bool ModuleHasCommand(const uint8_t* data, size_t len, const char* word) {
    return data && len >= 8 && std::memcmp(data, word, 8) == 0;
}

uint32_t ModuleGetIp(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void ModulePutIp(uint8_t* p, uint32_t ip) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(ip >> (8 * i));
}
uint16_t ModuleGetBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
void ModulePutBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
// Records keep their port counts in host order after receipt (little-endian here).
static uint16_t GetHost16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
static void PutHost16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

bool MacIsZero(const RMac& mac) {
    return std::all_of(mac.begin(), mac.end(), [](uint8_t b) { return b == 0; });
}

std::string MacToText(const RMac& mac) {
    if (MacIsZero(mac)) return {};
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return buf;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool MacFromText(const std::string& text, RMac& mac) {
    if (text.size() != 17) return false;
    RMac m{};
    for (int i = 0; i < 6; ++i) {
        int hi = HexDigit(text[i * 3]), lo = HexDigit(text[i * 3 + 1]);
        if (hi < 0 || lo < 0) return false;
        if (i < 5 && text[i * 3 + 2] != ':' && text[i * 3 + 2] != '-') return false;
        m[i] = uint8_t(hi * 16 + lo);
    }
    mac = m;
    return true;
}

std::string ModuleIpText(uint32_t ip) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ip & 0xFF, (ip >> 8) & 0xFF, (ip >> 16) & 0xFF, ip >> 24);
    return buf;
}

bool ModuleIpFromText(const std::string& text, uint32_t& ip) {
    uint32_t v = 0;
    size_t pos = 0;
    for (int field = 0; field < 4; ++field) {
        if (field > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t start = pos;
        unsigned n = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3)
            n = n * 10 + unsigned(text[pos++] - '0');
        if (pos == start || n > 255) return false;
        v |= n << (8 * field);
    }
    if (pos != text.size()) return false;
    ip = v;
    return true;
}

static RMac MacAt(const uint8_t* p) {
    RMac m;
    std::memcpy(m.data(), p, 6);
    return m;
}

RMac RModuleListRecord::Mac() const { return MacAt(&bytes[8]); }
RMac RModuleRecord::Mac() const { return MacAt(&bytes[8]); }
RMac RDeviceRecord::Mac() const { return MacAt(&bytes[8]); }
uint16_t RDeviceRecord::FurtherPorts() const { return GetHost16(&bytes[30]); }

RModulePort RModuleListRecord::Port(unsigned index) const {
    // Port 0 sits at 14, further port i at 28 + 12 (i - 1); beyond the record there is nothing.
    size_t off = index == 0 ? 14 : 28 + 12 * size_t(index - 1);
    if (index > kMaxFurtherPorts) return {};
    return {ModuleGetIp(&bytes[off]), ModuleGetIp(&bytes[off + 4]), ModuleGetIp(&bytes[off + 8])};
}
void RModuleListRecord::SetPort(unsigned index, const RModulePort& p) {
    if (index > kMaxFurtherPorts) return;
    size_t off = index == 0 ? 14 : 28 + 12 * size_t(index - 1);
    ModulePutIp(&bytes[off], p.ip);
    ModulePutIp(&bytes[off + 4], p.mask);
    ModulePutIp(&bytes[off + 8], p.gateway);
}
uint16_t RModuleListRecord::FurtherPorts() const { return GetHost16(&bytes[26]); }
uint16_t RModuleListRecord::Family() const { return GetHost16(&bytes[168]); }
uint16_t RModuleListRecord::Variant() const { return GetHost16(&bytes[170]); }
void RModuleListRecord::SetFamily(uint16_t f) { PutHost16(&bytes[168], f); }
void RModuleListRecord::SetVariant(uint16_t v) { PutHost16(&bytes[170], v); }

bool ParseModuleRecord(const uint8_t* data, size_t len, RModuleRecord& out) {
    if (len < kModuleRecordMin || !ModuleHasCommand(data, len, ModuleCmd::kHello)) return false;
    out.bytes.fill(0);
    std::memcpy(out.bytes.data(), data, std::min(len, kModuleRecordSize));
    PutHost16(&out.bytes[26], ModuleGetBE16(&out.bytes[26]));
    return true;
}

bool ParseDeviceRecord(const uint8_t* data, size_t len, RDeviceRecord& out) {
    if (len < kDeviceRecordMin || !ModuleHasCommand(data, len, ModuleCmd::kDeviceHello)) return false;
    out.bytes.fill(0);
    std::memcpy(out.bytes.data(), data, std::min(len, kDeviceRecordSize));
    PutHost16(&out.bytes[30], ModuleGetBE16(&out.bytes[30]));
    return true;
}

bool ParsePassport(const uint8_t* data, size_t len, const RMac* expectMac,
                   std::array<uint8_t, kPassportSize>& out) {
    if (len < kPassportMin || !ModuleHasCommand(data, len, ModuleCmd::kPassport)) return false;
    if (expectMac && std::memcmp(data + 8, expectMac->data(), 6) != 0) return false;
    out.fill(0);
    std::memcpy(out.data(), data, std::min(len, kPassportSize));
    return true;
}

int PassportHistoryPages(const std::array<uint8_t, kPassportSize>& p) {
    if (p[290] != 0xAB || p[291] != 0x55 || p[415] != 'Z') return 0;
    return p[416];
}

bool ParseHistoryPage(const uint8_t* data, size_t len, size_t minLen, RHistoryPage& out) {
    if (len < std::max<size_t>(minLen, 10) || !ModuleHasCommand(data, len, ModuleCmd::kHistory)) return false;
    len = std::min(len, kHistorySize);
    out.index = data[8];
    out.hasText = data[9] == 1;
    // A page without its terminating zero ends where the datagram ends.
    const uint8_t* text = data + 10;
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(text, 0, len - 10));
    out.text.assign(reinterpret_cast<const char*>(text), end ? size_t(end - text) : len - 10);
    return true;
}

bool ParseLogMessage(const uint8_t* data, size_t len, RLogMessage& out) {
    if (len < kLogMessageMin || !ModuleHasCommand(data, len, ModuleCmd::kLog)) return false;
    out.mac = MacAt(data + 8);
    out.family = ModuleGetBE16(data + 14);
    out.variant = ModuleGetBE16(data + 16);
    size_t n = 0;
    while (18 + n < len && data[18 + n] >= 0x20 && data[18 + n] < 0x7F) ++n;
    out.text.assign(reinterpret_cast<const char*>(data + 18), n);
    return true;
}

std::vector<uint8_t> ModuleRequest(const char* word, const RMac* mac) {
    std::vector<uint8_t> r(kModuleRequestSize, 0);
    std::memcpy(r.data(), word, 8);
    if (mac) std::memcpy(&r[8], mac->data(), 6);
    return r;
}

std::vector<uint8_t> ModuleSetRequest(const RMac& mac, const RModulePort& p) {
    auto r = ModuleRequest(ModuleCmd::kSet, &mac);
    ModulePutIp(&r[14], p.ip);
    ModulePutIp(&r[18], p.mask);
    ModulePutIp(&r[22], p.gateway);
    return r;
}

std::vector<uint8_t> ModuleSetRequestExtended(const RModuleListRecord& rec) {
    // The count comes from a received record: never send more entries than the record holds.
    uint16_t n = std::min<uint16_t>(rec.FurtherPorts(), kMaxFurtherPorts);
    std::vector<uint8_t> r(rec.bytes.begin(), rec.bytes.begin() + 28 + 12 * n);
    std::memcpy(r.data(), ModuleCmd::kSet, 8);
    ModulePutBE16(&r[26], n);
    return r;
}

std::vector<uint8_t> ModuleHistoryRequest(const RMac* mac, int page) {
    auto r = ModuleRequest(ModuleCmd::kGetHistory, mac);
    r[14] = uint8_t(page);
    return r;
}

std::vector<RModuleListRecord> MergeModuleLists(const std::vector<RModuleRecord>& modules,
                                                const std::vector<RDeviceRecord>& devices) {
    std::vector<RModuleListRecord> list;
    auto listed = [&list](const RMac& mac) {
        return std::any_of(list.begin(), list.end(), [&](const RModuleListRecord& r) { return r.Mac() == mac; });
    };
    for (const auto& m : modules) {
        if (listed(m.Mac())) continue;
        RModuleListRecord rec;
        std::copy(m.bytes.begin(), m.bytes.end(), rec.bytes.begin());
        for (const auto& d : devices) {
            if (d.Mac() == m.Mac()) {
                rec.SetFamily(d.Family());
                rec.SetVariant(d.Variant());
                break;
            }
        }
        list.push_back(rec);
    }
    for (const auto& d : devices) {
        if (listed(d.Mac())) continue;
        RModuleListRecord rec;
        std::memcpy(rec.bytes.data(), ModuleCmd::kHello, 8);
        std::memcpy(&rec.bytes[8], &d.bytes[8], 18);  // MAC, address, mask, gateway
        PutHost16(&rec.bytes[26], d.FurtherPorts());
        std::memcpy(&rec.bytes[28], &d.bytes[32], 12);  // second port
        rec.SetFamily(d.Family());
        rec.SetVariant(d.Variant());
        list.push_back(rec);
    }
    std::stable_sort(list.begin(), list.end(), [](const RModuleListRecord& a, const RModuleListRecord& b) {
        return std::memcmp(&a.bytes[8], &b.bytes[8], 6) < 0;
    });
    return list;
}

std::string ModuleIpColumn(const RModuleListRecord& rec) {
    switch (rec.FurtherPorts()) {
    case 0: return ModuleIpText(rec.Port(0).ip);
    case 1: return ModuleIpText(rec.Port(0).ip) + " / " + ModuleIpText(rec.Port(1).ip);
    default: return {};
    }
}

bool ModuleIpValid(uint32_t ip) {
    unsigned first = ip & 0xFF, last = ip >> 24;
    return first >= 1 && first <= 223 && first != 127 && last >= 1 && last <= 254;
}

uint16_t ModuleCrc16(const uint8_t* data, size_t len) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < len; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}
