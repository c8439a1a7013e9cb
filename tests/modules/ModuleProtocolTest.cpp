#include "lanora/protocol/ModulePassportFile.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace {
std::vector<uint8_t> Hello(const RMac& mac, uint32_t ip, uint16_t further, size_t len = 0) {
    std::vector<uint8_t> d(28 + 12 * further, 0);
    std::memcpy(d.data(), "TiBbhElO", 8);
    std::memcpy(&d[8], mac.data(), 6);
    ModulePutIp(&d[14], ip);
    ModulePutIp(&d[18], 0x00FFFFFF);
    ModulePutBE16(&d[26], further);
    for (uint16_t i = 0; i < further; ++i) ModulePutIp(&d[28 + 12 * i], ip + (uint32_t(i + 1) << 24));
    if (len) d.resize(len);
    return d;
}
std::vector<uint8_t> DeviceHello(const RMac& mac, uint32_t ip, uint16_t family, uint16_t variant,
                                 uint16_t further, uint32_t ip2 = 0) {
    std::vector<uint8_t> d(44, 0);
    std::memcpy(d.data(), "WiZnHeLo", 8);
    std::memcpy(&d[8], mac.data(), 6);
    ModulePutIp(&d[14], ip);
    ModulePutIp(&d[18], 0x00FFFFFF);
    ModulePutIp(&d[22], 0x0100A8C0);
    ModulePutBE16(&d[26], family);
    ModulePutBE16(&d[28], variant);
    ModulePutBE16(&d[30], further);
    ModulePutIp(&d[32], ip2);
    ModulePutIp(&d[36], 0x0000FFFF);
    return d;
}
uint32_t Ip(const char* s) {
    uint32_t ip = 0;
    EXPECT_TRUE(ModuleIpFromText(s, ip)) << s;
    return ip;
}
const RMac kMacA{0x00, 0x1A, 0x02, 0x03, 0x04, 0x05};
const RMac kMacB{0x00, 0x1A, 0x02, 0x03, 0x04, 0x01};
}  // namespace

TEST(ModuleParse, CommandWordIsExactAndCaseSensitive) {
    auto d = Hello(kMacA, Ip("10.1.2.3"), 0);
    RModuleRecord rec;
    EXPECT_TRUE(ParseModuleRecord(d.data(), d.size(), rec));
    d[4] = 'H';  // "TiBbHElO"
    EXPECT_FALSE(ParseModuleRecord(d.data(), d.size(), rec));
    EXPECT_FALSE(ModuleHasCommand(d.data(), 7, "TiBbHElO"));
}

TEST(ModuleParse, ModuleRecordLengthsAndPortCount) {
    RModuleRecord rec;
    auto short25 = Hello(kMacA, Ip("10.1.2.3"), 0, 25);
    EXPECT_FALSE(ParseModuleRecord(short25.data(), short25.size(), rec));
    auto exact26 = Hello(kMacA, Ip("10.1.2.3"), 0, 26);
    ASSERT_TRUE(ParseModuleRecord(exact26.data(), exact26.size(), rec));
    // Big-endian 2 on the wire becomes the host-order count in the stored record.
    auto two = Hello(kMacA, Ip("10.1.2.3"), 2);
    ASSERT_TRUE(ParseModuleRecord(two.data(), two.size(), rec));
    RModuleListRecord row;
    std::copy(rec.bytes.begin(), rec.bytes.end(), row.bytes.begin());
    EXPECT_EQ(row.FurtherPorts(), 2);
    EXPECT_EQ(row.Port(2).ip, Ip("10.1.2.5"));
    // A datagram longer than the record is cut at 168 bytes.
    std::vector<uint8_t> big = Hello(kMacA, 1, 0);
    big.resize(1024, 0xEE);
    ASSERT_TRUE(ParseModuleRecord(big.data(), big.size(), rec));
    EXPECT_EQ(rec.bytes[167], 0xEE);
}

