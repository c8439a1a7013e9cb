#pragma once
#include <chrono>
#include <cstdint>

#include "link/PortIO.h"

// The four frame dialects of the device link.
enum class LinkDialect { Short, Bus, BusB, PointB };

// Frames and transactions of one link: one request buffer and one receive buffer, frames
// built in place, every reply checked before a byte of it is used. The caller fills the
// command and data into Req() (short: offset 2 and 4, addressed: through Begin()/ReqData()),
// then runs the dialect's transaction; the reply data is at RxData().
class CFrameLink {
public:
    static constexpr int kMaxFrame = 11 + 240;
    // Polling and waiting in the addressed dialects end with result 5 after this long
    // without a final status.
    static constexpr int kPollLimitMs = 10000;
    // A point-B header scan gives up after discarding this many bytes (a flooding device).
    static constexpr int kMaxDiscard = 4 * kMaxFrame;

    explicit CFrameLink(LinkDialect d, IPortIO* io = nullptr);

    void SetPort(IPortIO* io) { m_io = io; }
    IPortIO* Port() const { return m_io; }
    LinkDialect Dialect() const { return m_dialect; }
    // Bus dialects: destination address; point B always 0.
    void SetDestAddress(uint8_t a) { m_dest = a; }
    uint8_t DestAddress() const { return m_dest; }
    int MaxData() const;

    uint8_t* Req() { return m_req; }
    const uint8_t* Rx() const { return m_rx; }
    // Addressed frames: header of a request for cmd; data goes to ReqData().
    void Begin(uint8_t cmd);
    uint8_t* ReqData() { return m_req + 9; }
    const uint8_t* RxData() const { return m_dialect == LinkDialect::Short ? m_rx + 4 : m_rx + 9; }
    int RxLength() const { return m_dialect == LinkDialect::Short ? m_rx[3] : m_rx[8]; }

    // Short dialect: n data bytes after the header (0 for reads, whose count sits in the
    // length byte the caller set), m expected reply data bytes.
    // singleAttempt: a bad reply ends the transaction with 4 instead of sending again (data
    // writes: the device may have written the chunk already and moved its address on).
    int ShortTransaction(int n, int m, bool statusCheck, bool singleAttempt = false);
    // Bus classic and bus B: request built by Begin() with n data bytes.
    int BusTransaction(int n, int m, bool singleAttempt);
    // Point B: m = 0 accepts any reply length.
    int PointBTransaction(int n, int m, int attempts);
    // Addressed dialects through one door: point B with `attempts`, the bus dialects with 3.
    int Transaction(uint8_t cmd, int n, int m, int attempts);

    // The pause before repeating a busy or accepted exchange (10 ms; fuzzing sets 0).
    void SetRepeatWaitMs(int ms) { m_waitMs = ms; }
    // Tests: how many request frames went out (polls and repeats included).
    unsigned FramesSent() const { return m_framesSent; }

private:
    using Clock = std::chrono::steady_clock;
    int ElapsedMs(Clock::time_point since) const;
    int ExchangeBus(const uint8_t* frame, int len, int m, uint8_t& status);
    int ExchangePointB(const uint8_t* frame, int len, int m, uint8_t& status);
    int Addressed(int n, int m, int attempts, bool pointB);

    LinkDialect m_dialect;
    IPortIO* m_io;
    uint8_t m_dest = 0;
    int m_waitMs = 10;
    unsigned m_framesSent = 0;
    uint8_t m_req[kMaxFrame + 5];
    uint8_t m_poll[11];
    uint8_t m_rx[kMaxFrame + 5];
};
