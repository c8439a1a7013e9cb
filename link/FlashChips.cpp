#include "link/FlashChips.h"

#include <strings.h>

namespace {
const RFlashChip kChips[] = {
    {"S25FL004K", 0xFF, 0x01, 0x13, 4096, 128, true, 12},
    {"S25FL008K", 0xFF, 0x01, 0x14, 4096, 256, true, 12},
    {"S25FL016K", 0xFF, 0x01, 0x15, 4096, 512, true, 12},
    {"S25FL032K", 0xFF, 0x01, 0x16, 4096, 1024, true, 12},
    {"S25FL064K", 0xFF, 0x01, 0x17, 4096, 2048, true, 12},
    {"S25FL128K", 0xFF, 0x01, 0x18, 4096, 4096, true, 12},
    {"AT45DB041", 0x38, 0x18, 0x00, 264, 2048, false, 9},
    {"AT45DB081", 0x3C, 0x34, 0x00, 264, 4096, false, 9},
    {"AT45DB642D", 0x3C, 0x3C, 0x00, 1056, 8192, false, 11},
};
constexpr int kCount = int(sizeof kChips / sizeof kChips[0]);
}  // namespace

int FlashChipCount() { return kCount; }
const RFlashChip& FlashChipAt(int i) { return kChips[i]; }

const RFlashChip* FlashChipMatch(uint8_t id1, uint8_t id2, bool busB) {
    for (int i = busB ? kCount - 3 : 0; i < kCount; ++i) {
        const RFlashChip& c = kChips[i];
        if ((id1 & c.mask) == c.first && id2 == c.second) return &c;
    }
    return nullptr;
}

const RFlashChip* FlashChipByName(const char* name) {
    for (const auto& c : kChips)
        if (strcasecmp(c.name, name) == 0) return &c;
    return nullptr;
}
