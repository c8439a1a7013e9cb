#pragma once
#include <cstdint>

// The serial flash chips the page family knows. A chip matches when (first id byte AND mask)
// equals first and the second id byte equals second.
struct RFlashChip {
    const char* name;
    uint8_t mask;
    uint8_t first;
    uint8_t second;
    uint32_t pageSize;
    uint32_t pages;
    bool s25fl;        // 4 KB sectors erased with 0x10, programmed with 0x11 in 256-byte pages
    uint32_t pageShift;  // smallest k with 2^k >= pageSize
};

int FlashChipCount();
const RFlashChip& FlashChipAt(int i);
// Point-B links know every row; bus B only the last three (pass busB = true).
const RFlashChip* FlashChipMatch(uint8_t id1, uint8_t id2, bool busB);
// Case-insensitive name lookup, nullptr when unknown.
const RFlashChip* FlashChipByName(const char* name);
