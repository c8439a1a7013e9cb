// The engine, the serial link classes and the flash sequences against varosim on a pty.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>

#include "LinkTestSupport.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/CSerialPort.h"
#include "link/SerialPortList.h"
#include "sim/CSimImage.h"

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

class LinkE2E : public ::testing::Test {
protected:
    TempDir dir;
    LinkLogSetup log{dir, true};
    CLinkWaiter waiter;
    CSerial engine;

    void Select(int protocol, const std::string& path, int bus = -1) {
        engine.SelectLinkPath(0, protocol, &waiter, path, bus, 0);
    }
    int Run(int size, int cmd, uint32_t addr, uint8_t* buf, int* value = nullptr) {
        engine.StartCommand(size, cmd, addr, buf);
        auto c = waiter.Wait(&engine, 60000);
        if (value) *value = c.value;
        return c.result;
    }
    // Flash bytes of the image as the device holds them.
    Bytes Flash(const std::string& image, uint32_t region, uint32_t offset, uint32_t n) {
        CSimImage img;
        std::string err;
        EXPECT_TRUE(img.OpenExisting(image, err)) << err;
        Bytes b;
        for (uint32_t i = 0; i < n; ++i) b.push_back(img.Flash(region, offset + i));
        return b;
    }
    Bytes Direct(const std::string& image, uint32_t offset, uint32_t n) {
        CSimImage img;
        std::string err;
        EXPECT_TRUE(img.OpenExisting(image, err)) << err;
        return Bytes(img.Direct() + offset, img.Direct() + offset + n);
    }
};

struct DialectCase {
    const char* dialect;
    int protocol;
    const char* chip;
    uint32_t address;  // not 32-aligned, crossing a 64 KB block boundary in the block family
    uint32_t sigAddress;
};
}  // namespace

TEST_F(LinkE2E, EveryDialectReadsWritesErasesAndIdentifies) {
    const DialectCase cases[] = {
        {"short1", kProtoShort1, "S25FL016K", 0x1FF11, 0x00FFFFFF},
        {"short2", kProtoShort2, "AT45DB081", 0x2FF05, 0x00FFFFFF},
        {"bus", kProtoBus, "S25FL016K", 0x3FEE7, 0x80FFFFFF},
        {"busb", kProtoBusB, "AT45DB642D", 0x1FF11, 0x80FFFFFF},
        {"pointb", kProtoPointB, "S25FL032K", 0x20001FF0, 0x80FFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dialect);
        SimProcess sim(dir,
                       {"--dialect", c.dialect, "--chip", c.chip, "--bus-address", "5", "--signature", "MODEL-X1",
                        "--identity", "ID:1234"},
                       std::string("dev-") + c.dialect);
        ASSERT_TRUE(sim.Ready());
        Select(c.protocol, sim.Path(), 5);
        const bool blockFamily = c.protocol <= kProtoBus;

        char sig[33] = {};
        ASSERT_EQ(Run(32, kCmdRead, c.sigAddress, reinterpret_cast<uint8_t*>(sig)), kLinkOk);
        EXPECT_STREQ(sig, "MODEL-X1");

        uint8_t id[16];
        std::memset(id, 0xAA, sizeof id);
        int got = -1;
        ASSERT_EQ(Run(7, kCmdIdentity, 0, id, &got), kLinkOk);
        if (blockFamily) {
            EXPECT_EQ(got, 7);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(id), 7), "ID:1234");
        } else {
            EXPECT_EQ(id[0], 0xAA);  // nothing to do on these links, buffer untouched
        }

        Bytes data = Random(3000, c.protocol);
        ASSERT_EQ(Run(int(data.size()), kCmdEraseWrite, c.address, data.data()), kLinkOk);
        const uint32_t region = blockFamily ? 0 : c.address >> 28;
        const uint32_t offset = c.address & 0x0FFFFFFF;
        EXPECT_EQ(Flash(sim.Image(), region, offset, 3000), data);
        Bytes back(3000);
        ASSERT_EQ(Run(3000, kCmdRead, c.address, back.data()), kLinkOk);
        EXPECT_EQ(back, data);

        // Rewriting without erase: NOR programming only clears bits, so the block family shows
        // the missing erase; the page family erases or commits whole pages itself.
        Bytes second = Random(3000, 99);
        ASSERT_EQ(Run(3000, kCmdWrite, c.address, second.data()), kLinkOk);
        Bytes now = Flash(sim.Image(), region, offset, 3000);
        if (blockFamily) {
            for (size_t i = 0; i < now.size(); ++i) ASSERT_EQ(now[i], data[i] & second[i]) << i;
        } else {
            EXPECT_EQ(now, second);
        }

        ASSERT_EQ(Run(3000, kCmdErase, c.address, nullptr), kLinkOk);
        now = Flash(sim.Image(), region, offset, 3000);
        if (blockFamily) {
            EXPECT_EQ(now, Bytes(3000, 0xFF));
        } else {
            EXPECT_EQ(now, second);  // no erase command on the page family
        }
        EXPECT_EQ(Run(0, kCmdStatus, 0, nullptr), kLinkOk);
        EXPECT_EQ(Run(0, kCmdClock, 0, nullptr), kLinkOk);
        CSimImage img;
        std::string err;
        ASSERT_TRUE(img.OpenExisting(sim.Image(), err));
        EXPECT_EQ(img.Header().clockSet, c.protocol == kProtoPointB ? 1 : 0);
    }
}

