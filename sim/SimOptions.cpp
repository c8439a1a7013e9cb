#include "sim/SimOptions.h"

#include <cstdlib>
#include <sstream>

#include "app/IpAddress.h"
#include "link/FlashChips.h"

namespace {
bool ParseInt(const std::string& v, long lo, long hi, long& out) {
    char* end = nullptr;
    out = std::strtol(v.c_str(), &end, 0);
    return !v.empty() && end && !*end && out >= lo && out <= hi;
}

bool IntOption(const std::string& v, long lo, long hi, int& field, const char* what, std::string& error) {
    long x;
    if (!ParseInt(v, lo, hi, x)) {
        error = std::string(what) + " must be a number from " + std::to_string(lo) + " to " + std::to_string(hi);
        return false;
    }
    field = int(x);
    return true;
}

std::string ChipNames() {
    std::string s;
    for (int i = 0; i < FlashChipCount(); ++i) s += std::string(i ? ", " : "") + FlashChipAt(i).name;
    return s;
}

bool IpOption(const std::string& v, uint32_t& field, const char* what, std::string& error) {
    if (IpFromString(v, field) && field != 0) return true;
    error = std::string(what) + " takes an IPv4 address such as 127.0.0.2";
    return false;
}

std::vector<RSimOption> NetOptions() {
    return {
        {"--tcp", "IP", "serve point B over TCP port 9000 on this address (each simulated device may take its own "
                        "127.0.0.x)",
         [](RSimOptions& o, const std::string& v, std::string& e) { return IpOption(v, o.tcpIp, "--tcp", e); }},
        {"--udp", "IP", "serve point B over UDP port 9000 on this address",
         [](RSimOptions& o, const std::string& v, std::string& e) { return IpOption(v, o.udpIp, "--udp", e); }},
        {"--net-port", "N", "port of --tcp and --udp instead of 9000",
         [](RSimOptions& o, const std::string& v, std::string& e) { return IntOption(v, 1, 65535, o.netPort, "--net-port", e); }},
        {"--net-delay", "MS", "network replies go out this late (over UDP: late replies)",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             return IntOption(v, 0, 60000, o.netDelayMs, "--net-delay", e);
         }},
        {"--close-after", "N", "close each TCP connection after N frames",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             return IntOption(v, 0, 1000000, o.netCloseAfter, "--close-after", e);
         }},
    };
}
bool ModuleIp(const std::string& v, uint32_t& field, const char* what, std::string& error) {
    if (ModuleIpFromText(v, field)) return true;
    error = std::string(what) + " takes an IPv4 address such as 198.18.0.2";
    return false;
}

std::vector<RSimOption> DiscoveryOptions() {
    using O = RSimOptions;
    using S = const std::string;
    return {
        {"--discovery", "IP", "answer the module discovery protocol on UDP 9100/9101 of this address",
         [](O& o, S& v, std::string& e) { return o.discoveryOn = ModuleIp(v, o.discovery.main.ip, "--discovery", e); }},
        {"--mac", "MAC", "discovery: the module's MAC address (00:11:22:33:44:55)",
         [](O& o, S& v, std::string& e) {
             if (MacFromText(v, o.discovery.mac)) return true;
             e = "--mac takes six hex bytes like 02:56:41:52:4F:01";
             return false;
         }},
        {"--family", "N", "discovery: device family code",
         [](O& o, S& v, std::string& e) {
             int n = 0;
             return IntOption(v, 0, 65535, n, "--family", e) && (o.discovery.family = uint16_t(n), true);
         }},
        {"--variant", "N", "discovery: device variant code",
         [](O& o, S& v, std::string& e) {
             int n = 0;
             return IntOption(v, 0, 65535, n, "--variant", e) && (o.discovery.variant = uint16_t(n), true);
         }},
        {"--ports", "N", "discovery: 1 or 2 network ports",
         [](O& o, S& v, std::string& e) { return IntOption(v, 1, 2, o.discovery.ports, "--ports", e); }},
        {"--ip2", "IP", "discovery: the second port's address",
         [](O& o, S& v, std::string& e) { return ModuleIp(v, o.discovery.second.ip, "--ip2", e); }},
        {"--history", "N", "discovery: passport with history markers and N history pages (default: no markers)",
         [](O& o, S& v, std::string& e) {
             int n = 0;
             if (!IntOption(v, 0, 255, n, "--history", e)) return false;
             o.discovery.historyMarkers = true;
             for (int i = 0; i < n; ++i)
                 o.discovery.historyPages.push_back("History page " + std::to_string(i + 1) + ": power on, link up");
             return true;
         }},
        {"--log-period", "MS", "discovery: send a log message to UDP 19805 this often",
         [](O& o, S& v, std::string& e) { return IntOption(v, 0, 3600000, o.discovery.logPeriodMs, "--log-period", e); }},
        {"--log-target", "IP", "discovery: where log messages go (default 255.255.255.255)",
         [](O& o, S& v, std::string& e) { return ModuleIp(v, o.discovery.logTarget, "--log-target", e); }},
        {"--discovery-drop", "N", "discovery: swallow the first N replies",
         [](O& o, S& v, std::string& e) { return IntOption(v, 0, 1000000, o.discovery.dropReplies, "--discovery-drop", e); }},
        {"--discovery-delay", "MS", "discovery: every reply goes out this late",
         [](O& o, S& v, std::string& e) { return IntOption(v, 0, 60000, o.discovery.replyDelayMs, "--discovery-delay", e); }},
    };
}
}  // namespace

