#include "DeviceSearch.h"

#include "lanora/protocol/ModuleExchange.h"

#include <algorithm>

RDeviceList RefillDeviceList(const std::vector<uint32_t>& found, uint32_t previous) {
    RDeviceList out;
    out.entries = found;
    if (previous != 0) {
        auto it = std::find(out.entries.begin(), out.entries.end(), previous);
        if (it != out.entries.end()) {
            out.selected = int(it - out.entries.begin());
        } else {
            out.entries.push_back(previous);
            out.selected = 0;
        }
    }
    if (out.selected < 0 && !out.entries.empty()) out.selected = 0;
    return out;
}

std::vector<uint32_t> FindEthernetDevices(uint32_t localIp, int waitMs) {
    RModuleTiming timing;
    timing.collectMs = waitMs;
    std::vector<uint32_t> ips;
    for (const auto& m : ModuleFindDevices(localIp, timing)) ips.push_back(ModuleGetIp(&m.bytes[14]));
    return ips;
}
