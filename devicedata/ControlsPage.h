#pragma once
#include "devicedata/DeviceContext.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class CPnPControl;

// One line of the switch tree as the view shows it.
struct RControlRow {
    size_t node = 0;       // index into the element's nodes
    int parent = -1;       // row of the parent, -1 at top level
    bool hasSwitch = false;
    bool on = false;
    bool hasChildren = false;
    bool expanded = false;  // has children and its node is not "collapse"
};

// The controls page without its widgets: reads the controls record, keeps the switches and
// writes the record back, all through the operation protocol.
class CControlsPage {
public:
    CControlsPage(CPnPControl& element, RDeviceContext& ctx);

    // The page was opened: reads the record the first time after a model load.
    bool Open();
    // "Read" (kind 34). False when nothing was begun.
    bool Read();
    // "Write" (kind 33): the record as read with every switch's bits replaced. Only once the
    // record has been read: a record never read would overwrite bits no switch owns.
    bool Write();
    bool CanWrite() const;

    // A click on a switch; returns the rows whose state changed (the group's other choices).
    std::vector<size_t> Toggle(size_t row, bool on);

    // The tree, in node order: each node hangs under the last row one level up.
    const std::vector<RControlRow>& Rows() const { return m_rows; }
    CPnPControl& Element() { return m_el; }

    // Called after a read has rebuilt the rows (the view rebuilds its tree).
    std::function<void()> onRead;

private:
    void BuildRows();
    bool SizeUsable() const;

    CPnPControl& m_el;
    RDeviceContext& m_ctx;
    std::vector<RControlRow> m_rows;
};
