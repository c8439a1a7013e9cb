#include "link/FlashSequences.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "app/DebugLog.h"

namespace {
// Both bus dialects find devices alike: each address gets a one-byte identity request and
// those that answer are listed in buf (count first). Only the probe byte and reply size differ.
int ScanBus(CFrameLink& f, ILinkNotifier* notify, uint8_t probe, int replyBytes, uint8_t* buf) {
    const uint8_t keep = f.DestAddress();
    for (int addr = 1; addr <= 254; ++addr) {
        f.SetDestAddress(uint8_t(addr));
        f.Begin(0x01);
        f.ReqData()[0] = probe;
        if (f.BusTransaction(1, replyBytes, true) == kLinkOk) {
            ++buf[0];
            buf[buf[0]] = uint8_t(addr);
        }
        if (notify && notify->LinkProgress(addr) != 0) {
            f.SetDestAddress(keep);
            return kLinkAborted;
        }
    }
    f.SetDestAddress(keep);
    return kLinkOk;
}

// A new bus address goes out on the broadcast address 0; only the command byte differs.
int SetBusAddressVia(CFrameLink& f, uint8_t cmd, uint8_t newAddress) {
    const uint8_t keep = f.DestAddress();
    f.SetDestAddress(0);
    f.Begin(cmd);
    f.ReqData()[0] = newAddress;
    int r = f.BusTransaction(1, 0, false);
    f.SetDestAddress(keep);
    return r;
}
}  // namespace

// ---------------------------------------------------------------- block family

CBlockFamily::CBlockFamily(CFrameLink& frames, ILinkNotifier* notify, bool protocol2)
    : m_f(frames), m_notify(notify), m_p2(protocol2) {}

bool CBlockFamily::Abort(int value) { return m_notify && m_notify->LinkProgress(value) != 0; }

int CBlockFamily::SetAddress(uint32_t a) {
    uint8_t* q = m_f.Req();
    if (m_f.Dialect() == LinkDialect::Short) {
        q[2] = 0x00;
        q[3] = 3;
        q[4] = uint8_t(a);
        q[5] = uint8_t(a >> 8);
        q[6] = uint8_t(a >> 16);
        return m_f.ShortTransaction(3, 0, true);
    }
    m_f.Begin(0x00);
    uint8_t* d = m_f.ReqData();
    d[0] = uint8_t(a);
    d[1] = uint8_t(a >> 8);
    d[2] = uint8_t(a >> 16);
    return m_f.BusTransaction(3, 0, false);
}

int CBlockFamily::ReadChunk(int count) {
    if (m_f.Dialect() == LinkDialect::Short) {
        uint8_t* q = m_f.Req();
        q[2] = 0x03;
        q[3] = uint8_t(count);
        return m_f.ShortTransaction(0, count, true);
    }
    m_f.Begin(0x03);
    m_f.ReqData()[0] = uint8_t(count);
    return m_f.BusTransaction(1, count, false);
}

// One attempt only: a device whose reply was lost has written the chunk and moved its address
// on, and the same chunk sent again would land behind it. The caller restarts the block.
int CBlockFamily::WriteChunk(const uint8_t* data, int count) {
    if (m_f.Dialect() == LinkDialect::Short) {
        uint8_t* q = m_f.Req();
        q[2] = m_p2 ? 0x07 : 0x02;
        q[3] = uint8_t(count);
        std::memcpy(q + 4, data, size_t(count));
        return m_f.ShortTransaction(count, 0, true, true);
    }
    m_f.Begin(0x02);
    std::memcpy(m_f.ReqData(), data, size_t(count));
    return m_f.BusTransaction(count, 0, true);
}

int CBlockFamily::EraseBlock() {
    if (m_f.Dialect() == LinkDialect::Short) {
        uint8_t* q = m_f.Req();
        q[2] = m_p2 ? 0x06 : 0x04;
        q[3] = 0;
        return m_f.ShortTransaction(0, 0, true);
    }
    m_f.Begin(0x04);
    return m_f.BusTransaction(0, 0, false);
}

