#include "sim/SimFromModel.h"

#include "model/CPnPControl.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPModel.h"
#include "model/CPnPMultiScreen.h"
#include "model/CPnPPicbank.h"
#include "model/CPnPUIT.h"
#include "model/CPnPButtonMapping.h"
#include "model/CPnPSerial.h"
#include "model/CPnPStatus.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {
// Factory files are read up to this much per item: the largest region of a real model.
constexpr int64_t kMaxFileBytes = 0x1000000;
constexpr uint32_t kDirectRegion = 0xF0000000u;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Stem(const std::string& path, std::string& parent) {
    auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
    auto pslash = dir.find_last_of('/');
    parent = pslash == std::string::npos ? dir : dir.substr(pslash + 1);
    auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool ReadFile(const std::string& path, int64_t limit, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    uint8_t buf[65536];
    while (int64_t(out.size()) < limit) {
        size_t want = size_t(std::min<int64_t>(sizeof buf, limit - int64_t(out.size())));
        size_t got = std::fread(buf, 1, want, f);
        out.insert(out.end(), buf, buf + got);
        if (got < want) break;
    }
    std::fclose(f);
    return true;
}

// The document read a second time for the hints beside the loaded objects.
struct Hints {
    TiXmlDocument doc;
    const TiXmlElement* pnp = nullptr;
};

const char* Attr(const TiXmlElement* e, const char* name) { return e ? e->Attribute(name) : nullptr; }

class Builder {
public:
    Builder(const CPnPModel& m, const TiXmlElement* pnp, SimModelImage& out) : m_model(m), m_pnp(pnp), m_out(out) {}

    void Run() {
        // The loaded elements in document order line up with the "pnp" children that were
        // accepted; walk both together by recomputing acceptance from the kind and position.
        std::vector<int> seen(17, 0);
        size_t next = 0;
        for (const TiXmlElement* e = m_pnp->FirstChildElement(); e && next < m_model.elements.size();
             e = e->NextSiblingElement()) {
            int kind = PnPKindOfElementName(e->Value());
            if (kind == 0 || kind != m_model.elements[next]->kind) continue;
            // Dropped elements of the same kind would have no items, or be duplicates.
            bool dup = kind >= kPnPSerial && kind <= kPnPControls && seen[kind] > 0;
            if (dup) continue;
            if ((kind == kPnPPictures || kind == kPnPService || kind == kPnPBin || kind == kPnPPicText ||
                 kind == kPnPDynamicLabels || kind == kPnPPicturesCompressed) &&
                !e->FirstChildElement("item"))
                continue;
            ++seen[kind];
            Element(*m_model.elements[next], e);
            ++next;
        }
    }

private:
    // Flash the model addresses, written or not (picture banks, compressed slots ...).
    void Need(uint32_t address, int64_t size) {
        if (address >= kDirectRegion || size <= 0) return;
        uint64_t end = uint64_t(address & 0x0FFFFFFFu) + uint64_t(size);
        m_out.flashBytesNeeded = uint32_t(std::max<uint64_t>(m_out.flashBytesNeeded, std::min<uint64_t>(end, 0x10000000)));
    }

    void Write(uint32_t address, std::vector<uint8_t> bytes) {
        if (bytes.empty()) return;
        Need(address, int64_t(bytes.size()));
        m_out.writes.push_back({address, std::move(bytes)});
    }

    void Registers(uint32_t address, int32_t size) {
        if (address < kDirectRegion && size > 0) m_out.registers.push_back({address, uint32_t(size)});
    }

    void Extent(const CPnPBlock& b) {
        for (const auto& it : b.items) Need(it->address, it->size);
        switch (b.kind) {
        case kPnPSettingsBlock: Need(b.address, static_cast<const CPnPBlockSettings&>(b).size); break;
        case kPnPSettingsGroup:
            for (const auto& blk : static_cast<const CPnPGroupSettings&>(b).blocks) Need(blk->address, blk->size);
            break;
        case kPnPControls: Need(b.address, static_cast<const CPnPControl&>(b).size); break;
        case kPnPStatus: Need(b.address, static_cast<const CPnPStatus&>(b).size); break;
        case kPnPUIT: Need(b.address, CPnPUIT::kFrameBytes); break;
        case kPnPPicturebank: {
            auto& p = static_cast<const CPnPPicbank&>(b);
            Need(p.dataAddress, int64_t(CPnPPicbank::kImages + 1) * CPnPPicbank::kBlockSize);
            Need(p.mapAddress, CPnPPicbank::kMapSize);
            break;
        }
        case kPnPMultiScreen: {
            auto& m = static_cast<const CPnPMultiScreen&>(b);
            Need(m.address, m.size);
            Need(m.coverAddress, m.CoverSize());
            break;
        }
        case kPnPPanelMapping: {
            auto& p = static_cast<const CPnPButtonMapping&>(b);
            if (p.size != 0xFFFFFFFFu) Need(p.address, int64_t(p.size));
            break;
        }
        default: break;
        }
    }

    void Items(const CPnPBlock& b) {
        for (const auto& it : b.items) {
            if (it->fileName.empty() || it->size <= 0) continue;
            std::vector<uint8_t> data;
            if (!ReadFile(it->fileName, std::min<int64_t>(it->size, kMaxFileBytes), data)) {
                m_out.missingFiles.push_back(it->fileName);
                continue;
            }
            Write(it->address, std::move(data));
        }
    }

    static bool Has(const TiXmlElement* e, const char* a) { return e && e->Attribute(a); }

    // Node value from hints: sim_value, else the node's default.
    static void NodeValue(const CPnPSettingsNode& n, const TiXmlElement* x, int32_t& value, CPnPSettingsNode::Bytes& bytes) {
        value = n.def;
        bytes = n.defaultBytes;
        const char* v = Attr(x, "sim_value");
        if (!v) return;
        if (n.type == kPnPTypeNumeric) {
            value = int32_t(PnPParseUnsigned(v));
        } else if (n.type == kPnPTypeAscii || n.type == kPnPTypeAsciiz) {
            bytes.fill(0);
            size_t limit = size_t(n.size) - (n.type == kPnPTypeAsciiz && n.size > 0 ? 1 : 0);
            std::memcpy(bytes.data(), v, std::min(std::strlen(v), limit));
        } else if (n.type == kPnPTypeDec || n.type == kPnPTypeHex) {
            uint32_t u = PnPParseUnsigned(v);
            bytes.fill(0);
            for (int i = 0; i < 4; ++i) bytes[size_t(i)] = uint8_t(u >> (8 * i));
        } else {
            bytes.fill(0);
            auto hb = SimHexBytes(v, size_t(n.size));
            std::copy(hb.begin(), hb.end(), bytes.begin());
        }
    }

    // The node elements in pre-order, as CPnPSettings reads them.
    static void NodeXml(const TiXmlElement* e, std::vector<const TiXmlElement*>& out) {
        for (const TiXmlElement* n = e->FirstChildElement("node"); n; n = n->NextSiblingElement("node")) {
            out.push_back(n);
            NodeXml(n, out);
        }
    }

    void Register(const CPnPSettings& s, const TiXmlElement* e) {
        std::vector<const TiXmlElement*> xml;
        NodeXml(e, xml);
        for (size_t i = 0; i < s.nodes.size() && i < xml.size(); ++i) {
            const CPnPSettingsNode& n = *s.nodes[i];
            if (!n.HasAddress()) continue;
            const TiXmlElement* x = xml[i];
            auto pick = [&](const char* hint, int32_t fallback) {
                const char* t = x->Attribute(hint);
                return uint8_t(t ? PnPParseUnsigned(t) : uint32_t(fallback));
            };
            uint8_t mn = pick("sim_min", n.min), mx = pick("sim_max", n.max), df = pick("sim_default", n.def);
            uint8_t st = pick("sim_step", n.step ? n.step : 1);
            uint8_t val = pick("sim_value", df);
            Write(s.RegisterAddress(n), {val, mn, mx, df, st});
            Registers(s.RegisterAddress(n), 5);
        }
    }

    void Block(CPnPBlockSettings& b, const TiXmlElement* e) {
        if (!b.HasRecord()) return;
        std::vector<const TiXmlElement*> xml;
        NodeXml(e, xml);
        std::vector<uint8_t> image(size_t(b.size), 0);
        for (size_t i = 0; i < b.nodes.size() && i < xml.size(); ++i) {
            CPnPSettingsNode n = *b.nodes[i];  // a copy: the model stays as loaded
            if (n.controlKind == kPnPCtlNone) continue;
            int32_t value;
            CPnPSettingsNode::Bytes bytes;
            NodeValue(n, xml[i], value, bytes);
            n.Encode(image, value, bytes.data());
        }
        PnPSealBlock(image);
        Write(b.address, std::move(image));
    }

    void Controls(const CPnPControl& c, const TiXmlElement* e) {
        if (c.size <= 0) return;
        Registers(c.address, c.size);
        std::vector<uint8_t> rec = SimHexBytes(Attr(e, "sim_value") ? Attr(e, "sim_value") : "", size_t(c.size));
        rec.resize(size_t(c.size), 0);
        std::vector<const TiXmlElement*> xml;
        Tree(e, "control", true, xml);
        for (size_t i = 0; i < c.nodes.size() && i < xml.size(); ++i) {
            const auto& n = *c.nodes[i];
            if (n.HasSwitch() && n.offset < rec.size() && PnPAttrBool(xml[i], "sim_value"))
                rec[n.offset] = uint8_t((rec[n.offset] & ~n.mask) | n.value);
        }
        Write(c.address, std::move(rec));
    }

    void Status(const CPnPStatus& s, const TiXmlElement* e) {
        if (s.size <= 0) return;
        Registers(s.address, s.size);
        std::vector<uint8_t> rec = SimHexBytes(Attr(e, "sim_value") ? Attr(e, "sim_value") : "", size_t(s.size));
        rec.resize(size_t(s.size), 0);
        std::vector<const TiXmlElement*> xml;
        Tree(e, "info", false, xml);
        for (size_t i = 0; i < s.nodes.size() && i < xml.size(); ++i) {
            const auto& n = *s.nodes[i];
            if (n.offset < rec.size() && PnPAttrBool(xml[i], "sim_value"))
                rec[n.offset] = uint8_t((rec[n.offset] & ~n.mask) | n.value);
        }
        Write(s.address, std::move(rec));
    }

    static void Tree(const TiXmlElement* e, const char* name, bool nested, std::vector<const TiXmlElement*>& out) {
        for (const TiXmlElement* c = e->FirstChildElement(name); c; c = c->NextSiblingElement(name)) {
            out.push_back(c);
            if (nested) Tree(c, name, nested, out);
        }
    }

    void Serial(const CPnPSerial& s, const TiXmlElement* e) {
        std::vector<uint8_t> sn;
        if (const char* v = Attr(e, "sim_value")) {
            sn = SimHexBytes(v, size_t(s.size));
        } else {
            // A made-up but stable number: the signature's bytes folded into a counter.
            uint32_t h = 2166136261u;
            for (char c : m_out.signature) h = (h ^ uint8_t(c)) * 16777619u;
            for (int i = 0; i < s.size; ++i) sn.push_back(uint8_t(h >> (8 * (i % 4))) ^ uint8_t(i));
        }
        sn.resize(size_t(s.size), 0);
        if (s.FromIdentity()) {
            if (m_out.identity.empty()) m_out.identity = sn;
        } else {
            Write(s.address, std::move(sn));
        }
    }

    void Element(CPnPBlock& b, const TiXmlElement* e) {
        Extent(b);
        Items(b);
        switch (b.kind) {
        case kPnPSettings: Register(static_cast<CPnPSettings&>(b), e); break;
        case kPnPSettingsBlock: Block(static_cast<CPnPBlockSettings&>(b), e); break;
        case kPnPSettingsGroup: {
            auto& g = static_cast<CPnPGroupSettings&>(b);
            std::vector<const TiXmlElement*> templates;
            for (const TiXmlElement* x = e->FirstChildElement("settings_block"); x; x = x->NextSiblingElement("settings_block"))
                templates.push_back(x);
            for (auto& blk : g.blocks)
                if (blk->templateIndex >= 0 && size_t(blk->templateIndex) < templates.size())
                    Block(*blk, templates[size_t(blk->templateIndex)]);
            break;
        }
        case kPnPControls: Controls(static_cast<CPnPControl&>(b), e); break;
        case kPnPStatus: Status(static_cast<CPnPStatus&>(b), e); break;
        case kPnPSerial: Serial(static_cast<CPnPSerial&>(b), e); break;
        default: break;
        }
    }

    const CPnPModel& m_model;
    const TiXmlElement* m_pnp;
    SimModelImage& m_out;
};
}  // namespace

