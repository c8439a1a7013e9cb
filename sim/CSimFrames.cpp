#include "sim/CSimFrames.h"

#include <cstdlib>
#include <cstring>

#include "link/LinkCrc.h"

void CSimFrameAssembler::Feed(const uint8_t* data, size_t n) {
    m_buf.insert(m_buf.end(), data, data + n);
    // A hostile host cannot make the buffer grow without bound.
    if (m_buf.size() > 4096) m_buf.erase(m_buf.begin(), m_buf.end() - 512);
}

bool CSimFrameAssembler::Next(std::vector<uint8_t>& frame) {
    const bool shortD = m_dialect == SimDialect::Short1 || m_dialect == SimDialect::Short2;
    for (;;) {
        size_t skip = 0;
        while (skip < m_buf.size() && m_buf[skip] != 0xE2) ++skip;
        if (skip) m_buf.erase(m_buf.begin(), m_buf.begin() + long(skip));
        if (m_buf.size() < 2) return false;
        if (m_buf[1] != 0xE4) {
            m_buf.erase(m_buf.begin());
            continue;
        }
        size_t total;
        if (shortD) {
            if (m_buf.size() < 4) return false;
            const uint8_t cmd = m_buf[2];
            const bool read = cmd == 0x03 || cmd == 0x08;
            const size_t n = read ? 0 : m_buf[3];
            if (n > 32) {
                m_buf.erase(m_buf.begin());
                continue;
            }
            total = n + 5;
            if (m_buf.size() < total) return false;
            if (LinkCrc8(m_buf.data(), total - 1) != m_buf[total - 1]) {
                m_buf.erase(m_buf.begin());
                continue;
            }
        } else {
            if (m_buf.size() < 9) return false;
            if (m_buf[8] > 240) {
                m_buf.erase(m_buf.begin());
                continue;
            }
            total = size_t(m_buf[8]) + 11;
            if (m_buf.size() < total) return false;
            if (LinkCrc16(m_buf.data(), total) != 0) {
                m_buf.erase(m_buf.begin());
                continue;
            }
        }
        frame.assign(m_buf.begin(), m_buf.begin() + long(total));
        m_buf.erase(m_buf.begin(), m_buf.begin() + long(total));
        return true;
    }
}

bool RSimFaults::Parse(const std::string& text, std::string& error) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(',', pos);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(pos, end - pos);
        const size_t eq = item.find('=');
        if (eq == std::string::npos) {
            error = "fault '" + item + "' needs =P";
            return false;
        }
        const std::string key = item.substr(0, eq);
        char* stop = nullptr;
        const double p = std::strtod(item.c_str() + eq + 1, &stop);
        if (!stop || *stop || p < 0 || p > 1) {
            error = "fault probability of '" + key + "' must be 0..1";
            return false;
        }
        if (key == "drop") drop = p;
        else if (key == "corrupt") corrupt = p;
        else if (key == "stray") stray = p;
        else {
            error = "unknown fault '" + key + "'";
            return false;
        }
        pos = end + 1;
    }
    return true;
}

void CSimFaultInjector::Apply(std::vector<uint8_t>& reply) {
    if (!reply.empty() && Roll(m_f.corrupt)) {
        const size_t i = std::uniform_int_distribution<size_t>(0, reply.size() - 1)(m_rng);
        reply[i] ^= uint8_t(1u << std::uniform_int_distribution<int>(0, 7)(m_rng));
    }
    if (Roll(m_f.stray)) {
        const int n = std::uniform_int_distribution<int>(1, 4)(m_rng);
        std::vector<uint8_t> s;
        for (int i = 0; i < n; ++i) s.push_back(uint8_t(std::uniform_int_distribution<int>(0, 255)(m_rng)));
        reply.insert(reply.begin(), s.begin(), s.end());
    }
}

bool CSimLine::HandleFrame(const std::vector<uint8_t>& frame, int64_t nowMs, std::vector<uint8_t>& reply) {
    bool answered = false;
    for (CSimDevice* d : m_devices) {
        if (d->HandleFrame(frame.data(), frame.size(), nowMs, answered ? m_scratch : reply)) answered = true;
    }
    return answered;
}
