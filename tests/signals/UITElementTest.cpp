// The "uit" element of a loaded model: its table, slots and the page commands' data.
#include <gtest/gtest.h>

#include <cstring>

#include "common/TempDir.h"
#include "model/CPnPModel.h"
#include "signals/UITElement.h"

namespace {
CPnPUIT* LoadUIT(CPnPModel& m) {
    int r = m.LoadFromText(
        "<?xml version=\"1.0\"?>\n<model><pnp>"
        "<uit name=\"Tables\" address=\"0x200000\">"
        "<item name=\"Slot 1\" address=\"0x300000\" size=\"7\"/>"
        "<item name=\"Slot 2\" address=\"0x300600\"/></uit></pnp></model>");
    EXPECT_EQ(r, kPnPLoaded);
    return static_cast<CPnPUIT*>(m.FindFirst(kPnPUIT));
}
}  // namespace

TEST(UITElement, BuiltFromTheModelWithSlotsOfOneLine) {
    CPnPModel m;
    CPnPUIT* e = LoadUIT(m);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kind, kPnPUIT);
    EXPECT_EQ(e->address, 0x200000u);
    ASSERT_EQ(e->items.size(), 2u);
    for (const auto& it : e->items) EXPECT_EQ(it->size, 1536);
    EXPECT_EQ(e->loaded, 0);
    EXPECT_EQ(e->singleLine, 0);
    EXPECT_EQ(e->table.frame.size(), size_t(kFrameSize));
    EXPECT_TRUE(UITHasDeviceTable(*e));
}

TEST(UITElement, LoadSetsTheFlagsAndAFailedLoadLeavesABlankTable) {
    TempDir dir;
    CPnPModel m;
    CPnPUIT* e = LoadUIT(m);
    ASSERT_NE(e, nullptr);
    CUIT two;
    two.Reset();
    two.windows.push_back(RVUITWindow{});
    two.windows[1].start = 5;
    two.windows[1].count = 1;
    ASSERT_EQ(two.Save(dir.File("two.uit")), kFileOk);

    EXPECT_EQ(UITLoadFile(*e, dir.File("two.uit")), kFileOk);
    EXPECT_EQ(e->loaded, 1);
    EXPECT_EQ(e->singleLine, 0);
    EXPECT_EQ(e->table.windows.size(), 2u);

    TempDir::WriteAll(dir.File("bad.uit"), "SIG\x1A");
    EXPECT_EQ(UITLoadFile(*e, dir.File("bad.uit")), kFileCorrupt);
    EXPECT_EQ(e->loaded, 1);
    EXPECT_EQ(e->singleLine, 1);  // the blank table is one window over every line
    EXPECT_TRUE(e->table.IsSingleLine());
}

TEST(UITElement, EditStartsBlankOnlyTheFirstTime) {
    CPnPModel m;
    CPnPUIT* e = LoadUIT(m);
    ASSERT_NE(e, nullptr);
    UITBeforeEdit(*e);
    EXPECT_EQ(e->table.FrameLine(3)[1], 0x10);
    e->table.windows.clear();
    UITAfterEdit(*e);
    EXPECT_EQ(e->loaded, 1);
    EXPECT_EQ(e->singleLine, 0);
    UITBeforeEdit(*e);
    EXPECT_TRUE(e->table.windows.empty());
}

TEST(UITElement, DeviceReadsAndWrites) {
    CPnPModel m;
    CPnPUIT* e = LoadUIT(m);
    ASSERT_NE(e, nullptr);
    std::vector<uint8_t> data(kUITReadSize, 0x33);
    UITTableReadDone(*e, data.data(), data.size());
    EXPECT_EQ(e->loaded, 1);
    EXPECT_EQ(e->singleLine, 0);
    EXPECT_TRUE(e->table.windows.empty());
    EXPECT_EQ(0, std::memcmp(UITTableWriteData(*e), data.data(), data.size()));

    std::vector<uint8_t> line(1536);
    for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i);
    UITSlotReadDone(*e, line.data(), line.size());
    EXPECT_EQ(e->singleLine, 1);
    EXPECT_EQ(0, std::memcmp(UITSlotWriteData(*e), line.data(), line.size()));
    EXPECT_EQ(0, std::memcmp(e->table.FrameLine(579), line.data(), line.size()));

    uint32_t addr = 0;
    ASSERT_TRUE(UITSlotAddress(*e, 1, addr));
    EXPECT_EQ(addr, 0x300600u);
    EXPECT_FALSE(UITSlotAddress(*e, 2, addr));
    EXPECT_FALSE(UITSlotAddress(*e, -1, addr));

    std::vector<uint8_t> page(65536, 0xEE);
    ASSERT_TRUE(UITPatchSlotIntoPage(*e, 1, 0x300000, page.data(), page.size()));
    EXPECT_EQ(page[0x5FF], 0xEE);
    EXPECT_EQ(0, std::memcmp(page.data() + 0x600, line.data(), line.size()));
    EXPECT_EQ(page[0x600 + 1536], 0xEE);
    // A slot outside the page, or running over its end, leaves the page alone.
    EXPECT_FALSE(UITPatchSlotIntoPage(*e, 1, 0x310000, page.data(), page.size()));
    EXPECT_FALSE(UITPatchSlotIntoPage(*e, 1, 0x2F0A00, page.data(), page.size()));
}
