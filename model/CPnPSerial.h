#pragma once
#include "model/CPnPBlock.h"

#include <string>

// Address that means "read the device identity" instead of memory.
constexpr uint32_t kPnPSerialFromIdentity = 0xFFFFFFFFu;

// "serial": the device's serial number, shown as hexadecimal groups.
class CPnPSerial : public CPnPBlock {
public:
    CPnPSerial(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPSerial() override;

    int32_t size = 8;  // 8 .. 128, a multiple of 8

    bool FromIdentity() const { return address == kPnPSerialFromIdentity; }
    // Size rule: below 8 counts as 8, above 128 as 128, else rounded up to a multiple of 8.
    static int32_t ClampSize(int32_t raw);
    // "%02X%02X-%02X%02X-%02X%02X-%02X%02X" for 8 bytes, groups of four bytes otherwise.
    static std::string Text(const uint8_t* bytes, size_t n);
};