// Registers among the block family's flash addresses: a write sets the bytes as they are and a
// block erase leaves them; the flash around them keeps the NOR rules.
TEST_F(LinkE2E, BlockFamilyRegistersArePlainMemory) {
    const DialectCase cases[] = {
        {"short1", kProtoShort1, "S25FL016K", 0, 0},
        {"short2", kProtoShort2, "S25FL016K", 0, 0},
        {"bus", kProtoBus, "S25FL016K", 0, 0},
    };
    const uint32_t reg = 0x1F0010;  // 40 register bytes in the block of 0x1F0000
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dialect);
        SimProcess sim(dir, {"--dialect", c.dialect, "--chip", c.chip, "--bus-address", "5", "--registers", "0x1F0010+40"},
                       std::string("reg-") + c.dialect);
        ASSERT_TRUE(sim.Ready());
        Select(c.protocol, sim.Path(), 5);

        // Zeros first, then bytes that need bits set again: only plain memory holds both.
        Bytes zeros(40, 0x00), values = Random(40, 5);
        ASSERT_EQ(Run(40, kCmdWrite, reg, zeros.data()), kLinkOk);
        ASSERT_EQ(Run(40, kCmdWrite, reg, values.data()), kLinkOk);
        Bytes back(40);
        ASSERT_EQ(Run(40, kCmdRead, reg, back.data()), kLinkOk);
        EXPECT_EQ(back, values);
        EXPECT_EQ(Flash(sim.Image(), 0, reg, 40), values);

        // One write across the register's end: the register byte is taken, the flash one ANDed.
        Bytes edge = {0xFF, 0xFF};
        const uint32_t last = reg + 39;
        Bytes zero2(2, 0x00);
        ASSERT_EQ(Run(2, kCmdWrite, last, zero2.data()), kLinkOk);
        ASSERT_EQ(Run(2, kCmdWrite, last, edge.data()), kLinkOk);
        EXPECT_EQ(Flash(sim.Image(), 0, last, 2), (Bytes{0xFF, 0x00}));

        // Erase and write elsewhere in the block: its flash is erased, the registers stay.
        Bytes data = Random(100, 6);
        ASSERT_EQ(Run(100, kCmdEraseWrite, 0x1F8000, data.data()), kLinkOk);
        EXPECT_EQ(Flash(sim.Image(), 0, 0x1F8000, 100), data);
        EXPECT_EQ(Flash(sim.Image(), 0, reg + 40, 1), Bytes{0xFF});
        EXPECT_EQ(Flash(sim.Image(), 0, reg - 16, 16), Bytes(16, 0xFF));
        Bytes kept = values;
        kept[39] = 0xFF;
        EXPECT_EQ(Flash(sim.Image(), 0, reg, 40), kept);
    }
}

