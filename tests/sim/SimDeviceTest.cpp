// The simulated device's core without a transport: flash rules, page buffer, image, options.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstring>

#include "common/TempDir.h"
#include "link/FlashChips.h"
#include "link/LinkCrc.h"
#include "sim/CSimDevice.h"
#include "sim/CSimFrames.h"
#include "sim/SimOptions.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes PointB(uint8_t cmd, Bytes data) {
    Bytes f = {0xE2, 0xE4, 0x0F, 0x00, 0xFF, 0x01, cmd, 0x00, uint8_t(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    const uint16_t c = LinkCrc16(f.data(), f.size());
    f.push_back(uint8_t(c));
    f.push_back(uint8_t(c >> 8));
    return f;
}

struct Fixture {
    TempDir dir;
    CSimImage image;
    std::unique_ptr<CSimDevice> dev;
    explicit Fixture(const char* chip, SimDialect d = SimDialect::PointB) {
        const RFlashChip* c = FlashChipByName(chip);
        std::string err;
        EXPECT_TRUE(image.Open(dir.File("img"), c->name, c->pageSize * c->pages, err)) << err;
        RSimDeviceConfig cfg;
        cfg.dialect = d;
        cfg.chip = c;
        dev = std::make_unique<CSimDevice>(cfg, image);
    }
    // Status bits 0-2 of the reply, -1 without one.
    int Send(uint8_t cmd, Bytes data, Bytes* out = nullptr) {
        Bytes f = PointB(cmd, data), reply;
        if (!dev->HandleFrame(f.data(), f.size(), 0, reply)) return -1;
        EXPECT_EQ(LinkCrc16(reply.data(), reply.size()), 0);
        if (out) out->assign(reply.begin() + 9, reply.end() - 2);
        return reply[7] & 7;
    }
    int SetAddress(uint32_t a) { return Send(0x00, {uint8_t(a), uint8_t(a >> 8), uint8_t(a >> 16), uint8_t(a >> 24)}); }
};
}  // namespace

TEST(SimDevice, S25flProgramsOnlyClearBitsAndWrapsInItsPage) {
    Fixture fx("S25FL004K");
    ASSERT_EQ(fx.SetAddress(0x100 - 4), 0);
    ASSERT_EQ(fx.Send(0x11, Bytes(8, 0x0F)), 0);
    // 8 bytes from 0xFC: the last four wrap to the start of the same 256-byte page.
    EXPECT_EQ(fx.image.Flash(0, 0xFC), 0x0F);
    EXPECT_EQ(fx.image.Flash(0, 0x00), 0x0F);
    EXPECT_EQ(fx.image.Flash(0, 0x100), 0xFF);
    ASSERT_EQ(fx.SetAddress(0x00), 0);
    ASSERT_EQ(fx.Send(0x11, {0xF1}), 0);
    EXPECT_EQ(fx.image.Flash(0, 0x00), 0x01);  // programming over data keeps only common bits
    ASSERT_EQ(fx.SetAddress(0x10), 0);
    ASSERT_EQ(fx.Send(0x10, {}), 0);           // sector erase anywhere in the sector
    EXPECT_EQ(fx.image.Flash(0, 0x00), 0xFF);
    EXPECT_EQ(fx.Send(0x02, {1}), 3);          // no page buffer on this chip
}

TEST(SimDevice, At45PageBufferAndCommit) {
    Fixture fx("AT45DB041");
    // Page 2 sits at 0x400; its bytes go to the buffer and reach flash only with the commit.
    ASSERT_EQ(fx.SetAddress(0x10000400), 0);
    Bytes page(264);
    for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(i);
    ASSERT_EQ(fx.Send(0x02, Bytes(page.begin(), page.begin() + 240)), 0);
    ASSERT_EQ(fx.Send(0x02, Bytes(page.begin() + 240, page.end())), 0);
    EXPECT_EQ(fx.image.Flash(1, 528), 0xFF);
    ASSERT_EQ(fx.Send(0x03, {}), 0);
    for (int i = 0; i < 264; ++i) ASSERT_EQ(fx.image.Flash(1, 528 + uint32_t(i)), uint8_t(i));
    EXPECT_EQ(fx.image.Flash(0, 528), 0xFF);  // another region
    // Addresses between pages do not exist.
    EXPECT_EQ(fx.SetAddress(0x400 + 264), 0);
    Bytes out;
    EXPECT_EQ(fx.Send(0x05, {1}, &out), 3);
    Bytes id;
    ASSERT_EQ(fx.Send(0x07, {1}, &id), 0);
    EXPECT_EQ(id, (Bytes{0x18}));
}