int CBlockFamily::Read(uint32_t a, uint32_t n, uint8_t* buf) {
    m_err.Clear();
    int r = SetAddress(a);
    DebugLog("read from %08X, %d bytes", a, int(n));
    if (r != kLinkOk) {
        m_err.address = a;
        return r;
    }
    const uint32_t chunk = uint32_t(m_f.MaxData());
    for (uint32_t off = 0; off < n; off += chunk) {
        const int c = int(std::min(n - off, chunk));
        r = ReadChunk(c);
        if (r != kLinkOk) {
            m_err.address = a + off;
            if (r == kLinkDevice) m_err.kind = kErrReading;
            return r;
        }
        std::memcpy(buf + off, m_f.RxData(), size_t(c));
        if (Abort(int(off))) return kLinkAborted;
    }
    return kLinkOk;
}

int CBlockFamily::WriteErase(int cmd, uint32_t a, uint32_t n, const uint8_t* buf) {
    m_err.Clear();
    const uint32_t chunk = uint32_t(m_f.MaxData());
    const bool shortDialect = m_f.Dialect() == LinkDialect::Short;
    bool haveBlock = false;
    uint32_t curBlock = 0, blockStartOff = 0;
    int restarts = 0;
    uint32_t off = 0;
    while (off < n) {
        const uint32_t addr = a + off;
        const uint32_t block = addr & 0xFFFF0000u;
        // A chunk never runs over a 64 KB boundary: the next block's erase would wipe its tail.
        const uint32_t toBlockEnd = block + 0x10000u - addr;
        const uint32_t c = std::min({n - off, chunk, toBlockEnd});
        if (!haveBlock || block != curBlock) {
            DebugLog("set address %08X", addr);
            int r = SetAddress(addr);
            if (r != kLinkOk) {
                m_err.address = addr;
                return r;
            }
            if (cmd != kCmdWrite) {
                DebugLog("erase block");
                r = EraseBlock();
                if (r != kLinkOk) {
                    m_err.address = addr;
                    if (shortDialect || r == kLinkDevice) m_err.kind = kErrErasing;
                    return r;
                }
            }
            haveBlock = true;
            curBlock = block;
            blockStartOff = off;
        }
        if (cmd != kCmdErase) {
            int r = WriteChunk(buf + off, int(c));
            if (r != kLinkOk) {
                DebugLog("error detected...");
                // Chunks are sent once (see WriteChunk), so a lost or garbled reply restarts
                // the block from its address as a device failure does.
                if (r != kLinkWrite && restarts < 4) {
                    DebugLog("retrying...");
                    ++restarts;
                    off = blockStartOff;
                    haveBlock = false;
                    continue;
                }
                m_err.address = addr;
                if (r == kLinkDevice) m_err.kind = kErrWriting;
                return r;
            }
            if (Abort(int(off))) return kLinkAborted;
        }
        off += c;
    }
    return kLinkOk;
}

int CBlockFamily::Identity(uint32_t n, uint8_t* buf, int& got) {
    m_err.Clear();
    got = 0;
    const int c = int(std::min<uint32_t>(n, uint32_t(m_f.MaxData())));
    int r;
    if (m_f.Dialect() == LinkDialect::Short) {
        uint8_t* q = m_f.Req();
        q[2] = 0x08;
        q[3] = uint8_t(c);
        r = m_f.ShortTransaction(0, c, false);
    } else {
        m_f.Begin(0x08);
        m_f.ReqData()[0] = uint8_t(c);
        r = m_f.BusTransaction(1, c, false);
    }
    if (r == kLinkOk) {
        std::memcpy(buf, m_f.RxData(), size_t(c));
        got = c;
    }
    return r;
}

int CBlockFamily::Scan(uint8_t* buf) { return ScanBus(m_f, m_notify, 0x03, 3, buf); }

int CBlockFamily::SetBusAddress(uint8_t newAddress) { return SetBusAddressVia(m_f, 0x09, newAddress); }

// ---------------------------------------------------------------- page family

namespace {
// Data writes get one attempt on point B: a device whose reply was lost has already written
// the chunk and moved its address on, so sending it again would write it a second time
// further on. A failed chunk instead restarts the page (or the direct write) from its address.
constexpr int kWriteAttempts = 1;
// Verification reads a chunk lost on the line again from the chunk's own address, as often as
// a point-B exchange is attempted: the data is already written, and failing the page for it
// would make the whole write start over.
constexpr int kVerifyChunkAttempts = 9;
}  // namespace

CPageFamily::CPageFamily(CFrameLink& frames, ILinkNotifier* notify, const char* name)
    : m_f(frames), m_notify(notify), m_name(name) {}