TEST(ModuleParse, DeviceRecordNeedsThirtyBytes) {
    auto d = DeviceHello(kMacA, Ip("10.0.0.9"), 0x0401, 2, 1, Ip("10.0.1.9"));
    RDeviceRecord rec;
    EXPECT_FALSE(ParseDeviceRecord(d.data(), 29, rec));
    ASSERT_TRUE(ParseDeviceRecord(d.data(), 30, rec));
    EXPECT_EQ(rec.Family(), 0x0401);
    EXPECT_EQ(rec.Variant(), 2);
    ASSERT_TRUE(ParseDeviceRecord(d.data(), d.size(), rec));
    EXPECT_EQ(rec.FurtherPorts(), 1);
}

TEST(ModuleParse, PassportAcceptance) {
    std::vector<uint8_t> d(300, 0x11);
    std::memcpy(d.data(), "WiZnPaSs", 8);
    std::memcpy(&d[8], kMacA.data(), 6);
    std::array<uint8_t, kPassportSize> p;
    EXPECT_FALSE(ParsePassport(d.data(), 289, &kMacA, p));
    EXPECT_FALSE(ParsePassport(d.data(), d.size(), &kMacB, p)) << "wrong MAC to a broadcast request";
    EXPECT_TRUE(ParsePassport(d.data(), d.size(), nullptr, p)) << "any MAC from a known address";
    ASSERT_TRUE(ParsePassport(d.data(), d.size(), &kMacA, p));
    EXPECT_EQ(p[299], 0x11);
    EXPECT_EQ(p[300], 0) << "the rest of the 418 bytes is zero";
    EXPECT_EQ(p[417], 0);
}

TEST(ModuleParse, HistoryPagesNeedBothMarkers) {
    struct Case {
        bool marker1, marker2;
        uint8_t count;
        int pages;
    } cases[] = {{true, true, 3, 3}, {false, true, 3, 0}, {true, false, 3, 0}, {false, false, 7, 0}, {true, true, 0, 0}};
    for (const auto& c : cases) {
        std::array<uint8_t, kPassportSize> p{};
        if (c.marker1) p[290] = 0xAB, p[291] = 0x55;
        if (c.marker2) p[415] = 'Z';
        p[416] = c.count;
        EXPECT_EQ(PassportHistoryPages(p), c.pages) << c.marker1 << c.marker2;
    }
    std::array<uint8_t, kPassportSize> swapped{};
    swapped[290] = 0x55, swapped[291] = 0xAB, swapped[415] = 'Z', swapped[416] = 2;
    EXPECT_EQ(PassportHistoryPages(swapped), 0) << "the marker is little-endian 0x55AB";
}

TEST(ModuleParse, HistoryPageTextStopsAtZeroOrEnd) {
    std::vector<uint8_t> d = {'W', 'i', 'Z', 'n', 'H', 'i', 'S', 't', 4, 1, 'a', 'b', 0, 'c'};
    RHistoryPage page;
    ASSERT_TRUE(ParseHistoryPage(d.data(), d.size(), kHistoryMinBroadcast, page));
    EXPECT_EQ(page.index, 4);
    EXPECT_TRUE(page.hasText);
    EXPECT_EQ(page.text, "ab");
    EXPECT_FALSE(ParseHistoryPage(d.data(), d.size(), kHistoryMinUnicast, page)) << "26 bytes over unicast";
    // No terminator: the text ends with the datagram, nothing beyond is read.
    std::vector<uint8_t> open(d.begin(), d.begin() + 12);
    ASSERT_TRUE(ParseHistoryPage(open.data(), open.size(), kHistoryMinBroadcast, page));
    EXPECT_EQ(page.text, "ab");
    EXPECT_FALSE(ParseHistoryPage(d.data(), 9, 0, page));
}

