// varomodsim: one simulated Ethernet module's discovery responder as a program of its own, for
// tests that need it in another process or namespace. Prints "ready" and then one line per
// event ("blink", "set ...", "log ..."); ends on SIGINT or SIGTERM.
#include "sim/ModuleResponder.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
int Usage() {
    std::fprintf(stderr,
                 "usage: varomodsim --discovery IP [--mask IP] [--gateway IP] [--mac MAC] [--family N]\n"
                 "  [--variant N] [--ports 1|2] [--ip2 IP] [--mask2 IP] [--gateway2 IP] [--history N]\n"
                 "  [--page-byte N] [--no-passport] [--drop N] [--delay MS] [--wrong-mac] [--wrong-index]\n"
                 "  [--hello-length N] [--passport-length N] [--only-port 9100|9101] [--log-period MS]\n"
                 "  [--log-target IP] [--log-text TEXT] [--identity TEXT]\n");
    return 64;
}
bool Ip(const char* s, uint32_t& ip) { return ModuleIpFromText(s, ip); }
}  // namespace

int main(int argc, char** argv) {
    RModuleSimConfig cfg;
    cfg.main.mask = 0x00FFFFFF;
    bool haveIp = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto need = [&]() -> const char* {
            if (!v) return nullptr;
            ++i;
            return v;
        };
        bool ok = true;
        if (a == "--discovery") ok = need() && (haveIp = Ip(v, cfg.main.ip));
        else if (a == "--mask") ok = need() && Ip(v, cfg.main.mask);
        else if (a == "--gateway") ok = need() && Ip(v, cfg.main.gateway);
        else if (a == "--ip2") ok = need() && Ip(v, cfg.second.ip);
        else if (a == "--mask2") ok = need() && Ip(v, cfg.second.mask);
        else if (a == "--gateway2") ok = need() && Ip(v, cfg.second.gateway);
        else if (a == "--mac") ok = need() && MacFromText(v, cfg.mac);
        else if (a == "--family") ok = need() && (cfg.family = uint16_t(std::strtoul(v, nullptr, 0)), true);
        else if (a == "--variant") ok = need() && (cfg.variant = uint16_t(std::strtoul(v, nullptr, 0)), true);
        else if (a == "--ports") ok = need() && (cfg.ports = std::atoi(v), cfg.ports == 1 || cfg.ports == 2);
        else if (a == "--history") {
            ok = need() != nullptr;
            cfg.historyMarkers = true;
            for (int p = 0, n = std::atoi(v); ok && p < n; ++p)
                cfg.historyPages.push_back("History page " + std::to_string(p + 1) + ": power on, link up");
        } else if (a == "--page-byte") ok = need() && (cfg.pageCountByte = uint8_t(std::atoi(v)), true);
        else if (a == "--no-passport") cfg.passport = false;
        else if (a == "--drop") ok = need() && (cfg.dropReplies = std::atoi(v), true);
        else if (a == "--delay") ok = need() && (cfg.replyDelayMs = std::atoi(v), true);
        else if (a == "--wrong-mac") cfg.passportWrongMac = true;
        else if (a == "--wrong-index") cfg.historyWrongIndex = true;
        else if (a == "--hello-length") ok = need() && (cfg.helloLength = size_t(std::atoi(v)), true);
        else if (a == "--passport-length") ok = need() && (cfg.passportLength = size_t(std::atoi(v)), true);
        else if (a == "--only-port") {
            ok = need() != nullptr;
            cfg.answerPortA = ok && std::atoi(v) == 9100;
            cfg.answerPortB = ok && std::atoi(v) == 9101;
        } else if (a == "--log-period") ok = need() && (cfg.logPeriodMs = std::atoi(v), true);
        else if (a == "--log-target") ok = need() && Ip(v, cfg.logTarget);
        else if (a == "--log-text") ok = need() && (cfg.logText = v, true);
        else if (a == "--identity") ok = need() && (cfg.identity = v, true);
        else ok = false;
        if (!ok) {
            std::fprintf(stderr, "varomodsim: bad option '%s'\n", a.c_str());
            return Usage();
        }
    }
    if (!haveIp) return Usage();

    // Signals are taken by sigwait below; the responder thread must not see them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    setvbuf(stdout, nullptr, _IOLBF, 0);
    CModuleResponder responder(cfg);
    responder.SetEventCallback([](const std::string& e) { std::printf("%s\n", e.c_str()); });
    if (!responder.Start()) {
        std::fprintf(stderr, "varomodsim: cannot bind %s:9100/9101\n", ModuleIpText(cfg.main.ip).c_str());
        return 1;
    }
    std::printf("ready %s\n", ModuleIpText(cfg.main.ip).c_str());
    int sig = 0;
    sigwait(&set, &sig);
    responder.Stop();
    return 0;
}