bool CPageFamily::Abort(int value) { return m_notify && m_notify->LinkProgress(value) != 0; }

void CPageFamily::Fail(int kind, uint32_t address) {
    m_err.kind = kind;
    m_err.address = address;
}

int CPageFamily::SetAddress(uint32_t a) {
    m_f.Begin(0x00);
    uint8_t* d = m_f.ReqData();
    d[0] = uint8_t(a);
    d[1] = uint8_t(a >> 8);
    d[2] = uint8_t(a >> 16);
    d[3] = uint8_t(a >> 24);
    return Tx(0x00, 4, 0);
}

int CPageFamily::ReadChunk(uint8_t cmd, int count) {
    m_f.Begin(cmd);
    m_f.ReqData()[0] = uint8_t(count);
    // Data reads get one attempt: a repeat would read on from where the device's address moved.
    return Tx(cmd, 1, count, 1);
}

int CPageFamily::Identify() {
    m_chip = nullptr;
    m_f.Begin(0x07);
    m_f.ReqData()[0] = 0x01;
    int r = Tx(0x07, 1, 1);
    if (r != kLinkOk) return r;
    const uint8_t id1 = m_f.RxData()[0];
    uint8_t id2 = 0;
    if (PointB()) {
        if (id1 == 0x01) {
            m_f.Begin(0x07);
            m_f.ReqData()[0] = 0x02;
            r = Tx(0x07, 1, 2);
            if (r != kLinkOk) return r;
            id2 = m_f.RxData()[1];
        }
        DebugLog("%s(): chip ID: %02X:%02X", m_name, id1, id2);
    } else {
        DebugLog("%s(): chip ID: %02X", m_name, id1);
    }
    m_chip = FlashChipMatch(id1, id2, !PointB());
    return m_chip ? kLinkOk : (PointB() ? kLinkDevice : kLinkChipUnknown);
}

CPageFamily::Geometry CPageFamily::Geo(uint32_t a, uint32_t n) const {
    const uint32_t ps = m_chip->pageSize;
    const uint32_t offset = a & 0x0FFFFFFFu;
    Geometry g;
    g.first = offset / ps;
    g.last = uint32_t((uint64_t(offset) + n - 1) / ps);
    g.head = offset - g.first * ps;
    g.tail = uint32_t((uint64_t(g.last) + 1) * ps - offset - n);
    g.region = a & 0xF0000000u;
    return g;
}

int CPageFamily::ReadDirect(uint32_t a, uint32_t n, uint8_t* buf) {
    const int attempts = PointB() ? 5 : 1;
    int r = kLinkOk;
    uint32_t off = 0;
    for (int at = 0; at < attempts; ++at) {
        off = 0;
        r = SetAddress(a);
        if (r != kLinkOk) continue;
        for (; off < n; off += 240) {
            const int c = int(std::min<uint32_t>(n - off, 240));
            r = ReadChunk(0x06, c);
            if (r != kLinkOk) break;
            std::memcpy(buf + off, m_f.RxData(), size_t(c));
            if (Abort(int(off))) return kLinkAborted;
        }
        if (r == kLinkOk) return r;
    }
    Fail(r == kLinkDevice ? kErrReading : kErrNone, a + off);
    return r;
}

