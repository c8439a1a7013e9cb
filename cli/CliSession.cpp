#include "cli/CliSession.h"

#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "devicedata/ModelDetection.h"
#include "link/CSerialPort.h"
#include "link/eth/CEth1.h"

#include <strings.h>

#include <cstdlib>

CPnPBlock* FindCliElement(CPnPModel& model, const std::string& name,
                          const std::function<bool(const CPnPBlock&)>& accept) {
    for (const auto& e : model.elements) {
        if (!accept(*e)) continue;
        if (strcasecmp(e->name.c_str(), name.c_str()) == 0 || strcasecmp(model.PageTitle(e.get()).c_str(), name.c_str()) == 0)
            return e.get();
    }
    return nullptr;
}

int FindCliSlot(const CPnPBlock& element, const std::string& slot) {
    for (size_t i = 0; i < element.items.size(); ++i)
        if (element.items[i]->name == slot) return int(i);
    if (slot.empty() || slot.size() > 9 || slot.find_first_not_of("0123456789") != std::string::npos) return -1;
    const long n = std::strtol(slot.c_str(), nullptr, 10);
    return size_t(n) < element.items.size() ? int(n) : -1;
}

bool CliSession::Select(const VaroctlOptions& o) {
    const size_t colon = o.link.find(':');
    if (colon == std::string::npos) {
        std::fprintf(stderr, "varoctl: --link KIND:TARGET is needed (rs232, rs422, rs485, tcp, udp)\n");
        return false;
    }
    const std::string kind = o.link.substr(0, colon);
    std::string target = o.link.substr(colon + 1);
    int protocol = 0, bus = -1;
    if (kind == "tcp" || kind == "udp") {
        uint32_t ip = 0, local = 0;
        if (!IpFromString(target, ip) || (!o.local.empty() && !IpFromString(o.local, local))) {
            std::fprintf(stderr, "varoctl: bad IPv4 address in --link or --local\n");
            return false;
        }
        CEth1::Install();
        protocol = kind == "tcp" ? kProtoTcp : kProtoUdp;
        ctx.interfaceChoice = kind == "tcp" ? 3 : 4;
        serial.SelectLink(ip, protocol, &waiter, 0, -1, local);
    } else {
        if (kind == "rs232") {
            protocol = kProtoShort2;
            ctx.interfaceChoice = 0;
        } else if (kind == "rs422") {
            protocol = kProtoPointB;
            ctx.interfaceChoice = 1;
        } else if (kind == "rs485") {
            protocol = kProtoBusB;
            ctx.interfaceChoice = 2;
            const size_t at = target.rfind('@');
            if (at != std::string::npos) {
                char* end = nullptr;
                long a = std::strtol(target.c_str() + at + 1, &end, 0);
                if (!end || *end || a < 0 || a > 254) {
                    std::fprintf(stderr, "varoctl: bad bus address in '%s'\n", target.c_str());
                    return false;
                }
                bus = int(a);
                target.resize(at);
            }
        } else {
            std::fprintf(stderr, "varoctl: unknown link kind '%s' (rs232, rs422, rs485, tcp, udp)\n", kind.c_str());
            return false;
        }
        if (target.empty()) {
            std::fprintf(stderr, "varoctl: --link needs a port (COMn or a path)\n");
            return false;
        }
        serial.SelectLinkPath(0, protocol, &waiter, ResolvePortTarget(target), bus, 0);
    }
    serial.SetVerify(o.verify);
    ctx.ops = &ops;
    ctx.engine = &engine;
    ctx.ui = &ui;
    ctx.notifier = &waiter;
    ctx.buffer = buffer.data();
    ctx.bufferSize = buffer.size();
    ctx.model = &model;
    ctx.notResponding = [this] { return serial.NotResponding(); };
    return true;
}

int CliSession::Run() {
    waiter.onProgress = [this](int v) { return ops.Progress(v); };
    while (ops.Busy()) {
        CLinkWaiter::Completion c = waiter.Wait(&serial);
        if (c.result < 0) {
            ops.End();
            std::fprintf(stderr, "varoctl: the device link went quiet for %d s; command given up\n",
                         CLinkWaiter::kQuietLimitMs / 1000);
            return lastResult = 3;
        }
        if (c.result != 0) lastResult = c.result;
        ops.Completed(c.result, c.value);
    }
    return lastResult;
}

int CliSession::LoadModel() {
    uint8_t sig[kSignatureSize + 1] = {};
    const uint32_t at = SignatureAddress(ctx.interfaceChoice);
    ops.Begin(kOpSignature, kSignatureSize, at, [](int) { return false; });
    engine.StartCommand(kSignatureSize, 3, at, sig);
    if (int r = Run()) return r;
    std::string name = EvaluateSignature(sig, kSignatureSize);
    if (name.empty()) {
        std::fprintf(stderr, "varoctl: the device has no model signature\n");
        return kExitNoInput;
    }
    ctx.effectiveModelName = name;
    std::string path = SignatureModelPath(ProgramFolder(), name);
    model.SetProgramFolder(ProgramFolder());
    if (path.empty() || model.Load(path) != kPnPLoaded) {
        if (path.empty()) path = "ModelsPnP/" + name + ".xml";
        std::fprintf(stderr, "varoctl: cannot load the model %s (signature \"%s\")\n", path.c_str(), name.c_str());
        return kExitNoInput;
    }
    return 0;
}
