#pragma once
#include <cstddef>
#include <cstdint>

// The byte transport under the frame layer. Serial ports implement it here; the Ethernet
// link implements it over TCP or UDP, and the point-B sequences run unchanged on either.
class IPortIO {
public:
    virtual ~IPortIO() = default;
    // All count bytes or failure.
    virtual bool PortWriteData(const uint8_t* data, int count) = 0;
    // Exactly count bytes or failure (time-out, error, closed).
    virtual bool PortReadData(uint8_t* data, int count) = 0;
};