int CPageFamily::ReadPages(const Geometry& g, uint32_t n, uint8_t* out, const uint8_t* cmp, bool verifyPass,
                           int& failKind) {
    const uint32_t ps = m_chip->pageSize;
    const int attempts = PointB() ? 5 : 1;
    uint32_t delivered = 0;
    for (uint32_t p = g.first; p <= g.last; ++p) {
        const uint32_t pageAddr = PageAddress(g, p);
        const uint32_t skip = p == g.first ? g.head : 0;
        const uint32_t startDelivered = delivered;
        int r = kLinkOk;
        uint32_t pos = 0;
        for (int at = 0; at < attempts; ++at) {
            // A retry delivers to the very positions the first attempt used.
            delivered = startDelivered;
            pos = 0;
            r = SetAddress(pageAddr);
            if (r != kLinkOk) continue;
            for (; pos < ps; pos += 240) {
                const uint32_t c = std::min<uint32_t>(ps - pos, 240);
                r = ReadChunk(0x05, int(c));
                // The lost reply moved the device's address on: set it again before the repeat.
                for (int again = 1; verifyPass && (r == kLinkNoReply || r == kLinkBadReply) && again < kVerifyChunkAttempts;
                     ++again) {
                    r = SetAddress(pageAddr + pos);
                    if (r == kLinkOk) r = ReadChunk(0x05, int(c));
                }
                if (r != kLinkOk) break;
                const uint32_t before = delivered;
                // Bytes of this chunk that lie in the wanted range.
                uint32_t from = pos < skip ? std::min(skip - pos, c) : 0;
                uint32_t take = std::min(c - from, n - delivered);
                if (!out) {
                    // The preserved bytes around the range must hold what they held before.
                    const uint8_t* got = m_f.RxData();
                    auto checkOld = [&](const std::vector<uint8_t>& old, uint32_t a, uint32_t b) {
                        for (uint32_t i = a; i < b; ++i)
                            if (old.size() == ps && got[i] != old[pos + i]) return int(i);
                        return -1;
                    };
                    int bad = p == g.first && g.head ? checkOld(m_headOld, 0, from) : -1;
                    if (bad < 0 && p == g.last && g.tail) bad = checkOld(m_tailOld, from + take, c);
                    if (bad >= 0) {
                        DebugLog("%s(): verification failed at: %08X", m_name, pageAddr + pos + uint32_t(bad));
                        failKind = kErrWriting;
                        Fail(kErrWriting, pageAddr + pos + uint32_t(bad));
                        return kLinkDevice;
                    }
                }
                if (take) {
                    if (out) {
                        std::memcpy(out + delivered, m_f.RxData() + from, take);
                    } else if (std::memcmp(cmp + delivered, m_f.RxData() + from, take) != 0) {
                        uint32_t i = 0;
                        while (cmp[delivered + i] == m_f.RxData()[from + i]) ++i;
                        DebugLog("%s(): verification failed at: %08X", m_name, pageAddr + pos + from + i);
                        failKind = kErrWriting;
                        Fail(kErrWriting, pageAddr + pos + from + i);
                        return kLinkDevice;
                    }
                    delivered += take;
                }
                if (Abort(verifyPass ? int((uint64_t(n) + before) / 2) : int(before))) return kLinkAborted;
            }
            if (r == kLinkOk) break;
        }
        if (r != kLinkOk) {
            failKind = r == kLinkDevice ? (verifyPass ? kErrWriting : kErrReading) : kErrNone;
            Fail(failKind, pageAddr + pos);
            return r;
        }
    }
    return kLinkOk;
}

int CPageFamily::Read(uint32_t a, uint32_t n, uint8_t* buf) {
    m_err.Clear();
    a = MapSignatureAddress(a);
    DebugLog("%s(): read from %08X, %d bytes", m_name, a, int(n));
    if (a >= kDirectRegion) return ReadDirect(a, n, buf);
    if (n == 0) return kLinkOk;
    int r = Identify();
    if (r != kLinkOk) {
        Fail(r == kLinkDevice ? kErrReading : kErrNone, a);
        return r;
    }
    const Geometry g = Geo(a, n);
    DebugLog("%s(): pages: %d - %d, skip bytes: %d", m_name, int(g.first), int(g.last), int(g.head));
    if (g.last >= m_chip->pages) {
        Fail(kErrReading, a);
        return kLinkDevice;
    }
    int kind = 0;
    return ReadPages(g, n, buf, nullptr, false, kind);
}

