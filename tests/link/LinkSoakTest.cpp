// Random writes and reads on a point-B device under injected line faults: every command ends
// with the device memory exactly as intended, or with a failure code and an error address.
#include <gtest/gtest.h>

#include <random>

#include "LinkTestSupport.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/FlashChips.h"
#include "sim/CSimImage.h"

namespace {
constexpr uint32_t kRegions = 3;  // flash regions the soak uses, besides the direct region

struct Memory {
    std::vector<std::vector<uint8_t>> flash;
    std::vector<uint8_t> direct;
};

Memory Snapshot(const std::string& image) {
    CSimImage img;
    std::string err;
    EXPECT_TRUE(img.OpenExisting(image, err)) << err;
    Memory m;
    for (uint32_t r = 0; r < kRegions; ++r) {
        std::vector<uint8_t> f(img.FlashBytes());
        for (uint32_t i = 0; i < f.size(); ++i) f[i] = img.Flash(r, i);
        m.flash.push_back(std::move(f));
    }
    m.direct.assign(img.Direct(), img.Direct() + CSimImage::kDirectBytes);
    return m;
}

void Soak(const char* chipName, uint32_t seed, int commands, bool verify) {
    TempDir dir;
    LinkLogSetup log(dir);
    const RFlashChip* chip = FlashChipByName(chipName);
    const uint32_t flashBytes = chip->pageSize * chip->pages;
    SimProcess sim(dir, {"--chip", chipName, "--faults", "drop=0.02,corrupt=0.02,stray=0.01", "--seed",
                         std::to_string(seed)});
    ASSERT_TRUE(sim.Ready());
    CLinkWaiter waiter;
    CSerial engine;
    engine.SelectLinkPath(0, kProtoPointB, &waiter, sim.Path(), -1, 0);
    engine.SetVerify(verify);

    std::mt19937 rng(seed);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    Memory shadow = Snapshot(sim.Image());
    int ok = 0, failed = 0;
    for (int i = 0; i < commands; ++i) {
        const bool direct = pick(0, 4) == 0;
        const uint32_t n = pick(1, direct ? 600 : 1500);
        uint32_t region = pick(0, kRegions - 1);
        uint32_t offset = direct ? pick(0, CSimImage::kDirectBytes - n) : pick(0, flashBytes - n);
        // Now and then a range that runs off the end of the chip: refused before anything is written.
        const bool offEnd = !direct && pick(0, 9) == 0;
        if (offEnd) offset = flashBytes - n / 2;
        const uint32_t address = direct ? kDirectRegion + offset : (region << 28) + offset;
        const bool write = pick(0, 2) != 0;
        std::vector<uint8_t> buf(n);
        for (auto& b : buf) b = uint8_t(rng());
        SCOPED_TRACE(testing::Message() << "command " << i << (write ? " write " : " read ") << std::hex << address
                                        << std::dec << " +" << n);

        engine.StartCommand(int(n), write ? kCmdEraseWrite : kCmdRead, address, buf.data());
        const int r = waiter.Wait(&engine, 60000).result;
        ASSERT_NE(r, -1) << "no completion";  // no hang
        Memory now = Snapshot(sim.Image());
        if (r == kLinkOk) {
            ASSERT_FALSE(offEnd);
            ++ok;
            if (write) {
                auto& target = direct ? shadow.direct : shadow.flash[region];
                std::copy(buf.begin(), buf.end(), target.begin() + offset);
            } else {
                const auto& src = direct ? shadow.direct : shadow.flash[region];
                ASSERT_TRUE(std::equal(buf.begin(), buf.end(), src.begin() + offset)) << "read returned wrong data";
            }
            ASSERT_TRUE(now.direct == shadow.direct) << "direct region differs from what was written";
            for (uint32_t k = 0; k < kRegions; ++k)
                ASSERT_TRUE(now.flash[k] == shadow.flash[k]) << "flash region " << k << " differs";
        } else {
            ++failed;
            EXPECT_TRUE(r >= kLinkWrite && r <= kLinkDevice) << r;
            const uint32_t ea = engine.ErrorAddress();
            if (direct) {
                EXPECT_TRUE(ea >= address && ea <= address + n) << std::hex << ea;
            } else {
                EXPECT_TRUE(ea >= ((address & ~0xFFFu) - 0x1000) && ea < address + n + 0x1000) << std::hex << ea;
            }
            // A failed write may leave its own pages half done, and nothing else.
            if (write && !offEnd) {
                if (direct) {
                    std::copy(now.direct.begin() + offset, now.direct.begin() + offset + n, shadow.direct.begin() + offset);
                } else {
                    const uint32_t first = offset / chip->pageSize * chip->pageSize;
                    const uint32_t last = std::min(flashBytes, (offset + n + chip->pageSize - 1) / chip->pageSize * chip->pageSize);
                    std::copy(now.flash[region].begin() + first, now.flash[region].begin() + last,
                              shadow.flash[region].begin() + first);
                }
            }
            ASSERT_TRUE(now.direct == shadow.direct) << "a failed command touched the direct region outside its range";
            for (uint32_t k = 0; k < kRegions; ++k)
                ASSERT_TRUE(now.flash[k] == shadow.flash[k]) << "a failed command touched region " << k;
        }
    }
    EXPECT_GT(ok, commands / 2);
    ::testing::Test::RecordProperty("succeeded", ok);
    ::testing::Test::RecordProperty("failed", failed);
}
}  // namespace

