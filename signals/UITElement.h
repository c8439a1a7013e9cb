#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/CPnPUIT.h"

// What the test table page does to its "uit" element, without the widgets: the file load, the
// edit bracket, and the data of the device reads and writes.

// "Load": 0, 1 or 2. A failed load leaves a blank table. Either way the table counts as loaded.
int UITLoadFile(CPnPUIT& e, const std::string& path);
// "Edit": before the editor opens (a table never loaded starts blank) and after it closes.
void UITBeforeEdit(CPnPUIT& e);
void UITAfterEdit(CPnPUIT& e);

// Universal Test Table "Read"/"Write": 890880 bytes at the element's address (0: no table).
constexpr uint32_t kUITReadSize = kFrameSize;
bool UITHasDeviceTable(const CPnPUIT& e);
void UITTableReadDone(CPnPUIT& e, const uint8_t* data, size_t size);
const uint8_t* UITTableWriteData(const CPnPUIT& e);

// Line signals: slot n is item n; it holds frame line 0 (1536 bytes).
bool UITSlotAddress(const CPnPUIT& e, int slot, uint32_t& address);
void UITSlotReadDone(CPnPUIT& e, const uint8_t* line, size_t size);
const uint8_t* UITSlotWriteData(const CPnPUIT& e);
// For slot writes through a 64 KiB page: copies frame line 0 into the page read from pageAddress
// at the slot's offset. False (page untouched) when the slot does not lie wholly in the page.
bool UITPatchSlotIntoPage(const CPnPUIT& e, int slot, uint32_t pageAddress, uint8_t* page, size_t pageSize);
