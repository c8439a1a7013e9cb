#include "sim/CSimDevice.h"

#include <algorithm>
#include <cstring>

#include "link/LinkCrc.h"
#include "link/LinkDefs.h"

bool SimDialectFromName(const std::string& name, SimDialect& d) {
    static const struct {
        const char* n;
        SimDialect d;
    } names[] = {{"short1", SimDialect::Short1}, {"short2", SimDialect::Short2}, {"bus", SimDialect::Bus},
                 {"busb", SimDialect::BusB},     {"pointb", SimDialect::PointB}};
    for (const auto& e : names)
        if (name == e.n) {
            d = e.d;
            return true;
        }
    return false;
}

const char* SimDialectName(SimDialect d) {
    switch (d) {
        case SimDialect::Short1: return "short1";
        case SimDialect::Short2: return "short2";
        case SimDialect::Bus: return "bus";
        case SimDialect::BusB: return "busb";
        default: return "pointb";
    }
}

CSimDevice::CSimDevice(const RSimDeviceConfig& cfg, CSimImage& image) : m_cfg(cfg), m_img(image) {
    m_pageBuf.assign(m_cfg.chip->pageSize, 0xFF);
}

uint8_t CSimDevice::DeviceType() const {
    switch (m_cfg.dialect) {
        case SimDialect::Bus: return 0x02;
        case SimDialect::BusB: return 0x05;
        case SimDialect::PointB: return 0x0F;
        default: return 0;
    }
}

bool CSimDevice::HandleFrame(const uint8_t* frame, size_t len, int64_t nowMs, std::vector<uint8_t>& reply) {
    reply.clear();
    if (nowMs < m_silentUntil) return false;
    return IsAddressed() ? HandleAddressed(frame, len, nowMs, reply) : HandleShort(frame, len, nowMs, reply);
}

// Block-family memory: flat addresses in region 0.
bool CSimDevice::LinearIndex(uint32_t addr, uint32_t& index) const {
    if (addr >= m_img.FlashBytes()) return false;
    index = addr;
    return true;
}

// Page-family memory: page p of the chip sits at p << pageShift; bits 28-31 pick the region.
bool CSimDevice::FlashIndex(uint32_t addr, uint32_t& region, uint32_t& index) const {
    const RFlashChip& c = *m_cfg.chip;
    region = addr >> 28;
    const uint32_t off = addr & 0x0FFFFFFFu;
    const uint32_t page = off >> c.pageShift;
    const uint32_t inPage = off & ((1u << c.pageShift) - 1);
    if (page >= c.pages || inPage >= c.pageSize) return false;
    index = page * c.pageSize + inPage;
    return true;
}

bool CSimDevice::IsRegister(uint32_t index) const {
    for (const RSimRange& r : m_cfg.registers)
        if (index >= r.address && index - r.address < r.size) return true;
    return false;
}

bool CSimDevice::ReadLinear(uint32_t count, std::vector<uint8_t>& out) {
    if (m_sigMode) {
        // The model signature: a zero-padded text at the signature address.
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t k = m_addr + i - 0xFFFFFFu;
            out.push_back(k < 32 ? uint8_t(m_img.Header().signature[k]) : 0);
        }
        m_addr += count;
        return true;
    }
    uint32_t idx;
    if (!LinearIndex(m_addr, idx) || idx + count > m_img.FlashBytes()) return false;
    for (uint32_t i = 0; i < count; ++i) out.push_back(m_img.Flash(0, idx + i));
    m_addr += count;
    return true;
}