TEST_F(LinkE2E, BusScanFindsEveryDeviceAndWritesAddresses) {
    {
        SimProcess sim(dir, {"--dialect", "busb", "--bus-address", "3", "--bus-address", "17", "--bus-address", "200"});
        Select(kProtoBusB, sim.Path(), 3);
        uint8_t buf[256] = {};
        int lastProgress = 0;
        waiter.onProgress = [&](int v) {
            lastProgress = v;
            return 0;
        };
        ASSERT_EQ(Run(0, kCmdScan, 0, buf), kLinkOk);
        EXPECT_EQ(buf[0], 3);
        EXPECT_EQ((Bytes(buf + 1, buf + 4)), (Bytes{3, 17, 200}));
        EXPECT_EQ(lastProgress, 254);
        waiter.onProgress = nullptr;
    }
    {
        SimProcess sim(dir, {"--dialect", "bus", "--bus-address", "9"}, "classic");
        Select(kProtoBus, sim.Path(), 9);
        uint8_t nb = 42;
        ASSERT_EQ(Run(1, kCmdBusAddress, 0, &nb), kLinkOk);
        uint8_t buf[256] = {};
        ASSERT_EQ(Run(0, kCmdScan, 0, buf), kLinkOk);
        EXPECT_EQ(buf[0], 1);
        EXPECT_EQ(buf[1], 42);
    }
}

// A pty of the test's own, for devices that misbehave in ways varosim does not.
class RawPeer {
public:
    RawPeer(const TempDir& dir) {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        grantpt(m_master);
        unlockpt(m_master);
        m_slave = ptsname(m_master);
        m_keep = ::open(m_slave.c_str(), O_RDWR | O_NOCTTY);
        termios t;
        tcgetattr(m_keep, &t);
        cfmakeraw(&t);
        tcsetattr(m_keep, TCSANOW, &t);
        m_link = dir.File("raw");
        symlink(m_slave.c_str(), m_link.c_str());
    }
    ~RawPeer() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        ::close(m_keep);
        ::close(m_master);
    }
    // After the first request byte, one 0x00 byte every `gapMs`.
    void Trickle(int gapMs) {
        m_thread = std::thread([this, gapMs] {
            bool started = false;
            while (!m_stop) {
                pollfd p{m_master, POLLIN, 0};
                if (poll(&p, 1, started ? gapMs : 20) > 0) {
                    uint8_t b[256];
                    if (read(m_master, b, sizeof b) > 0) started = true;
                }
                if (started) {
                    uint8_t z = 0;
                    if (write(m_master, &z, 1) != 1) break;
                }
            }
        });
    }
    // Answers every request with 1 to 40 random bytes.
    void Garbage() {
        m_thread = std::thread([this] {
            std::mt19937 rng(5);
            while (!m_stop) {
                pollfd p{m_master, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0) continue;
                uint8_t b[512];
                if (read(m_master, b, sizeof b) <= 0) continue;
                const int n = int(rng() % 40) + 1;
                for (int i = 0; i < n; ++i) b[i] = uint8_t(rng());
                if (write(m_master, b, size_t(n)) < 0) break;
            }
        });
    }
    // Sends bytes without end, answering nothing.
    void Flood() {
        m_thread = std::thread([this] {
            std::mt19937 rng(6);
            uint8_t b[256];
            while (!m_stop) {
                for (auto& x : b) x = uint8_t(rng() % 0xE0);  // never a sync byte
                pollfd p{m_master, POLLOUT, 0};
                if (poll(&p, 1, 20) > 0 && write(m_master, b, sizeof b) < 0) break;
                uint8_t in[512];
                while (read(m_master, in, sizeof in) > 0) {
                }
            }
        });
    }
    const std::string& Path() const { return m_link; }

