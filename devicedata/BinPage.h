#pragma once
#include "devicedata/DeviceContext.h"
#include "devicedata/SlotTransfer.h"

#include <string>
#include <vector>

class CPnPBin;

// The binary data page without its widgets: "Load" of a file and "Write" into an item.
class CBinPage {
public:
    CBinPage(CPnPBin& element, RDeviceContext& ctx) : m_el(element), m_ctx(ctx), m_slots(ctx) {}

    // "Load" with the file the dialog gave; failures are shown, the data stays as it was.
    bool Load(const std::string& path);
    // "Write" into item i after the question; false when nothing was started.
    bool Write(int item, bool ask = true);
    bool CanWrite() const;
    std::vector<std::string> ItemNames() const;
    CPnPBin& Element() { return m_el; }

private:
    CPnPBin& m_el;
    RDeviceContext& m_ctx;
    CSlotTransfer m_slots;
};

// "Unsupported file size!..." for an element of size bytes.
std::string BinSizeMessage(int32_t size);
