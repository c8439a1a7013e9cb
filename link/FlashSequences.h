#pragma once
#include <cstdint>
#include <vector>

#include "link/CFrameLink.h"
#include "link/FlashChips.h"
#include "link/LinkDefs.h"

// What every sequence reports besides its result: which block access failed and where.
// The address is kept for any failure; the kind only where a block access failed with 5
// (or as the dialect's rules say).
struct RLinkError {
    int kind = kErrNone;
    uint32_t address = 0;
    void Clear() { *this = RLinkError{}; }
};

// Block family: the short and bus-classic dialects, where the device hides its flash and the
// program erases 64 KB blocks.
class CBlockFamily {
public:
    // protocol2: short dialect with the protocol-2 command bytes.
    CBlockFamily(CFrameLink& frames, ILinkNotifier* notify, bool protocol2 = false);

    int Read(uint32_t a, uint32_t n, uint8_t* buf);
    // cmd 4 (write), 5 (erase and write), 6 (erase).
    int WriteErase(int cmd, uint32_t a, uint32_t n, const uint8_t* buf);
    // Command 1: at most one frame of data; got = bytes read.
    int Identity(uint32_t n, uint8_t* buf, int& got);
    // Bus classic only.
    int Scan(uint8_t* buf);
    int SetBusAddress(uint8_t newAddress);

    const RLinkError& Error() const { return m_err; }

private:
    int SetAddress(uint32_t a);
    int ReadChunk(int count);
    int WriteChunk(const uint8_t* data, int count);
    int EraseBlock();
    bool Abort(int value);

    CFrameLink& m_f;
    ILinkNotifier* m_notify;
    bool m_p2;
    RLinkError m_err;
};

// Page family: point B (serial or Ethernet, the same code over any IPortIO) and bus B.
class CPageFamily {
public:
    // name: log prefix class ("CSerial232B", "CEth1", "CSerial485B").
    CPageFamily(CFrameLink& frames, ILinkNotifier* notify, const char* name);

    int Read(uint32_t a, uint32_t n, uint8_t* buf);
    int Write(uint32_t a, uint32_t n, const uint8_t* buf, bool verify);
    int SetClock();  // local time
    int SetClock(const uint8_t clock[7]);
    int StatusPoll();
    // Bus B only.
    int Scan(uint8_t* buf);
    int SetBusAddress(uint8_t newAddress);

    const RLinkError& Error() const { return m_err; }
    // Tests: identification result of the last flash command.
    const RFlashChip* Chip() const { return m_chip; }

    static uint32_t MapSignatureAddress(uint32_t a) { return a == 0x80FFFFFFu ? 0xFFFFFFFFu : a; }

private:
    struct Geometry {
        uint32_t first, last, head, tail, region;
    };
    bool PointB() const { return m_f.Dialect() == LinkDialect::PointB; }
    int Tx(uint8_t cmd, int n, int m, int attempts = 9) { return m_f.Transaction(cmd, n, m, attempts); }
    int SetAddress(uint32_t a);
    int ReadChunk(uint8_t cmd, int count);
    int Identify();
    Geometry Geo(uint32_t a, uint32_t n) const;
    uint32_t PageAddress(const Geometry& g, uint32_t p) const { return (p << m_chip->pageShift) + g.region; }
    // Reads the pages of [a, a+n): delivers into out, or compares with cmp when out is null.
    // Verification also compares the preserved bytes of the first and last page with what
    // they held before (m_headOld, m_tailOld).
    int ReadPages(const Geometry& g, uint32_t n, uint8_t* out, const uint8_t* cmp, bool verifyPass, int& failKind);
    int ReadDirect(uint32_t a, uint32_t n, uint8_t* buf);
    int WriteDirect(uint32_t a, uint32_t n, const uint8_t* buf);
    int WritePage(const Geometry& g, uint32_t p, uint32_t n, const uint8_t* buf, uint32_t consumed, bool halve);
    int Reinit(uint32_t a);
    bool Abort(int value);
    void Fail(int kind, uint32_t address);

    CFrameLink& m_f;
    ILinkNotifier* m_notify;
    const char* m_name;
    const RFlashChip* m_chip = nullptr;
    RLinkError m_err;
    std::vector<uint8_t> m_page;
    // Old contents of the partly written first and last page, read once per command: a retry
    // must not read them back from a page its failed attempt already erased.
    std::vector<uint8_t> m_headOld, m_tailOld;
    bool m_headLoaded = false, m_tailLoaded = false;
};
