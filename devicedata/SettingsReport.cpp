#include "devicedata/SettingsReport.h"

#include "model/CPnPSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < int(sizeof buf)) return std::string(buf, size_t(std::max(n, 0)));
    std::string big(size_t(n) + 1, '\0');
    va_start(ap, fmt);
    std::vsnprintf(big.data(), big.size(), fmt, ap);
    va_end(ap);
    big.resize(size_t(n));
    return big;
}

std::string Dotted(const uint8_t* p) { return Format("%d.%d.%d.%d", p[0], p[1], p[2], p[3]); }

// The value bytes as text: up to the first zero byte, never past the node's size.
std::string BytesText(const CPnPSettingsNode& n) {
    size_t limit = size_t(std::clamp(n.size, 0, int32_t(kPnPMaxNodeBytes)));
    const uint8_t* p = n.valueBytes.data();
    size_t len = 0;
    while (len < limit && p[len]) ++len;
    return std::string(reinterpret_cast<const char*>(p), len);
}
}  // namespace

std::string SettingsReportEntry(const CPnPSettingsNode& n) {
    std::string indent(size_t(std::max(n.depth, 0)) * 2, ' ');
    const char* name = n.name.c_str();
    switch (n.controlKind) {
    case kPnPCtlCheckBox:
        return indent + Format("[%c] %s\n", n.value != 0 ? 'X' : ' ', name);
    case kPnPCtlSlider:
        return indent + Format("%s : %d\n", name, n.value);
    case kPnPCtlList:
        for (const auto& item : n.listItems)
            if (item.value == n.value) return indent + Format("%s : %s\n", name, item.name.c_str());
        return indent + "\n";
    case kPnPCtlFlags: {
        std::string s = indent + Format("%s :\n", name);
        for (size_t i = 0; i < n.flagItems.size(); ++i) {
            const auto& f = n.flagItems[i];
            bool on = n.FlagItemChecked(i);
            s += " " + indent;
            s += f.exclusive ? Format("(%c) %s", on ? 'o' : ' ', f.name.c_str())
                             : Format("[%c] %s", on ? 'X' : ' ', f.name.c_str());
            s += "\n";
        }
        return s;
    }
    case kPnPCtlTyped: {
        const uint8_t* b = n.valueBytes.data();
        switch (n.type) {
        case kPnPTypeDec: return indent + Format("%s : %d\n", name, n.value);
        case kPnPTypeHex: return indent + Format("%s : %X\n", name, unsigned(n.value));
        case kPnPTypeColor: return indent + Format("%s : Y:%03d, Cb:%03d, Cr:%03d\n", name, b[0], b[1], b[2]);
        case kPnPTypeIpAddr: return indent + Format("%s : %s\n", name, Dotted(b).c_str());
        case kPnPTypeAscii:
        case kPnPTypeAsciiz: return indent + Format("%s : %s\n", name, BytesText(n).c_str());
        case kPnPTypeIpOut: {
            static const char* const kProtocols[] = {"RTP+", "RTP", "UDP"};
            int protocol = b[10] & 0x0F;
            std::string s = indent + Format("%s :\n", name);
            s += Format("    IP: %s\n", Dotted(b + 2).c_str());
            s += Format("    Port: %d\n", (b[6] << 8) | b[7]);
            s += Format("    Protocol: %s\n", protocol <= 2 ? kProtocols[protocol] : "");
            s += Format("    ToS: %02X\n", b[11]);
            if (b[10] & 0x10) s += "    Options: No stuffings\n";
            s += "\n";
            return s;
        }
        default: return indent + Format("%s\n", name);
        }
    }
    default:  // headings, and addressed nodes that never got a control
        return indent + Format("%s\n", name);
    }
}

std::string SettingsReportText(const CPnPSettings& element) {
    std::string text;
    for (const auto& n : element.nodes)
        if (n->enabled) text += SettingsReportEntry(*n);
    return text;
}

std::string SettingsReportFileName(const std::tm& t) {
    return Format("varo_%04d%02d%02d_%02d%02d%02d.txt", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                  t.tm_sec);
}

std::string WriteSettingsReport(const std::string& folder, const std::string& name, const std::string& text,
                                bool* written) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    bool ok = false;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::string crlf;
        crlf.reserve(text.size() + text.size() / 16);
        for (char c : text) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        ok = std::fwrite(crlf.data(), 1, crlf.size(), f) == crlf.size();
        ok = std::fclose(f) == 0 && ok;
    }
    if (written) *written = ok;
    return path;
}

uint32_t DeviceColourToRgb(uint8_t y, uint8_t cb, uint8_t cr) {
    double l = 1.164 * (int(y) - 16), u = int(cb) - 128, v = int(cr) - 128;
    auto c = [](double x) { return uint32_t(std::clamp(int(std::lround(x)), 0, 255)); };
    uint32_t r = c(l + 1.793 * v), g = c(l - 0.213 * u - 0.533 * v), b = c(l + 2.112 * u);
    return r | (g << 8) | (b << 16);
}