private:
    int m_master, m_keep;
    std::string m_slave, m_link;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(LinkE2E, BusScanWithNoDeviceFindsNothing) {
    RawPeer peer(dir);
    Select(kProtoBusB, peer.Path(), 1);
    uint8_t buf[256] = {};
    ASSERT_EQ(Run(0, kCmdScan, 0, buf), kLinkOk);
    EXPECT_EQ(buf[0], 0);
}

TEST_F(LinkE2E, WatchdogCutsOffAHungPort) {
    // The device answers one byte every 300 ms: each single read keeps getting a byte within
    // its time-outs, so only the watchdog ends the 37-byte read.
    RawPeer peer(dir);
    peer.Trickle(300);
    Select(kProtoShort2, peer.Path());
    uint8_t buf[32];
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(32, kCmdIdentity, 0, buf), kLinkBadReply);  // the owner's result for a cut
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 5000);
    EXPECT_LT(ms, 7500);
    EXPECT_EQ(log.Count("CSerial232::CheckTimeout() fired!"), 1u);
    EXPECT_EQ(log.Count("last attempted operation was: read"), 1u);
    // The cut worker's completion never arrives.
    EXPECT_EQ(waiter.Wait(nullptr, 800).result, -1);
}

TEST_F(LinkE2E, PortHeldElsewhereFailsAtOnce) {
    SimProcess sim(dir, {"--dialect", "short2"});
    int fd = ::open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    Select(kProtoShort2, sim.Path());
    uint8_t buf[4];
    EXPECT_EQ(Run(4, kCmdRead, 0, buf), kLinkPortOpen);
    Select(kProtoPointB, sim.Path());
    EXPECT_EQ(Run(4, kCmdRead, 0, buf), kLinkPortOpen);
    ::close(fd);
}

TEST_F(LinkE2E, ShortBusyEraseEndsAfterTwoSeconds) {
    SimProcess sim(dir, {"--dialect", "short1", "--busy", "4000"});
    Select(kProtoShort1, sim.Path());
    Bytes data(40, 0x12);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(40, kCmdEraseWrite, 0x20010, data.data()), kLinkDevice);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 2000);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(engine.ErrorKind(), kErrErasing);
    EXPECT_EQ(engine.ErrorAddress(), 0x20010u);
    // Polls are 0x01 frames: E2 E4 01 00 crc.
    EXPECT_GT(log.Count("CSerial232::PortWriteData() [E2 E4 01 00 "), 10u);
    EXPECT_GT(log.Count("Device reports: BUSY"), 10u);
}

TEST_F(LinkE2E, S25flWriteAcrossTwoPagesKeepsTheirOtherBytes) {
    SimProcess sim(dir, {"--chip", "S25FL004K"});
    Select(kProtoPointB, sim.Path());
    Bytes before = Random(8192, 5);
    ASSERT_EQ(Run(8192, kCmdEraseWrite, 0, before.data()), kLinkOk);
    log.Clear();
    Bytes ten = Random(10, 6);
    ASSERT_EQ(Run(10, kCmdEraseWrite, 4090, ten.data()), kLinkOk);
    EXPECT_EQ(log.Count("CSerial232B(): pages: 0 - 1, skip bytes: 4090,4092"), 1u);
    EXPECT_EQ(log.Count("CSerial232B(): read page needed"), 2u);
    EXPECT_EQ(log.Count("CSerial232B(): erase sector"), 2u);
    EXPECT_EQ(log.Count("CSerial232B(): reinit"), 1u);
    Bytes expect = before;
    std::copy(ten.begin(), ten.end(), expect.begin() + 4090);
    EXPECT_EQ(Flash(sim.Image(), 0, 0, 8192), expect);
}