std::vector<RSimOption>& SimOptionTable() {
    static std::vector<RSimOption> t = {
        {"--pty", "PATH", "serve a serial line on a new pseudo-terminal; PATH becomes a symbolic link to it",
         [](RSimOptions& o, const std::string& v, std::string&) { o.pty = v; return true; }},
        {"--dialect", "NAME", "frames spoken on the serial line: short1, short2, bus, busb or pointb (default pointb)",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             if (SimDialectFromName(v, o.dialect)) return true;
             e = "unknown dialect '" + v + "'";
             return false;
         }},
        {"--bus-address", "N", "bus address 1..254 of a device on the RS-485 bus; repeat for several devices",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             int a;
             if (!IntOption(v, 1, 254, a, "--bus-address", e)) return false;
             o.busAddresses.push_back(a);
             return true;
         }},
        {"--chip", "NAME", nullptr,  // help text filled in below
         [](RSimOptions& o, const std::string& v, std::string& e) {
             const RFlashChip* c = FlashChipByName(v.c_str());
             if (!c) {
                 e = "unknown chip '" + v + "' (known: " + ChipNames() + ")";
                 return false;
             }
             o.chip = c->name;
             o.chipSet = true;
             return true;
         }},
        {"--chip-id", "HH[:HH]", "report these identification bytes instead of the chip's (an unsupported chip)",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             const size_t colon = v.find(':');
             long a, b = 0;
             if (!ParseInt("0x" + v.substr(0, colon), 0, 255, a) ||
                 (colon != std::string::npos && !ParseInt("0x" + v.substr(colon + 1), 0, 255, b))) {
                 e = "--chip-id takes hex bytes like 1F or 01:13";
                 return false;
             }
             o.chipId1 = int(a);
             o.chipId2 = int(b);
             return true;
         }},
        {"--image", "FILE", "device memory file, created when missing, so state survives restarts; on a bus with "
                            "several devices the others use FILE.N (N = their bus address)",
         [](RSimOptions& o, const std::string& v, std::string&) { o.image = v; return true; }},
        {"--signature", "TEXT", "model signature (up to 32 characters) stored in the image and read at 0xFFFFFF "
                                "(short and bus dialects) or 0xFFFFFFFF (point B, bus B)",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             if (v.size() > 32) {
                 e = "--signature is at most 32 characters";
                 return false;
             }
             o.signature = v;
             o.signatureSet = true;
             return true;
         }},
        {"--identity", "TEXT", "identity bytes (up to 64) stored in the image, read with the identity command",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             if (v.size() > 64) {
                 e = "--identity is at most 64 characters";
                 return false;
             }
             o.identity = v;
             o.identitySet = true;
             return true;
         }},
        {"--model", "FILE", "device model file: signature (its file name when it lies in ModelsPnP/), identity, "
                            "and, in a new image, the memory the model describes; without --chip the smallest "
                            "chip that holds the model",
         [](RSimOptions& o, const std::string& v, std::string&) { o.model = v; return true; }},
        {"--busy", "MS", "erases and commits keep the device busy this long (short: busy status and polls; "
                         "addressed: \"busy, not accepted\" to requests meanwhile)",
         [](RSimOptions& o, const std::string& v, std::string& e) { return IntOption(v, 0, 600000, o.busyMs, "--busy", e); }},
        {"--accept", "MS", "addressed dialects: erases and commits answer \"accepted, still working\" and polls "
                           "say so for this long",
         [](RSimOptions& o, const std::string& v, std::string& e) { return IntOption(v, 0, 600000, o.acceptMs, "--accept", e); }},
        {"--reinit-silence", "MS", "after reinitialise the device restarts: it does not answer it and stays silent "
                                   "this long",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             return IntOption(v, 0, 600000, o.reinitSilenceMs, "--reinit-silence", e);
         }},
        {"--registers", "LIST", "short and bus dialects: ADDR+SIZE,... are registers, plain memory that writes "
                                "set and erases keep (--model adds those of the model)",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             size_t pos = 0;
             while (pos <= v.size()) {
                 size_t end = v.find(',', pos);
                 if (end == std::string::npos) end = v.size();
                 const std::string item = v.substr(pos, end - pos);
                 const size_t plus = item.find('+');
                 long a, n;
                 if (plus == std::string::npos || !ParseInt(item.substr(0, plus), 0, 0xFFFFFF, a) ||
                     !ParseInt(item.substr(plus + 1), 1, 0x1000000 - a, n)) {
                     e = "--registers takes ADDR+SIZE items inside 0..0xFFFFFF, like 0x1F0000+50";
                     return false;
                 }
                 o.registers.push_back({uint32_t(a), uint32_t(n)});
                 pos = end + 1;
             }
             return true;
         }},
        {"--faults", "LIST", "line faults drop=P,corrupt=P,stray=P (P from 0 to 1): drop loses the reply (the device "
                             "has carried the request out), corrupt flips a bit of the reply, stray sends 1-4 random bytes before it",
         [](RSimOptions& o, const std::string& v, std::string& e) { return o.faults.Parse(v, e); }},
        {"--seed", "N", "seed of the fault generator (default 1): the same seed gives the same faults",
         [](RSimOptions& o, const std::string& v, std::string& e) {
             long x;
             if (!ParseInt(v, 0, 0xFFFFFFFFL, x)) {
                 e = "--seed must be a number";
                 return false;
             }
             o.seed = uint32_t(x);
             return true;
         }},
        {"--baud", "RATE", "pace every byte as an 8N1 line at RATE does (10 bits per byte), both ways; 0 = unpaced",
         [](RSimOptions& o, const std::string& v, std::string& e) { return IntOption(v, 0, 4000000, o.baud, "--baud", e); }},
        {"--verbose", nullptr, "print a line per served frame count on exit",
         [](RSimOptions& o, const std::string&, std::string&) { o.verbose = true; return true; }},
        {"--help", nullptr, "show this text",
         [](RSimOptions& o, const std::string&, std::string&) { o.help = true; return true; }},
    };
    static bool net = [] {
        for (auto& row : NetOptions()) t.push_back(row);
        for (auto& row : DiscoveryOptions()) t.push_back(row);
        return true;
    }();
    (void)net;
    return t;
}

