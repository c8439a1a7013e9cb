// The controls, status and serial number pages and the clock command against a scripted engine.
#include "FakeDevice.h"
#include "devicedata/ControlsPage.h"
#include "devicedata/SerialPage.h"
#include "devicedata/StatusPage.h"
#include "devicedata/TimeSync.h"
#include "link/LinkDefs.h"
#include "model/CPnPControl.h"
#include "model/CPnPSerial.h"
#include "model/CPnPStatus.h"

#include <gtest/gtest.h>

namespace {
using Bytes = std::vector<uint8_t>;

const char* const kControlsXml = R"(<device><pnp>
  <controls name="Controls" address="0x2000" size="6">
    <control name="Overlay">
      <control name="Logo" offset="0" mask="0x01" value="0x01"/>
      <control name="Clock" offset="0" mask="0x04" value="0x04"/>
    </control>
    <control name="Output" collapse="1">
      <control name="A" offset="3" mask="0x03" value="0x01"/>
      <control name="B" offset="3" mask="0x03" value="0x02"/>
      <control name="Deep">
        <control name="C" offset="3" mask="0x04" value="0x04"/>
      </control>
    </control>
    <control name="Mode" offset="5" mask="0x0F" value="0x05"/>
    <control name="Beyond" offset="9" mask="0x01" value="0x01"/>
  </controls>
</pnp></device>)";

struct Controls : ::testing::Test {
    FakeDevice dev{kControlsXml};
    CPnPControl& el = *static_cast<CPnPControl*>(dev.model.FindFirst(kPnPControls));
    CControlsPage page{el, dev.ctx};
    int reads = 0;
    void SetUp() override { page.onRead = [this] { ++reads; }; }
    // Opens the page with the device holding this record.
    void OpenWith(const Bytes& record) {
        ASSERT_TRUE(page.Open());
        dev.Answer(record);
    }
    size_t RowOf(const std::string& name) const {
        for (size_t i = 0; i < page.Rows().size(); ++i)
            if (el.nodes[page.Rows()[i].node]->name == name) return i;
        ADD_FAILURE() << name;
        return 0;
    }
    bool On(const std::string& name) const { return page.Rows()[RowOf(name)].on; }
};
}  // namespace

TEST_F(Controls, OpeningReadsOnceAndBuildsTheTree) {
    OpenWith({0x05, 0, 0, 0x06, 0, 0xF5});
    ASSERT_EQ(dev.engine.started.size(), 1u);
    EXPECT_EQ(dev.engine.started[0].code, kCmdRead);
    EXPECT_EQ(dev.engine.started[0].size, 6);
    EXPECT_EQ(dev.engine.started[0].address, 0x2000u);
    EXPECT_FALSE(dev.ops.Busy());
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(el.read);

    const auto& rows = page.Rows();
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[RowOf("Logo")].parent, int(RowOf("Overlay")));
    EXPECT_EQ(rows[RowOf("C")].parent, int(RowOf("Deep")));
    EXPECT_EQ(rows[RowOf("Deep")].parent, int(RowOf("Output")));
    EXPECT_EQ(rows[RowOf("Mode")].parent, -1);
    EXPECT_FALSE(rows[RowOf("Overlay")].hasSwitch);
    EXPECT_TRUE(rows[RowOf("Overlay")].expanded);
    EXPECT_TRUE(rows[RowOf("Output")].hasChildren);
    EXPECT_FALSE(rows[RowOf("Output")].expanded);  // collapse="1"
    EXPECT_TRUE(rows[RowOf("Deep")].expanded);
    EXPECT_FALSE(rows[RowOf("Logo")].expanded);  // no children

    EXPECT_TRUE(On("Logo"));
    EXPECT_TRUE(On("Clock"));
    EXPECT_FALSE(On("A"));
    EXPECT_TRUE(On("B"));
    EXPECT_TRUE(On("C"));
    EXPECT_TRUE(On("Mode"));
    EXPECT_FALSE(On("Beyond"));  // outside the record: not evaluated

    // Opened again: the record is kept, nothing is read.
    EXPECT_FALSE(page.Open());
    EXPECT_EQ(dev.engine.started.size(), 1u);
    EXPECT_EQ(reads, 2);
    // "Read" reads again.
    ASSERT_TRUE(page.Read());
    dev.Answer({0, 0, 0, 0x01, 0, 0});
    EXPECT_TRUE(On("A"));
    EXPECT_FALSE(On("B"));
    EXPECT_FALSE(On("Logo"));
}

