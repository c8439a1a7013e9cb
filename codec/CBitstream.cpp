#include "codec/CBitstream.h"

CBitstream::CBitstream(int capacity) {
    uint8_t* buf = new uint8_t[capacity > 0 ? capacity : 1];
    StartWrite(buf, capacity);
    m_owns = true;
}

CBitstream::~CBitstream() {
    if (m_owns) delete[] m_start;
}

void CBitstream::StoreByte(uint8_t b) {
    if (m_overflow) return;
    if (m_pos + 1 >= m_capacity) {
        m_overflow = true;
        m_waiting = 0;
        m_totalBits = 0;
        m_acc = 0;
        return;
    }
    m_start[m_pos++] = b;
}

void CBitstream::StoreWord() {
    uint32_t w = uint32_t(m_acc >> (m_waiting - 32));
    m_waiting -= 32;
    if (m_pos + 4 < m_capacity) {
        m_start[m_pos] = uint8_t(w >> 24);
        m_start[m_pos + 1] = uint8_t(w >> 16);
        m_start[m_pos + 2] = uint8_t(w >> 8);
        m_start[m_pos + 3] = uint8_t(w);
        m_pos += 4;
    } else {
        for (int s = 24; s >= 0 && !m_overflow; s -= 8) StoreByte(uint8_t(w >> s));
    }
    m_acc &= (uint64_t(1) << m_waiting) - 1;
}

int CBitstream::StoreWordSlow(uint32_t w, int pos) {
    m_pos = pos;
    for (int s = 24; s >= 0 && !m_overflow; s -= 8) StoreByte(uint8_t(w >> s));
    return m_pos;
}

void CBitstream::Flush() {
    if (m_overflow) return;
    if (m_waiting & 7) Put(0, 8 - (m_waiting & 7));
    while (!m_overflow && (m_totalBits & 31)) Put(0, 8);
    while (!m_overflow && m_waiting >= 8) {
        m_waiting -= 8;
        StoreByte(uint8_t(m_acc >> m_waiting));
    }
    m_acc = 0;
}
