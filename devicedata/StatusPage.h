#pragma once
#include "devicedata/DeviceContext.h"

#include <functional>
#include <string>
#include <vector>

class CPnPStatus;

// One message of the status list.
struct RStatusLine {
    std::string text;
    int level = 0;  // 0 information, 1 warning, 2 error
};

// The status page without its widgets: reads the status record (kind 21) when the page is
// opened and on every idle tick while it is shown, and turns it into the list of messages.
class CStatusPage {
public:
    CStatusPage(CPnPStatus& element, RDeviceContext& ctx);

    // Begins the status read; false when nothing was begun (busy, or no record to read).
    bool Read();
    // The one-second tick while idle on the page.
    void IdleTick() { Read(); }

    // The messages of the last successful read.
    const std::vector<RStatusLine>& Lines() const { return m_lines; }
    // Fills the lines from a record (the completion of a read).
    void Show(const uint8_t* record, size_t n);

    // Called after each successful read (the view refills its list).
    std::function<void()> onLines;

private:
    CPnPStatus& m_el;
    RDeviceContext& m_ctx;
    std::vector<RStatusLine> m_lines;
};
