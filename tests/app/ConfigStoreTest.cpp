#include "app/ConfigStore.h"
#include "app/IpAddress.h"
#include "app/MainSettings.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

TEST(ConfigStore, MissingFileGivesDefaultsAndCreatesNothing) {
    TempDir dir;
    CConfigStore store(dir.File("VaroConfig.ini"));
    EXPECT_EQ(store.ReadInt("Main", "Interface", 3), 3);
    EXPECT_EQ(store.ReadString("Main", "ModelName", "none"), "none");
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_FALSE(store.ReadStruct("PnP_Preferences", "Font", buf, sizeof buf));
    EXPECT_EQ(buf[0], 1);
    EXPECT_FALSE(std::filesystem::exists(store.Path()));

    // First write creates the file; other sections and keys still give their defaults.
    EXPECT_TRUE(store.WriteInt("Main", "Port", 2));
    EXPECT_TRUE(std::filesystem::exists(store.Path()));
    EXPECT_EQ(store.ReadInt("Main", "Port", 0), 2);
    EXPECT_EQ(store.ReadInt("Main", "Missing", -7), -7);
    EXPECT_EQ(store.ReadInt("Other", "Port", 5), 5);
}

TEST(ConfigStore, NamesAreCaseInsensitiveAndKeysKeepTheirPlace) {
    TempDir dir;
    TempDir::WriteAll(dir.File("s.ini"),
                      "; comment\r\n[layout]\r\n  LEFT = 12 \r\nTop=34\r\n\r\n[Main]\r\nModelName=\"HD Overlay\"\r\n");
    CConfigStore store(dir.File("s.ini"));
    EXPECT_EQ(store.ReadInt("Layout", "Left", -1), 12);
    EXPECT_EQ(store.ReadInt("LAYOUT", "top", -1), 34);
    EXPECT_EQ(store.ReadString("main", "modelname", ""), "HD Overlay");

    EXPECT_TRUE(store.WriteInt("Layout", "left", 99));
    EXPECT_TRUE(store.WriteInt("LAYOUT", "Width", 640));
    EXPECT_TRUE(store.WriteString("Debug", "Log", "1"));
    EXPECT_EQ(store.ReadInt("Layout", "Left", -1), 99);
    EXPECT_EQ(store.ReadInt("Layout", "Width", -1), 640);
    EXPECT_EQ(store.ReadInt("Debug", "Log", 0), 1);
    std::string text = TempDir::ReadAll(store.Path());
    // One Left key, in its original spelling; the new key lands inside its section.
    EXPECT_EQ(text.find("LEFT=99"), text.find("LEFT"));
    EXPECT_EQ(text.find("left"), std::string::npos);
    EXPECT_LT(text.find("Width=640"), text.find("[Main]"));
    EXPECT_NE(text.find("; comment"), std::string::npos);
}

TEST(ConfigStore, IntegerParsing) {
    TempDir dir;
    TempDir::WriteAll(dir.File("s.ini"), "[A]\na=-42\nb=17abc\nc=abc\nd=\ne=+5\n");
    CConfigStore store(dir.File("s.ini"));
    EXPECT_EQ(store.ReadInt("A", "a", 0), -42);
    EXPECT_EQ(store.ReadInt("A", "b", 0), 17);
    EXPECT_EQ(store.ReadInt("A", "c", 9), 0);
    EXPECT_EQ(store.ReadInt("A", "d", 9), 0);
    EXPECT_EQ(store.ReadInt("A", "e", 0), 5);
}

TEST(ConfigStore, IpAddressesStoredAsSignedLittleEndian) {
    struct Case {
        const char* text;
        int stored;
    } cases[] = {
        {"192.168.1.10", 167880896},
        {"192.168.1.200", -939415360},
        {"10.0.0.128", -2147483638},
        {"0.0.0.0", 0},
        {"255.255.255.255", -1},
    };
    TempDir dir;
    CConfigStore store(dir.File("VaroConfig.ini"));
    for (const auto& c : cases) {
        uint32_t ip = 0xDEADBEEF;
        ASSERT_TRUE(IpFromString(c.text, ip)) << c.text;
        EXPECT_EQ(IpToStored(ip), c.stored) << c.text;
        ASSERT_TRUE(store.WriteInt("Main", "IP", IpToStored(ip)));
        EXPECT_EQ(IpFromStored(store.ReadInt("Main", "IP", 0)), ip);
        EXPECT_EQ(IpToString(ip), c.text);
    }
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ", "", "1.2.3.0004"}) {
        uint32_t ip = 7;
        EXPECT_FALSE(IpFromString(bad, ip)) << bad;
        EXPECT_EQ(ip, 7u);
    }
}

