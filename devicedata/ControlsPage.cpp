#include "ControlsPage.h"

#include "app/DebugLog.h"
#include "link/LinkDefs.h"
#include "model/CPnPControl.h"

#include <cstring>

CControlsPage::CControlsPage(CPnPControl& element, RDeviceContext& ctx) : m_el(element), m_ctx(ctx) {
    if (m_el.read) BuildRows();
}

bool CControlsPage::SizeUsable() const {
    return m_el.size > 0 && m_ctx.buffer && size_t(m_el.size) <= m_ctx.bufferSize;
}

bool CControlsPage::Open() {
    if (m_el.read) {
        BuildRows();
        if (onRead) onRead();
        return false;
    }
    return Read();
}

bool CControlsPage::Read() {
    if (!m_ctx.ops || !m_ctx.engine || m_ctx.ops->Busy()) return false;
    if (!SizeUsable()) {
        DebugLog("CControlsPage::Read(): record size %d not usable", int(m_el.size));
        return false;
    }
    const int size = m_el.size;
    m_ctx.ops->Begin(kOpControlsRead, size, -1, [this, size](int) {
        m_el.SetRecord(m_ctx.buffer, size_t(size));
        BuildRows();
        if (onRead) onRead();
        return false;
    });
    m_ctx.engine->StartCommand(size, kCmdRead, m_el.address, m_ctx.buffer);
    return true;
}

bool CControlsPage::CanWrite() const { return m_el.read && SizeUsable(); }

bool CControlsPage::Write() {
    if (!m_ctx.ops || !m_ctx.engine || m_ctx.ops->Busy() || !CanWrite()) return false;
    const std::vector<uint8_t> out = m_el.ComposeWrite();
    std::memcpy(m_ctx.buffer, out.data(), out.size());
    m_ctx.ops->Begin(kOpControlsWrite, int(out.size()), -1, [this](int) {
        m_ctx.ops->WriteComplete();
        return false;
    });
    m_ctx.engine->StartCommand(int(out.size()), kCmdWrite, m_el.address, m_ctx.buffer);
    return true;
}

std::vector<size_t> CControlsPage::Toggle(size_t row, bool on) {
    std::vector<size_t> changed;
    if (row >= m_rows.size() || !m_rows[row].hasSwitch) return changed;
    m_el.Toggle(m_rows[row].node, on);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const bool now = m_el.nodes[m_rows[i].node]->on;
        if (m_rows[i].hasSwitch && now != m_rows[i].on) {
            m_rows[i].on = now;
            changed.push_back(i);
        }
    }
    return changed;
}

void CControlsPage::BuildRows() {
    m_rows.clear();
    // Last row inserted at each depth: a node hangs under the last one of depth - 1.
    std::vector<int> lastAt;
    for (size_t i = 0; i < m_el.nodes.size(); ++i) {
        const auto& n = *m_el.nodes[i];
        RControlRow r;
        r.node = i;
        const size_t depth = n.depth > 0 ? size_t(n.depth) : 0;
        r.parent = depth == 0 || depth > lastAt.size() ? -1 : lastAt[depth - 1];
        r.hasSwitch = n.HasSwitch();
        r.on = r.hasSwitch && n.on;
        const int index = int(m_rows.size());
        m_rows.push_back(r);
        if (r.parent >= 0) m_rows[size_t(r.parent)].hasChildren = true;
        lastAt.resize(depth + 1, -1);
        lastAt[depth] = index;
    }
    for (auto& r : m_rows) r.expanded = r.hasChildren && !m_el.nodes[r.node]->collapse;
}
