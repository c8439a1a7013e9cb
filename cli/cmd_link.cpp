// varoctl link commands: signature, identity, read, write, erase, scan, clock, status.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/IpAddress.h"
#include "cli/Varoctl.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/CSerialPort.h"

namespace {
constexpr uint32_t kMaxTransfer = 0x1000000;  // the main window's data buffer

CLinkWaiter* g_waiter = nullptr;
void OnInterrupt(int) {
    if (g_waiter) g_waiter->abort = true;
}

const char* ResultText(int r) {
    switch (r) {
        case 0: return "success";
        case 1: return "Serial port is not installed or in use by another application!";
        case 2: return "writing the request failed";
        case 3: return "no reply from the device";
        case 4: return "bad replies from the device";
        case 5: return "device failure, busy too long, size mismatch or verification failed";
        case 6: return "aborted";
        case 8: return "Flash chip on this device is not supported!";
        default: return "unknown result";
    }
}

bool ParseNumber(const std::string& s, uint32_t& v) {
    if (s.empty() || s[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long x = std::strtoull(s.c_str(), &end, 0);
    if (errno || !end || *end || x > 0xFFFFFFFFull) return false;
    v = uint32_t(x);
    return true;
}

// One link session: the engine selected for --link, a waiter as its notifier.
struct Session {
    CLinkWaiter waiter;  // outlives the engine: its workers report to it until they are joined
    CSerial engine;
    int protocol = 0;
    const char* activity = "Reading";
    uint32_t total = 0, address = 0;
    bool tty = isatty(2);

    ~Session() { g_waiter = nullptr; }

    // false: usage error already printed.
    bool Select(const VaroctlOptions& o, bool forSignature) {
        const size_t colon = o.link.find(':');
        if (colon == std::string::npos) {
            std::fprintf(stderr, "varoctl: --link KIND:TARGET is needed (KIND rs232, rs232p1, rs422, rs485)\n");
            return false;
        }
        const std::string kind = o.link.substr(0, colon);
        std::string target = o.link.substr(colon + 1);
        int bus = -1;
        if (kind == "rs232") protocol = kProtoShort2;
        else if (kind == "rs232p1") protocol = forSignature ? kProtoShort2 : kProtoShort1;
        else if (kind == "rs422") protocol = kProtoPointB;
        else if (kind == "rs485" || kind == "rs485c") {
            protocol = kind == "rs485" ? kProtoBusB : kProtoBus;
            const size_t at = target.rfind('@');
            uint32_t a = 0;
            if (at != std::string::npos) {
                if (!ParseNumber(target.substr(at + 1), a) || a > 254) {
                    std::fprintf(stderr, "varoctl: bad bus address in '%s'\n", target.c_str());
                    return false;
                }
                bus = int(a);
                target.resize(at);
            }
        } else if (kind == "tcp" || kind == "udp") {
            // The Ethernet link plugs into the engine through its factory.
            uint32_t ip = 0, local = 0;
            if (!IpFromString(target, ip) || (!o.local.empty() && !IpFromString(o.local, local))) {
                std::fprintf(stderr, "varoctl: bad IPv4 address in --link or --local\n");
                return false;
            }
            protocol = kind == "tcp" ? kProtoTcp : kProtoUdp;
            engine.SelectLink(ip, protocol, &waiter, 0, -1, local);
            if (!engine.Ethernet()) {
                std::fprintf(stderr, "varoctl: this build has no Ethernet link\n");
                return false;
            }
            return Prepare(o);
        } else {
            std::fprintf(stderr, "varoctl: unknown link kind '%s' (rs232, rs232p1, rs422, rs485, tcp, udp)\n",
                         kind.c_str());
            return false;
        }
        if (target.empty()) {
            std::fprintf(stderr, "varoctl: --link needs a port (COMn or a path)\n");
            return false;
        }
        engine.SelectLinkPath(0, protocol, &waiter, ResolvePortTarget(target), bus, 0);
        return Prepare(o);
    }

    bool Prepare(const VaroctlOptions& o) {
        engine.SetVerify(o.verify);
        g_waiter = &waiter;
        std::signal(SIGINT, OnInterrupt);
        waiter.onProgress = [this](int v) {
            if (tty && total) {
                std::fprintf(stderr, "\r%s @%08X: %3u%%", activity, address,
                             unsigned(uint64_t(uint32_t(v)) * 100 / total));
            }
            return 0;
        };
        return true;
    }

    int Run(int size, int command, uint32_t addr, uint8_t* buf, int* value = nullptr) {
        activity = command < 4 ? "Reading" : command == 6 ? "Erasing" : command <= 5 ? "Writing" : "Reading";
        total = command == kCmdScan ? 255 : uint32_t(size);
        address = addr;
        engine.StartCommand(size, command, addr, buf);
        CLinkWaiter::Completion c = waiter.Wait(&engine);
        if (tty && total) std::fprintf(stderr, "\n");
        if (c.result < 0) {
            std::fprintf(stderr, "varoctl: the device link went quiet for %d s; command given up\n",
                         CLinkWaiter::kQuietLimitMs / 1000);
            return kLinkNoReply;
        }
        if (value) *value = c.value;
        if (c.result != 0) {
            std::fprintf(stderr, "varoctl: link error %d: %s\n", c.result, ResultText(c.result));
            static const char* kinds[] = {"", "READING", "WRITING", "ERASING"};
            const int k = engine.ErrorKind();
            if (k >= 1 && k <= 3)
                std::fprintf(stderr, "varoctl: error %s block at address %08X\n", kinds[k], engine.ErrorAddress());
            else
                std::fprintf(stderr, "varoctl: failed at address %08X\n", engine.ErrorAddress());
        }
        return c.result;
    }
};

int Usage(const char* line) {
    std::fprintf(stderr, "usage: varoctl --link KIND:TARGET %s\n", line);
    return kExitUsage;
}

int RunSignature(const VaroctlOptions& o, const std::vector<std::string>& args) {
    if (!args.empty()) return Usage("signature");
    Session s;
    if (!s.Select(o, true)) return kExitUsage;
    uint8_t buf[33] = {};
    const uint32_t addr = s.protocol <= kProtoShort2 ? 0x00FFFFFFu : 0x80FFFFFFu;
    int r = s.Run(32, kCmdRead, addr, buf);
    if (r == 0) std::printf("%s\n", reinterpret_cast<char*>(buf));
    return r;
}

int RunIdentity(const VaroctlOptions& o, const std::vector<std::string>& args) {
    uint32_t size;
    if (args.size() != 1 || !ParseNumber(args[0], size) || size > 255) return Usage("identity SIZE");
    Session s;
    if (!s.Select(o, false)) return kExitUsage;
    std::vector<uint8_t> buf(size ? size : 1, 0);
    int got = 0;
    int r = s.Run(int(size), kCmdIdentity, 0, buf.data(), &got);
    if (r == 0) {
        for (int i = 0; i < got && i < int(size); ++i) std::printf("%02X%s", buf[size_t(i)], i + 1 < got ? " " : "");
        std::printf("\n");
    }
    return r;
}

int RunRead(const VaroctlOptions& o, const std::vector<std::string>& args) {
    uint32_t addr, size;
    if (args.size() != 3 || !ParseNumber(args[0], addr) || !ParseNumber(args[1], size) || size > kMaxTransfer)
        return Usage("read ADDRESS SIZE FILE");
    Session s;
    if (!s.Select(o, false)) return kExitUsage;
    std::vector<uint8_t> buf(size ? size : 1);
    int r = s.Run(int(size), kCmdRead, addr, buf.data());
    if (r != 0) return r;
    FILE* f = std::fopen(args[2].c_str(), "wb");
    if (!f || std::fwrite(buf.data(), 1, size, f) != size || std::fclose(f) != 0) {
        std::fprintf(stderr, "varoctl: cannot write %s\n", args[2].c_str());
        return kExitCantCreate;
    }
    return 0;
}

int RunWrite(const VaroctlOptions& o, const std::vector<std::string>& args) {
    uint32_t addr;
    if (args.size() != 2 || !ParseNumber(args[0], addr)) return Usage("[--no-erase] [--verify] write ADDRESS FILE");
    std::ifstream f(args[1], std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "varoctl: cannot open %s\n", args[1].c_str());
        return kExitNoInput;
    }
    std::vector<uint8_t> buf((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (buf.size() > kMaxTransfer) {
        std::fprintf(stderr, "varoctl: %s is larger than 16 MiB\n", args[1].c_str());
        return kExitNoInput;
    }
    Session s;
    if (!s.Select(o, false)) return kExitUsage;
    buf.reserve(1);  // a valid pointer even for an empty file
    return s.Run(int(buf.size()), o.noErase ? kCmdWrite : kCmdEraseWrite, addr, buf.data());
}

int RunErase(const VaroctlOptions& o, const std::vector<std::string>& args) {
    uint32_t addr, size;
    if (args.size() != 2 || !ParseNumber(args[0], addr) || !ParseNumber(args[1], size) || size > kMaxTransfer)
        return Usage("erase ADDRESS SIZE");
    Session s;
    if (!s.Select(o, false)) return kExitUsage;
    return s.Run(int(size), kCmdErase, addr, nullptr);
}

int RunScan(const VaroctlOptions& o, const std::vector<std::string>& args) {
    if (!args.empty()) return Usage("scan");
    Session s;
    if (!s.Select(o, false)) return kExitUsage;
    uint8_t buf[256] = {};
    int r = s.Run(0, kCmdScan, 0, buf);
    if (r == 0) {
        for (int i = 1; i <= buf[0]; ++i) std::printf("%03d\n", buf[i]);
    }
    return r;
}

int RunClock(const VaroctlOptions& o, const std::vector<std::string>& args) {
    if (!args.empty()) return Usage("clock");
    Session s;
    if (!s.Select(o, false)) return kExitUsage;
    return s.Run(0, kCmdClock, 0, nullptr);
}

int RunStatus(const VaroctlOptions& o, const std::vector<std::string>& args) {
    if (!args.empty()) return Usage("status");
    Session s;
    if (!s.Select(o, false)) return kExitUsage;
    return s.Run(0, kCmdStatus, 0, nullptr);
}

VaroctlRegistrar r1{{"signature",
                     "signature   (--link rs232|rs232p1|rs422:COMn|PATH, rs485:COMn|PATH@ADDRESS, tcp|udp:IP)",
                     &RunSignature}};
VaroctlRegistrar r2{{"identity", "identity SIZE", &RunIdentity}};
VaroctlRegistrar r3{{"read", "read ADDRESS SIZE FILE", &RunRead}};
VaroctlRegistrar r4{{"write", "write ADDRESS FILE   ([--verify] [--no-erase])", &RunWrite}};
VaroctlRegistrar r5{{"erase", "erase ADDRESS SIZE", &RunErase}};
VaroctlRegistrar r6{{"scan", "scan   (--link rs485:...)", &RunScan}};
VaroctlRegistrar r7{{"clock", "clock", &RunClock}};
VaroctlRegistrar r8{{"status", "status", &RunStatus}};
}  // namespace