int CSimDevice::BlockCommand(uint8_t cmd, const uint8_t* d, int n, int64_t now, std::vector<uint8_t>& out,
                             bool& started) {
    const bool shortD = !IsAddressed();
    const bool p2 = m_cfg.dialect == SimDialect::Short2;
    const uint8_t writeCmd = p2 ? 0x07 : 0x02;
    const uint8_t eraseCmd = p2 ? 0x06 : 0x04;
    if (cmd == 0x00) {
        if (n != 3) return 3;
        m_addr = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16;
        m_sigMode = m_addr == 0xFFFFFFu;
        return 0;
    }
    if (cmd == 0x03 || cmd == 0x08) {
        const uint32_t count = shortD ? uint32_t(n) : (n == 1 ? d[0] : 0xFFFFu);
        if (count > uint32_t(shortD ? 32 : 80)) return 3;
        if (cmd == 0x08) {
            for (uint32_t i = 0; i < count; ++i) out.push_back(i < 64 ? m_img.Header().identity[i] : 0);
            return 0;
        }
        return ReadLinear(count, out) ? 0 : 3;
    }
    if (cmd == writeCmd) {
        uint32_t idx;
        if (m_sigMode || !LinearIndex(m_addr, idx) || idx + uint32_t(n) > m_img.FlashBytes()) return 3;
        // Registers take the byte as it is; flash only loses bits.
        for (int i = 0; i < n; ++i) {
            const uint32_t at = idx + uint32_t(i);
            if (IsRegister(at))
                m_img.SetFlash(0, at, d[i]);
            else
                m_img.ProgramFlash(0, at, d[i]);
        }
        m_addr += uint32_t(n);
        return 0;
    }
    if (cmd == eraseCmd) {
        uint32_t idx;
        if (!LinearIndex(m_addr, idx)) return 3;
        const uint32_t block = idx & ~0xFFFFu;
        const uint32_t count = std::min<uint32_t>(0x10000, m_img.FlashBytes() - block);
        // An erase leaves the registers in the block as they were.
        std::vector<std::pair<uint32_t, uint8_t>> kept;
        for (const RSimRange& r : m_cfg.registers)
            for (uint32_t a = std::max(r.address, block); a < std::min<uint64_t>(uint64_t(r.address) + r.size, block + count); ++a)
                kept.emplace_back(a, m_img.Flash(0, a));
        m_img.EraseFlash(0, block, count);
        for (const auto& [a, v] : kept) m_img.SetFlash(0, a, v);
        ++m_erases;
        started = true;
        return 0;
    }
    if (shortD && cmd == 0x01) {
        out.push_back(0);
        out.push_back(now < m_busyUntil ? 1 : 0);
        out.push_back(0);
        return 0;
    }
    if (!shortD) {
        if (cmd == 0x01 && n == 1 && d[0] == 0x03) {
            out.push_back(uint8_t(m_cfg.busAddress));
            out.push_back(0);
            out.push_back(0);
            return 0;
        }
        if (cmd == 0x09 && n == 1) {
            if (d[0] == 0 || d[0] == 255) return 3;
            m_cfg.busAddress = d[0];
            return 0;
        }
        if (cmd == 0x0A) return 0;
    }
    return 3;
}