TEST(ModuleParse, LogMessages) {
    std::vector<uint8_t> d(18, 0);
    std::memcpy(d.data(), "WiZnLoGe", 8);
    std::memcpy(&d[8], kMacA.data(), 6);
    ModulePutBE16(&d[14], 0x0301);
    ModulePutBE16(&d[16], 0x0002);
    RLogMessage m;
    EXPECT_FALSE(ParseLogMessage(d.data(), d.size(), m)) << "18 bytes are ignored";
    for (char c : std::string("Link up\x01tail")) d.push_back(uint8_t(c));
    ASSERT_TRUE(ParseLogMessage(d.data(), d.size(), m));
    EXPECT_EQ(m.text, "Link up");
    EXPECT_EQ(m.family, 0x0301);
    EXPECT_EQ(m.variant, 2);
    EXPECT_EQ(m.mac, kMacA);
}

TEST(ModuleMerge, DeviceKnownOnlyFromDeviceRecord) {
    RDeviceRecord dev;
    auto d = DeviceHello(kMacA, Ip("198.18.5.7"), 0x0401, 0x0002, 1, Ip("198.18.6.7"));
    ASSERT_TRUE(ParseDeviceRecord(d.data(), d.size(), dev));
    auto list = MergeModuleLists({}, {dev});
    ASSERT_EQ(list.size(), 1u);
    const auto& r = list[0];
    EXPECT_EQ(r.Mac(), kMacA);
    EXPECT_EQ(r.Port(0), (RModulePort{Ip("198.18.5.7"), 0x00FFFFFF, 0x0100A8C0}));
    EXPECT_EQ(r.FurtherPorts(), 1);
    EXPECT_EQ(r.Port(1), (RModulePort{Ip("198.18.6.7"), 0x0000FFFF, 0}));
    EXPECT_EQ(ModuleIpColumn(r), "198.18.5.7 / 198.18.6.7");
    EXPECT_STREQ(ModuleDeviceName(r.Family(), r.Variant()), "Varo MV-8 Multiviewer");
}

TEST(ModuleMerge, OneRowPerMacSortedWithDeviceCodes) {
    RModuleRecord a1, a2, b;
    auto ha = Hello(kMacA, Ip("10.0.0.2"), 0), hb = Hello(kMacB, Ip("10.0.0.3"), 0);
    ASSERT_TRUE(ParseModuleRecord(ha.data(), ha.size(), a1));
    ASSERT_TRUE(ParseModuleRecord(ha.data(), ha.size(), a2));
    ASSERT_TRUE(ParseModuleRecord(hb.data(), hb.size(), b));
    RDeviceRecord devA;
    auto d = DeviceHello(kMacA, Ip("10.9.9.9"), 0x0301, 0x0003, 0);
    ASSERT_TRUE(ParseDeviceRecord(d.data(), d.size(), devA));
    auto list = MergeModuleLists({a1, b, a2}, {devA});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Mac(), kMacB);  // ...:01 before ...:05
    EXPECT_EQ(list[1].Mac(), kMacA);
    EXPECT_EQ(list[1].Port(0).ip, Ip("10.0.0.2")) << "the module record wins over the device record";
    EXPECT_EQ(list[1].Family(), 0x0301);
    EXPECT_EQ(list[1].Variant(), 0x0003);
    EXPECT_EQ(list[0].Family(), 0);
    EXPECT_EQ(ModuleDeviceName(list[0].Family(), list[0].Variant()), nullptr);
}

TEST(ModuleMerge, IpColumnAndMacText) {
    RModuleListRecord r;
    std::memcpy(&r.bytes[8], kMacA.data(), 6);
    r.SetPort(0, {Ip("1.2.3.4"), 0, 0});
    r.SetPort(1, {Ip("5.6.7.8"), 0, 0});
    uint16_t n = 0;
    std::memcpy(&r.bytes[26], &n, 2);
    EXPECT_EQ(ModuleIpColumn(r), "1.2.3.4");
    n = 1;
    std::memcpy(&r.bytes[26], &n, 2);
    EXPECT_EQ(ModuleIpColumn(r), "1.2.3.4 / 5.6.7.8");
    n = 2;
    std::memcpy(&r.bytes[26], &n, 2);
    EXPECT_EQ(ModuleIpColumn(r), "");
    EXPECT_EQ(MacToText(kMacA), "00:1A:02:03:04:05");
    EXPECT_EQ(MacToText(RMac{}), "");
    RMac back;
    ASSERT_TRUE(MacFromText("00-1a-02-03-04-05", back));
    EXPECT_EQ(back, kMacA);
    EXPECT_FALSE(MacFromText("00:1A:02:03:04", back));
}