TEST_F(Controls, GroupsOfChoicesKeepOneOn) {
    OpenWith({0, 0, 0, 0x01, 0, 0});
    // B on: A (same offset and mask) goes off; C (other mask) is untouched.
    auto changed = page.Toggle(RowOf("B"), true);
    EXPECT_EQ(changed, (std::vector<size_t>{RowOf("A"), RowOf("B")}));
    EXPECT_FALSE(On("A"));
    EXPECT_TRUE(On("B"));
    // B off: the first other choice of the group comes on.
    changed = page.Toggle(RowOf("B"), false);
    EXPECT_EQ(changed, (std::vector<size_t>{RowOf("A"), RowOf("B")}));
    EXPECT_TRUE(On("A"));
    EXPECT_FALSE(On("B"));
    // A switch alone in its group is simply switched.
    EXPECT_EQ(page.Toggle(RowOf("C"), true), std::vector<size_t>{RowOf("C")});
    EXPECT_EQ(page.Toggle(RowOf("C"), false), std::vector<size_t>{RowOf("C")});
    // Headings have no switch.
    EXPECT_TRUE(page.Toggle(RowOf("Overlay"), true).empty());
}

TEST_F(Controls, WriteReplacesOnlyTheSwitchesBits) {
    struct Case {
        Bytes record;
        std::vector<std::pair<const char*, bool>> clicks;
        Bytes written;
    } cases[] = {
        // Nothing changed: what was read goes back, bits nobody owns included.
        {{0xF0, 0x11, 0x22, 0xF8, 0x33, 0xF0}, {}, {0xF0, 0x11, 0x22, 0xF8, 0x33, 0xF0}},
        // Mode (mask 0x0F, value 0x05) switched on over 0xF0: 0xF5.
        {{0xF0, 0, 0, 0, 0, 0xF0}, {{"Mode", true}}, {0xF0, 0, 0, 0, 0, 0xF5}},
        // Mode switched off clears its mask bits only.
        {{0, 0, 0, 0, 0, 0xA5}, {{"Mode", false}}, {0, 0, 0, 0, 0, 0xA0}},
        // Logo off, Clock on, B chosen (A off), C on; bit 0x80 of byte 0 and 0xF8 of byte 3 stay.
        {{0x81, 0, 0, 0xF1, 0, 0},
         {{"Logo", false}, {"Clock", true}, {"B", true}, {"C", true}},
         {0x84, 0, 0, 0xF6, 0, 0}},
    };
    for (const auto& c : cases) {
        el.read = false;
        dev.engine.started.clear();
        OpenWith(c.record);
        for (const auto& [name, on] : c.clicks) page.Toggle(RowOf(name), on);
        ASSERT_TRUE(page.Write());
        EXPECT_EQ(dev.engine.started.back().code, kCmdWrite);
        EXPECT_EQ(dev.engine.started.back().address, 0x2000u);
        EXPECT_EQ(dev.Written(), c.written);
        EXPECT_EQ(dev.ops.Kind(), kOpControlsWrite);
        dev.Answer();
        EXPECT_FALSE(dev.ops.Busy());
        ASSERT_FALSE(dev.ui.messages.empty());
        EXPECT_EQ(dev.ui.messages.back(), "Write complete.");
    }
}

TEST_F(Controls, NoWriteBeforeARecordWasReadAndFailedReadsKeepTheTree) {
    // Never read: writing would overwrite bits no switch owns.
    EXPECT_FALSE(page.CanWrite());
    EXPECT_FALSE(page.Write());
    EXPECT_TRUE(dev.engine.started.empty());
    ASSERT_TRUE(page.Open());
    dev.Fail(3);
    EXPECT_FALSE(page.CanWrite());
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(dev.ui.messages.size(), 1u);

    ASSERT_TRUE(page.Read());
    dev.Answer({0x01, 0, 0, 0, 0, 0});
    ASSERT_TRUE(page.Read());
    dev.Fail(4);  // the tree keeps what the last good read gave
    EXPECT_TRUE(On("Logo"));
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(page.CanWrite());
    // Nothing begins while another operation runs.
    dev.ops.Begin(kOpSlotRead, 10);
    EXPECT_FALSE(page.Read());
    EXPECT_FALSE(page.Write());
}