std::vector<uint8_t> SimHexBytes(const std::string& t, size_t maxBytes) {
    std::vector<uint8_t> out;
    for (size_t i = 0; out.size() < maxBytes && i + 1 < t.size(); i += 2) {
        int hi = HexDigit(t[i]), lo = HexDigit(t[i + 1]);
        out.push_back(hi < 0 ? 0 : lo < 0 ? uint8_t(hi) : uint8_t(hi * 16 + lo));
    }
    return out;
}

SimModelImage SimFromModel(const std::string& path, const std::string& programFolder) {
    SimModelImage out;
    CPnPModel model;
    model.SetProgramFolder(programFolder);
    out.result = model.Load(path);
    if (out.result != kPnPLoaded) return out;
    Hints h;
    if (!h.doc.LoadFile(path.c_str(), TIXML_ENCODING_LEGACY)) return out;
    h.pnp = h.doc.FirstChildElement() ? h.doc.FirstChildElement()->FirstChildElement("pnp") : nullptr;
    if (!h.pnp) return out;

    std::string parent;
    std::string stem = Stem(path, parent);
    if (const char* s = h.pnp->Attribute("sim_signature"))
        out.signature = s;
    else if (strcasecmp(parent.c_str(), "ModelsPnP") == 0)
        out.signature = stem;
    if (out.signature.size() > 32) out.signature.resize(32);
    if (const char* id = h.pnp->Attribute("sim_identity")) out.identity = SimHexBytes(id, 64);

    Builder(model, h.pnp, out).Run();
    if (out.identity.size() > 64) out.identity.resize(64);
    return out;
}
