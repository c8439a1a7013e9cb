#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/IpAddress.h"
#include "link/FlashChips.h"
#include "sim/CSimDevice.h"
#include "sim/CSimNet.h"
#include "sim/CSimPty.h"
#include "sim/SimOptions.h"
#ifdef VARO_SIM_MODEL
#include <sys/stat.h>

#include "sim/SimFromModel.h"
#endif

namespace {
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

// --discovery: the module's discovery responder; a new address from "TiBbsEtA" moves the
// port-9000 listeners along.
std::unique_ptr<CModuleResponder> StartDiscovery(RSimOptions& opts, CSimNet* server) {
    if (!opts.discoveryOn) return nullptr;
    if (!opts.discovery.main.mask) opts.discovery.main.mask = 0x00FFFFFF;
    auto r = std::make_unique<CModuleResponder>(opts.discovery);
    if (server) r->SetAddressCallback([server](const RModulePort& p, const RModulePort&) { server->MoveTo(p.ip); });
    if (!r->Start()) return nullptr;
    std::printf("varosim: discovery on %s udp 9100/9101\n", ModuleIpText(opts.discovery.main.ip).c_str());
    return r;
}
}  // namespace

int main(int argc, char** argv) {
    RSimOptions opts;
    std::string error;
    if (!ParseSimOptions(argc, argv, opts, error)) {
        std::fprintf(stderr, "varosim: %s\n%s", error.c_str(), SimUsage().c_str());
        return 64;
    }
    if (opts.help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    const bool net = opts.tcpIp || opts.udpIp;
    if (opts.pty.empty() && !net) {
        std::fprintf(stderr, "varosim: nothing to serve: give --pty PATH, or --tcp IP / --udp IP\n");
        return 64;
    }
    if (!opts.pty.empty() && net) {
        std::fprintf(stderr, "varosim: serve either a serial line (--pty) or the network (--tcp, --udp)\n");
        return 64;
    }
    if (net) opts.dialect = SimDialect::PointB;  // the Ethernet module carries point B
    if (opts.image.empty()) {
        std::fprintf(stderr, "varosim: --image FILE is needed (the device memory)\n");
        return 64;
    }
    const bool bus = opts.dialect == SimDialect::Bus || opts.dialect == SimDialect::BusB;
    if (opts.busAddresses.empty()) opts.busAddresses.push_back(1);
    if (!bus && opts.busAddresses.size() > 1) {
        std::fprintf(stderr, "varosim: several devices need a bus dialect (bus or busb)\n");
        return 64;
    }
    const RFlashChip* chip = FlashChipByName(opts.chip.c_str());
#ifdef VARO_SIM_MODEL
    SimModelImage model;
    if (!opts.model.empty()) {
        model = SimFromModel(opts.model);
        if (model.result != 0) {
            std::fprintf(stderr, "varosim: cannot load the model %s (result %d)\n", opts.model.c_str(), model.result);
            return 66;
        }
        for (int i = 0; !opts.chipSet && chip->pageSize * chip->pages < model.flashBytesNeeded && i < FlashChipCount(); ++i)
            if (FlashChipAt(i).s25fl && FlashChipAt(i).pageSize * FlashChipAt(i).pages >= model.flashBytesNeeded) chip = &FlashChipAt(i);
        if (!opts.signatureSet) opts.signature = model.signature, opts.signatureSet = true;
        if (!opts.identitySet && !model.identity.empty())
            opts.identity.assign(model.identity.begin(), model.identity.end()), opts.identitySet = true;
    }
#endif
    const uint32_t flashBytes = chip->pageSize * chip->pages;

    std::vector<std::unique_ptr<CSimImage>> images;
    std::vector<std::unique_ptr<CSimDevice>> devices;
    CSimLine line;
    for (size_t i = 0; i < opts.busAddresses.size(); ++i) {
        auto img = std::make_unique<CSimImage>();
        const std::string path = i == 0 ? opts.image : opts.image + "." + std::to_string(opts.busAddresses[i]);
#ifdef VARO_SIM_MODEL
        struct stat st;
        const bool fresh = ::stat(path.c_str(), &st) != 0;
#endif
        if (!img->Open(path, chip->name, flashBytes, error)) {
            std::fprintf(stderr, "varosim: %s\n", error.c_str());
            return 66;
        }
#ifdef VARO_SIM_MODEL
        // A new image starts as the model describes; an existing one keeps what was written.
        const bool pageFamily = opts.dialect == SimDialect::PointB || opts.dialect == SimDialect::BusB;
        if (fresh && !opts.model.empty() &&
            !SimApplyModel(model, *img, pageFamily, error)) {
            std::fprintf(stderr, "varosim: %s\n", error.c_str());
            return 66;
        }
#endif
        if (opts.signatureSet) {
            std::memset(img->Header().signature, 0, sizeof img->Header().signature);
            std::memcpy(img->Header().signature, opts.signature.data(), opts.signature.size());
        }
        if (opts.identitySet) {
            std::memset(img->Header().identity, 0, sizeof img->Header().identity);
            std::memcpy(img->Header().identity, opts.identity.data(), opts.identity.size());
        }
        RSimDeviceConfig cfg;
        cfg.dialect = opts.dialect;
        cfg.chip = chip;
        cfg.busAddress = opts.busAddresses[i];
        cfg.chipId1 = opts.chipId1;
        cfg.chipId2 = opts.chipId2;
        cfg.busyMs = opts.busyMs;
        cfg.acceptMs = opts.acceptMs;
        cfg.reinitSilenceMs = opts.reinitSilenceMs;
        cfg.registers = opts.registers;
#ifdef VARO_SIM_MODEL
        cfg.registers.insert(cfg.registers.end(), model.registers.begin(), model.registers.end());
#endif
        devices.push_back(std::make_unique<CSimDevice>(cfg, *img));
        line.Add(devices.back().get());
        images.push_back(std::move(img));
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (net) {
        RSimNetFaults nf;
        nf.delayMs = opts.netDelayMs;
        nf.closeAfter = opts.netCloseAfter;
        CSimNet server(line, opts.faults, nf, opts.seed);
        if (!server.Open(opts.tcpIp, opts.udpIp, uint16_t(opts.netPort), error)) {
            std::fprintf(stderr, "varosim: %s\n", error.c_str());
            return 71;
        }
        std::printf("varosim: point B %s on%s%s%s%s port %d\n", chip->name, opts.tcpIp ? " tcp " : "",
                    opts.tcpIp ? IpToString(opts.tcpIp).c_str() : "", opts.udpIp ? " udp " : "",
                    opts.udpIp ? IpToString(opts.udpIp).c_str() : "", opts.netPort);
        auto discovery = StartDiscovery(opts, &server);
        if (opts.discoveryOn && !discovery) {
            std::fprintf(stderr, "varosim: cannot answer discovery on %s\n", ModuleIpText(opts.discovery.main.ip).c_str());
            return 71;
        }
        std::fflush(stdout);
        server.Run(g_stop);
        if (opts.verbose) std::printf("varosim: %u frames served\n", server.Frames());
        return 0;
    }

    CSimPty pty(line, opts.dialect, opts.faults, opts.seed, opts.baud);
    if (!pty.Open(opts.pty, error)) {
        std::fprintf(stderr, "varosim: %s\n", error.c_str());
        return 71;
    }
    std::printf("varosim: %s %s on %s (%s)\n", SimDialectName(opts.dialect), chip->name, pty.SlavePath().c_str(),
                opts.pty.c_str());
    auto discovery = StartDiscovery(opts, nullptr);
    if (opts.discoveryOn && !discovery) {
        std::fprintf(stderr, "varosim: cannot answer discovery on %s\n", ModuleIpText(opts.discovery.main.ip).c_str());
        return 71;
    }
    std::fflush(stdout);
    pty.Run(g_stop);
    if (opts.verbose) std::printf("varosim: %u frames served\n", pty.Frames());
    return 0;
}
