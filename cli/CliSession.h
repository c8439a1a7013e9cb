#pragma once
// A device session for the page commands of varoctl: the link chosen by --link, a waiter as
// its notifier, the operation protocol with the terminal as its operator, the 16 MB buffer,
// and the model the device's signature selects.
#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "cli/Varoctl.h"
#include "devicedata/CEngineAdapter.h"
#include "devicedata/ModelDetection.h"
#include "devicedata/COperations.h"
#include "devicedata/DeviceContext.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/CSerialPort.h"
#include "link/eth/CEth1.h"
#include "model/CPnPModel.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Messages and questions of the page on the terminal; questions are answered Yes (the
// command line asked for the change already). Link failures keep their result code.
struct CliUi : IOperationUi {
    void OperationStateChanged(bool) override {}
    void ShowProgressLine(bool) override {}
    void ProgressChanged() override {}
    void ShowMessage(const std::string& text, MsgIcon icon) override {
        if (text == kTextWriteComplete) return;
        std::string t = text;
        for (auto& c : t)
            if (c == '\n') c = ' ';
        std::fprintf(stderr, "varoctl: %s\n", t.c_str());
        if (icon == MsgIcon::Stop) failed = true;
    }
    bool AskYesNo(const std::string&, MsgIcon, bool) override { return true; }
    void SetTimer(bool) override {}
    bool failed = false;
};

struct CliSession {
    CLinkWaiter waiter;  // outlives the engine: its workers report to it until they are joined
    CSerial serial;
    CEngineAdapter engine{serial};
    CliUi ui;
    COperations ops{engine, ui};
    std::vector<uint8_t> buffer = std::vector<uint8_t>(RDeviceContext::kBufferSize);
    CPnPModel model;
    RDeviceContext ctx;
    int lastResult = 0;

    ~CliSession() { serial.DestroyLinks(); }

    bool Select(const VaroctlOptions& o) {
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

    // Hands the link's notifications to the operation until it ends; the last failure counts.
    int Run() {
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

    // Signature -> ModelsPnP/<signature>.xml from the program folder.
    int LoadModel() {
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
};

// The element whose page title or name is name (case-insensitive); null when none.
CPnPBlock* FindCliElement(CPnPModel& model, const std::string& name, int kind);
