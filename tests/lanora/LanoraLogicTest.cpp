#include "lanora/LanoraInstance.h"
#include "lanora/LanoraLog.h"
#include "lanora/LanoraLogic.h"
#include "lanora/LanoraStrings.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

namespace {
RLogMessage Msg(const std::string& text, uint16_t family = 0x0301, uint16_t variant = 2) {
    RLogMessage m;
    m.mac = {0x00, 0x1A, 0xB0, 0x00, 0x00, 0x07};
    m.family = family;
    m.variant = variant;
    m.text = text;
    return m;
}
std::tm When() {
    std::tm t{};
    t.tm_year = 2026 - 1900, t.tm_mon = 2, t.tm_mday = 4, t.tm_hour = 9, t.tm_min = 8, t.tm_sec = 7;
    return t;
}
uint32_t Ip(const char* s) {
    uint32_t ip = 0;
    EXPECT_TRUE(ModuleIpFromText(s, ip));
    return ip;
}
RModuleListRecord Row(uint16_t further) {
    RModuleListRecord r;
    std::memcpy(r.bytes.data(), "TiBbhElO", 8);
    RMac mac{2, 0, 0, 0, 0, 9};
    std::memcpy(&r.bytes[8], mac.data(), 6);
    r.SetPort(0, {Ip("192.168.0.10"), Ip("255.255.255.0"), Ip("192.168.0.1")});
    r.SetPort(1, {Ip("10.0.0.10"), Ip("255.0.0.0"), Ip("10.0.0.1")});
    std::memcpy(&r.bytes[26], &further, 2);
    return r;
}
}  // namespace

TEST(LanoraLog, EntryFieldsAndExport) {
    CLanoraLog log;
    log.Add(Msg("Power on"), When(), 5);
    log.Add(Msg("Unknown box", 0x7777, 1), When(), 999);
    ASSERT_EQ(log.Size(), 2u);
    EXPECT_EQ(log.At(0).date, "04.03.2026");
    EXPECT_EQ(log.At(0).time, "09:08:07.005");
    EXPECT_EQ(log.At(0).mac, "00:1A:B0:00:00:07");
    EXPECT_STREQ(log.At(0).model, "Varo TS-2 Test Line Generator");
    EXPECT_EQ(log.At(1).model, nullptr);
    EXPECT_EQ(log.ExportText(),
              "04.03.2026;09:08:07.005;00:1A:B0:00:00:07;Varo TS-2 Test Line Generator;Power on;\n"
              "04.03.2026;09:08:07.999;00:1A:B0:00:00:07;;Unknown box;\n");
    log.Clear();
    EXPECT_EQ(log.ExportText(), "");
}

TEST(LanoraLog, ThousandAndFirstDropsTheFirst) {
    CLanoraLog log;
    for (int i = 0; i < 1000; ++i) EXPECT_FALSE(log.Add(Msg("m" + std::to_string(i)), When(), 0));
    EXPECT_TRUE(log.Add(Msg("m1000"), When(), 0));
    ASSERT_EQ(log.Size(), 1000u);
    EXPECT_EQ(log.At(0).text, "m1");
    EXPECT_EQ(log.At(999).text, "m1000");
    log.Add(Msg(std::string(600, 'x')), When(), 0);
    EXPECT_EQ(log.At(999).text.size(), 511u);
}

TEST(LanoraLogic, ControlsEnabling) {
    struct Case {
        bool iface, selected, logMode, entries;
        RLanoraControls want;
    };
    auto C = [](bool interfaces, bool refresh, bool passport, bool log, bool blink, bool clear, bool exp) {
        RLanoraControls c;
        c.interfaces = interfaces, c.refresh = refresh, c.passport = passport, c.log = log;
        c.blink = c.ping = c.setup = blink;
        c.clear = clear, c.exportLog = exp;
        return c;
    };
    const Case cases[] = {
        {false, false, false, false, C(false, false, false, false, false, false, false)},  // only language and Close
        {false, true, false, false, C(false, false, false, false, false, false, false)},
        {true, false, false, false, C(true, true, true, true, false, false, false)},
        {true, true, false, false, C(true, true, true, true, true, false, false)},
        {true, true, true, false, C(false, false, false, true, false, true, false)},
        {true, false, true, true, C(false, false, false, true, false, true, true)},
    };
    for (const auto& c : cases) {
        RLanoraControls got = LanoraControlState(c.iface, c.selected, c.logMode, c.entries);
        SCOPED_TRACE(std::to_string(c.iface) + std::to_string(c.selected) + std::to_string(c.logMode));
        EXPECT_TRUE(got.language && got.close);
        EXPECT_EQ(got.interfaces, c.want.interfaces);
        EXPECT_EQ(got.refresh, c.want.refresh);
        EXPECT_EQ(got.passport, c.want.passport);
        EXPECT_EQ(got.log, c.want.log);
        EXPECT_EQ(got.blink, c.want.blink);
        EXPECT_EQ(got.ping, c.want.ping);
        EXPECT_EQ(got.setup, c.want.setup);
        EXPECT_EQ(got.clear, c.want.clear);
        EXPECT_EQ(got.exportLog, c.want.exportLog);
    }
}