int CPageFamily::WriteDirect(uint32_t a, uint32_t n, const uint8_t* buf) {
    const bool pb = PointB();
    int r = kLinkOk;
    uint32_t failAt = a;
    for (int at = 0; at < 5; ++at) {
        failAt = a;
        r = SetAddress(a);
        if (r == kLinkOk) {
            for (uint32_t off = 0; off < n; off += 240) {
                const int c = int(std::min<uint32_t>(n - off, 240));
                m_f.Begin(0x04);
                std::memcpy(m_f.ReqData(), buf + off, size_t(c));
                r = Tx(0x04, c, 0, kWriteAttempts);
                if (r != kLinkOk) {
                    failAt = a + off;
                    break;
                }
                if (Abort(pb ? int(off / 2) : int(off))) return kLinkAborted;
            }
        }
        if (r == kLinkOk && pb) {
            r = SetAddress(a);
            for (uint32_t off = 0; r == kLinkOk && off < n; off += 240) {
                const int c = int(std::min<uint32_t>(n - off, 240));
                r = ReadChunk(0x06, c);
                failAt = a + off;
                if (r != kLinkOk) break;
                if (std::memcmp(m_f.RxData(), buf + off, size_t(c)) != 0) {
                    int i = 0;
                    while (m_f.RxData()[i] == buf[off + uint32_t(i)]) ++i;
                    failAt = a + off + uint32_t(i);
                    DebugLog("%s(): verification failed at: %08X", m_name, failAt);
                    r = kLinkDevice;
                    break;
                }
                if (Abort(int((uint64_t(n) + off) / 2))) return kLinkAborted;
            }
        }
        if (r == kLinkOk) break;
        // Bus B repeats only on a device failure; point B on any failure.
        if (!pb && r != kLinkDevice) break;
    }
    if (r != kLinkOk) {
        Fail(r == kLinkDevice ? kErrWriting : kErrNone, failAt);
        return r;
    }
    return Reinit(a);
}

int CPageFamily::WritePage(const Geometry& g, uint32_t p, uint32_t n, const uint8_t* buf, uint32_t consumed,
                           bool halve) {
    const uint32_t ps = m_chip->pageSize;
    const uint32_t pageAddr = PageAddress(g, p);
    int r;
    const bool headPage = p == g.first && g.head;
    const bool tailPage = p == g.last && g.tail;
    if (headPage || tailPage) {
        bool& loaded = headPage ? m_headLoaded : m_tailLoaded;
        std::vector<uint8_t>& old = headPage ? m_headOld : m_tailOld;
        if (!loaded) {
            DebugLog("%s(): read page needed", m_name);
            r = SetAddress(pageAddr);
            if (r != kLinkOk) {
                Fail(r == kLinkDevice ? kErrReading : kErrNone, pageAddr);
                return r;
            }
            old.resize(ps);
            for (uint32_t pos = 0; pos < ps; pos += 240) {
                const uint32_t c = std::min<uint32_t>(ps - pos, 240);
                r = ReadChunk(0x05, int(c));
                if (r != kLinkOk) {
                    Fail(r == kLinkDevice ? kErrReading : kErrNone, pageAddr + pos);
                    return r;
                }
                std::memcpy(old.data() + pos, m_f.RxData(), c);
            }
            loaded = true;
            if (headPage && tailPage) {
                m_tailOld = old;
                m_tailLoaded = true;
            }
        }
        std::memcpy(m_page.data(), old.data(), ps);
    }
    const uint32_t start = p == g.first ? g.head : 0;
    const uint32_t count = std::min(ps - start, n - consumed);
    std::memcpy(m_page.data() + start, buf + consumed, count);

    r = SetAddress(pageAddr);
    if (r == kLinkOk && m_chip->s25fl) {
        DebugLog("%s(): erase sector", m_name);
        m_f.Begin(0x10);
        r = Tx(0x10, 0, 0);
    }
    if (r != kLinkOk) {
        Fail(r == kLinkDevice ? kErrWriting : kErrNone, pageAddr);
        return r;
    }
    for (uint32_t pos = 0; pos < ps;) {
        uint32_t c;
        uint8_t cmd;
        if (m_chip->s25fl) {
            c = std::min<uint32_t>(240, 256 - (pos & 0xFF));
            cmd = 0x11;
        } else {
            c = std::min<uint32_t>(240, ps - pos);
            cmd = 0x02;
        }
        m_f.Begin(cmd);
        std::memcpy(m_f.ReqData(), m_page.data() + pos, c);
        r = Tx(cmd, int(c), 0, kWriteAttempts);
        DebugLog("%s(): write %d bytes", m_name, int(c));
        if (r != kLinkOk) {
            Fail(r == kLinkDevice ? kErrWriting : kErrNone, pageAddr + pos);
            return r;
        }
        pos += c;
        const uint32_t v = std::min(consumed + pos, n);
        if (Abort(int(halve ? v / 2 : v))) return kLinkAborted;
    }
    if (!m_chip->s25fl) {
        for (int i = 0; i < 5; ++i) {
            m_f.Begin(0x03);
            r = Tx(0x03, 0, 0);
            if (r != kLinkDevice) break;
        }
        if (r != kLinkOk) {
            Fail(r == kLinkDevice ? kErrWriting : kErrNone, pageAddr + ps);
            return r;
        }
    }
    return kLinkOk;
}

