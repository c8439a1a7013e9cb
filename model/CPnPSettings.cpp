#include "model/CPnPSettings.h"

#include <tinyxml.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

const char* PnPNodeTypeName(int32_t type) {
    switch (type) {
    case kPnPTypeIpOut: return "ipout";
    case kPnPTypeColor: return "color";
    case kPnPTypeDec: return "dec";
    case kPnPTypeHex: return "hex";
    case kPnPTypeAscii: return "ascii";
    case kPnPTypeAsciiz: return "asciiz";
    case kPnPTypeIpAddr: return "ipaddr";
    default: return "";
    }
}

namespace {
int32_t TypeOf(const char* t) {
    if (!t) return kPnPTypeNumeric;
    if (strcasecmp(t, "ipout") == 0 || std::strcmp(t, "1") == 0) return kPnPTypeIpOut;
    if (strcasecmp(t, "color") == 0) return kPnPTypeColor;
    if (strcasecmp(t, "dec") == 0) return kPnPTypeDec;
    if (strcasecmp(t, "hex") == 0) return kPnPTypeHex;
    if (strcasecmp(t, "ascii") == 0) return kPnPTypeAscii;
    if (strcasecmp(t, "asciiz") == 0) return kPnPTypeAsciiz;
    if (strcasecmp(t, "ipaddr") == 0) return kPnPTypeIpAddr;
    return kPnPTypeNumeric;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two characters per byte; a pair reads up to its first non-hex character.
void ReadHexBytes(const char* t, size_t count, CPnPSettingsNode::Bytes& out) {
    if (!t) return;
    size_t len = std::strlen(t);
    for (size_t i = 0; i < count && i * 2 + 1 < len; ++i) {
        int hi = HexDigit(t[2 * i]), lo = HexDigit(t[2 * i + 1]);
        uint8_t v = 0;
        if (hi >= 0) v = lo >= 0 ? uint8_t(hi * 16 + lo) : uint8_t(hi);
        out[i] = v;
    }
}

void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
}  // namespace

CPnPSettingsNodeListItem::CPnPSettingsNodeListItem(const TiXmlElement* e, const PnPReadContext& ctx) {
    value = PnPAttrSigned(e, "value");
    name = PnPLocalised(e, "name", ctx);
}

CPnPSettingsNodeFlagItem::CPnPSettingsNodeFlagItem(const TiXmlElement* e, const PnPReadContext& ctx) {
    mask = uint8_t(PnPAttrSigned(e, "mask"));
    value = uint8_t(PnPAttrSigned(e, "value"));
    name = PnPLocalised(e, "name", ctx);
}

CPnPSettingsNode::CPnPSettingsNode(const TiXmlElement* e, int32_t d, uint32_t running, const PnPReadContext& ctx)
    : depth(d) {
    name = PnPLocalised(e, "name", ctx);
    const char* addr = e->Attribute("address");
    if (!addr)
        address = kPnPNoAddress;
    else if (std::strcmp(addr, "+") == 0)
        address = running;
    else
        address = PnPParseUnsigned(addr);
    uint32_t sz = PnPAttrUnsigned(e, "size", "1");
    size = int32_t(std::min<uint32_t>(sz, kPnPMaxNodeBytes));
    collapse = PnPAttrBool(e, "collapse");
    type = TypeOf(e->Attribute("type"));
    if (type != kPnPTypeNumeric) {
        ReadHexBytes(e->Attribute("default"), size_t(size), defaultBytes);
        switch (type) {
        case kPnPTypeColor:
            saturation = PnPAttrSigned(e, "saturation", "100");
            break;
        case kPnPTypeDec:
        case kPnPTypeHex:
            size = std::min(size, 4);
            min = int32_t(PnPAttrUnsigned(e, "min"));
            max = int32_t(PnPAttrUnsigned(e, "max"));
            def = int32_t(PnPAttrUnsigned(e, "default"));
            PutLE32(defaultBytes.data(), uint32_t(def));
            break;
        case kPnPTypeAscii:
        case kPnPTypeAsciiz: {
            min = 0;
            max = 1;
            defaultBytes.fill(0);
            std::string text = PnPAttrText(e, "default");
            std::memcpy(defaultBytes.data(), text.data(), std::min(text.size(), size_t(size)));
            break;
        }
        default:
            break;
        }
    } else {
        size = std::min(size, 4);
        min = int32_t(PnPAttrUnsigned(e, "min"));
        max = int32_t(PnPAttrUnsigned(e, "max"));
        step = int32_t(PnPAttrUnsigned(e, "step"));
        def = int32_t(PnPAttrUnsigned(e, "default"));
    }
    info = PnPLocalisedInfo(e, "info", ctx);
    infoIcon = std::clamp(PnPAttrSigned(e, "info_type"), 0, 2);
    a = PnPAttrDouble(e, "a", "1.0");
    b = PnPAttrDouble(e, "b", "0.0");
    scaled = std::fabs(a) != 1.0 || std::fabs(b) > 0.0;
    if (scaled) {
        decimals = std::clamp(PnPAttrSigned(e, "decimals"), 0, 8);
        deadZoneMin = PnPAttrDouble(e, "deadzone_min", "-9999999.0");
        deadZoneMax = PnPAttrDouble(e, "deadzone_max", "9999999.0");
    }
    for (const TiXmlElement* l = e->FirstChildElement("list"); l; l = l->NextSiblingElement("list"))
        listItems.emplace_back(l, ctx);
    for (const TiXmlElement* c = e->FirstChildElement("checkbox"); c && flagItems.size() < kPnPMaxFlagItems;
         c = c->NextSiblingElement("checkbox"))
        flagItems.emplace_back(c, ctx);
    for (size_t i = 0; i < flagItems.size(); ++i)
        for (size_t j = 0; j < flagItems.size(); ++j)
            if (i != j && (flagItems[i].mask & flagItems[j].mask)) flagItems[i].exclusive = true;
    enabled = true;
    value = 0;
    valueBytes.fill(0);
    blockIndex = -1;
    controlKind = HasAddress() ? kPnPCtlAddressed : kPnPCtlNone;
}

int32_t CPnPSettingsNode::QualifiedControlKind() const {
    if (type != kPnPTypeNumeric) return kPnPCtlTyped;
    if (!listItems.empty()) return kPnPCtlList;
    if (!flagItems.empty()) return kPnPCtlFlags;
    if (min == 0 && max == 1) return kPnPCtlCheckBox;
    return kPnPCtlSlider;
}

void CPnPSettingsNode::ApplyRegisterLimits(const uint8_t limits[4]) {
    min = limits[0];
    max = limits[1];
    def = limits[2];
    step = limits[3];
    enabled = min < max;
    if (enabled && HasAddress()) controlKind = QualifiedControlKind();
}

bool CPnPSettingsNode::FitsIn(size_t imageSize) const {
    return HasAddress() && size > 0 && uint64_t(address) + uint64_t(size) <= imageSize;
}

void CPnPSettingsNode::Decode(const std::vector<uint8_t>& image) {
    if (!FitsIn(image.size())) return;
    const uint8_t* p = image.data() + address;
    bool isSigned = std::min(min, max) < 0;
    if (controlKind == kPnPCtlTyped) {
        std::memcpy(valueBytes.data(), p, size_t(size));
    } else if (size == 1) {
        value = isSigned ? int32_t(int8_t(p[0])) : int32_t(p[0]);
    } else if (size == 2) {
        uint16_t v = uint16_t(p[0] | (p[1] << 8));
        value = isSigned ? int32_t(int16_t(v)) : int32_t(v);
    } else if (size == 4) {
        value = int32_t(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24));
    }
}