int CSimDevice::PageCommand(uint8_t cmd, const uint8_t* d, int n, int64_t now, std::vector<uint8_t>& out,
                            bool& started) {
    (void)now;
    const RFlashChip& c = *m_cfg.chip;
    switch (cmd) {
        case 0x00:
            if (n != 4) return 3;
            m_addr = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
            m_sigMode = m_addr == 0xFFFFFFFFu;
            return 0;
        case 0x01:
            if (m_cfg.dialect != SimDialect::BusB || n != 1 || d[0] != 0x04) return 3;
            out.insert(out.end(), {uint8_t(m_cfg.busAddress), 0, 0, 0});
            return 0;
        case 0x02: {  // into the page buffer (paged chips other than S25FL)
            if (c.s25fl || m_addr >= kDirectRegion) return 3;
            const uint32_t pos = m_addr & ((1u << c.pageShift) - 1);
            if (pos + uint32_t(n) > c.pageSize) return 3;
            std::memcpy(m_pageBuf.data() + pos, d, size_t(n));
            m_addr += uint32_t(n);
            return 0;
        }
        case 0x03: {  // commit the buffer: the page is erased and programmed in one go
            uint32_t region, idx;
            if (c.s25fl || n != 0 || !FlashIndex(m_addr & ~((1u << c.pageShift) - 1), region, idx)) return 3;
            m_img.EraseFlash(region, idx, c.pageSize);
            for (uint32_t i = 0; i < c.pageSize; ++i) m_img.ProgramFlash(region, idx + i, m_pageBuf[i]);
            started = true;
            return 0;
        }
        case 0x04: {  // direct region write
            if (m_sigMode || m_addr < kDirectRegion || m_addr - kDirectRegion + uint32_t(n) > CSimImage::kDirectBytes)
                return 3;
            std::memcpy(m_img.Direct() + (m_addr - kDirectRegion), d, size_t(n));
            m_addr += uint32_t(n);
            return 0;
        }
        case 0x05: {  // flash page data
            if (n != 1 || d[0] > 240) return 3;
            uint32_t region, idx;
            if (m_addr >= kDirectRegion || !FlashIndex(m_addr, region, idx)) return 3;
            const uint32_t pos = m_addr & ((1u << c.pageShift) - 1);
            if (pos + d[0] > c.pageSize) return 3;
            for (uint32_t i = 0; i < d[0]; ++i) out.push_back(m_img.Flash(region, idx + i));
            m_addr += d[0];
            return 0;
        }
        case 0x06: {  // direct region read
            if (n != 1 || d[0] > 240) return 3;
            if (m_sigMode) {
                for (uint32_t i = 0; i < d[0]; ++i) {
                    const uint32_t k = m_addr + i - 0xFFFFFFFFu;
                    out.push_back(k < 32 ? uint8_t(m_img.Header().signature[k]) : 0);
                }
                m_addr += d[0];
                return 0;
            }
            if (m_addr < kDirectRegion || m_addr - kDirectRegion + d[0] > CSimImage::kDirectBytes) return 3;
            out.insert(out.end(), m_img.Direct() + (m_addr - kDirectRegion),
                       m_img.Direct() + (m_addr - kDirectRegion) + d[0]);
            m_addr += d[0];
            return 0;
        }
        case 0x07: {
            const uint8_t id1 = m_cfg.chipId1 >= 0 ? uint8_t(m_cfg.chipId1) : c.first;
            const uint8_t id2 = m_cfg.chipId2 >= 0 ? uint8_t(m_cfg.chipId2) : c.second;
            if (n != 1) return 3;
            if (d[0] == 0x01) {
                out.push_back(id1);
            } else if (d[0] == 0x02) {
                out.push_back(0xEF);  // maker byte, unused by the program
                out.push_back(id2);
            } else {
                return 3;
            }
            return 0;
        }
        case 0x08:
            if (m_cfg.dialect != SimDialect::BusB || n != 1 || d[0] == 0 || d[0] == 255) return 3;
            m_cfg.busAddress = d[0];
            return 0;
        case 0x09: return 0;
        case 0x0A: ++m_reinits; return 0;
        case 0x0B:
            if (n != 7) return 3;
            std::memcpy(m_img.Header().clock, d, 7);
            m_img.Header().clockSet = 1;
            return 0;
        case 0x10: {  // S25FL 4 KB sector erase
            uint32_t region, idx;
            if (!c.s25fl || n != 0 || m_addr >= kDirectRegion || !FlashIndex(m_addr, region, idx)) return 3;
            m_img.EraseFlash(region, idx & ~0xFFFu, 0x1000);
            ++m_erases;
            started = true;
            return 0;
        }
        case 0x11: {  // S25FL page program: wraps inside its 256-byte page like the real chip
            uint32_t region, idx;
            if (!c.s25fl || m_addr >= kDirectRegion || !FlashIndex(m_addr, region, idx)) return 3;
            for (int i = 0; i < n; ++i) {
                const uint32_t at = (idx & ~0xFFu) | ((idx + uint32_t(i)) & 0xFFu);
                m_img.ProgramFlash(region, at, d[i]);
            }
            m_addr += uint32_t(n);
            return 0;
        }
        default: return 3;
    }
}

