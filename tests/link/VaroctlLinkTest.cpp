// varoctl's link commands against varosim, as operators and scripts use them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <random>

#include "LinkTestSupport.h"
#include "common/RunProgram.h"
#include "sim/CSimImage.h"

namespace {
using Outcome = RProgramOutcome;

Outcome Varoctl(const TempDir& dir, std::vector<std::string> args) {
    return RunProgram(dir, BuiltProgram("varoctl"), std::move(args));
}

std::string Link(const char* kind, const SimProcess& sim, const char* suffix = "") {
    return std::string(kind) + ":" + sim.Path() + suffix;
}
}  // namespace

TEST(VaroctlLink, SignatureIdentityOnEveryKind) {
    TempDir dir;
    struct Case {
        const char* dialect;
        const char* kind;
        const char* suffix;
    } cases[] = {{"short2", "rs232", ""}, {"pointb", "rs422", ""}, {"busb", "rs485", "@7"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        SimProcess sim(dir, {"--dialect", c.dialect, "--chip", "AT45DB041", "--bus-address", "7", "--signature",
                             "VX-200", "--identity", "ID:1234"},
                       c.kind);
        Outcome o = Varoctl(dir, {"--link", Link(c.kind, sim, c.suffix), "signature"});
        EXPECT_EQ(o.code, 0) << o.err;
        EXPECT_EQ(o.out, "VX-200\n");
        if (std::string(c.kind) == "rs232") {
            o = Varoctl(dir, {"--link", Link(c.kind, sim, c.suffix), "identity", "7"});
            EXPECT_EQ(o.code, 0) << o.err;
            EXPECT_EQ(o.out, "49 44 3A 31 32 33 34\n");
        }
        o = Varoctl(dir, {"--link", Link(c.kind, sim, c.suffix), "clock"});
        EXPECT_EQ(o.code, 0) << o.err;
    }
}

TEST(VaroctlLink, WriteReadEraseRoundTrip) {
    TempDir dir;
    SimProcess sim(dir, {"--dialect", "short2"});
    std::mt19937 rng(3);
    std::string data(5000, 0);
    for (auto& ch : data) ch = char(rng());
    TempDir::WriteAll(dir.File("in.bin"), data);
    const std::string link = Link("rs232", sim);
    Outcome o = Varoctl(dir, {"--link", link, "write", "0x10020", dir.File("in.bin")});
    ASSERT_EQ(o.code, 0) << o.err;
    o = Varoctl(dir, {"--link", link, "read", "0x10020", "5000", dir.File("back.bin")});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(TempDir::ReadAll(dir.File("back.bin")), data);

    // --no-erase programs over what is there: NOR keeps only the bits both have.
    std::string zeros(16, '\x0F');
    TempDir::WriteAll(dir.File("z.bin"), zeros);
    o = Varoctl(dir, {"--no-erase", "--link", link, "write", "65568", dir.File("z.bin")});
    ASSERT_EQ(o.code, 0) << o.err;
    o = Varoctl(dir, {"--link", link, "read", "0x10020", "16", dir.File("z2.bin")});
    std::string z2 = TempDir::ReadAll(dir.File("z2.bin"));
    ASSERT_EQ(z2.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(uint8_t(z2[size_t(i)]), uint8_t(data[size_t(i)]) & 0x0F);

    o = Varoctl(dir, {"--link", link, "erase", "0x10020", "5000"});
    ASSERT_EQ(o.code, 0) << o.err;
    o = Varoctl(dir, {"--link", link, "read", "0x10020", "5000", dir.File("e.bin")});
    EXPECT_EQ(TempDir::ReadAll(dir.File("e.bin")), std::string(5000, '\xFF'));
}

TEST(VaroctlLink, ScanListsBusAddresses) {
    TempDir dir;
    SimProcess sim(dir, {"--dialect", "busb", "--bus-address", "4", "--bus-address", "9"});
    Outcome o = Varoctl(dir, {"--link", Link("rs485", sim), "scan"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "004\n009\n");
}

TEST(VaroctlLink, FailuresAndUsage) {
    TempDir dir;
    SimProcess sim(dir, {"--chip-id", "40"});
    const std::string link = Link("rs422", sim);
    Outcome o = Varoctl(dir, {"--link", link, "read", "0x1234", "16", dir.File("x.bin")});
    EXPECT_EQ(o.code, 5);
    EXPECT_NE(o.err.find("error READING block at address 00001234"), std::string::npos) << o.err;

    int fd = ::open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    flock(fd, LOCK_EX);
    o = Varoctl(dir, {"--link", Link("rs232", sim), "signature"});
    EXPECT_EQ(o.code, 1);
    ::close(fd);

    const std::vector<std::vector<std::string>> usage = {
        {"signature"},                                   // no --link
        {"--link", "rs999:" + sim.Path(), "signature"},  // unknown kind
        {"--link", link, "read", "0xZZ", "4", "f"},      // bad address
        {"--link", link, "read", "0", "4"},              // missing file
        {"--link", link, "identity"},
        {"--link", "rs485:" + sim.Path() + "@300", "scan"},
    };
    for (const auto& args : usage) EXPECT_EQ(Varoctl(dir, args).code, 64) << args.back();
    EXPECT_EQ(Varoctl(dir, {"--link", link, "write", "0", dir.File("missing.bin")}).code, 66);
}