TEST_F(LinkE2E, At45PageAddressesSitOnPowerOfTwoBoundaries) {
    SimProcess sim(dir, {"--chip", "AT45DB041"});
    Select(kProtoPointB, sim.Path());
    Bytes data = Random(20, 7);
    ASSERT_EQ(Run(20, kCmdEraseWrite, 0x10000000 + 600, data.data()), kLinkOk);
    // Offset 600 is page 2 of 264-byte pages, at device address 0x400 plus the region bits.
    EXPECT_GE(log.Count("CSerial232B::PortWriteData() [E2 E4 0F 00 FF 01 00 00 04 00 04 00 10 "), 1u);
    EXPECT_EQ(log.Count("CSerial232B(): pages: 2 - 2, skip bytes: 72,172"), 1u);
    EXPECT_EQ(Flash(sim.Image(), 1, 600, 20), data);
    EXPECT_EQ(Flash(sim.Image(), 0, 600, 20), Bytes(20, 0xFF));  // region 0 untouched
    Bytes back(20);
    ASSERT_EQ(Run(20, kCmdRead, 0x10000000 + 600, back.data()), kLinkOk);
    EXPECT_EQ(back, data);
}

TEST_F(LinkE2E, UnknownChip) {
    {
        SimProcess sim(dir, {"--chip-id", "40"}, "pb");
        Select(kProtoPointB, sim.Path());
        uint8_t buf[64] = {};
        EXPECT_EQ(Run(64, kCmdRead, 0x1234, buf), kLinkDevice);
        EXPECT_EQ(engine.ErrorKind(), kErrReading);
        EXPECT_EQ(engine.ErrorAddress(), 0x1234u);
        EXPECT_EQ(Run(64, kCmdEraseWrite, 0x1234, buf), kLinkDevice);
        EXPECT_EQ(engine.ErrorKind(), kErrWriting);
        EXPECT_EQ(engine.ErrorAddress(), 0x1234u);
        EXPECT_GE(log.Count("CSerial232B(): chip ID: 40:00"), 1u);
    }
    {
        SimProcess sim(dir, {"--dialect", "busb", "--chip-id", "40"}, "bb");
        Select(kProtoBusB, sim.Path(), 1);
        uint8_t buf[64] = {};
        EXPECT_EQ(Run(64, kCmdRead, 0x1234, buf), kLinkChipUnknown);
        EXPECT_EQ(Run(64, kCmdEraseWrite, 0x1234, buf), kLinkChipUnknown);
        EXPECT_GE(log.Count("CSerial485B(): chip ID: 40"), 1u);
    }
    {
        // Bus B knows only the AT45 rows.
        SimProcess sim(dir, {"--dialect", "busb", "--chip", "S25FL008K"}, "bb2");
        Select(kProtoBusB, sim.Path(), 1);
        uint8_t buf[8];
        EXPECT_EQ(Run(8, kCmdRead, 0, buf), kLinkChipUnknown);
    }
}

TEST_F(LinkE2E, ZeroByteBlockReadOnlySetsTheAddress) {
    SimProcess sim(dir, {"--dialect", "short1"});
    Select(kProtoShort1, sim.Path());
    uint8_t dummy = 0;
    EXPECT_EQ(Run(0, kCmdRead, 0x1000, &dummy), kLinkOk);
    EXPECT_EQ(log.Count("CSerial232::PortWriteData() ["), 1u);
    EXPECT_EQ(log.Count("read from 00001000, 0 bytes"), 1u);
}

TEST_F(LinkE2E, AbortAfterAChunk) {
    SimProcess sim(dir, {});
    Select(kProtoPointB, sim.Path());
    Bytes buf(2000);
    waiter.abort = true;
    EXPECT_EQ(Run(2000, kCmdRead, 0, buf.data()), kLinkAborted);
    EXPECT_EQ(waiter.ProgressCount(), 1u);
    Bytes data(2000, 1);
    EXPECT_EQ(Run(2000, kCmdEraseWrite, 0xF0000000, data.data()), kLinkAborted);
    EXPECT_EQ(waiter.ProgressCount(), 2u);
    waiter.abort = false;
}