bool CSimDevice::HandleShort(const uint8_t* f, size_t len, int64_t now, std::vector<uint8_t>& reply) {
    if (len < 5 || f[0] != 0xE2 || f[1] != 0xE4 || LinkCrc8(f, len - 1) != f[len - 1]) return false;
    const uint8_t cmd = f[2];
    const bool read = cmd == 0x03 || cmd == 0x08;
    const int n = read ? f[3] : int(len) - 5;
    std::vector<uint8_t> data;
    uint8_t status = 0;
    int expect = read ? n : (cmd == 0x01 ? 3 : 0);
    if (now < m_busyUntil && cmd != 0x01) {
        status = 0x10;  // busy: nothing done
        data.assign(size_t(expect), 0);
    } else {
        bool started = false;
        int st = BlockCommand(cmd, f + 4, n, now, data, started);
        if (st != 0) {
            status = 0x20;
            data.assign(size_t(expect), 0);
        } else if (started && m_cfg.busyMs > 0) {
            m_busyUntil = now + m_cfg.busyMs;
            status = 0x10;
        } else if (cmd == 0x01 && now < m_busyUntil) {
            status = 0x10;
        }
    }
    reply.assign({0xE2, 0xE4, status, uint8_t(data.size())});
    reply.insert(reply.end(), data.begin(), data.end());
    reply.push_back(LinkCrc8(reply.data(), reply.size()));
    return true;
}

bool CSimDevice::HandleAddressed(const uint8_t* f, size_t len, int64_t now, std::vector<uint8_t>& reply) {
    if (len < 11 || f[0] != 0xE2 || f[1] != 0xE4 || size_t(f[8]) + 11 != len || LinkCrc16(f, len) != 0) return false;
    if (f[2] != DeviceType()) return false;
    const bool pointB = m_cfg.dialect == SimDialect::PointB;
    if (!pointB && f[3] != 0 && f[3] != m_cfg.busAddress) return false;
    const uint8_t cmd = f[6];
    const int n = f[8];
    const uint8_t* d = f + 9;
    const bool pageFamily = PageFamily();
    const bool readCmd = pageFamily ? (cmd == 0x05 || cmd == 0x06) : (cmd == 0x03 || cmd == 0x08);
    const size_t expect = readCmd && n == 1 ? d[0] : 0;
    const uint8_t pollCmd = pageFamily ? 0x09 : 0x0A;
    std::vector<uint8_t> data;
    int st;
    if (cmd == 0x0A && pageFamily && m_cfg.reinitSilenceMs > 0) {
        ++m_reinits;
        m_silentUntil = now + m_cfg.reinitSilenceMs;
        return false;
    }
    if (cmd == pollCmd && now < m_acceptUntil) {
        st = 1;
    } else if (now < m_busyUntil || now < m_acceptUntil) {
        st = 2;  // busy, not accepted: nothing done
        data.assign(expect, 0);
    } else {
        bool started = false;
        st = pageFamily ? PageCommand(cmd, d, n, now, data, started) : BlockCommand(cmd, d, n, now, data, started);
        if (st != 0) {
            data.assign(expect, 0);
        } else if (started && m_cfg.acceptMs > 0) {
            m_acceptUntil = now + m_cfg.acceptMs;
            st = 1;
        } else if (started && m_cfg.busyMs > 0) {
            m_busyUntil = now + m_cfg.busyMs;
        }
    }
    reply.assign({0xE2, 0xE4, 0xFF, pointB ? uint8_t(0x01) : uint8_t(0xFF), DeviceType(),
                  pointB ? uint8_t(0) : uint8_t(m_cfg.busAddress), cmd, uint8_t(0x80 | st), uint8_t(data.size())});
    reply.insert(reply.end(), data.begin(), data.end());
    const uint16_t crc = LinkCrc16(reply.data(), reply.size());
    reply.push_back(uint8_t(crc));
    reply.push_back(uint8_t(crc >> 8));
    return true;
}
