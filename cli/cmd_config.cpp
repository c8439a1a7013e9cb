// varoctl config: VaroConfig's configuration store (beside the program, or the user's when the
// program folder is read-only), for scripts and the demo.
#include "Varoctl.h"
#include "app/ConfigStore.h"
#include "app/IpAddress.h"

#include <cstdio>

namespace {
int RunConfig(const VaroctlOptions&, const std::vector<std::string>& a) {
    if (a.size() == 3 && a[0] == "get") {
        std::string v;
        if (!AppStore().Lookup(a[1], a[2], v)) return 1;
        std::printf("%s\n", v.c_str());
        return 0;
    }
    if (a.size() == 4 && a[0] == "set") return AppStore().WriteString(a[1], a[2], a[3]) ? 0 : kExitCantCreate;
    if (a.size() == 4 && a[0] == "set-ip") {
        uint32_t ip = 0;
        if (!IpFromString(a[3], ip)) {
            std::fprintf(stderr, "varoctl: '%s' is not an IPv4 address\n", a[3].c_str());
            return kExitUsage;
        }
        return AppStore().WriteInt(a[1], a[2], IpToStored(ip)) ? 0 : kExitCantCreate;
    }
    std::fprintf(stderr, "usage: varoctl config get SECTION KEY | set SECTION KEY VALUE | set-ip SECTION KEY A.B.C.D\n");
    return kExitUsage;
}
VaroctlRegistrar reg{{"config", "config get SECTION KEY | set SECTION KEY VALUE | set-ip SECTION KEY A.B.C.D",
                      &RunConfig}};
}  // namespace
