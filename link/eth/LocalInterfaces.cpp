#include "LocalInterfaces.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>

bool ListLocalInterfaces(std::vector<REthernetInterface>& out) {
    out.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    std::vector<REthernetInterface> rows;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        REthernetInterface r;
        r.address = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
        r.mask = a->ifa_netmask ? reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr : 0;
        rows.push_back(r);
    }
    ::freeifaddrs(list);
    // The address table came sorted by address.
    std::sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) { return x.address < y.address; });
    for (const auto& r : rows) {
        unsigned first = r.address & 0xFF;
        if (r.address == 0 || first == 127 || first == 255) continue;
        if (std::any_of(out.begin(), out.end(), [&](const auto& o) { return o.address == r.address; })) continue;
        out.push_back(r);
    }
    return !out.empty();
}
