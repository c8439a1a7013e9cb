#include "link/LinkCrc.h"

#include <array>

namespace {
// Table-driven: a 64 KiB write moves ~70 k bytes through the CRC each way.
constexpr std::array<uint8_t, 256> MakeCrc8Table() {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint8_t c = uint8_t(i);
        for (int b = 0; b < 8; ++b) c = (c & 1) ? uint8_t((c >> 1) ^ 0x8C) : uint8_t(c >> 1);
        t[i] = c;
    }
    return t;
}
constexpr std::array<uint16_t, 256> MakeCrc16Table() {
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint16_t c = uint16_t(i);
        for (int b = 0; b < 8; ++b) c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
        t[i] = c;
    }
    return t;
}
constexpr auto kCrc8 = MakeCrc8Table();
constexpr auto kCrc16 = MakeCrc16Table();
}  // namespace

uint8_t LinkCrc8(const uint8_t* data, size_t n, uint8_t crc) {
    for (size_t i = 0; i < n; ++i) crc = kCrc8[crc ^ data[i]];
    return crc;
}

uint16_t LinkCrc16(const uint8_t* data, size_t n, uint16_t crc) {
    for (size_t i = 0; i < n; ++i) crc = uint16_t((crc >> 8) ^ kCrc16[(crc ^ data[i]) & 0xFF]);
    return crc;
}
