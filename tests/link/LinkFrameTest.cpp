// Frames, checksums and the transaction rules of the four dialects, against scripted replies.
#include <gtest/gtest.h>

#include <functional>

#include "LinkTestSupport.h"
#include "link/CFrameLink.h"
#include "link/LinkCrc.h"
#include "link/LinkDefs.h"

namespace {
std::vector<uint8_t> ShortReply(uint8_t status, std::vector<uint8_t> data) {
    std::vector<uint8_t> f = {0xE2, 0xE4, status, uint8_t(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(LinkCrc8(f.data(), f.size()));
    return f;
}

std::vector<uint8_t> AddrReply(uint8_t type, uint8_t addr, uint8_t cmd, uint8_t status, std::vector<uint8_t> data) {
    std::vector<uint8_t> f = {0xE2, 0xE4, 0xFF, 0x01, type, addr, cmd, status, uint8_t(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    uint16_t c = LinkCrc16(f.data(), f.size());
    f.push_back(uint8_t(c));
    f.push_back(uint8_t(c >> 8));
    return f;
}

class LinkFrameTest : public ::testing::Test {
protected:
    TempDir dir;
    LinkLogSetup log{dir};
};
}  // namespace

TEST(LinkCrc, CheckValuesAndSelfCheck) {
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(LinkCrc8(text, 9), 0x0B);
    EXPECT_EQ(LinkCrc16(text, 9), 0x4B37);
    // A frame with its checksum appended low byte first checks to 0; one flipped bit does not.
    std::vector<uint8_t> f = AddrReply(0x0F, 0, 5, 0x80, {1, 2, 3, 200});
    EXPECT_EQ(LinkCrc16(f.data(), f.size()), 0);
    for (size_t i = 0; i < f.size(); ++i) {
        auto g = f;
        g[i] ^= 0x10;
        EXPECT_NE(LinkCrc16(g.data(), g.size()), 0) << i;
    }
}

TEST_F(LinkFrameTest, ShortRequestLayoutAndReply) {
    ScriptPort port;
    port.Queue(ShortReply(0x00, {9, 8, 7}));
    CFrameLink f(LinkDialect::Short, &port);
    f.Req()[2] = 0x03;
    f.Req()[3] = 3;
    ASSERT_EQ(f.ShortTransaction(0, 3, true), kLinkOk);
    ASSERT_EQ(port.writes.size(), 1u);
    const auto& w = port.writes[0];
    ASSERT_EQ(w.size(), 5u);  // a read request is always 5 bytes
    EXPECT_EQ(w[0], 0xE2);
    EXPECT_EQ(w[1], 0xE4);
    EXPECT_EQ(w[4], LinkCrc8(w.data(), 4));
    EXPECT_EQ(f.RxData()[0], 9);
    EXPECT_EQ(f.RxData()[2], 7);
}

TEST_F(LinkFrameTest, ShortReplyLength33RejectedThreeTimes) {
    // 33 data bytes with a right checksum, but the dialect carries 32 at most.
    std::vector<uint8_t> data(33, 0x11);
    auto bad = ShortReply(0, data);
    ScriptPort port;
    port.onWrite = [&](const std::vector<uint8_t>&, ScriptPort& p) { p.Queue(std::vector<uint8_t>(bad.begin(), bad.begin() + 37)); };
    CFrameLink f(LinkDialect::Short, &port);
    f.Req()[2] = 0x03;
    f.Req()[3] = 32;
    EXPECT_EQ(f.ShortTransaction(0, 32, true), kLinkBadReply);
    EXPECT_EQ(port.writes.size(), 3u);
    EXPECT_EQ(log.Count("Device reports: CRC ERROR"), 3u);
}

TEST_F(LinkFrameTest, ShortStatusBits) {
    struct Case {
        uint8_t status;
        int result;
        const char* logText;
    } cases[] = {
        {0x00, kLinkOk, nullptr},
        {0x20, kLinkDevice, "Device reports: FAILURE"},
        {0x30, kLinkDevice, "Device reports: FAILURE"},  // failure wins over busy
        {0x4F, kLinkOk, nullptr},                         // other bits are ignored
    };
    for (const auto& c : cases) {
        log.Clear();
        ScriptPort port;
        port.Queue(ShortReply(c.status, {}));
        CFrameLink f(LinkDialect::Short, &port);
        f.Req()[2] = 0x02;
        f.Req()[3] = 1;
        f.Req()[4] = 0x55;
        EXPECT_EQ(f.ShortTransaction(1, 0, true), c.result) << int(c.status);
        if (c.logText) {
            EXPECT_EQ(log.Count(c.logText), 1u);
        }
    }
}

TEST_F(LinkFrameTest, ShortBusyEraseSwitchesToStatusPolls) {
    ScriptPort port;
    int polls = 0;
    port.onWrite = [&](const std::vector<uint8_t>& w, ScriptPort& p) {
        if (w[2] == 0x01) {
            ++polls;
            p.Queue(ShortReply(polls < 3 ? 0x10 : 0x00, {0, 1, 0}));
        } else {
            p.Queue(ShortReply(0x10, {}));
        }
    };
    CFrameLink f(LinkDialect::Short, &port);
    f.Req()[2] = 0x04;
    f.Req()[3] = 0;
    EXPECT_EQ(f.ShortTransaction(0, 0, true), kLinkOk);
    ASSERT_EQ(port.writes.size(), 4u);
    EXPECT_EQ(port.writes[0][2], 0x04);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(port.writes[i], (std::vector<uint8_t>{0xE2, 0xE4, 0x01, 0x00, LinkCrc8(port.writes[i].data(), 4)}));
    }
    EXPECT_EQ(log.Count("Device reports: BUSY"), 3u);
}

TEST_F(LinkFrameTest, ShortDoneReplyShorterThanAskedIsNotCopied) {
    // The device says done with 2 bytes where 4 were asked: the bytes after them are not ours.
    ScriptPort port;
    auto r = ShortReply(0, {1, 2});
    r.push_back(0xAA);
    r.push_back(0xBB);
    port.Queue(r);
    CFrameLink f(LinkDialect::Short, &port);
    f.Req()[2] = 0x03;
    f.Req()[3] = 4;
    EXPECT_EQ(f.ShortTransaction(0, 4, true), kLinkDevice);
}

TEST_F(LinkFrameTest, BusChecksInOrder) {
    // Request: bus classic to address 7, read 2 bytes. Each reply breaks one check.
    auto good = [] {
        std::vector<uint8_t> f = {0xE2, 0xE4, 0xFF, 0xFF, 0x02, 7, 0x03, 0x80, 2, 0xA, 0xB};
        uint16_t c = LinkCrc16(f.data(), f.size());
        f.push_back(uint8_t(c));
        f.push_back(uint8_t(c >> 8));
        return f;
    };
    auto reseal = [](std::vector<uint8_t> f) {
        uint16_t c = LinkCrc16(f.data(), f.size() - 2);
        f[f.size() - 2] = uint8_t(c);
        f[f.size() - 1] = uint8_t(c >> 8);
        return f;
    };
    struct Case {
        std::function<void(std::vector<uint8_t>&)> spoil;
        const char* text;
    } cases[] = {
        {[](auto& f) { f[1] = 0xE5; }, "Device reports: bad sync bytes"},
        {[](auto& f) { f[4] = 0x05; f[1] = 0; }, "Device reports: bad sync bytes"},  // first failure only
        {[](auto& f) { f[4] = 0x05; }, "Device reports: bad device type"},
        {[](auto& f) { f[5] = 8; }, "Device reports: bad device address"},
        {[](auto& f) { f[6] = 0x02; }, "Device reports: bad command reply"},
        {[](auto& f) { f[8] = 81; }, "Device reports: bad data length"},
        {[](auto& f) { f[7] = 0x00; }, "Device reports: bad status bit"},
    };
    for (const auto& c : cases) {
        log.Clear();
        auto reply = good();
        c.spoil(reply);
        reply = reseal(reply);
        ScriptPort port;
        port.onWrite = [&](const std::vector<uint8_t>&, ScriptPort& p) { p.Queue(reply); };
        CFrameLink f(LinkDialect::Bus, &port);
        f.SetDestAddress(7);
        f.Begin(0x03);
        f.ReqData()[0] = 2;
        EXPECT_EQ(f.BusTransaction(1, 2, false), kLinkBadReply) << c.text;
        EXPECT_EQ(port.writes.size(), 3u);
        EXPECT_EQ(log.Count(c.text), 3u) << c.text;
        EXPECT_EQ(log.Count("Device reports: invalid packet or CRC ERROR"), 3u);
    }
    // A wrong checksum only.
    log.Clear();
    auto reply = good();
    reply.back() ^= 1;
    ScriptPort port;
    port.onWrite = [&](const std::vector<uint8_t>&, ScriptPort& p) { p.Queue(reply); };
    CFrameLink f(LinkDialect::Bus, &port);
    f.SetDestAddress(7);
    f.Begin(0x03);
    f.ReqData()[0] = 2;
    EXPECT_EQ(f.BusTransaction(1, 2, true), kLinkBadReply);
    EXPECT_EQ(port.writes.size(), 1u);  // single attempt
    EXPECT_EQ(log.Count("Device reports: bad CRC"), 1u);
}

TEST_F(LinkFrameTest, BusBroadcastAcceptsAnyDeviceAddress) {
    ScriptPort port;
    auto r = AddrReply(0x02, 42, 0x09, 0x80, {});
    port.Queue(r);
    CFrameLink f(LinkDialect::Bus, &port);
    f.SetDestAddress(0);
    f.Begin(0x09);
    f.ReqData()[0] = 5;
    EXPECT_EQ(f.BusTransaction(1, 0, false), kLinkOk);
    EXPECT_EQ(port.writes[0][3], 0);
    EXPECT_EQ(port.writes[0][5], 0xFF);
}

TEST_F(LinkFrameTest, PointBStrayBytesResynchronised) {
    ScriptPort port;
    auto r = AddrReply(0x0F, 0, 0x05, 0x80, {1, 2, 3});
    r.insert(r.begin(), {0x00, 0x55, 0xE2, 0x00});  // 0xE2 0x00: a false start, dropped too
    port.Queue(r);
    CFrameLink f(LinkDialect::PointB, &port);
    f.Begin(0x05);
    f.ReqData()[0] = 3;
    EXPECT_EQ(f.PointBTransaction(1, 3, 1), kLinkOk);
    EXPECT_EQ(f.RxData()[2], 3);
    EXPECT_EQ(log.Count("no SYNC1"), 2u);
    EXPECT_EQ(log.Count("no SYNC2"), 1u);
    // Request layout of point B.
    const auto& w = port.writes[0];
    EXPECT_EQ((std::vector<uint8_t>(w.begin(), w.begin() + 10)),
              (std::vector<uint8_t>{0xE2, 0xE4, 0x0F, 0x00, 0xFF, 0x01, 0x05, 0x00, 1, 3}));
}

TEST_F(LinkFrameTest, PointBDoubleSyncLosesTheReply) {
    // A stray 0xE2 right before the reply's 0xE2: the second one fails the 0xE4 check and is
    // itself discarded, so the reply is lost and the attempt times out.
    ScriptPort port;
    auto r = AddrReply(0x0F, 0, 0x09, 0x80, {});
    r.insert(r.begin(), 0xE2);
    port.Queue(r);
    CFrameLink f(LinkDialect::PointB, &port);
    f.Begin(0x09);
    EXPECT_EQ(f.PointBTransaction(0, 0, 1), kLinkNoReply);
    EXPECT_EQ(log.Count("no SYNC2"), 1u);
    EXPECT_EQ(log.Count("no resp"), 1u);
}

TEST_F(LinkFrameTest, PointBSizeMismatchAndStatusTable) {
    {
        ScriptPort port;
        port.Queue(AddrReply(0x0F, 0, 0x05, 0x80, std::vector<uint8_t>(200, 7)));
        CFrameLink f(LinkDialect::PointB, &port);
        f.Begin(0x05);
        f.ReqData()[0] = 240;
        EXPECT_EQ(f.PointBTransaction(1, 240, 1), kLinkDevice);
        EXPECT_EQ(log.Count("req. size mismatch!"), 1u);
    }
    struct Case {
        std::vector<uint8_t> statuses;  // one per exchange
        int result;
        size_t frames;
    } cases[] = {
        {{0x83}, kLinkDevice, 1},
        {{0x84}, kLinkDevice, 1},
        {{0x85}, kLinkOk, 1},              // no news, nothing failed before
        {{0x82, 0x82, 0x80}, kLinkOk, 3},  // busy: the request again
        {{0x81, 0x81, 0x80}, kLinkOk, 3},  // accepted: polls
        {{0x00, 0x87}, kLinkBadReply, 2},  // no news after a failed attempt: its result
    };
    for (const auto& c : cases) {
        ScriptPort port;
        size_t i = 0;
        port.onWrite = [&](const std::vector<uint8_t>& w, ScriptPort& p) {
            const uint8_t st = c.statuses[std::min(i++, c.statuses.size() - 1)];
            p.Queue(AddrReply(0x0F, 0, w[6], st, {}));
        };
        CFrameLink f(LinkDialect::PointB, &port);
        f.Begin(0x10);
        EXPECT_EQ(f.PointBTransaction(0, 0, 9), c.result) << int(c.statuses[0]);
        EXPECT_EQ(port.writes.size(), c.frames) << int(c.statuses[0]);
        if (c.statuses[0] == 0x81) {
            EXPECT_EQ(port.writes[1][6], 0x09);
            EXPECT_EQ(port.writes[2][6], 0x09);
        }
        if (c.statuses[0] == 0x82) {
            EXPECT_EQ(port.writes[2][6], 0x10);
        }
    }
}

TEST_F(LinkFrameTest, AddressedPollingEndsAfterTenSeconds) {
    ScriptPort port;
    port.onWrite = [&](const std::vector<uint8_t>& w, ScriptPort& p) { p.Queue(AddrReply(0x05, 3, w[6], 0x81, {})); };
    CFrameLink f(LinkDialect::BusB, &port);
    f.SetDestAddress(3);
    f.Begin(0x10);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(f.BusTransaction(0, 0, false), kLinkDevice);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, CFrameLink::kPollLimitMs);
    EXPECT_LT(ms, CFrameLink::kPollLimitMs + 2000);
    EXPECT_EQ(port.writes.back()[6], 0x09);  // bus B polls with 0x09
}

TEST_F(LinkFrameTest, GarbageAndFloodEndInBoundedResults) {
    // A device that floods non-sync bytes: the header scan gives up with 4.
    ScriptPort flood;
    flood.onWrite = [](const std::vector<uint8_t>&, ScriptPort& p) { p.Queue(std::vector<uint8_t>(100000, 0x55)); };
    CFrameLink f(LinkDialect::PointB, &flood);
    f.Begin(0x09);
    EXPECT_EQ(f.PointBTransaction(0, 0, 9), kLinkBadReply);
    EXPECT_EQ(flood.writes.size(), 9u);
    // Header bytes that claim a length above 240 never make the link read that far.
    ScriptPort big;
    big.onWrite = [](const std::vector<uint8_t>&, ScriptPort& p) {
        p.Queue({0xE2, 0xE4, 0xFF, 0x01, 0x0F, 0x00, 0x09, 0x80, 0xF5});
    };
    CFrameLink g(LinkDialect::PointB, &big);
    g.Begin(0x09);
    EXPECT_EQ(g.PointBTransaction(0, 0, 2), kLinkNoReply);
    EXPECT_GE(log.Count("bad DATALEN"), 2u);
}
