// Module commands: list the Ethernet modules, read a passport, set addresses, blink, show the log.
#include "Varoctl.h"
#include "lanora/protocol/ModuleExchange.h"
#include "lanora/protocol/ModulePassportFile.h"

#include <signal.h>

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {
// The local interface: --local, else the first one the computer has. 0 when there is none.
uint32_t LocalAddress(const VaroctlOptions& opts) {
    if (!opts.local.empty()) {
        uint32_t ip = 0;
        if (!ModuleIpFromText(opts.local, ip)) {
            std::fprintf(stderr, "varoctl: bad --local address '%s'\n", opts.local.c_str());
            return 0;
        }
        return ip;
    }
    auto list = ModuleLocalInterfaces();
    if (list.empty()) std::fprintf(stderr, "varoctl: no local network interface\n");
    return list.empty() ? 0 : list.front().ip;
}

int RunModules(const VaroctlOptions& opts, const std::vector<std::string>& args) {
    if (!args.empty()) return kExitUsage;
    uint32_t local = LocalAddress(opts);
    if (!local) return 1;
    for (const auto& rec : ModuleRefresh(local)) {
        const char* name = ModuleDeviceName(rec.Family(), rec.Variant());
        std::printf("%-17s  %-31s  %s\n", MacToText(rec.Mac()).c_str(), ModuleIpColumn(rec).c_str(),
                    name ? name : "");
    }
    return 0;
}

int RunPassport(const VaroctlOptions& opts, const std::vector<std::string>& args) {
    if (args.size() != 2) return kExitUsage;
    RMac mac{};
    uint32_t ip = 0;
    bool byMac = MacFromText(args[0], mac);
    if (!byMac && (!ModuleIpFromText(args[0], ip) || !ModuleIpValid(ip))) {
        std::fprintf(stderr, "varoctl: '%s' is neither a MAC nor a valid IP address\n", args[0].c_str());
        return kExitUsage;
    }
    uint32_t local = LocalAddress(opts);
    if (!local) return 1;
    if (byMac) {
        // The file header carries the module's address: look it up the way the list does.
        RBroadcastResult r;
        ModuleBroadcast(local, EModuleMode::CollectModules, ModuleRequest(ModuleCmd::kHello), r);
        for (const auto& m : r.modules)
            if (m.Mac() == mac) ip = ModuleGetIp(&m.bytes[14]);
    }
    RPassportRead pr;
    if (!ModuleReadPassport(local, byMac ? &mac : nullptr, ip, pr)) {
        std::fprintf(stderr, "Device is not responding!\n");
        return 3;
    }
    if (!WriteTextFile(args[1], PassportFileText(pr.passport, ip, pr.pages))) {
        std::fprintf(stderr, "Error saving file!\n");
        return kExitCantCreate;
    }
    std::printf("passport of %s written to %s (%zu history pages)\n",
                MacToText(RMac{pr.passport[8], pr.passport[9], pr.passport[10], pr.passport[11], pr.passport[12],
                               pr.passport[13]})
                    .c_str(),
                args[1].c_str(), pr.pages.size());
    return 0;
}

int RunSetIp(const VaroctlOptions& opts, const std::vector<std::string>& args) {
    RMac mac;
    RModulePort p;
    if (args.size() != 4 || !MacFromText(args[0], mac) || !ModuleIpFromText(args[1], p.ip) ||
        !ModuleIpFromText(args[2], p.mask) || !ModuleIpFromText(args[3], p.gateway))
        return kExitUsage;
    if (!ModuleIpValid(p.ip)) {
        std::fprintf(stderr, "Invalid IP address!\n");
        return kExitUsage;
    }
    uint32_t local = LocalAddress(opts);
    if (!local) return 1;
    RBroadcastResult r;
    if (!ModuleBroadcast(local, EModuleMode::Set, ModuleSetRequest(mac, p), r)) return 2;
    std::printf("Network parameters were set. \nThe device will not respond for 10-15 seconds.\n");
    return 0;
}

int RunBlink(const VaroctlOptions& opts, const std::vector<std::string>& args) {
    RMac mac;
    if (args.size() != 1 || !MacFromText(args[0], mac)) return kExitUsage;
    uint32_t local = LocalAddress(opts);
    if (!local) return 1;
    RBroadcastResult r;
    if (!ModuleBroadcast(local, EModuleMode::Blink, ModuleRequest(ModuleCmd::kBlink, &mac), r)) return 2;
    std::printf("LED on the selected device will blink 3 times.\n");
    return 0;
}

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int RunLog(const VaroctlOptions& opts, const std::vector<std::string>& args) {
    if (!args.empty()) return kExitUsage;
    uint32_t local = LocalAddress(opts);
    if (!local) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::mutex out;
    CModuleLogListener listener;
    // One line per message, as the setup tool exports them: date;time;MAC;model;text;
    bool ok = listener.Start(local, [&out](const uint8_t* d, size_t n) {
        RLogMessage m;
        if (!ParseLogMessage(d, n, m)) return;
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        std::tm t;
        localtime_r(&ts.tv_sec, &t);
        const char* name = ModuleDeviceName(m.family, m.variant);
        std::lock_guard<std::mutex> g(out);
        std::printf("%02d.%02d.%04d;%02d:%02d:%02d.%03d;%s;%s;%s;\n", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900,
                    t.tm_hour, t.tm_min, t.tm_sec, int(ts.tv_nsec / 1000000), MacToText(m.mac).c_str(),
                    name ? name : "", m.text.substr(0, 511).c_str());
    });
    if (!ok) {
        std::fprintf(stderr, "varoctl: cannot listen on %s:%d\n", ModuleIpText(local).c_str(), kModuleLogPort);
        return 1;
    }
    while (!g_stop) pause();
    listener.Stop();
    return 0;
}

VaroctlRegistrar regModules{{"modules", "modules", &RunModules}};
VaroctlRegistrar regPassport{
    {"passport", "passport MAC|IP FILE", &RunPassport}};
VaroctlRegistrar regSetIp{
    {"setip", "setip MAC IP MASK GATEWAY", &RunSetIp}};
VaroctlRegistrar regBlink{{"blink", "blink MAC", &RunBlink}};
VaroctlRegistrar regLog{{"log", "log   (until interrupted)", &RunLog}};
}  // namespace
