#include "model/PnPRead.h"

#include "app/ProgramFolder.h"
#include "model/FileTypes.h"

#include <tinyxml.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

std::string PnPReadContext::Text(int id) const {
    if (text) {
        std::string s = text(id);
        if (!s.empty()) return s;
    }
    return FileTypeBuiltinText(id);
}

const std::string& PnPReadContext::Folder() const {
    return programFolder.empty() ? ProgramFolder() : programFolder;
}

const std::string& PnPReadContext::LanguageSuffix() const {
    if (m_suffix.empty() || m_suffixOf != language) {
        m_suffixOf = language;
        m_suffix = "_" + language;
        for (auto& c : m_suffix) c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return m_suffix;
}

namespace {
int DigitValue(char c, int base) {
    int d;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    else
        return -1;
    return d < base ? d : -1;
}

bool HexPrefixed(const char* t) {
    return t[0] == '0' && (t[1] == 'x' || t[1] == 'X') && t[2] != '\0';
}

// Reads like strtol/strtoul: blanks, a sign, digits of the base up to the first other
// character; the magnitude saturates instead of wrapping.
void ReadDigits(const char* p, int base, bool allowSign, bool& negative, uint64_t& magnitude) {
    negative = false;
    magnitude = 0;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
    if (allowSign && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    for (int d; (d = DigitValue(*p, base)) >= 0; ++p) {
        magnitude = magnitude * unsigned(base) + unsigned(d);
        if (magnitude > 0xFFFFFFFFull) magnitude = 0x100000000ull;  // saturated
    }
}
}  // namespace

uint32_t PnPParseUnsigned(const char* text) {
    if (!text) return 0;
    bool neg;
    uint64_t m;
    if (HexPrefixed(text)) {
        // The rest is pure hex digits: "0x-1" or "0x 1" read as 0, like the device tools did.
        m = 0;
        for (const char* p = text + 2; DigitValue(*p, 16) >= 0; ++p) {
            m = m * 16 + unsigned(DigitValue(*p, 16));
            if (m > 0xFFFFFFFFull) m = 0x100000000ull;
        }
        return m > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(m);
    }
    ReadDigits(text, 10, true, neg, m);
    if (m > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    // A leading '-' wraps, so "-1" is 0xFFFFFFFF and "-10" a negative limit.
    return neg ? uint32_t(0u - uint32_t(m)) : uint32_t(m);
}

int32_t PnPParseSigned(const char* text) {
    if (!text) return 0;
    bool neg;
    uint64_t m;
    ReadDigits(HexPrefixed(text) ? text + 2 : text, HexPrefixed(text) ? 16 : 10, true, neg, m);
    if (neg) return m >= 0x80000000ull ? std::numeric_limits<int32_t>::min() : -int32_t(m);
    return m >= 0x7FFFFFFFull ? std::numeric_limits<int32_t>::max() : int32_t(m);
}

double PnPParseDouble(const char* text) {
    if (!text) return 0.0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    bool neg = false;
    if (*p == '+' || *p == '-') {
        neg = *p == '-';
        ++p;
    }
    // from_chars is locale-free, unlike strtod under a Qt program's locale.
    double v = 0.0;
    const char* end = p + std::char_traits<char>::length(p);
    auto r = std::from_chars(p, end, v, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(v)) return 0.0;
    return neg ? -v : v;
}

uint32_t PnPAttrUnsigned(const TiXmlElement* e, const char* name, const char* def) {
    const char* t = e->Attribute(name);
    return PnPParseUnsigned(t ? t : def);
}

int32_t PnPAttrSigned(const TiXmlElement* e, const char* name, const char* def) {
    const char* t = e->Attribute(name);
    return PnPParseSigned(t ? t : def);
}

double PnPAttrDouble(const TiXmlElement* e, const char* name, const char* def) {
    const char* t = e->Attribute(name);
    return PnPParseDouble(t ? t : def);
}

bool PnPAttrBool(const TiXmlElement* e, const char* name, const char* def) {
    return PnPAttrSigned(e, name, def) != 0;
}

std::string PnPAttrText(const TiXmlElement* e, const char* name) {
    const char* t = e->Attribute(name);
    return t ? std::string(t) : std::string();
}

std::string PnPLocalised(const TiXmlElement* e, const char* base, const PnPReadContext& ctx) {
    // Attribute names compare exactly, so the base is lowered too (bases are lower case).
    char key[96];
    const std::string& suffix = ctx.LanguageSuffix();
    const char* t = nullptr;
    int n = std::snprintf(key, sizeof key, "%s%s", base, suffix.c_str());
    if (n > 0 && size_t(n) < sizeof key) {
        t = e->Attribute(key);
    } else {
        std::string k = std::string(base) + suffix;
        t = e->Attribute(k.c_str());
    }
    if (t && *t) return t;
    t = e->Attribute(base);
    return t ? std::string(t) : std::string();
}

std::string PnPLocalisedInfo(const TiXmlElement* e, const char* base, const PnPReadContext& ctx) {
    return PnPReplaceAll(PnPLocalised(e, base, ctx), "^", "\r\n");
}

std::string PnPFileName(const std::string& attr, const PnPReadContext& ctx) {
    size_t b = 0, e = attr.size();
    while (b < e && std::isspace(static_cast<unsigned char>(attr[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(attr[e - 1]))) --e;
    std::string name = attr.substr(b, e - b);
    if (name.empty()) return name;
    return ResolveDataPath(ctx.Folder(), name);
}

uint16_t PnPCrc16(const uint8_t* data, size_t size) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

std::string PnPReplaceAll(std::string s, const std::string& what, const std::string& with) {
    if (what.empty()) return s;
    size_t pos = 0;
    while ((pos = s.find(what, pos)) != std::string::npos) {
        s.replace(pos, what.size(), with);
        pos += with.size();
    }
    return s;
}