TEST(SimDevice, ImagePersistsAndKnowsItsChip) {
    TempDir dir;
    std::string err;
    {
        CSimImage img;
        ASSERT_TRUE(img.Open(dir.File("m"), "AT45DB041", 264 * 2048, err)) << err;
        img.ProgramFlash(3, 1000, 0x5A);
        img.Direct()[7] = 9;
        std::memcpy(img.Header().signature, "ABC", 3);
    }
    CSimImage again;
    ASSERT_TRUE(again.Open(dir.File("m"), "AT45DB041", 264 * 2048, err)) << err;
    EXPECT_EQ(again.Flash(3, 1000), 0x5A);
    EXPECT_EQ(again.Flash(3, 1001), 0xFF);
    EXPECT_EQ(again.Direct()[7], 9);
    EXPECT_STREQ(again.Header().signature, "ABC");
    CSimImage other;
    EXPECT_FALSE(other.Open(dir.File("m"), "S25FL004K", 4096 * 128, err));
    EXPECT_NE(err.find("AT45DB041"), std::string::npos) << err;
    TempDir::WriteAll(dir.File("junk"), std::string(100, 'x'));
    EXPECT_FALSE(other.OpenExisting(dir.File("junk"), err));
}

TEST(SimDevice, AssemblerResynchronisesAndFaultsAreReproducible) {
    CSimFrameAssembler as(SimDialect::PointB);
    Bytes a = PointB(0x09, {}), b = PointB(0x05, {16});
    Bytes stream = {0x00, 0xE2, 0x13};
    stream.insert(stream.end(), a.begin(), a.end());
    Bytes broken = a;
    broken[4] ^= 1;  // bad checksum: dropped
    stream.insert(stream.end(), broken.begin(), broken.end());
    stream.insert(stream.end(), b.begin(), b.end());
    as.Feed(stream.data(), stream.size());
    Bytes f;
    ASSERT_TRUE(as.Next(f));
    EXPECT_EQ(f, a);
    ASSERT_TRUE(as.Next(f));
    EXPECT_EQ(f, b);
    EXPECT_FALSE(as.Next(f));

    RSimFaults faults;
    std::string err;
    ASSERT_TRUE(faults.Parse("drop=0.3,corrupt=0.3,stray=0.3", err)) << err;
    auto run = [&](uint32_t seed) {
        CSimFaultInjector inj(faults, seed);
        Bytes all;
        for (int i = 0; i < 50; ++i) {
            Bytes r = a;
            all.push_back(inj.DropReply());
            inj.Apply(r);
            all.insert(all.end(), r.begin(), r.end());
        }
        return all;
    };
    EXPECT_EQ(run(4), run(4));
    EXPECT_NE(run(4), run(5));
    for (const char* bad : {"drop", "drop=2", "lose=0.1", "drop=x"}) {
        RSimFaults f;
        EXPECT_FALSE(f.Parse(bad, err)) << bad;
    }
}

TEST(SimOptions, ParsesAndRejects) {
    auto parse = [](std::vector<std::string> args, RSimOptions& o, std::string& err) {
        args.insert(args.begin(), "varosim");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        return ParseSimOptions(int(argv.size()), argv.data(), o, err);
    };
    RSimOptions o;
    std::string err;
    ASSERT_TRUE(parse({"--pty", "/tmp/p", "--dialect", "busb", "--bus-address", "3", "--bus-address=9", "--chip",
                       "at45db642d", "--baud", "38400", "--seed", "0x10", "--chip-id", "01:17", "--registers", "0x1F0000+50,16+4"},
                      o, err))
        << err;
    EXPECT_EQ(o.dialect, SimDialect::BusB);
    EXPECT_EQ(o.busAddresses, (std::vector<int>{3, 9}));
    EXPECT_EQ(o.chip, "AT45DB642D");
    EXPECT_EQ(o.baud, 38400);
    EXPECT_EQ(o.seed, 16u);
    EXPECT_EQ(o.chipId2, 0x17);
    ASSERT_EQ(o.registers.size(), 2u);
    EXPECT_EQ(o.registers[0].address, 0x1F0000u);
    EXPECT_EQ(o.registers[0].size, 50u);
    EXPECT_EQ(o.registers[1].address, 16u);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--dialect", "rs232"}, {"--bus-address", "255"}, {"--chip", "XYZ"}, {"--pty"}, {"--frobnicate"},
             {"--faults", "drop=1.5"}, {"--signature", std::string(33, 's')}, {"--registers", "0x100"},
             {"--registers", "0x100+0"}, {"--registers", "0xFFFFF0+17"}, {"--registers", "1+1,"}}) {
        RSimOptions x;
        EXPECT_FALSE(parse(bad, x, err)) << bad[0];
    }
    // Every option of the table is in the help text.
    const std::string usage = SimUsage();
    for (const auto& opt : SimOptionTable()) EXPECT_NE(usage.find(opt.name), std::string::npos) << opt.name;
}