TEST_F(LinkE2E, DirectRegionAndVerifyProgress) {
    SimProcess sim(dir, {"--signature", "SIG"});
    Select(kProtoPointB, sim.Path());
    // The signature address of the other connections is the top of the direct region here.
    char sig[33] = {};
    ASSERT_EQ(Run(32, kCmdRead, 0x80FFFFFF, reinterpret_cast<uint8_t*>(sig)), kLinkOk);
    EXPECT_STREQ(sig, "SIG");
    EXPECT_EQ(log.Count("CSerial232B::PortWriteData() [E2 E4 0F 00 FF 01 00 00 04 FF FF FF FF "), 1u);
    EXPECT_EQ(log.Count("CSerial232B::PortWriteData() [E2 E4 0F 00 FF 01 06 00 01 20 "), 1u);
    engine.SetVerify(true);
    Bytes data = Random(700, 8);
    ASSERT_EQ(Run(700, kCmdEraseWrite, 0xF0000100, data.data()), kLinkOk);
    EXPECT_EQ(Direct(sim.Image(), 0x100, 700), data);
    Bytes back(700);
    ASSERT_EQ(Run(700, kCmdRead, 0xF0000100, back.data()), kLinkOk);
    EXPECT_EQ(back, data);

    // Verified flash write: progress reaches half way with the last page written. Every step
    // is noted on the worker; the waiter itself passes on only the newest.
    struct StepRecorder : ILinkNotifier {
        ILinkNotifier* next = nullptr;
        std::vector<int> values;
        int LinkProgress(int v) override {
            values.push_back(v);
            return next->LinkProgress(v);
        }
        void LinkCompleted(int r, int v, bool b) override { next->LinkCompleted(r, v, b); }
    } steps;
    steps.next = &waiter;
    engine.SelectLinkPath(0, kProtoPointB, &steps, sim.Path(), -1, 0);
    engine.SetVerify(true);
    Bytes big = Random(10000, 9);
    ASSERT_EQ(Run(10000, kCmdEraseWrite, 100, big.data()), kLinkOk);
    const std::vector<int>& values = steps.values;
    const size_t lastWrite = log.Count("CSerial232B(): write ") - log.Count("CSerial232B(): write to");
    ASSERT_GT(values.size(), lastWrite);
    EXPECT_EQ(values[lastWrite - 1], 5000);
    for (size_t i = 1; i < values.size(); ++i) EXPECT_GE(values[i], values[i - 1]);
    EXPECT_LE(values.back(), 10000);
    EXPECT_EQ(Flash(sim.Image(), 0, 100, 10000), big);
}

TEST_F(LinkE2E, DeviceStatusesAndRestartAfterReinit) {
    struct Case {
        const char* dialect;
        int protocol;
        std::vector<std::string> extra;
    } cases[] = {
        {"pointb", kProtoPointB, {"--accept", "40"}},
        {"pointb", kProtoPointB, {"--busy", "40"}},
        {"pointb", kProtoPointB, {"--reinit-silence", "1500"}},
        {"busb", kProtoBusB, {"--accept", "40", "--chip", "AT45DB041"}},
        {"bus", kProtoBus, {"--accept", "40"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.dialect) + " " + c.extra[0]);
        std::vector<std::string> args = {"--dialect", c.dialect};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        SimProcess sim(dir, args, "st" + std::to_string(n++));
        Select(c.protocol, sim.Path(), 1);
        Bytes data = Random(600, uint32_t(n));
        ASSERT_EQ(Run(600, kCmdEraseWrite, 0x400, data.data()), kLinkOk);
        EXPECT_EQ(Flash(sim.Image(), 0, 0x400, 600), data);
    }
}

