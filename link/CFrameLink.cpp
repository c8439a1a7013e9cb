#include "link/CFrameLink.h"

#include <cstring>
#include <thread>

#include "app/DebugLog.h"
#include "link/LinkCrc.h"
#include "link/LinkDefs.h"

namespace {
constexpr int kBusy = 4097;      // only inside a transaction
constexpr int kAccepted = 4098;  // only inside a transaction
void WaitMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
}  // namespace

CFrameLink::CFrameLink(LinkDialect d, IPortIO* io) : m_dialect(d), m_io(io) {
    std::memset(m_req, 0, sizeof m_req);
    std::memset(m_rx, 0, sizeof m_rx);
    std::memset(m_poll, 0, sizeof m_poll);
}

int CFrameLink::MaxData() const {
    switch (m_dialect) {
        case LinkDialect::Short: return 32;
        case LinkDialect::Bus: return 80;
        default: return 240;
    }
}

int CFrameLink::ElapsedMs(Clock::time_point since) const {
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

void CFrameLink::Begin(uint8_t cmd) {
    m_req[0] = 0xE2;
    m_req[1] = 0xE4;
    switch (m_dialect) {
        case LinkDialect::Bus: m_req[2] = 0x02; break;
        case LinkDialect::BusB: m_req[2] = 0x05; break;
        default: m_req[2] = 0x0F; break;
    }
    m_req[3] = m_dialect == LinkDialect::PointB ? 0x00 : m_dest;
    m_req[4] = 0xFF;
    m_req[5] = m_dialect == LinkDialect::PointB ? 0x01 : 0xFF;
    m_req[6] = cmd;
    m_req[7] = 0x00;
    m_req[8] = 0;
}

int CFrameLink::ShortTransaction(int n, int m, bool statusCheck, bool singleAttempt) {
    if (n < 0 || n > 32 || m < 0 || m > 32 || !m_io) return kLinkWrite;
    m_req[0] = 0xE2;
    m_req[1] = 0xE4;
    m_req[4 + n] = LinkCrc8(m_req, size_t(4 + n));
    const auto start = Clock::now();
    int badReplies = 0;
    for (;;) {
        ++m_framesSent;
        if (!m_io->PortWriteData(m_req, n + 5)) return kLinkWrite;
        if (!m_io->PortReadData(m_rx, m + 5)) return kLinkNoReply;
        const int len = m_rx[3];
        // The length byte is checked before it is used to find the checksum.
        if (m_rx[0] != 0xE2 || m_rx[1] != 0xE4 || len > 32 || len > m ||
            LinkCrc8(m_rx, size_t(4 + len)) != m_rx[4 + len]) {
            DebugLog("Device reports: CRC ERROR");
            if (++badReplies >= 3 || singleAttempt) return kLinkBadReply;
            continue;
        }
        if (!statusCheck) return len == m ? kLinkOk : kLinkDevice;
        const uint8_t st = m_rx[2];
        if (st & 0x20) {
            DebugLog("Device reports: FAILURE");
            return kLinkDevice;
        }
        if (!(st & 0x10)) {
            // A done reply must carry what was asked for, or the caller would copy stale bytes.
            if (len != m) {
                DebugLog("Device reports: bad data length");
                return kLinkDevice;
            }
            return kLinkOk;
        }
        DebugLog("Device reports: BUSY");
        if (ElapsedMs(start) >= 2000) return kLinkDevice;
        if (m_req[2] == 0x04 || m_req[2] == 0x06) {
            m_req[2] = 0x01;
            m_req[3] = 0;
            m_req[4] = LinkCrc8(m_req, 4);
            n = 0;
            m = 3;
        }
    }
}

int CFrameLink::ExchangeBus(const uint8_t* frame, int len, int m, uint8_t& status) {
    ++m_framesSent;
    if (!m_io->PortWriteData(frame, len)) return kLinkWrite;
    if (!m_io->PortReadData(m_rx, m + 11)) return kLinkNoReply;
    const int maxLen = m_dialect == LinkDialect::Bus ? 80 : 240;
    const char* bad = nullptr;
    if (m_rx[0] != 0xE2 || m_rx[1] != 0xE4)
        bad = "Device reports: bad sync bytes";
    else if (m_rx[4] != frame[2])
        bad = "Device reports: bad device type";
    else if (frame[3] != 0 && m_rx[5] != frame[3])
        bad = "Device reports: bad device address";
    else if (m_rx[6] != frame[6])
        bad = "Device reports: bad command reply";
    else if (m_rx[8] > maxLen)
        bad = "Device reports: bad data length";
    else if (!(m_rx[7] & 0x80))
        bad = "Device reports: bad status bit";
    else if (LinkCrc16(m_rx, size_t(m + 11)) != 0)
        bad = "Device reports: bad CRC";
    if (bad) {
        DebugLog("%s", bad);
        DebugLog("Device reports: invalid packet or CRC ERROR");
        return kLinkBadReply;
    }
    status = m_rx[7];
    DebugLog("bStatus = %02X", status);
    // The frame was read as m + 11 bytes; a different length byte means its data is not ours.
    if ((status & 7) == 0 && m_rx[8] != m) {
        DebugLog("Device reports: bad data length");
        return kLinkDevice;
    }
    return kLinkOk;
}

int CFrameLink::ExchangePointB(const uint8_t* frame, int len, int m, uint8_t& status) {
    ++m_framesSent;
    if (!m_io->PortWriteData(frame, len)) return kLinkWrite;
    int pos = 0;
    int discarded = 0;
    while (pos < 9) {
        uint8_t b;
        if (!m_io->PortReadData(&b, 1)) {
            DebugLog("no resp");
            return kLinkNoReply;
        }
        const char* bad = nullptr;
        switch (pos) {
            case 0: if (b != 0xE2) bad = "no SYNC1"; break;
            case 1: if (b != 0xE4) bad = "no SYNC2"; break;
            case 4: if (b != frame[2]) bad = "bad TYPE"; break;
            case 5: if (b != frame[3]) bad = "bad ADDRT"; break;
            case 6: if (b != frame[6]) bad = "bad IDENTCMD"; break;
            case 8: if (b > 240) bad = "bad DATALEN"; break;
            default: break;
        }
        if (bad) {
            DebugLog("%s", bad);
            pos = 0;
            // A device that floods bytes would otherwise keep the scan going for ever.
            if (++discarded > kMaxDiscard) return kLinkBadReply;
            continue;
        }
        m_rx[pos++] = b;
    }
    const int dlen = m_rx[8];
    if (!m_io->PortReadData(m_rx + 9, dlen + 2)) {
        DebugLog("no resp");
        return kLinkNoReply;
    }
    if (!(m_rx[7] & 0x80)) {
        DebugLog("bad STATUS");
        return kLinkBadReply;
    }
    if (LinkCrc16(m_rx, size_t(dlen + 11)) != 0) {
        DebugLog("bad CRC");
        return kLinkBadReply;
    }
    status = m_rx[7];
    DebugLog("bStatus = %02X", status);
    if ((status & 7) == 0 && m != 0 && dlen != m) {
        DebugLog("req. size mismatch!");
        return kLinkDevice;
    }
    return kLinkOk;
}

int CFrameLink::Addressed(int n, int m, int attempts, bool pointB) {
    if (!m_io || n < 0 || n > MaxData() || m < 0 || m > MaxData()) return kLinkWrite;
    m_req[8] = uint8_t(n);
    const uint16_t crc = LinkCrc16(m_req, size_t(9 + n));
    m_req[9 + n] = uint8_t(crc);
    m_req[10 + n] = uint8_t(crc >> 8);
    if (attempts < 1) attempts = 1;

    const uint8_t* frame = m_req;
    int len = n + 11;
    int expect = m;
    bool polling = false;
    int lastFailed = kLinkOk;
    const auto start = Clock::now();
    for (;;) {
        int r = kLinkOk;
        uint8_t st = 0;
        for (int a = 0; a < attempts; ++a) {
            r = pointB ? ExchangePointB(frame, len, expect, st) : ExchangeBus(frame, len, expect, st);
            if (r == kLinkOk) break;
            lastFailed = r;
        }
        if (r != kLinkOk) return r;
        switch (st & 7) {
            case 0: return kLinkOk;
            case 1: r = kAccepted; break;
            case 2: r = kBusy; break;
            case 3:
            case 4: return kLinkDevice;
            default: return lastFailed;
        }
        if (ElapsedMs(start) >= kPollLimitMs) {
            DebugLog("Device reports: BUSY");
            return kLinkDevice;
        }
        if (r == kAccepted && !polling) {
            // Poll with the request's addressing and the dialect's poll command.
            std::memcpy(m_poll, m_req, 6);
            m_poll[6] = m_dialect == LinkDialect::Bus ? 0x0A : 0x09;
            m_poll[7] = 0;
            m_poll[8] = 0;
            const uint16_t pc = LinkCrc16(m_poll, 9);
            m_poll[9] = uint8_t(pc);
            m_poll[10] = uint8_t(pc >> 8);
            frame = m_poll;
            len = 11;
            expect = 0;
            polling = true;
            if (pointB) WaitMs(m_waitMs);
        } else {
            WaitMs(m_waitMs);
        }
    }
}

int CFrameLink::BusTransaction(int n, int m, bool singleAttempt) { return Addressed(n, m, singleAttempt ? 1 : 3, false); }

int CFrameLink::PointBTransaction(int n, int m, int attempts) { return Addressed(n, m, attempts, true); }

int CFrameLink::Transaction(uint8_t cmd, int n, int m, int attempts) {
    m_req[6] = cmd;
    if (m_dialect == LinkDialect::PointB) return PointBTransaction(n, m, attempts);
    return BusTransaction(n, m, false);
}
