#include "link/ProgressMailbox.h"

int CProgressMailbox::Put(int value) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_value = value;
    m_has = true;
    if (m_told) return -1;
    m_told = true;
    const auto due = m_lastTake + std::chrono::milliseconds(kIntervalMs);
    const auto now = Clock::now();
    if (due <= now) return 0;
    return int(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
}

std::optional<int> CProgressMailbox::Take() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_told = false;
    if (!m_has) return std::nullopt;
    m_has = false;
    m_lastTake = Clock::now();
    return m_value;
}