TEST_F(LinkE2E, Rs422LinkLifecycle) {
    SimProcess sim(dir, {});
    Select(kProtoPointB, sim.Path(), 1);
    CSerial232B* first = engine.Serial232B();
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(Run(0, kCmdStatus, 0, nullptr), kLinkOk);
    // Only the bus address changes: same object.
    Select(kProtoPointB, sim.Path(), 2);
    EXPECT_EQ(engine.Serial232B(), first);
    // Identity on RS-422: nothing to do, the buffer stays as it was.
    uint8_t id[4] = {1, 2, 3, 4};
    EXPECT_EQ(Run(4, kCmdIdentity, 0, id), kLinkOk);
    EXPECT_EQ((Bytes(id, id + 4)), (Bytes{1, 2, 3, 4}));
    // Idle with the port open: keep-alive polls every 500 ms, no notification.
    const unsigned ka = first->KeepAlives();
    EXPECT_EQ(waiter.Wait(nullptr, 1700).result, -1);
    EXPECT_GE(first->KeepAlives() - ka, 2u);

    Select(kProtoBusB, sim.Path(), 1);
    EXPECT_EQ(engine.Serial232B(), nullptr);
    Select(kProtoPointB, sim.Path(), 1);
    ASSERT_NE(engine.Serial232B(), nullptr);
    EXPECT_EQ(log.Count("CSerial232B::Start(-1)"), 2u);
    EXPECT_EQ(log.Count("CSerial232B::Stop()"), 1u);
    EXPECT_EQ(engine.Serial232B()->Opens(), 0u);
    ASSERT_EQ(Run(0, kCmdStatus, 0, nullptr), kLinkOk);
    EXPECT_EQ(log.Count("CSerial232B(): CreateFile() = "), 2u);

    // A failed command closes the port; the next one opens it again.
    sim.Pause();
    EXPECT_EQ(Run(0, kCmdStatus, 0, nullptr), kLinkNoReply);
    EXPECT_TRUE(engine.NotResponding());
    EXPECT_EQ(log.Count("CSerial232B(): disconnected!"), 1u);
    sim.Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(Run(0, kCmdStatus, 0, nullptr), kLinkOk);
    EXPECT_FALSE(engine.NotResponding());
    EXPECT_EQ(engine.Serial232B()->Opens(), 2u);
    EXPECT_EQ(log.Count("CSerial232B(): CreateFile() = "), 3u);
}

TEST(LinkPorts, ComNamesMapThroughTheStore) {
    TempDir dir;
    LinkLogSetup log(dir);
    SetSerialDeviceRoots(dir.File("nodev"), dir.File("nosys"));  // a machine without serial ports
    AppStore().WriteString("Ports", "COM3", "/dev/ttyUSB0");
    EXPECT_EQ(ComPortPath(3), "/dev/ttyUSB0");
    EXPECT_EQ(ComPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortTarget("com3"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortTarget("/tmp/x"), "/tmp/x");
    auto list = ComPortList();
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list[7].name, "COM8");
    EXPECT_EQ(list[7].path, "/dev/ttyS7");
    SetSerialDeviceRoots("", "");
}