TEST(LinkSoak, S25flUnderLineFaults) { Soak("S25FL004K", 7, 16, true); }

TEST(LinkSoak, At45UnderLineFaults) { Soak("AT45DB041", 11, 24, true); }

// Without verification too: a lost reply never makes a chunk land twice.
TEST(LinkSoak, At45UnderLineFaultsWithoutVerify) { Soak("AT45DB041", 13, 30, false); }

namespace {
// The block family erases every 64 KB block a write enters; the rest of such a block is 0xFF
// afterwards, the written range holds the data.
void BlockSoak(const char* dialect, int protocol, uint32_t seed, int commands) {
    TempDir dir;
    LinkLogSetup log(dir);
    SimProcess sim(dir, {"--dialect", dialect, "--chip", "S25FL004K", "--bus-address", "6", "--faults",
                         "drop=0.02,corrupt=0.03", "--seed", std::to_string(seed)});
    ASSERT_TRUE(sim.Ready());
    CLinkWaiter waiter;
    CSerial engine;
    engine.SelectLinkPath(0, protocol, &waiter, sim.Path(), 6, 0);
    const uint32_t size = 4096 * 128;
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    std::vector<uint8_t> shadow = Snapshot(sim.Image()).flash[0];
    int ok = 0;
    for (int i = 0; i < commands; ++i) {
        const uint32_t n = pick(1, 600);
        // Near block boundaries half of the time.
        const uint32_t a = pick(0, 1) ? pick(1, 7) * 0x10000 - pick(0, n) : pick(0, size - n);
        const bool write = pick(0, 2) != 0;
        std::vector<uint8_t> buf(n);
        for (auto& b : buf) b = uint8_t(rng());
        SCOPED_TRACE(testing::Message() << "command " << i << (write ? " write " : " read ") << std::hex << a
                                        << std::dec << " +" << n);
        engine.StartCommand(int(n), write ? kCmdEraseWrite : kCmdRead, a, buf.data());
        const int r = waiter.Wait(&engine, 60000).result;
        ASSERT_NE(r, -1) << "no completion";
        std::vector<uint8_t> now = Snapshot(sim.Image()).flash[0];
        const uint32_t firstBlock = a & ~0xFFFFu, endBlock = std::min(size, ((a + n - 1) | 0xFFFFu) + 1);
        if (r == kLinkOk) {
            ++ok;
            if (write) {
                std::fill(shadow.begin() + firstBlock, shadow.begin() + endBlock, 0xFF);
                std::copy(buf.begin(), buf.end(), shadow.begin() + a);
            } else {
                ASSERT_TRUE(std::equal(buf.begin(), buf.end(), shadow.begin() + a)) << "read returned wrong data";
            }
        } else {
            EXPECT_TRUE(r >= kLinkWrite && r <= kLinkDevice) << r;
            const uint32_t ea = engine.ErrorAddress();
            EXPECT_TRUE(ea >= a && ea < a + n) << std::hex << ea;
            if (write) std::copy(now.begin() + firstBlock, now.begin() + endBlock, shadow.begin() + firstBlock);
        }
        ASSERT_TRUE(now == shadow) << "device memory differs from what was intended";
    }
    EXPECT_GT(ok, commands / 2);
}
}  // namespace

TEST(LinkSoak, ShortDialectUnderLineFaults) { BlockSoak("short2", kProtoShort2, 21, 30); }

TEST(LinkSoak, BusClassicUnderLineFaults) { BlockSoak("bus", kProtoBus, 22, 30); }