void CPnPSettingsNode::Encode(std::vector<uint8_t>& image, int32_t newValue, const uint8_t* newBytes) {
    if (FitsIn(image.size())) {
        uint8_t* p = image.data() + address;
        if (controlKind == kPnPCtlTyped) {
            if (newBytes) {
                std::memcpy(p, newBytes, size_t(size));
                std::memcpy(valueBytes.data(), newBytes, size_t(size));
            }
        } else if (size == 1 || size == 2 || size == 4) {
            for (int i = 0; i < size; ++i) p[i] = uint8_t(uint32_t(newValue) >> (8 * i));
        }
    }
    value = newValue;
}

uint32_t CPnPSettingsNode::TypedNumber(const Bytes& bytes) const {
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
}

bool CPnPSettingsNode::NeedsReset() const {
    if (min == max) return false;
    if (type == kPnPTypeDec || type == kPnPTypeHex) {
        // Typed numbers are entered without a sign, so their limits compare unsigned.
        uint32_t v = TypedNumber(valueBytes);
        uint32_t lo = std::min(uint32_t(min), uint32_t(max)), hi = std::max(uint32_t(min), uint32_t(max));
        return v < lo || v > hi;
    }
    if (type != kPnPTypeNumeric) return false;
    int32_t lo = std::min(min, max), hi = std::max(min, max);
    return value < lo || value > hi;
}

void CPnPSettingsNode::ResetToDefault() {
    value = def;
    valueBytes = defaultBytes;
}

bool CPnPSettingsNode::IsChanged(int32_t newValue, const uint8_t* newBytes) const {
    if (newValue != value) return true;
    if (!newBytes) return false;
    return std::memcmp(newBytes, valueBytes.data(), size_t(std::clamp(size, 0, int32_t(kPnPMaxNodeBytes)))) != 0;
}

