// The binary data page and the slot transfer every page with slots uses, against a scripted
// engine: which commands a write makes on each connection, the bytes they carry, and the
// file rules of "Load".
#include "FakeDevice.h"
#include "common/TempDir.h"
#include "devicedata/BinPage.h"
#include "devicedata/SlotTransfer.h"
#include "model/CPnPBin.h"

#include <gtest/gtest.h>

namespace {
struct AnsweringUi : FakeUi {
    bool answer = true;
    std::vector<std::string> questions;
    bool AskYesNo(const std::string& q, MsgIcon, bool) override {
        questions.push_back(q);
        return answer;
    }
};

const char* const kModel = R"(<device><pnp>
  <bin name="Font" size="64000" extensions="bin">
    <item name="Font 1" address="0x123456"/>
    <item name="Font 2" address="0x020100"/>
  </bin>
  <bin name="Exact" size="1024" exact_size="1"><item name="Table" address="0x300000"/></bin>
</pnp></device>)";

struct Rig : FakeDeviceContext<FakeEngine, AnsweringUi> {
    explicit Rig(int interfaceChoice) : FakeDeviceContext(kModel, 0x30000) { ctx.interfaceChoice = interfaceChoice; }
    CPnPBin& Bin(int i) { return *static_cast<CPnPBin*>(model.elements[size_t(i)].get()); }
    void Done() { ops.Completed(0, 0); }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
    return v;
}
}  // namespace

TEST(SlotTransfer, BlocksAnRs232WriteReadsAndWritesBack) {
    struct Case {
        uint32_t address, size, span;
    } cases[] = {
        {0x020100, 256, 0x10000},     // inside one block
        {0x120000, 0xFFFF, 0x10000},  // the largest slot that goes this way
        {0x123456, 64000, 0x20000},   // runs past its block: the next one comes along
        {0x123456, 0x10000, 0},       // over 0xFFFF: erase-and-write
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CSlotTransfer::BlockSpan(0, c.address, c.size), c.span) << std::hex << c.address;
        for (int other = 1; other <= 4; ++other) EXPECT_EQ(CSlotTransfer::BlockSpan(other, c.address, c.size), 0u);
    }
}

TEST(SlotTransfer, Rs232WritePatchesTheSlotIntoTheBlocksAroundIt) {
    Rig r(0);
    const std::vector<uint8_t> slot = Pattern(64000, 3);
    CSlotTransfer t(r.ctx);
    ASSERT_TRUE(t.Write(0x123456, slot.data(), uint32_t(slot.size())));
    ASSERT_EQ(r.ui.questions, std::vector<std::string>{"Data will be written to device.\n\nDo you want to continue?"});
    ASSERT_EQ(r.engine.started.size(), 1u);
    EXPECT_EQ(r.ops.Kind(), kOpSlotBlockRead);
    EXPECT_EQ(r.engine.started[0].code, 3);
    EXPECT_EQ(r.engine.started[0].address, 0x120000u);
    EXPECT_EQ(r.engine.started[0].size, 0x20000);
    // The device's blocks as read: the bytes around the slot must survive.
    const std::vector<uint8_t> device = Pattern(0x20000, 101);
    std::memcpy(r.buffer.data(), device.data(), device.size());
    r.Done();
    ASSERT_EQ(r.engine.started.size(), 2u);
    EXPECT_EQ(r.ops.Kind(), kOpSlotBlockWrite);
    EXPECT_EQ(r.engine.started[1].code, 5);
    EXPECT_EQ(r.engine.started[1].address, 0x120000u);
    ASSERT_EQ(r.engine.started[1].size, 0x20000);
    std::vector<uint8_t> expect = device;
    std::copy(slot.begin(), slot.end(), expect.begin() + 0x3456);
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), r.buffer.begin()));
    EXPECT_EQ(r.ops.ScaleProgress(100), 0x20000 + 100);
    r.Done();
    EXPECT_FALSE(r.ops.Busy());
    EXPECT_EQ(r.ui.messages, std::vector<std::string>{"Write complete."});
}

TEST(SlotTransfer, OtherConnectionsEraseAndWriteTheSlot_AndNoIsNoWrite) {
    for (int choice : {1, 2, 3, 4}) {
        Rig r(choice);
        const std::vector<uint8_t> slot = Pattern(300, 9);
        CSlotTransfer t(r.ctx);
        r.ui.answer = false;
        EXPECT_FALSE(t.Write(0x020100, slot.data(), 300));
        EXPECT_TRUE(r.engine.started.empty());
        EXPECT_FALSE(r.ops.Busy());
        r.ui.answer = true;
        ASSERT_TRUE(t.Write(0x020100, slot.data(), 300));
        ASSERT_EQ(r.engine.started.size(), 1u);
        EXPECT_EQ(r.ops.Kind(), kOpSlotWrite);
        EXPECT_EQ(r.engine.started[0].code, 5);
        EXPECT_EQ(r.engine.started[0].address, 0x020100u);
        EXPECT_EQ(r.engine.started[0].size, 300);
        EXPECT_TRUE(std::equal(slot.begin(), slot.end(), r.buffer.begin()));
        r.Done();
        EXPECT_EQ(r.ui.messages, std::vector<std::string>{"Write complete."});
    }
}

TEST(SlotTransfer, ReadHandsTheBytesToThePage) {
    Rig r(3);
    CSlotTransfer t(r.ctx);
    std::vector<uint8_t> got;
    ASSERT_TRUE(t.Read(0x4000, 16, [&](const uint8_t* d, uint32_t n) { got.assign(d, d + n); }));
    EXPECT_EQ(r.ops.Kind(), kOpSlotRead);
    EXPECT_EQ(r.engine.started[0].code, 3);
    const std::vector<uint8_t> device = Pattern(16, 77);
    std::memcpy(r.buffer.data(), device.data(), 16);
    r.Done();
    EXPECT_EQ(got, device);
    EXPECT_FALSE(r.ops.Busy());
}

TEST(BinPage, LoadRulesAndWrite) {
    TempDir dir;
    Rig r(3);
    CBinPage exact(r.Bin(1), r.ctx);
    // Exact size: a shorter file is refused and nothing changes.
    TempDir::WriteAll(dir.File("short.bin"), std::string(1000, 'a'));
    EXPECT_FALSE(exact.Load(dir.File("short.bin")));
    EXPECT_FALSE(exact.CanWrite());
    EXPECT_EQ(r.ui.messages.back(), "Unsupported file size!\n\nFile size should be exactly 1024 bytes.");
    EXPECT_FALSE(exact.Load(dir.File("missing.bin")));
    EXPECT_EQ(r.ui.messages.back(), "Error opening file!\n\n" + dir.File("missing.bin"));
    EXPECT_EQ(r.ui.icons.back(), MsgIcon::Stop);

    // Without it the file fills the start and the rest stays 0xFF.
    CBinPage font(r.Bin(0), r.ctx);
    EXPECT_FALSE(font.Write(0, false));  // nothing loaded yet
    TempDir::WriteAll(dir.File("font.bin"), std::string(1000, 'b'));
    ASSERT_TRUE(font.Load(dir.File("font.bin")));
    ASSERT_TRUE(font.CanWrite());
    ASSERT_TRUE(font.Write(1));
    ASSERT_EQ(r.engine.started.size(), 1u);
    EXPECT_EQ(r.engine.started[0].address, 0x020100u);
    ASSERT_EQ(r.engine.started[0].size, 64000);
    EXPECT_EQ(r.buffer[999], 'b');
    EXPECT_EQ(r.buffer[1000], 0xFF);
    EXPECT_EQ(r.buffer[63999], 0xFF);
}