TEST(LanoraLogic, UnchangedSetupSendsNothing) {
    for (uint16_t further : {0, 1, 2}) {
        RModuleListRecord r = Row(further);
        RModuleListRecord before = r;
        RSetupValues v = LanoraSetupValues(r);
        EXPECT_EQ(LanoraTwoPortSetup(r), further == 1);
        EXPECT_FALSE(LanoraApplySetup(r, v).has_value()) << further;
        EXPECT_EQ(r.bytes, before.bytes);
    }
}

TEST(LanoraLogic, SetupRequests) {
    RModuleListRecord one = Row(0);
    RSetupValues v = LanoraSetupValues(one);
    v.main.gateway = Ip("192.168.0.254");  // a gateway alone is a change too
    auto req = LanoraApplySetup(one, v);
    ASSERT_TRUE(req);
    EXPECT_EQ(req->size(), 26u);
    EXPECT_EQ(one.Port(0).gateway, Ip("192.168.0.254"));

    RModuleListRecord two = Row(1);
    RSetupValues w = LanoraSetupValues(two);
    EXPECT_EQ(w.second.ip, Ip("10.0.0.10"));
    w.second.ip = Ip("10.0.0.20");
    req = LanoraApplySetup(two, w);
    ASSERT_TRUE(req);
    ASSERT_EQ(req->size(), 40u) << "extended form with one further port";
    EXPECT_EQ(ModuleGetIp(&(*req)[28]), Ip("10.0.0.20"));
    EXPECT_EQ(ModuleGetIp(&(*req)[14]), Ip("192.168.0.10"));
    EXPECT_EQ(ModuleIpColumn(two), "192.168.0.10 / 10.0.0.20");

    RSetupValues bad = LanoraSetupValues(two);
    bad.second.ip = Ip("127.0.0.1");
    EXPECT_FALSE(LanoraSetupValid(two, bad)) << "both addresses are checked in the two-port case";
    EXPECT_TRUE(LanoraSetupValid(Row(0), bad)) << "the one-port dialog has no second address";
}

TEST(LanoraStrings, RussianAtPlusHundredWithFallback) {
    EXPECT_STREQ(LanoraText(3017, kLanoraEnglish), "Invalid IP address!");
    EXPECT_STREQ(LanoraText(3017, kLanoraRussian), "Неверный IP-адрес!");
    EXPECT_STREQ(LanoraText(3001, kLanoraRussian), "MAC");
    EXPECT_STREQ(LanoraText(9999, kLanoraRussian), "");
    for (int id : {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1015, 1016, 1017, 1018, 1019, 1020, 1021,
                   1022, 3001, 3002, 3003, 3011, 3012, 3013, 3014, 3016, 3017, 3018, 3019, 3040, 3041, 3042, 3043,
                   3044}) {
        EXPECT_STRNE(LanoraText(id, kLanoraEnglish), "") << id;
        EXPECT_STRNE(LanoraText(id, kLanoraRussian), "") << id;
    }
    EXPECT_EQ(LanoraDefaultLanguage("ru_RU.UTF-8"), kLanoraRussian);
    EXPECT_EQ(LanoraDefaultLanguage("en_US"), kLanoraEnglish);
    EXPECT_EQ(LanoraDefaultLanguage(nullptr), kLanoraEnglish);
}

TEST(LanoraInstance, SecondCopyIsRefused) {
    std::string name = "lanora-test-" + std::to_string(::getpid());
    CLanoraInstance first;
    ASSERT_TRUE(first.Acquire(name));
    pid_t child = ::fork();
    if (child == 0) {
        CLanoraInstance second;
        ::_exit(second.Acquire(name) ? 1 : 0);
    }
    int st = 0;
    ::waitpid(child, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    ::unlink((std::string(dir && *dir ? dir : "/tmp") + "/" + name + ".lock").c_str());
}