std::string CPnPSettingsNode::DisplayText(int32_t v) const {
    char buf[64];
    if (!scaled) {
        std::snprintf(buf, sizeof buf, "%d", v);
        return buf;
    }
    double x = double(v) * a + b;
    if (x < deadZoneMin) x = deadZoneMin;
    if (x > deadZoneMax) x = deadZoneMax;
    if (decimals != 0) {
        std::snprintf(buf, sizeof buf, "%.*f", int(decimals), x);
        return buf;
    }
    double r = std::round(x);  // halves away from zero
    if (!(std::fabs(r) < 9.2e18)) r = 0;
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(r));
    return buf;
}

int32_t CPnPSettingsNode::SetFlagItem(size_t i) const {
    if (i >= flagItems.size()) return value;
    uint32_t v = uint32_t(value), m = flagItems[i].mask, iv = flagItems[i].value;
    if ((v & m) == iv) return int32_t(v & ~m);
    return int32_t((v & ~m) | iv);
}

int32_t CPnPSettingsNode::SetExclusiveFlagItem(size_t i) const {
    if (i >= flagItems.size() || FlagItemChecked(i)) return value;
    uint32_t v = uint32_t(value), m = flagItems[i].mask;
    for (const auto& f : flagItems)
        if (f.mask & m) v &= ~uint32_t(f.mask);
    return int32_t(v | flagItems[i].value);
}

bool CPnPSettingsNode::FlagItemChecked(size_t i) const {
    return i < flagItems.size() && (uint32_t(value) & flagItems[i].mask) == flagItems[i].value;
}

int32_t CPnPSettingsNode::SliderRange() const {
    int64_t r = int64_t(max) - int64_t(min);
    return int32_t(std::min<int64_t>(r < 0 ? -r : r, INT32_MAX));
}

int32_t CPnPSettingsNode::SliderToValue(int32_t position) const {
    bool reversed = max < min;
    int64_t p = position;
    if (reversed) p = (int64_t(min) - max) - p;
    if (step > 1 && p % step != 0) {
        int64_t r = p % step;
        if (r < 0) r += step;
        p = (2 * r >= step) ? p - r + step : p - r;
    }
    int64_t lo = reversed ? max : min, hi = reversed ? min : max;
    return int32_t(std::clamp<int64_t>(lo + p, lo, hi));
}

int32_t CPnPSettingsNode::ValueToSlider(int32_t v) const {
    int64_t p = max < min ? int64_t(min) - v : int64_t(v) - min;
    return int32_t(std::clamp<int64_t>(p, INT32_MIN, INT32_MAX));
}

int32_t CPnPSettingsNode::StepDown() const {
    if (min <= max) return int32_t(std::max<int64_t>(min, int64_t(value) - step));
    return int32_t(std::min<int64_t>(min, int64_t(value) + step));
}

int32_t CPnPSettingsNode::StepUp() const {
    if (min <= max) return int32_t(std::min<int64_t>(max, int64_t(value) + step));
    return int32_t(std::max<int64_t>(max, int64_t(value) - step));
}

namespace {
void StoreLimited(uint64_t n, int32_t min, int32_t max, CPnPSettingsNode::Bytes& out) {
    uint64_t lo = std::min(uint32_t(min), uint32_t(max)), hi = std::max(uint32_t(min), uint32_t(max));
    n = std::clamp(n, lo, hi);
    out.fill(0);
    PutLE32(out.data(), uint32_t(n));
}
}  // namespace

void CPnPSettingsNode::ParseDec(const std::string& text, Bytes& out) const {
    uint64_t n = 0;
    for (size_t i = 0; i < text.size() && i < 10 && text[i] >= '0' && text[i] <= '9'; ++i) n = n * 10 + unsigned(text[i] - '0');
    StoreLimited(n, min, max, out);
}

void CPnPSettingsNode::ParseHex(const std::string& text, Bytes& out) const {
    uint64_t n = 0;
    size_t limit = size_t(std::clamp(size, 1, 4)) * 2;
    for (size_t i = 0; i < text.size() && i < limit && HexDigit(text[i]) >= 0; ++i) n = n * 16 + unsigned(HexDigit(text[i]));
    StoreLimited(n, min, max, out);
}

void CPnPSettingsNode::ParseText(const std::string& text, Bytes& out) const {
    out.fill(0);
    size_t limit = size_t(std::clamp(size, 0, int32_t(kPnPMaxNodeBytes)));
    if (type == kPnPTypeAsciiz && limit > 0) --limit;
    std::memcpy(out.data(), text.data(), std::min(limit, text.size()));
}

