#include "model/CPnPSerial.h"

#include <tinyxml.h>

#include <cstdio>

CPnPSerial::CPnPSerial(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPSerial, ctx) {
    size = ClampSize(PnPAttrSigned(e, "size"));
}

CPnPSerial::~CPnPSerial() = default;

int32_t CPnPSerial::ClampSize(int32_t raw) {
    if (raw < 8) return 8;
    if (raw > 128) return 128;
    return (raw + 7) / 8 * 8;
}

std::string CPnPSerial::Text(const uint8_t* b, size_t n) {
    std::string out;
    char buf[4];
    if (n == 8) {
        for (size_t i = 0; i < 8; ++i) {
            if (i && i % 2 == 0) out += '-';
            std::snprintf(buf, sizeof buf, "%02X", b[i]);
            out += buf;
        }
        return out;
    }
    for (size_t i = 0; i < n; ++i) {
        if (i && i % 4 == 0) out += '-';
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        out += buf;
    }
    return out;
}