TEST(ConfigStore, StructRoundTripAndCorruptionRefused) {
    TempDir dir;
    CConfigStore store(dir.File("VaroConfig.ini"));
    uint8_t rec[60];
    for (int i = 0; i < 60; ++i) rec[i] = uint8_t(i * 37 + 5);
    ASSERT_TRUE(store.WriteStruct("PnP_Preferences", "Font", rec, sizeof rec));
    std::string raw = store.ReadString("PnP_Preferences", "Font", "");
    ASSERT_EQ(raw.size(), 122u);
    EXPECT_EQ(raw.substr(0, 4), "052A");  // upper-case hex, byte by byte
    unsigned sum = 0;
    for (uint8_t b : rec) sum += b;
    char tail[3];
    std::snprintf(tail, sizeof tail, "%02X", sum & 0xFF);
    EXPECT_EQ(raw.substr(120), tail);

    uint8_t back[60] = {};
    ASSERT_TRUE(store.ReadStruct("PnP_Preferences", "Font", back, sizeof back));
    EXPECT_EQ(0, std::memcmp(rec, back, sizeof rec));

    // A wrong checksum, a wrong size, or a stray character: refused, buffer untouched.
    std::string badSum = raw;
    badSum[121] = badSum[121] == '0' ? '1' : '0';
    std::string badDigit = raw;
    badDigit[10] = 'G';
    for (const std::string& bad : {badSum, badDigit, raw.substr(2)}) {
        ASSERT_TRUE(store.WriteString("PnP_Preferences", "Font", bad));
        uint8_t out[60];
        std::memset(out, 0xAA, sizeof out);
        EXPECT_FALSE(store.ReadStruct("PnP_Preferences", "Font", out, sizeof out));
        EXPECT_EQ(out[0], 0xAA);
    }
    EXPECT_FALSE(store.ReadStruct("PnP_Preferences", "Font", back, 59));
}

TEST(MainSettings, DefaultsPlacementRuleAndRoundTrip) {
    TempDir dir;
    CConfigStore store(dir.File("VaroConfig.ini"));
    CMainSettings s;
    s.Load(store);
    EXPECT_EQ(s.interface, 3);
    EXPECT_EQ(s.port, 0);
    EXPECT_EQ(s.ip, 0u);
    EXPECT_EQ(s.manualIp, 0);
    EXPECT_EQ(s.background, 2);
    EXPECT_EQ(s.shadowPixels, 2);
    EXPECT_FALSE(s.HasPlacement());

    store.WriteInt("Layout", "Left", -1);
    store.WriteInt("Layout", "Top", 100);
    s.Load(store);
    EXPECT_FALSE(s.HasPlacement());

    s.left = 10;
    s.top = 20;
    s.width = 900;
    s.height = 600;
    s.maximized = 1;
    s.interface = 1;
    s.port = 4;
    s.ip = IpFromOctets(192, 168, 1, 200);
    s.modelName = "HD-OVL";
    s.shadowPixels = 3;
    s.verifyWrite = 1;
    s.SaveOnClose(store);
    CMainSettings t;
    t.Load(store);
    EXPECT_TRUE(t.HasPlacement());
    EXPECT_EQ(t.width, 900);
    EXPECT_EQ(t.maximized, 1);
    EXPECT_EQ(t.interface, 1);
    EXPECT_EQ(t.port, 4);
    EXPECT_EQ(t.ip, s.ip);
    EXPECT_EQ(t.modelName, "HD-OVL");
    EXPECT_EQ(t.verifyWrite, 1);
    // The key is spelled as the stored files have it.
    EXPECT_EQ(store.ReadInt("Main", "ShadowPxiels", 0), 3);
    EXPECT_EQ(store.ReadInt("Main", "IP", 0), -939415360);
}

TEST(MainSettings, BuildLineIsFirstLineCutTo32) {
    TempDir dir;
    EXPECT_EQ(ReadBuildLine(dir.Path() + "/"), "");
    TempDir::WriteAll(dir.File("build.txt"), "2026-12-10 abcdefghijklmnopqrstuvwxyz0123\r\nsecond\n");
    EXPECT_EQ(ReadBuildLine(dir.Path() + "/"), "2026-12-10 abcdefghijklmnopqrstu");
}
