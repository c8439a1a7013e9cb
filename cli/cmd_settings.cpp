// varoctl settings: the settings pages of the model the device's signature selects, driven
// through the same page logic as VaroConfig.
//   settings list [ELEMENT]       every settings element with its current values
//   settings get NAME             one setting
//   settings set NAME VALUE       the write the page would make
//   settings reset [NAME]         every default, one element's or one setting's
// NAME is a setting's name or its path "Element/Heading/Setting" (any tail of the path).
#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "cli/CliSession.h"
#include "cli/Varoctl.h"
#include "devicedata/CEngineAdapter.h"
#include "devicedata/ModelDetection.h"
#include "devicedata/SettingsPage.h"
#include "devicedata/SettingsReport.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/CSerialPort.h"
#include "link/eth/CEth1.h"
#include "model/CPnPBlockSettings.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPModel.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {
constexpr const char* kUsage =
    "settings list [ELEMENT] | settings get NAME | settings set NAME VALUE | settings reset [NAME]";

int Usage() {
    std::fprintf(stderr, "usage: varoctl --link KIND:TARGET %s\n", kUsage);
    return kExitUsage;
}

struct Session : CliSession {
    std::vector<CPnPSettings*> Elements() const {
        std::vector<CPnPSettings*> v;
        for (const auto& e : model.elements)
            if (e->kind == kPnPSettings || e->kind == kPnPSettingsBlock || e->kind == kPnPSettingsGroup)
                v.push_back(static_cast<CPnPSettings*>(e.get()));
        return v;
    }

    // A page for the element, opened (limits or blocks read).
    int Open(CSettingsPage& page) {
        page.reportToFile = false;
        page.Open();
        int r = Run();
        if (r == 0 && ui.failed) r = 4;
        if (r == 0 && !page.TreeReady()) r = 4;
        return r;
    }
};

// "Element/Heading/Setting" of every node.
std::string NodePath(const CPnPSettings& el, size_t index) {
    std::vector<std::string> parts{el.nodes[index]->name};
    int depth = el.nodes[index]->depth;
    for (size_t i = index; i-- > 0 && depth > 0;) {
        if (el.nodes[i]->depth < depth) {
            parts.push_back(el.nodes[i]->name);
            depth = el.nodes[i]->depth;
        }
    }
    std::string path = el.name;
    for (size_t i = parts.size(); i-- > 0;) path += "/" + parts[i];
    return path;
}

bool TailMatch(const std::string& path, const std::string& name) {
    if (path == name) return true;
    return path.size() > name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0 &&
           path[path.size() - name.size() - 1] == '/';
}

struct Found {
    CPnPSettings* el = nullptr;
    int node = -1;
};

// The settings that NAME names; prints the candidates when it names none or several.
bool FindNode(Session& s, const std::string& name, Found& out) {
    std::vector<Found> hits;
    std::vector<std::string> paths;
    for (CPnPSettings* el : s.Elements())
        for (size_t i = 0; i < el->nodes.size(); ++i) {
            std::string p = NodePath(*el, i);
            if (TailMatch(p, name)) {
                hits.push_back({el, int(i)});
                paths.push_back(p);
            }
        }
    if (hits.size() == 1) {
        out = hits[0];
        return true;
    }
    if (hits.empty())
        std::fprintf(stderr, "varoctl: no setting named '%s'\n", name.c_str());
    else {
        std::fprintf(stderr, "varoctl: '%s' names several settings:\n", name.c_str());
        for (const auto& p : paths) std::fprintf(stderr, "  %s\n", p.c_str());
    }
    return false;
}

CPnPSettings* FindElement(Session& s, const std::string& name) {
    for (CPnPSettings* el : s.Elements())
        if (el->name == name) return el;
    return nullptr;
}

bool Editable(const CPnPSettingsNode& n) { return n.controlKind >= kPnPCtlCheckBox && n.controlKind <= kPnPCtlTyped; }

std::string Trimmed(const std::string& entry) {
    size_t b = entry.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : entry.substr(b);
}

bool ParseInt(const std::string& t, int32_t& v) {
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long x = std::strtoll(t.c_str(), &end, 0);
    if (errno || !end || *end || x < INT32_MIN || x > 0xFFFFFFFFll) return false;
    v = int32_t(x);
    return true;
}