TEST(ControlsSize, RecordLargerThanTheBufferIsNotRead) {
    FakeDevice dev(R"(<d><pnp><controls name="C" address="0" size="8192">
        <control name="X" offset="0" mask="1" value="1"/></controls></pnp></d>)");
    CControlsPage page(*static_cast<CPnPControl*>(dev.model.FindFirst(kPnPControls)), dev.ctx);
    EXPECT_FALSE(page.Open());
    EXPECT_FALSE(page.Write());
    EXPECT_TRUE(dev.engine.started.empty());
}

namespace {
const char* const kStatusXml = R"(<device><pnp>
  <status name="Status" address="0xF0000100" size="4">
    <info name="Signal" offset="0" mask="0x01" value="0x01" level="0"/>
    <info name="No signal" offset="0" mask="0x01" value="0x00" level="2"/>
    <info name="Fan" offset="2" mask="0xC0" value="0x80" level="1"/>
    <info name="Always" offset="1" mask="0" value="0" level="7"/>
    <info name="Beyond" offset="4" mask="0" value="0" level="1"/>
    <info name="Negative" offset="3" mask="0x01" value="0x01" level="-3"/>
  </status>
</pnp></device>)";

struct Status : ::testing::Test {
    FakeDevice dev{kStatusXml};
    CStatusPage page{*static_cast<CPnPStatus*>(dev.model.FindFirst(kPnPStatus)), dev.ctx};
    int shown = 0;
    void SetUp() override { page.onLines = [this] { ++shown; }; }
    std::vector<std::pair<std::string, int>> Lines() const {
        std::vector<std::pair<std::string, int>> out;
        for (const auto& l : page.Lines()) out.emplace_back(l.text, l.level);
        return out;
    }
};
}  // namespace

