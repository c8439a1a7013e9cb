#include "signals/UITElement.h"

#include <cstring>

namespace {
void AfterChange(CPnPUIT& e) {
    e.loaded = 1;
    e.singleLine = e.table.IsSingleLine() ? 1 : 0;
}
}  // namespace

int UITLoadFile(CPnPUIT& e, const std::string& path) {
    int r = e.table.Load(path);
    if (r != kFileOk) e.table.Reset();
    AfterChange(e);
    return r;
}

void UITBeforeEdit(CPnPUIT& e) {
    if (!e.loaded) e.table.Reset();
}

void UITAfterEdit(CPnPUIT& e) { AfterChange(e); }

bool UITHasDeviceTable(const CPnPUIT& e) { return e.address != 0; }

void UITTableReadDone(CPnPUIT& e, const uint8_t* data, size_t size) {
    e.table.SetFrameFromDevice(data, size);
    e.loaded = 1;
    e.singleLine = 0;
}

const uint8_t* UITTableWriteData(const CPnPUIT& e) { return e.table.frame.data(); }

bool UITSlotAddress(const CPnPUIT& e, int slot, uint32_t& address) {
    if (slot < 0 || size_t(slot) >= e.items.size()) return false;
    address = e.items[size_t(slot)]->address;
    return true;
}

void UITSlotReadDone(CPnPUIT& e, const uint8_t* line, size_t size) {
    e.table.SetFromLineSignal(line, size);
    e.loaded = 1;
    e.singleLine = 1;
}

const uint8_t* UITSlotWriteData(const CPnPUIT& e) { return e.table.frame.data(); }

bool UITPatchSlotIntoPage(const CPnPUIT& e, int slot, uint32_t pageAddress, uint8_t* page, size_t pageSize) {
    uint32_t address;
    if (!UITSlotAddress(e, slot, address) || address < pageAddress) return false;
    const uint64_t offset = uint64_t(address - pageAddress);
    if (offset + kFrameLineBytes > pageSize) return false;
    std::memcpy(page + offset, e.table.frame.data(), kFrameLineBytes);
    return true;
}