void CPnPSettingsNode::ParseIpAddr(const std::string fields[4], Bytes& out) const {
    out.fill(0);
    uint8_t ip[4];
    for (int i = 0; i < 4; ++i) {
        const std::string& f = fields[i];
        if (f.empty()) return;  // 0.0.0.0
        unsigned n = 0;
        for (char c : f) {
            if (c < '0' || c > '9') break;
            n = std::min(n * 10 + unsigned(c - '0'), 255u);
        }
        ip[i] = uint8_t(n);
    }
    std::memcpy(out.data(), ip, 4);
}

std::string CPnPSettingsNode::IpAddrText(const uint8_t* p) {
    if (!p[0] && !p[1] && !p[2] && !p[3]) return {};
    char buf[20];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    return buf;
}

void CPnPSettingsNode::ColourBytes(uint32_t c, Bytes& out) {
    out.fill(0);
    out[0] = uint8_t(c);        // Y
    out[1] = uint8_t(c >> 8);   // Cb
    out[2] = uint8_t(c >> 16);  // Cr
}

bool CPnPSettingsNode::ChooseColour(uint32_t chosenRgb, uint32_t currentRgb, ColourToDeviceFn toDevice, Bytes& out) const {
    if (!toDevice) return false;
    int sat = saturation < 10 || saturation > 100 ? 100 : saturation;
    uint32_t converted = toDevice(chosenRgb, sat);
    if (converted == toDevice(currentRgb, 100)) return false;
    ColourBytes(converted, out);
    return true;
}

PnPStreamOutput CPnPSettingsNode::DecodeStreamOutput(const uint8_t* p) {
    PnPStreamOutput s;
    s.running = (p[0] & 0x0F) == 1;
    std::memcpy(s.ip, p + 2, 4);
    s.port = uint16_t((p[6] << 8) | p[7]);
    s.mode = uint16_t((p[8] << 8) | p[9]);
    s.protocol = p[10] & 0x0F;
    s.noStuffing = (p[10] & 0x10) != 0;
    s.tos = p[11];
    return s;
}

void CPnPSettingsNode::BuildStreamStart(const Bytes& current, const PnPStreamOutput& f, Bytes& out) {
    out = current;
    out[0] = 0x11;
    std::memcpy(out.data() + 2, f.ip, 4);
    out[6] = uint8_t(f.port >> 8);
    out[7] = uint8_t(f.port);
    out[8] = uint8_t(f.mode >> 8);
    out[9] = uint8_t(f.mode);
    // Bits 5-7 belong to the device; only the protocol and the stuffing bit are ours.
    out[10] = uint8_t((current[10] & 0xE0) | (f.noStuffing ? 0x10 : 0) | (f.protocol & 0x0F));
    out[11] = f.tos;
}

void CPnPSettingsNode::BuildStreamStop(const Bytes& current, Bytes& out) {
    out = current;
    out[0] = 0x10;
}

void PnPSealBlock(std::vector<uint8_t>& image) {
    if (image.size() < 2) return;
    uint16_t crc = PnPCrc16(image.data(), image.size() - 2);
    image[image.size() - 2] = uint8_t(crc);
    image[image.size() - 1] = uint8_t(crc >> 8);
}

bool PnPBlockSealOk(const std::vector<uint8_t>& image) {
    if (image.size() < 2) return false;
    uint16_t crc = PnPCrc16(image.data(), image.size() - 2);
    return image[image.size() - 2] == uint8_t(crc) && image[image.size() - 1] == uint8_t(crc >> 8);
}

CPnPSettings::CPnPSettings(const TiXmlElement* e, int32_t kindCode, const PnPReadContext& ctx)
    : CPnPBlock(e, kindCode, ctx) {
    uint32_t running = 0;
    ReadNodes(e, 0, running, ctx);
    currentNode = -1;
}

CPnPSettings::~CPnPSettings() = default;

void CPnPSettings::ReadNodes(const TiXmlElement* e, int32_t depth, uint32_t& running, const PnPReadContext& ctx) {
    for (const TiXmlElement* n = e->FirstChildElement("node"); n; n = n->NextSiblingElement("node")) {
        auto node = std::make_unique<CPnPSettingsNode>(n, depth, running, ctx);
        if (node->HasAddress()) running = node->address + uint32_t(node->size);
        nodes.push_back(std::move(node));
        ReadNodes(n, depth + 1, running, ctx);
    }
}

std::vector<std::pair<uint32_t, uint8_t>> CPnPSettings::RegisterDefaults() const {
    std::vector<std::pair<uint32_t, uint8_t>> out;
    for (const auto& n : nodes)
        if (n->HasAddress() && n->enabled) out.emplace_back(RegisterAddress(*n), uint8_t(n->def));
    return out;
}
