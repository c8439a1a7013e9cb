#pragma once
#include "devicedata/DeviceContext.h"

#include <functional>
#include <string>

class CPnPSerial;

// The serial number page without its widgets: "Read" (kind 1) and the text of the number.
class CSerialPage {
public:
    CSerialPage(CPnPSerial& element, RDeviceContext& ctx);

    // Identity read (engine command 1) when the element's address is -1, else a memory read.
    bool Read();
    // Empty until the first successful read.
    const std::string& Text() const { return m_text; }

    std::function<void()> onText;

private:
    CPnPSerial& m_el;
    RDeviceContext& m_ctx;
    std::string m_text;
};