TEST(ModuleValidation, IpAddressRule) {
    struct Case {
        const char* ip;
        bool valid;
    } cases[] = {{"127.0.0.1", false},     {"10.0.0.0", false},   {"192.168.1.255", false}, {"0.1.2.3", false},
                 {"224.0.0.1", false},     {"1.0.0.1", true},     {"223.255.255.254", true}, {"10.0.0.1", true},
                 {"192.168.1.254", true},  {"126.1.1.1", true},   {"128.1.1.1", true}};
    for (const auto& c : cases) EXPECT_EQ(ModuleIpValid(Ip(c.ip)), c.valid) << c.ip;
    uint32_t ip = 7;
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ", ""})
        EXPECT_FALSE(ModuleIpFromText(bad, ip)) << bad;
    EXPECT_EQ(ip, 7u);
}

TEST(ModuleRequests, LayoutsOfTheRequests) {
    auto set = ModuleSetRequest(kMacA, {Ip("198.18.0.9"), Ip("255.255.255.0"), Ip("198.18.0.254")});
    ASSERT_EQ(set.size(), 26u);
    EXPECT_EQ(std::string(set.begin(), set.begin() + 8), "TiBbsEtA");
    EXPECT_TRUE(std::equal(kMacA.begin(), kMacA.end(), set.begin() + 8));
    EXPECT_EQ(std::vector<uint8_t>(set.begin() + 14, set.end()),
              (std::vector<uint8_t>{198, 18, 0, 9, 255, 255, 255, 0, 198, 18, 0, 254}));
    auto hist = ModuleHistoryRequest(nullptr, 5);
    EXPECT_EQ(hist[14], 5);
    EXPECT_TRUE(std::all_of(hist.begin() + 8, hist.begin() + 14, [](uint8_t b) { return b == 0; }));
}

TEST(ModuleRequests, ExtendedSetCarriesTheRecordWithBigEndianCount) {
    RModuleRecord rec;
    auto h = Hello(kMacA, Ip("10.0.0.2"), 1);
    ASSERT_TRUE(ParseModuleRecord(h.data(), h.size(), rec));
    RModuleListRecord row;
    std::copy(rec.bytes.begin(), rec.bytes.end(), row.bytes.begin());
    row.SetPort(1, {Ip("10.0.1.50"), Ip("255.255.0.0"), Ip("10.0.0.1")});
    auto req = ModuleSetRequestExtended(row);
    ASSERT_EQ(req.size(), 40u);
    EXPECT_EQ(std::string(req.begin(), req.begin() + 8), "TiBbsEtA");
    EXPECT_EQ(req[26], 0);
    EXPECT_EQ(req[27], 1);
    EXPECT_EQ(ModuleGetIp(&req[28]), Ip("10.0.1.50"));
    // A hostile count in a received record never makes the request read past the record.
    uint16_t huge = 0xFFFF;
    std::memcpy(&row.bytes[26], &huge, 2);
    EXPECT_EQ(ModuleSetRequestExtended(row).size(), 28u + 12 * kMaxFurtherPorts);
}

