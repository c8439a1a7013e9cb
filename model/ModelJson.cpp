#include "model/ModelJson.h"

#include "model/CPnPBin.h"
#include "model/CPnPButtonMapping.h"
#include "model/CPnPControl.h"
#include "model/CPnPDynLogo.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPMultiScreen.h"
#include "model/CPnPPicbank.h"
#include "model/CPnPPics.h"
#include "model/CPnPPicsCompressed.h"
#include "model/CPnPSerial.h"
#include "model/CPnPStatus.h"

#include <sys/stat.h>

#include <cstdio>

namespace {
class Json {
public:
    std::string out;

    static std::string Quote(const std::string& s) {
        std::string q = "\"";
        for (unsigned char c : s) {
            switch (c) {
            case '"': q += "\\\""; break;
            case '\\': q += "\\\\"; break;
            case '\n': q += "\\n"; break;
            case '\r': q += "\\r"; break;
            case '\t': q += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Model files are single-byte text: show other bytes as Latin-1 code points.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    q += buf;
                } else {
                    q += char(c);
                }
            }
        }
        return q + "\"";
    }
    void Key(const char* k) {
        Sep();
        out += Quote(k) + ":";
        m_first = true;  // the value follows without a comma
        m_afterKey = true;
    }
    void Str(const char* k, const std::string& v) { Key(k); Raw(Quote(v)); }
    void Int(const char* k, long long v) { Key(k); Raw(std::to_string(v)); }
    void Bool(const char* k, bool v) { Key(k); Raw(v ? "true" : "false"); }
    void Hex(const char* k, uint32_t v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08X", v);
        Str(k, buf);
    }
    void Num(const char* k, double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        Key(k);
        Raw(buf);
    }
    void Open(char c) { Raw(std::string(1, c)); m_first = true; }
    void Close(char c) { out += c; m_first = false; }
    void Raw(const std::string& s) {
        if (!m_afterKey) Sep();
        m_afterKey = false;
        out += s;
        m_first = false;
    }

private:
    void Sep() {
        if (!m_first) out += ",";
    }
    bool m_first = true;
    bool m_afterKey = false;
};

bool FileExists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void Items(Json& j, const CPnPBlock& e) {
    j.Key("items");
    j.Open('[');
    for (const auto& it : e.items) {
        j.Open('{');
        j.Str("name", it->name);
        j.Hex("address", it->address);
        j.Int("size", it->size);
        if (!it->fileName.empty()) {
            j.Str("filename", it->fileName);
            j.Bool("fileExists", FileExists(it->fileName));
        }
        j.Bool("factoryMode", it->factoryMode);
        j.Close('}');
    }
    j.Close(']');
}

void Nodes(Json& j, const CPnPSettings& s) {
    j.Key("nodes");
    j.Open('[');
    for (const auto& n : s.nodes) {
        j.Open('{');
        j.Int("depth", n->depth);
        j.Str("name", n->name);
        if (n->HasAddress()) j.Hex("address", n->address);
        j.Int("size", n->size);
        j.Str("type", n->type ? PnPNodeTypeName(n->type) : "numeric");
        j.Int("controlKind", n->controlKind);
        if (n->type == kPnPTypeNumeric || n->type == kPnPTypeDec || n->type == kPnPTypeHex) {
            j.Int("min", n->min);
            j.Int("max", n->max);
            j.Int("default", n->def);
        }
        if (n->type == kPnPTypeNumeric) j.Int("step", n->step);
        if (n->scaled) {
            j.Num("a", n->a);
            j.Num("b", n->b);
            j.Int("decimals", n->decimals);
        }
        if (n->blockIndex >= 0) j.Int("block", n->blockIndex);
        if (!n->listItems.empty()) {
            j.Key("list");
            j.Open('[');
            for (const auto& l : n->listItems) {
                j.Open('{');
                j.Int("value", l.value);
                j.Str("name", l.name);
                j.Close('}');
            }
            j.Close(']');
        }
        if (!n->flagItems.empty()) {
            j.Key("flags");
            j.Open('[');
            for (const auto& f : n->flagItems) {
                j.Open('{');
                j.Int("mask", f.mask);
                j.Int("value", f.value);
                j.Str("name", f.name);
                j.Bool("exclusive", f.exclusive);
                j.Close('}');
            }
            j.Close(']');
        }
        j.Close('}');
    }
    j.Close(']');
}

