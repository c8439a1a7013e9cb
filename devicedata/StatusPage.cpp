#include "StatusPage.h"

#include "app/DebugLog.h"
#include "link/LinkDefs.h"
#include "model/CPnPStatus.h"

CStatusPage::CStatusPage(CPnPStatus& element, RDeviceContext& ctx) : m_el(element), m_ctx(ctx) {}

bool CStatusPage::Read() {
    if (!m_ctx.ops || !m_ctx.engine || m_ctx.ops->Busy()) return false;
    if (m_el.size <= 0 || !m_ctx.buffer || size_t(m_el.size) > m_ctx.bufferSize) {
        DebugLog("CStatusPage::Read(): record size %d not usable", int(m_el.size));
        return false;
    }
    const int size = m_el.size;
    m_ctx.ops->Begin(kOpStatusRead, size, -1, [this, size](int) {
        Show(m_ctx.buffer, size_t(size));
        return false;  // the operation protocol restarts the timer after a status read
    });
    m_ctx.engine->StartCommand(size, kCmdRead, m_el.address, m_ctx.buffer);
    return true;
}

void CStatusPage::Show(const uint8_t* record, size_t n) {
    m_lines.clear();
    for (size_t i : m_el.Raised(record, n)) m_lines.push_back({m_el.nodes[i]->name, m_el.nodes[i]->level});
    if (onLines) onLines();
}