// VALUE turned into the control's operation on the current node. False: VALUE does not fit.
bool Apply(CSettingsPage& page, CPnPSettingsNode& n, const std::string& value) {
    int32_t v = 0;
    switch (n.controlKind) {
    case kPnPCtlCheckBox: {
        const char* on[] = {"1", "on", "yes", "true", "x"};
        const char* off[] = {"0", "off", "no", "false", ""};
        for (const char* t : on)
            if (strcasecmp(value.c_str(), t) == 0) return page.SetChecked(true), true;
        for (const char* t : off)
            if (strcasecmp(value.c_str(), t) == 0) return page.SetChecked(false), true;
        return false;
    }
    case kPnPCtlSlider: {
        if (!ParseInt(value, v)) return false;
        if (v < std::min(n.min, n.max) || v > std::max(n.min, n.max)) return false;
        page.MoveSlider(n.ValueToSlider(v));
        return true;
    }
    case kPnPCtlList:
        for (size_t i = 0; i < n.listItems.size(); ++i)
            if (strcasecmp(n.listItems[i].name.c_str(), value.c_str()) == 0) return page.ChooseListItem(int(i)), true;
        if (ParseInt(value, v))
            for (size_t i = 0; i < n.listItems.size(); ++i)
                if (n.listItems[i].value == v) return page.ChooseListItem(int(i)), true;
        return false;
    case kPnPCtlFlags: {
        // A number is the whole value; a name checks its item, "-name" clears it.
        if (ParseInt(value, v)) return page.SetValue(v), true;
        bool clear = !value.empty() && value[0] == '-';
        std::string item = clear ? value.substr(1) : value;
        for (size_t i = 0; i < n.flagItems.size(); ++i) {
            if (strcasecmp(n.flagItems[i].name.c_str(), item.c_str()) != 0) continue;
            bool checked = n.FlagItemChecked(i);
            if (n.flagItems[i].exclusive) {
                if (clear) return false;  // a radio button is cleared by choosing another
                if (!checked) page.ClickFlag(int(i));
            } else if (checked == clear) {
                page.ClickFlag(int(i));
            }
            return true;
        }
        return false;
    }
    case kPnPCtlTyped:
        switch (n.type) {
        case kPnPTypeDec:
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return false;
            page.SetTyped(value);
            return true;
        case kPnPTypeHex:
            if (value.empty() || value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
            page.SetTyped(value);
            return true;
        case kPnPTypeAscii:
        case kPnPTypeAsciiz:
            page.SetTyped(value);
            return true;
        case kPnPTypeIpAddr: {
            uint32_t ip = 0;
            std::string f[4];
            if (!value.empty() && !IpFromString(value, ip)) return false;
            if (!value.empty())
                for (int i = 0; i < 4; ++i) f[i] = std::to_string((ip >> (8 * i)) & 0xFF);
            page.SetIpAddr(f);
            return true;
        }
        case kPnPTypeColor: {
            // #RRGGBB, the colour the operator would pick.
            std::string h = value[0] == '#' ? value.substr(1) : value;
            if (h.size() != 6 || h.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
            unsigned long rgb = std::strtoul(h.c_str(), nullptr, 16);
            page.ChooseColour(uint32_t(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16)));
            return true;
        }
        case kPnPTypeIpOut: {
            // "stop", or "start IP:PORT" keeping mode, protocol, options and ToS.
            if (value == "stop") return page.StopStream(), true;
            if (value.rfind("start ", 0) != 0) return false;
            std::string dest = value.substr(6);
            size_t colon = dest.find(':');
            uint32_t ip = 0;
            if (colon == std::string::npos || !IpFromString(dest.substr(0, colon), ip)) return false;
            std::string f[4];
            for (int i = 0; i < 4; ++i) f[i] = std::to_string((ip >> (8 * i)) & 0xFF);
            PnPStreamOutput cur = CPnPSettingsNode::DecodeStreamOutput(n.valueBytes.data());
            int mode = -1;
            for (size_t i = 0; i < n.listItems.size(); ++i)
                if (n.listItems[i].value == cur.mode) mode = int(i);
            char tos[4];
            std::snprintf(tos, sizeof tos, "%02X", cur.tos);
            return page.StartStream(f, dest.substr(colon + 1), mode, cur.protocol <= 2 ? cur.protocol : -1,
                                    cur.noStuffing, tos);
        }
        default:
            return false;
        }
    default:
        return false;
    }
}

// Every default of an element: register settings in one go, block settings block by block.
int ResetElement(Session& s, CPnPSettings* el) {
    CSettingsPage page(s.ctx, el);
    if (int r = s.Open(page)) return r;
    std::vector<int> firsts;
    if (el->kind == kPnPSettings) {
        firsts.push_back(0);
    } else {
        std::vector<const CPnPBlockSettings*> seen;
        for (size_t i = 0; i < el->nodes.size(); ++i) {
            const CPnPBlockSettings* b = page.BlockOf(*el->nodes[i]);
            if (b && std::find(seen.begin(), seen.end(), b) == seen.end()) {
                seen.push_back(b);
                firsts.push_back(int(i));
            }
        }
    }
    int result = 0;
    for (int first : firsts) {
        page.ResetAll(first);
        if (int r = s.Run()) result = r;
    }
    return result == 0 && s.ui.failed ? 4 : result;
}

int RunSettings(const VaroctlOptions& o, const std::vector<std::string>& args) {
    if (args.empty()) return Usage();
    const std::string& verb = args[0];
    if (!((verb == "list" && args.size() <= 2) || (verb == "get" && args.size() == 2) ||
          (verb == "set" && args.size() == 3) || (verb == "reset" && args.size() <= 2)))
        return Usage();
    auto s = std::make_unique<Session>();
    if (!s->Select(o)) return kExitUsage;
    if (int r = s->LoadModel()) return r;

    if (verb == "list") {
        std::vector<CPnPSettings*> els;
        if (args.size() == 2) {
            CPnPSettings* el = FindElement(*s, args[1]);
            if (!el) {
                std::fprintf(stderr, "varoctl: no settings element named '%s'\n", args[1].c_str());
                return kExitUsage;
            }
            els.push_back(el);
        } else {
            els = s->Elements();
        }
        int result = 0;
        for (CPnPSettings* el : els) {
            CSettingsPage page(s->ctx, el);
            int r = s->Open(page);
            if (r == 0) {
                page.PrintReport();
                r = s->Run();
            }
            if (r != 0) {
                result = r;
                continue;
            }
            std::printf("[%s]\n%s", el->name.c_str(), page.LastReportText().c_str());
        }
        return result;
    }

    if (verb == "reset" && args.size() == 1) {
        int result = 0;
        for (CPnPSettings* el : s->Elements())
            if (int r = ResetElement(*s, el)) result = r;
        return result;
    }
    if (verb == "reset") {
        if (CPnPSettings* el = FindElement(*s, args[1])) return ResetElement(*s, el);
    }
    Found f;
    if (!FindNode(*s, args[1], f)) return kExitUsage;
    CSettingsPage page(s->ctx, f.el);
    page.resetInvalid = verb != "get";
    if (int r = s->Open(page)) return r;
    CPnPSettingsNode& n = *f.el->nodes[size_t(f.node)];
    if (!n.enabled) {
        std::fprintf(stderr, "varoctl: '%s' is not present on this device\n", args[1].c_str());
        return kExitUsage;
    }
    if (!Editable(n)) {
        if (verb == "get") {
            std::printf("%s", Trimmed(SettingsReportEntry(n)).c_str());
            return 0;
        }
        std::fprintf(stderr, "varoctl: '%s' is a heading, not a setting\n", args[1].c_str());
        return kExitUsage;
    }
    if (!page.ReadNode(f.node)) return 4;
    if (int r = s->Run()) return r;
    if (s->ui.failed) return 4;
    if (verb == "get") {
        if (n.NeedsReset())
            std::fprintf(stderr, "varoctl: the value lies outside its limits; VaroConfig would reset it to its default\n");
        std::printf("%s", Trimmed(SettingsReportEntry(n)).c_str());
        return 0;
    }
    if (verb == "reset") {
        page.SetValue(n.def, n.controlKind == kPnPCtlTyped ? n.defaultBytes.data() : nullptr);
    } else if (!Apply(page, n, args[2])) {
        std::fprintf(stderr, "varoctl: '%s' does not fit %s\n", args[2].c_str(), NodePath(*f.el, size_t(f.node)).c_str());
        return kExitUsage;
    }
    int r = s->Run();
    if (r == 0 && s->ui.failed) r = 4;
    if (r != 0) return r;
    // Print what the device holds now, read back.
    page.resetInvalid = false;
    if (!page.ReadNode(f.node)) return 4;
    if ((r = s->Run()) != 0) return r;
    std::printf("%s", Trimmed(SettingsReportEntry(n)).c_str());
    return 0;
}

VaroctlRegistrar reg{{"settings", kUsage, &RunSettings}};
}  // namespace