bool ParseSimOptions(int argc, char** argv, RSimOptions& opts, std::string& error) {
    auto& table = SimOptionTable();
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string value;
        const size_t eq = a.find('=');
        bool inlineValue = a.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        const RSimOption* opt = nullptr;
        for (const auto& o : table)
            if (a == o.name) opt = &o;
        if (!opt) {
            error = "unknown option '" + a + "'";
            return false;
        }
        if (opt->arg && !inlineValue) {
            if (i + 1 >= argc) {
                error = a + " needs " + opt->arg;
                return false;
            }
            value = argv[++i];
        }
        if (!opt->apply(opts, value, error)) return false;
    }
    return true;
}

std::string SimUsage() {
    std::ostringstream s;
    s << "usage: varosim [OPTIONS]\n"
         "A virtual device of the family: flash chip, direct region, signature, identity and clock,\n"
         "answering the device link's frames on a pseudo-terminal.\n\noptions:\n";
    for (const auto& o : SimOptionTable()) {
        std::string left = std::string(o.name) + (o.arg ? std::string(" ") + o.arg : "");
        std::string help = o.help ? o.help : "";
        if (std::string(o.name) == "--chip") help = "flash chip to emulate (default S25FL016K): " + ChipNames();
        s << "  " << left;
        if (left.size() < 22) s << std::string(22 - left.size(), ' ');
        else s << "\n" << std::string(24, ' ');
        s << help << "\n";
    }
    s << "\nMemory: flash regions selected by address bits 28-31 (page dialects), the direct region\n"
         "0xF0000000-0xF000FFFF, NOR rules (programming clears bits, erase sets 0xFF).\n";
    return s.str();
}
