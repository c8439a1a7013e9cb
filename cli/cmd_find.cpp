// varoctl find: the main window's "Find" search for Ethernet devices, one address per line in
// the order the "Device IP" list shows them.
#include "Varoctl.h"
#include "app/IpAddress.h"
#include "devicedata/DeviceSearch.h"
#include "link/eth/LocalInterfaces.h"

#include <cstdio>

namespace {
int RunFind(const VaroctlOptions& opts, const std::vector<std::string>& args) {
    if (!args.empty()) return kExitUsage;
    uint32_t local = 0;
    if (!opts.local.empty()) {
        if (!IpFromString(opts.local, local)) {
            std::fprintf(stderr, "varoctl: bad --local address '%s'\n", opts.local.c_str());
            return kExitUsage;
        }
    } else {
        // As the "Local IP" list does: the first interface unless one is chosen.
        std::vector<REthernetInterface> list;
        if (!ListLocalInterfaces(list)) {
            std::fprintf(stderr, "varoctl: no local network interface\n");
            return 1;
        }
        local = list.front().address;
    }
    // Nothing found is no error: the list just stays empty.
    for (uint32_t ip : FindEthernetDevices(local)) std::printf("%s\n", IpToString(ip).c_str());
    return 0;
}

VaroctlRegistrar reg{{"find", "find   ([--local IP])", &RunFind}};
}  // namespace
