#include "SerialPage.h"

#include "link/LinkDefs.h"
#include "model/CPnPSerial.h"

#include <cstring>

CSerialPage::CSerialPage(CPnPSerial& element, RDeviceContext& ctx) : m_el(element), m_ctx(ctx) {}

bool CSerialPage::Read() {
    if (!m_ctx.ops || !m_ctx.engine || m_ctx.ops->Busy()) return false;
    const int size = CPnPSerial::ClampSize(m_el.size);
    if (!m_ctx.buffer || size_t(size) > m_ctx.bufferSize) return false;
    // Links without an identity read complete at once without touching the buffer: cleared,
    // it shows zeros there instead of whatever an earlier transfer left.
    std::memset(m_ctx.buffer, 0, size_t(size));
    m_ctx.ops->Begin(kOpSerialRead, size, -1, [this, size](int) {
        m_text = CPnPSerial::Text(m_ctx.buffer, size_t(size));
        if (onText) onText();
        return false;
    });
    if (m_el.FromIdentity())
        m_ctx.engine->StartCommand(size, kCmdIdentity, 0, m_ctx.buffer);
    else
        m_ctx.engine->StartCommand(size, kCmdRead, m_el.address, m_ctx.buffer);
    return true;
}
