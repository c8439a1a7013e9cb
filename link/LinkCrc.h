#pragma once
#include <cstddef>
#include <cstdint>

// Short frames: reflected CRC-8, polynomial 0x31 (0x8C reflected), initial 0xFF, no final XOR.
uint8_t LinkCrc8(const uint8_t* data, size_t n, uint8_t crc = 0xFF);
// Addressed frames and sealed device records: CRC-16/MODBUS (0xA001 reflected, initial 0xFFFF).
// A frame with its checksum appended (low byte first) gives 0.
uint16_t LinkCrc16(const uint8_t* data, size_t n, uint16_t crc = 0xFFFF);
