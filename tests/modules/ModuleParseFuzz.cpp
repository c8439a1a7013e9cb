// Every reply parser of the module protocol on arbitrary datagrams.
#include "lanora/protocol/ModulePassportFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RModuleRecord m;
    RDeviceRecord d;
    std::array<uint8_t, kPassportSize> p;
    RHistoryPage h;
    RLogMessage l;
    std::vector<RModuleRecord> mods;
    std::vector<RDeviceRecord> devs;
    if (ParseModuleRecord(data, size, m)) mods.push_back(m);
    if (ParseDeviceRecord(data, size, d)) devs.push_back(d);
    // Reinterpret the same bytes under the other command words too.
    if (size >= 8) {
        std::vector<uint8_t> copy(data, data + size);
        std::memcpy(copy.data(), ModuleCmd::kHello, 8);
        if (ParseModuleRecord(copy.data(), copy.size(), m)) mods.push_back(m);
        std::memcpy(copy.data(), ModuleCmd::kDeviceHello, 8);
        if (ParseDeviceRecord(copy.data(), copy.size(), d)) devs.push_back(d);
        std::memcpy(copy.data(), ModuleCmd::kHistory, 8);
        ParseHistoryPage(copy.data(), copy.size(), kHistoryMinBroadcast, h);
        std::memcpy(copy.data(), ModuleCmd::kLog, 8);
        ParseLogMessage(copy.data(), copy.size(), l);
        std::memcpy(copy.data(), ModuleCmd::kPassport, 8);
        if (ParsePassport(copy.data(), copy.size(), nullptr, p)) {
            PassportHistoryPages(p);
            PassportFileText(p, 0x0100007F, {h});
        }
    }
    for (const auto& rec : MergeModuleLists(mods, devs)) {
        ModuleIpColumn(rec);
        ModuleSetRequestExtended(rec);
        ModuleDeviceName(rec.Family(), rec.Variant());
    }
    ParseHistoryPage(data, size, kHistoryMinUnicast, h);
    ParseLogMessage(data, size, l);
    return 0;
}