// COM1, COM2 ... without store entries take the devices the machine has: stable by-id names
// first, then USB and ACM adapters, then the built-in ports that have a UART.
TEST(LinkPorts, UnnamedComPortsTakeThePresentDevices) {
    TempDir dir;
    LinkLogSetup log(dir);
    namespace fs = std::filesystem;
    const std::string dev = dir.File("dev"), sys = dir.File("sys");
    fs::create_directories(dev + "/serial/by-id");
    for (const char* n : {"ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "ttyS1", "ttyS10", "ttyprintk"})
        TempDir::WriteAll(dev + "/" + n, "");
    fs::create_symlink("../../ttyUSB0", dev + "/serial/by-id/usb-Maker_Adapter_A1-if00-port0");
    for (auto [n, type] : {std::pair{"ttyS0", "4"}, {"ttyS1", "0"}, {"ttyS10", "4"}}) {
        fs::create_directories(sys + "/class/tty/" + n);
        TempDir::WriteAll(sys + "/class/tty/" + n + "/type", std::string(type) + "\n");
    }
    SetSerialDeviceRoots(dev, sys);
    const std::vector<std::string> want{dev + "/serial/by-id/usb-Maker_Adapter_A1-if00-port0",
                                        dev + "/ttyUSB2", dev + "/ttyUSB10", dev + "/ttyACM0", dev + "/ttyS0",
                                        dev + "/ttyS10"};
    EXPECT_EQ(PresentSerialDevices(), want);  // ttyUSB0 once, by its name; ttyS1 has no UART
    AppStore().WriteString("Ports", "COM2", "/dev/ttyX");
    const auto list = ComPortList();
    EXPECT_EQ(list[0].path, want[0]);
    EXPECT_EQ(list[1].path, "/dev/ttyX");  // the store's entry wins
    EXPECT_EQ(list[2].path, want[2]);
    EXPECT_EQ(list[5].path, want[5]);
    EXPECT_EQ(list[6].path, "/dev/ttyS6");  // past the devices: the classic names
    SetSerialDeviceRoots("", "");
}

// A port the user may not open: the log and the message name the group that grants access.
TEST(LinkPorts, PermissionDeniedNamesTheGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to play an unprivileged user";
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0755);
    const std::string port = dir.File("ttyUSB7");
    TempDir::WriteAll(port, "");
    const group* g = ::getgrnam("dialout");
    const gid_t gid = g ? g->gr_gid : 20;
    const std::string groupName = g ? "dialout" : std::to_string(gid);
    ASSERT_EQ(::chown(port.c_str(), 0, gid), 0);
    ::chmod(port.c_str(), 0660);
    EXPECT_EQ(PortPermissionHint(port), "");  // root may open it
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        CSerialPort p("CSerial232");
        const bool opened = p.Open(port);
        const std::string hint = TakePortOpenHint();
        const std::string out = (opened ? "opened|" : "refused|") + hint;
        if (write(fds[1], out.data(), out.size()) < 0) _exit(3);
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
    close(fds[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    EXPECT_EQ(got, "refused|Access to " + port + " is granted to the group \"" + groupName +
                       "\" (for example: sudo usermod -aG " + groupName + " $USER, then log in again).");
}

TEST_F(LinkE2E, GarbageFloodAndSilenceEndInBoundedTime) {
    struct Case {
        int protocol;
        int mode;  // 0 silent, 1 random bytes after each request, 2 endless flood
        int expect;
    } cases[] = {
        {kProtoShort2, 0, kLinkNoReply}, {kProtoShort2, 1, kLinkBadReply}, {kProtoShort2, 2, kLinkBadReply},
        {kProtoBus, 0, kLinkNoReply},    {kProtoBus, 1, kLinkBadReply},    {kProtoBusB, 2, kLinkBadReply},
        {kProtoPointB, 0, kLinkNoReply}, {kProtoPointB, 1, kLinkNoReply},  {kProtoPointB, 2, kLinkBadReply},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "protocol " << c.protocol << " mode " << c.mode);
        TempDir peerDir;
        RawPeer peer(peerDir);
        if (c.mode == 1) peer.Garbage();
        if (c.mode == 2) peer.Flood();
        Select(c.protocol, peer.Path(), 1);
        uint8_t buf[64];
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(Run(64, kCmdRead, 0x100, buf), c.expect);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_LT(ms, 8000);
        Select(kProtoShort1, "/nonexistent");  // lets the RS-422 object go before its peer
    }
}

TEST(LinkPorts, ByteDumpsSixteenPerLine) {
    TempDir dir;
    LinkLogSetup log(dir, true);
    RawPeer peer(dir);
    CSerialPort port("CSerial232");
    ASSERT_TRUE(port.Open(peer.Path()));
    port.SetDump(true);
    uint8_t frame[37];
    for (int i = 0; i < 37; ++i) frame[i] = uint8_t(i);
    ASSERT_TRUE(port.PortWriteData(frame, 37));
    EXPECT_EQ(log.Count("CSerial232::PortWriteData() ["), 3u);
    EXPECT_EQ(log.Count("CSerial232::PortWriteData() [00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ]"), 1u);
    EXPECT_EQ(log.Count("CSerial232::PortWriteData() [20 21 22 23 24 ]"), 1u);
    // Nothing comes back: the read times out after its constant plus per-byte time.
    uint8_t in[4];
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.PortReadData(in, 4));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 530);
    EXPECT_EQ(log.Count("CSerial232::PortReadData() 0 bytes of 4 []"), 1u);
}