TEST(ModuleNames, TableRules) {
    EXPECT_EQ(ModuleDeviceNameRows(), 52u);
    EXPECT_STREQ(ModuleDeviceName(0x0101, 0x0002), "Varo LX-12 Logo Inserter");
    EXPECT_STREQ(ModuleDeviceName(0x0101, 0x0099), "Varo LX Logo Inserter") << "variant 0 row catches the rest";
    EXPECT_EQ(ModuleDeviceName(0x0999, 1), nullptr);
    std::set<std::string> names;
    for (uint16_t f = 0; f < 0x0A00; ++f)
        for (uint16_t v = 0; v < 8; ++v)
            if (const char* n = ModuleDeviceName(f, v)) names.insert(n);
    EXPECT_EQ(names.size(), 52u) << "every row is reachable";
}

TEST(ModuleCrc, Modbus) {
    const char* s = "123456789";
    EXPECT_EQ(ModuleCrc16(reinterpret_cast<const uint8_t*>(s), 9), 0x4B37);
    EXPECT_EQ(ModuleCrc16(nullptr, 0), 0xFFFF);
}

TEST(PassportFile, BlockLayoutAndCrc) {
    std::array<uint8_t, kPassportSize> p{};
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 13 + 1);
    auto b = PassportBlock(p, Ip("198.18.0.2"));
    auto le32 = [&](size_t o) { return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | uint32_t(b[o + 3]) << 24; };
    EXPECT_EQ(le32(0), 1u);
    EXPECT_EQ(le32(4), 62u);
    EXPECT_EQ(le32(8), 418u);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 12, b.begin() + 16), (std::vector<uint8_t>{198, 18, 0, 2}));
    EXPECT_TRUE(std::all_of(b.begin() + 18, b.begin() + 62, [](uint8_t v) { return v == 0; }));
    EXPECT_TRUE(std::equal(p.begin(), p.end(), b.begin() + 62));
    auto zeroed = b;
    zeroed[16] = zeroed[17] = 0;
    uint16_t crc = ModuleCrc16(zeroed.data(), zeroed.size());
    EXPECT_EQ(b[16], crc & 0xFF);
    EXPECT_EQ(b[17], crc >> 8);
}

TEST(PassportFile, TextLayout) {
    std::array<uint8_t, kPassportSize> p{};
    std::memcpy(p.data(), "WiZnPaSs", 8);
    std::memcpy(&p[8], kMacA.data(), 6);
    std::vector<RHistoryPage> pages(3);
    pages[0] = {0, true, "first"};
    pages[1] = {1, false, "hidden"};
    pages[2] = {2, true, "third"};
    std::string text = PassportFileText(p, Ip("10.0.0.5"), pages);
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + 15 + 1 + 4);
    EXPECT_EQ(lines[0], "---DEVICEPASSPORT---");
    for (int i = 1; i <= 15; ++i) {
        EXPECT_EQ(lines[i].size(), 64u);
        EXPECT_EQ(lines[i].find_first_not_of("0123456789ABCDEF"), std::string::npos);
    }
    EXPECT_EQ(lines[1].substr(0, 32), "010000003E000000A20100000A000005");
    // Block offset 62 holds the reply's first byte: line 2 (bytes 32..63), hex column 60.
    EXPECT_EQ(lines[2].substr(60, 4), "5769");  // "Wi"
    EXPECT_EQ(lines[16], "---DATAEND---");
    EXPECT_EQ(lines[17], "---HISTORY PAGE 1---");
    EXPECT_EQ(lines[18], "first");
    EXPECT_EQ(lines[19], "---HISTORY PAGE 3---");
    EXPECT_EQ(lines[20], "third");
}

TEST(PassportFile, DefaultNameAndWriteFailure) {
    std::array<uint8_t, kPassportSize> p{};
    std::memcpy(&p[8], kMacA.data(), 6);
    std::tm t{};
    t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = 9, t.tm_hour = 7, t.tm_min = 5, t.tm_sec = 3;
    EXPECT_EQ(PassportDefaultName(p, t), "passport_001A02030405_20261209070503");
    EXPECT_FALSE(WriteTextFile("/nonexistent-dir/x.txt", "x"));
}
