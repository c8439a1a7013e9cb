// The element pages through the real engine against varosim on a pty, holding the sample
// model's controls, status and serial number records.
#include "FakeDevice.h"
#include "common/SimDeviceRig.h"
#include "devicedata/CEngineAdapter.h"
#include "devicedata/ControlsPage.h"
#include "devicedata/SerialPage.h"
#include "devicedata/StatusPage.h"
#include "devicedata/TimeSync.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/LinkTestSupport.h"
#include "model/CPnPControl.h"
#include "model/CPnPSerial.h"
#include "model/CPnPStatus.h"
#include "sim/CSimImage.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

namespace {
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kControlsAt = 0x200, kStatusAt = 0x100;  // in the direct region

class ElementPagesSim : public ::testing::Test, protected SimDeviceRig<FakeUi> {
protected:
    void SetUp() override { ASSERT_EQ(Launch("HD-OVL.xml", "pointb", kProtoPointB, 1), ""); }
    void TearDown() override { serial.DestroyLinks(); }

    // Runs the operation a page began to its end.
    void Run(bool begun) {
        ASSERT_TRUE(begun);
        ASSERT_TRUE(RunOperation(ops, waiter, serial, 20000));
    }
    // The simulated device's direct region, changed and read behind the link's back.
    void Poke(uint32_t offset, const Bytes& b) {
        std::fstream f(sim->Image(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(CSimImage::kHeaderBytes + offset);
        f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    Bytes Direct(uint32_t offset, size_t n) {
        CSimImage img;
        std::string err;
        EXPECT_TRUE(img.OpenExisting(sim->Image(), err)) << err;
        return Bytes(img.Direct() + offset, img.Direct() + offset + n);
    }
};
}  // namespace

TEST_F(ElementPagesSim, ControlsReadAndWriteComposition) {
    auto& el = *static_cast<CPnPControl*>(model.FindFirst(kPnPControls));
    CControlsPage page(el, ctx);
    auto on = [&](const std::string& name) {
        for (const auto& r : page.Rows())
            if (el.nodes[r.node]->name == name) return r.on;
        ADD_FAILURE() << name;
        return false;
    };
    auto row = [&](const std::string& name) {
        for (size_t i = 0; i < page.Rows().size(); ++i)
            if (el.nodes[page.Rows()[i].node]->name == name) return i;
        ADD_FAILURE() << name;
        return size_t(0);
    };
    // The switches the model's hints turned on.
    Run(page.Open());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(on("Logo"));
    EXPECT_TRUE(on("Clock"));
    EXPECT_FALSE(on("Caption"));
    EXPECT_TRUE(on("Program"));
    EXPECT_FALSE(on("Bypass"));

    // Bits no switch owns, set on the device, must survive the write.
    Poke(kControlsAt, {0xF5, 0x80, 0x00});
    Poke(kControlsAt + 10, {0x5A});
    Run(page.Read());
    EXPECT_TRUE(on("Logo"));
    page.Toggle(row("Logo"), false);
    page.Toggle(row("Caption"), true);
    page.Toggle(row("Preview"), true);
    page.Toggle(row("Bypass"), true);
    EXPECT_FALSE(on("Program"));
    Run(page.Write());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Write complete.");
    Bytes expect(16, 0);
    expect[0] = 0xF6;  // 0xF0 kept, Caption and Clock on
    expect[1] = 0x81;  // Preview chosen, bit 7 kept
    expect[2] = 0x01;  // Bypass
    expect[10] = 0x5A;
    EXPECT_EQ(Direct(kControlsAt, 16), expect);
}

TEST_F(ElementPagesSim, StatusListAndItsRefresh) {
    CStatusPage page(*static_cast<CPnPStatus*>(model.FindFirst(kPnPStatus)), ctx);
    auto lines = [&] {
        std::vector<std::pair<std::string, int>> out;
        for (const auto& l : page.Lines()) out.emplace_back(l.text, l.level);
        return out;
    };
    using L = std::vector<std::pair<std::string, int>>;
    Run(page.Read());
    EXPECT_EQ(lines(), (L{{"Input 1 signal present", 0},
                          {"No signal on input 2", 1},
                          {"Reference not locked", 1},
                          {"Stream output running", 0}}));
    EXPECT_TRUE(ui.timer);  // the refresh keeps going

    // The device's state changes; the next idle tick shows it.
    Poke(kStatusAt, {0x02, 0x01, 0xC0, 0x00});
    ops.SetIdleTick([&] { page.IdleTick(); });
    ops.Tick();
    ASSERT_TRUE(ops.Busy());
    Run(true);
    EXPECT_EQ(lines(), (L{{"No signal on input 1", 2}, {"Fan failure", 2}, {"Temperature high", 1}}));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ElementPagesSim, SerialNumberTextInBothForms) {
    CSerialPage page(*static_cast<CPnPSerial*>(model.FindFirst(kPnPSerial)), ctx);
    Run(page.Read());
    EXPECT_EQ(page.Text(), "48440A17-00000025-00000000-00003039");

    // The same number read as an 8-byte serial, and one from the identity read, which the
    // point-B link completes at once without data.
    CPnPModel small;
    ASSERT_EQ(small.LoadFromText(R"(<d><pnp><serial name="S" address="0x007000" size="8"/></pnp></d>)"), kPnPLoaded);
    CSerialPage eight(*static_cast<CPnPSerial*>(small.FindFirst(kPnPSerial)), ctx);
    Run(eight.Read());
    EXPECT_EQ(eight.Text(), "4844-0A17-0000-0025");
    CPnPModel fromIdentity;
    ASSERT_EQ(fromIdentity.LoadFromText(R"(<d><pnp><serial name="S" address="-1" size="8"/></pnp></d>)"), kPnPLoaded);
    CSerialPage id(*static_cast<CPnPSerial*>(fromIdentity.FindFirst(kPnPSerial)), ctx);
    Run(id.Read());
    EXPECT_EQ(id.Text(), "0000-0000-0000-0000");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ElementPagesSim, ClockReachesTheDevice) {
    auto today = [] {
        std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        return Bytes{uint8_t(tm.tm_year % 100), uint8_t(tm.tm_mon + 1), uint8_t(tm.tm_mday), uint8_t(tm.tm_wday)};
    };
    const Bytes before = today();
    Run(StartTimeSync(ctx));
    const Bytes after = today();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Time synchronized.");
    CSimImage img;
    std::string err;
    ASSERT_TRUE(img.OpenExisting(sim->Image(), err)) << err;
    EXPECT_EQ(img.Header().clockSet, 1);
    const uint8_t* c = img.Header().clock;
    const Bytes date{c[3], c[4], c[5], c[6]};
    EXPECT_TRUE(date == before || date == after);
    EXPECT_LT(c[0], 24);
    EXPECT_LT(c[1], 60);
}