int CPageFamily::Write(uint32_t a, uint32_t n, const uint8_t* buf, bool verify) {
    m_err.Clear();
    a = MapSignatureAddress(a);
    DebugLog("%s(): write to %08X, %d bytes", m_name, a, int(n));
    if (n == 0) return kLinkOk;
    if (a >= kDirectRegion) return WriteDirect(a, n, buf);

    const bool pb = PointB();
    const bool halve = pb && verify;
    m_headLoaded = m_tailLoaded = false;
    int r = kLinkOk;
    for (int at = 0; at < (pb ? 5 : 1); ++at) {
        m_err.Clear();
        r = SetAddress(a);
        if (r != kLinkOk) {
            m_err.address = a;
            continue;
        }
        r = Identify();
        if (r != kLinkOk) {
            Fail(r == kLinkDevice ? kErrWriting : kErrNone, a);
            if (r == kLinkChipUnknown) return r;
            continue;
        }
        const Geometry g = Geo(a, n);
        DebugLog("%s(): pages: %d - %d, skip bytes: %d,%d", m_name, int(g.first), int(g.last), int(g.head),
                 int(g.tail));
        if (g.last >= m_chip->pages) {
            Fail(kErrWriting, a);
            return kLinkDevice;
        }
        m_page.assign(m_chip->pageSize, 0xFF);
        uint32_t consumed = 0;
        for (uint32_t p = g.first; p <= g.last && r == kLinkOk; ++p) {
            for (int pa = 0; pa < (pb ? 5 : 1); ++pa) {
                r = WritePage(g, p, n, buf, consumed, halve);
                if (r == kLinkOk || r == kLinkAborted) break;
            }
            if (r == kLinkAborted) return r;
            consumed += std::min(m_chip->pageSize - (p == g.first ? g.head : 0), n - consumed);
        }
        if (r == kLinkOk && halve) {
            int kind = 0;
            r = ReadPages(g, n, nullptr, buf, true, kind);
            if (r == kLinkAborted) return r;
            if (r != kLinkOk && r != kLinkDevice) Fail(kErrNone, m_err.address);
        }
        if (r == kLinkOk) break;
        if (r == kLinkAborted) return r;
    }
    if (r != kLinkOk) return r;
    return Reinit(a);
}

int CPageFamily::Reinit(uint32_t a) {
    int r = SetAddress(a);
    if (r != kLinkOk) {
        m_err.address = a;
        return r;
    }
    DebugLog("%s(): reinit", m_name);
    const auto start = std::chrono::steady_clock::now();
    m_f.Begin(0x0A);
    // One attempt: a device that restarts does not answer, and a repeated reinitialise would
    // restart it again; the polls below wait for it instead. A garbled reply says no more than
    // a lost one (the data is written either way), so the polls decide then too.
    r = Tx(0x0A, 0, 0, PointB() ? 1 : 9);
    if (!PointB() || (r != kLinkNoReply && r != kLinkBadReply)) return r;
    r = kLinkNoReply;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(6000)) {
        m_f.Begin(0x09);
        r = Tx(0x09, 0, 0, 1);
        if (r == kLinkOk) break;
    }
    return r;
}

int CPageFamily::SetClock(const uint8_t clock[7]) {
    m_err.Clear();
    m_f.Begin(0x0B);
    std::memcpy(m_f.ReqData(), clock, 7);
    return Tx(0x0B, 7, 0);
}

int CPageFamily::SetClock() {
    time_t t = time(nullptr);
    tm lt;
    localtime_r(&t, &lt);
    const uint8_t c[7] = {uint8_t(lt.tm_hour), uint8_t(lt.tm_min),     uint8_t(lt.tm_sec), uint8_t(lt.tm_year % 100),
                          uint8_t(lt.tm_mon + 1), uint8_t(lt.tm_mday), uint8_t(lt.tm_wday)};
    return SetClock(c);
}

int CPageFamily::StatusPoll() {
    m_err.Clear();
    m_f.Begin(0x09);
    return Tx(0x09, 0, 0);
}

int CPageFamily::Scan(uint8_t* buf) { return ScanBus(m_f, m_notify, 0x04, 4, buf); }

int CPageFamily::SetBusAddress(uint8_t newAddress) { return SetBusAddressVia(m_f, 0x08, newAddress); }
