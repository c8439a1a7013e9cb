#pragma once
#include "devicedata/DeviceContext.h"

#include <cstdint>
#include <functional>

// "Read" and "Write" of one device slot, for every page that has slots: the question before a
// write, the RS-232 read-modify-write of the 64 KB blocks that hold a small slot (the short
// link erases whole blocks), erase-and-write otherwise, and the read whose completion hands
// the bytes to the page.
class CSlotTransfer {
public:
    static constexpr uint32_t kBlock = 0x10000;

    explicit CSlotTransfer(RDeviceContext& ctx) : m_ctx(ctx) {}

    // Asks "Data will be written to device..." unless ask is false, then writes size bytes of
    // data to address. data is copied at once. False when nothing was started (declined, busy,
    // too large for the buffer).
    bool Write(uint32_t address, const uint8_t* data, uint32_t size, bool ask = true);
    // Reads size bytes at address; on success onRead gets them before the operation ends.
    bool Read(uint32_t address, uint32_t size, std::function<void(const uint8_t* data, uint32_t size)> onRead);

    // The whole 64 KB blocks an RS-232 write of this slot reads and writes back (0: none,
    // the slot goes by erase-and-write). A slot that runs past its block takes the next one too,
    // so its tail is never cut off nor written over the buffer's end.
    static uint32_t BlockSpan(int interfaceChoice, uint32_t address, uint32_t size);

private:
    RDeviceContext& m_ctx;
};

extern const char* const kTextWriteQuestion;  // 21418