void Element(Json& j, const CPnPBlock& e) {
    j.Open('{');
    j.Int("kind", e.kind);
    j.Str("element", PnPKindElementName(e.kind));
    j.Str("class", PnPKindClassName(e.kind));
    j.Str("name", e.name);
    j.Hex("address", e.address);
    j.Bool("user", e.user);
    j.Str("group", e.group);
    j.Int("groupIndex", e.groupIndex);
    j.Bool("factoryMode", e.factoryMode);
    j.Bool("noFactory", e.noFactory);
    if (!e.fileFilter.empty()) j.Str("fileFilter", e.fileFilter);
    switch (e.kind) {
    case kPnPSettingsBlock: {
        auto& b = static_cast<const CPnPBlockSettings&>(e);
        j.Int("size", b.size);
        break;
    }
    case kPnPSettingsGroup: {
        auto& g = static_cast<const CPnPGroupSettings&>(e);
        j.Key("blocks");
        j.Open('[');
        for (const auto& b : g.blocks) {
            j.Open('{');
            j.Str("name", b->name);
            j.Hex("address", b->address);
            j.Int("size", b->size);
            j.Int("nodes", int(b->nodes.size()));
            j.Close('}');
        }
        j.Close(']');
        break;
    }
    case kPnPControls: {
        auto& c = static_cast<const CPnPControl&>(e);
        j.Int("size", c.size);
        j.Key("controls");
        j.Open('[');
        for (const auto& n : c.nodes) {
            j.Open('{');
            j.Int("depth", n->depth);
            j.Str("name", n->name);
            if (n->HasSwitch()) {
                j.Int("offset", n->offset);
                j.Int("mask", n->mask);
                j.Int("value", n->value);
            }
            j.Close('}');
        }
        j.Close(']');
        break;
    }
    case kPnPStatus: {
        auto& s = static_cast<const CPnPStatus&>(e);
        j.Int("size", s.size);
        j.Key("messages");
        j.Open('[');
        for (const auto& n : s.nodes) {
            j.Open('{');
            j.Int("offset", n->offset);
            j.Int("mask", n->mask);
            j.Int("value", n->value);
            j.Int("level", n->level);
            j.Str("name", n->name);
            j.Close('}');
        }
        j.Close(']');
        break;
    }
    case kPnPSerial: {
        auto& s = static_cast<const CPnPSerial&>(e);
        j.Int("size", s.size);
        j.Bool("fromIdentity", s.FromIdentity());
        break;
    }
    case kPnPBin: {
        auto& b = static_cast<const CPnPBin&>(e);
        j.Int("size", b.size);
        j.Bool("exactSize", b.exactSize);
        break;
    }
    case kPnPPictures:
    case kPnPPicText: {
        auto& p = static_cast<const CPnPPics&>(e);
        j.Int("width", p.width);
        j.Int("height", p.height);
        j.Int("format", p.format);
        break;
    }
    case kPnPPicturesCompressed: {
        auto& p = static_cast<const CPnPPicsCompressed&>(e);
        j.Int("width", p.width);
        j.Int("height", p.height);
        j.Int("codec", p.codec);
        break;
    }
    case kPnPPicturebank: {
        auto& p = static_cast<const CPnPPicbank&>(e);
        j.Hex("data", p.dataAddress);
        j.Hex("map", p.mapAddress);
        break;
    }
    case kPnPDynamicLabels: {
        auto& d = static_cast<const CPnPDynLogo&>(e);
        j.Int("width", d.width);
        j.Int("height", d.height);
        j.Int("format", d.format);
        j.Int("frames", d.frames);
        break;
    }
    case kPnPMultiScreen: {
        auto& m = static_cast<const CPnPMultiScreen&>(e);
        j.Int("size", m.size);
        j.Int("width", m.width);
        j.Int("height", m.height);
        j.Int("displays", m.displays);
        break;
    }
    case kPnPPanelMapping: {
        auto& m = static_cast<const CPnPButtonMapping&>(e);
        j.Int("size", int32_t(m.size));
        break;
    }
    default:
        break;
    }
    Items(j, e);
    if (e.kind == kPnPSettings || e.kind == kPnPSettingsBlock || e.kind == kPnPSettingsGroup)
        Nodes(j, static_cast<const CPnPSettings&>(e));
    j.Close('}');
}
}  // namespace

std::string PnPModelToJson(const CPnPModel& model, const std::string& path, int result) {
    Json j;
    j.Open('{');
    j.Str("file", path);
    j.Int("result", result);
    j.Bool("timesync", model.timeSync);
    j.Key("elements");
    j.Open('[');
    for (const auto& e : model.elements) Element(j, *e);
    j.Close(']');
    j.Key("pages");
    j.Open('[');
    for (size_t i = 0; i < model.pages.size(); ++i) {
        const CPnPBlock* p = model.pages[i];
        size_t index = 0;
        while (index < model.elements.size() && model.elements[index].get() != p) ++index;
        j.Open('{');
        j.Int("element", long(index));
        j.Str("title", model.PageTitle(p));
        j.Int("group", p->groupIndex);
        j.Close('}');
    }
    j.Close(']');
    j.Key("groups");
    j.Open('[');
    for (size_t i = 0; i < model.groupNames.size(); ++i) {
        j.Open('{');
        j.Str("name", model.groupNames[i]);
        j.Int("size", model.groupSizes[i]);
        j.Close('}');
    }
    j.Close(']');
    j.Key("missingFiles");
    j.Open('[');
    for (const auto& e : model.elements)
        for (const auto& it : e->items)
            if (!it->fileName.empty() && !FileExists(it->fileName)) j.Raw(Json::Quote(it->fileName));
    j.Close(']');
    j.Close('}');
    return j.out + "\n";
}