TEST_F(Status, ConditionsAndLevels) {
    using L = std::vector<std::pair<std::string, int>>;
    struct Case {
        Bytes record;
        L lines;
    } cases[] = {
        {{0x01, 0, 0x80, 0}, {{"Signal", 0}, {"Fan", 1}, {"Always", 2}}},
        {{0x00, 0xFF, 0xC0, 0x01}, {{"No signal", 2}, {"Always", 2}, {"Negative", 0}}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(page.Read());
        EXPECT_EQ(dev.engine.started.back().code, kCmdRead);
        EXPECT_EQ(dev.engine.started.back().size, 4);
        EXPECT_EQ(dev.engine.started.back().address, 0xF0000100u);
        EXPECT_EQ(dev.ops.Kind(), kOpStatusRead);
        dev.Answer(c.record);
        EXPECT_EQ(Lines(), c.lines);
    }
}

TEST_F(Status, IdleTicksRefreshAndFailuresKeepTheList) {
    ASSERT_TRUE(page.Read());
    dev.Answer({0x01, 0, 0, 0});
    EXPECT_TRUE(dev.ui.timer);  // the status read restarts the one-second timer
    EXPECT_EQ(shown, 1);
    // The main window's idle tick on the page reads again.
    dev.ops.SetIdleTick([this] { page.IdleTick(); });
    dev.ops.Tick();
    ASSERT_EQ(dev.engine.started.size(), 2u);
    EXPECT_TRUE(dev.ops.Busy());
    dev.ops.Tick();  // busy: no second read on top
    EXPECT_EQ(dev.engine.started.size(), 2u);
    dev.Answer({0x00, 0, 0, 0});
    EXPECT_EQ(Lines().front().first, "No signal");
    EXPECT_EQ(shown, 2);

    dev.ops.Tick();
    dev.Fail(3);
    EXPECT_EQ(Lines().front().first, "No signal");
    EXPECT_EQ(shown, 2);
    EXPECT_FALSE(dev.ui.timer);  // a failed read stops the polling
    EXPECT_EQ(dev.ui.messages.size(), 1u);
}

namespace {
struct SerialCase {
    const char* attrs;
    int size;
    int command;
    uint32_t address;
};
}  // namespace

TEST(Serial, IdentityOrMemoryAndSizeRule) {
    const SerialCase cases[] = {
        {R"(address="0x7000" size="4")", 8, kCmdRead, 0x7000},
        {R"(address="0x7000" size="12")", 16, kCmdRead, 0x7000},
        {R"(address="0x7000" size="200")", 128, kCmdRead, 0x7000},
        {R"(address="-1" size="8")", 8, kCmdIdentity, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attrs);
        FakeDevice dev(std::string("<d><pnp><serial name=\"S\" ") + c.attrs + "/></pnp></d>");
        CSerialPage page(*static_cast<CPnPSerial*>(dev.model.FindFirst(kPnPSerial)), dev.ctx);
        ASSERT_TRUE(page.Read());
        ASSERT_EQ(dev.engine.started.size(), 1u);
        EXPECT_EQ(dev.engine.started[0].size, c.size);
        EXPECT_EQ(dev.engine.started[0].code, c.command);
        EXPECT_EQ(dev.engine.started[0].address, c.address);
        EXPECT_EQ(dev.ops.Kind(), kOpSerialRead);
    }
}

TEST(Serial, TextOfEightBytesAndGroupsOfFour) {
    struct Case {
        int size;
        Bytes bytes;
        const char* text;
    } cases[] = {
        {8, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, "0123-4567-89AB-CDEF"},
        {16,
         {0x48, 0x44, 0x0A, 0x17, 0, 0, 0, 0x25, 0, 0, 0, 0, 0, 0, 0x30, 0x39},
         "48440A17-00000025-00000000-00003039"},
        {24, Bytes(24, 0xA5), "A5A5A5A5-A5A5A5A5-A5A5A5A5-A5A5A5A5-A5A5A5A5-A5A5A5A5"},
    };
    for (const auto& c : cases) {
        FakeDevice dev("<d><pnp><serial name=\"S\" address=\"0x100\" size=\"" + std::to_string(c.size) +
                       "\"/></pnp></d>");
        CSerialPage page(*static_cast<CPnPSerial*>(dev.model.FindFirst(kPnPSerial)), dev.ctx);
        int shown = 0;
        page.onText = [&] { ++shown; };
        EXPECT_EQ(page.Text(), "");
        ASSERT_TRUE(page.Read());
        dev.Answer(c.bytes);
        EXPECT_EQ(page.Text(), c.text);
        EXPECT_EQ(shown, 1);
        // A failed read keeps the number shown.
        ASSERT_TRUE(page.Read());
        dev.Fail(3);
        EXPECT_EQ(page.Text(), c.text);
    }
}

TEST(Serial, IdentityThatCompletesAtOnceShowsNoStaleBytes) {
    FakeDevice dev(R"(<d><pnp><serial name="S" address="-1" size="8"/></pnp></d>)");
    CSerialPage page(*static_cast<CPnPSerial*>(dev.model.FindFirst(kPnPSerial)), dev.ctx);
    // The buffer holds an earlier transfer (0xEE); the link completes without filling it.
    ASSERT_TRUE(page.Read());
    dev.Answer();
    EXPECT_EQ(page.Text(), "0000-0000-0000-0000");
}

TEST(TimeSync, ClockCommandAndMessage) {
    FakeDevice dev(R"(<d><pnp timesync="1"><status name="S" size="1"/></pnp></d>)");
    ASSERT_TRUE(StartTimeSync(dev.ctx));
    ASSERT_EQ(dev.engine.started.size(), 1u);
    EXPECT_EQ(dev.engine.started[0].code, kCmdClock);
    EXPECT_EQ(dev.engine.started[0].size, 0);
    EXPECT_EQ(dev.engine.started[0].address, 0u);
    EXPECT_EQ(dev.engine.started[0].buffer, nullptr);
    EXPECT_EQ(dev.ops.Kind(), kOpClock);
    EXPECT_FALSE(StartTimeSync(dev.ctx));  // busy
    dev.Answer();
    EXPECT_FALSE(dev.ops.Busy());
    ASSERT_EQ(dev.ui.messages.size(), 1u);
    EXPECT_EQ(dev.ui.messages[0], "Time synchronized.");
    EXPECT_EQ(dev.ui.icons[0], MsgIcon::Information);

    // A failure shows the link's message, not the success.
    ASSERT_TRUE(StartTimeSync(dev.ctx));
    dev.Fail(3);
    ASSERT_EQ(dev.ui.messages.size(), 2u);
    EXPECT_NE(dev.ui.messages[1], "Time synchronized.");
}

TEST(TimeSync, ModelsWithoutAClockAreRefused) {
    FakeDevice dev(R"(<d><pnp><status name="S" size="1"/></pnp></d>)");
    EXPECT_FALSE(StartTimeSync(dev.ctx));
    EXPECT_TRUE(dev.engine.started.empty());
    EXPECT_FALSE(dev.ops.Busy());
}
