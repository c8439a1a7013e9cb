#include "ModelFixture.h"
#include "common/TempDir.h"
#include "model/CPnPBin.h"
#include "model/CPnPControl.h"
#include "model/CPnPMultiScreen.h"
#include "model/CPnPPics.h"
#include "model/CPnPSerial.h"
#include "model/CPnPStatus.h"
#include "model/CPnPUIT.h"

#include <string>

TEST(Controls, TreeGroupsOfChoicesAndWrite) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<controls name=\"C\" size=\"8\" address=\"0x500\">"
                         "<control name=\"Outputs\" collapse=\"1\">"
                         "  <control name=\"first\" offset=\"3\" mask=\"0x03\" value=\"0x01\"/>"
                         "  <control name=\"second\" offset=\"3\" mask=\"0x03\" value=\"0x02\">"
                         "    <control name=\"deep\" offset=\"7\" mask=\"0x80\" value=\"0x80\"/>"
                         "  </control>"
                         "  <control name=\"independent\" offset=\"3\" mask=\"0x04\" value=\"0x04\"/>"
                         "</control>"
                         "<control name=\"beyond\" offset=\"20\" mask=\"1\" value=\"1\"/>"
                         "</controls>"),
              kPnPLoaded);
    auto* c = First<CPnPControl>(m, kPnPControls);
    ASSERT_EQ(c->nodes.size(), 6u);
    int depths[] = {0, 1, 1, 2, 1, 0};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(c->nodes[i]->depth, depths[i]);
    EXPECT_FALSE(c->nodes[0]->HasSwitch());
    EXPECT_TRUE(c->nodes[0]->collapse);

    const uint8_t rec[8] = {0, 0, 0, 0x05, 0, 0, 0, 0x80};
    c->SetRecord(rec, 8);
    EXPECT_TRUE(c->read);
    EXPECT_TRUE(c->nodes[1]->on);
    EXPECT_FALSE(c->nodes[2]->on);
    EXPECT_TRUE(c->nodes[3]->on);
    EXPECT_TRUE(c->nodes[4]->on);
    EXPECT_FALSE(c->nodes[5]->on);  // beyond the record: off

    c->Toggle(2, true);  // second on: first off
    EXPECT_FALSE(c->nodes[1]->on);
    EXPECT_TRUE(c->nodes[2]->on);
    EXPECT_TRUE(c->nodes[4]->on);  // other mask: independent
    c->Toggle(2, false);  // second off: first of the group on again
    EXPECT_TRUE(c->nodes[1]->on);
    EXPECT_FALSE(c->nodes[2]->on);
    c->Toggle(4, false);
    EXPECT_FALSE(c->nodes[4]->on);
    EXPECT_TRUE(c->nodes[1]->on);
    c->Toggle(0, true);  // a heading has no switch
    EXPECT_FALSE(c->nodes[0]->on);

    auto out = c->ComposeWrite();
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out[3], 0x01);
    EXPECT_EQ(out[7], 0x80);
}

TEST(Controls, WriteKeepsBitsNoMaskCovers) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<controls size=\"1\"><control offset=\"0\" mask=\"0x0F\" value=\"0x05\"/></controls>"), kPnPLoaded);
    auto* c = First<CPnPControl>(m, kPnPControls);
    const uint8_t rec[1] = {0xF0};
    c->SetRecord(rec, 1);
    EXPECT_FALSE(c->nodes[0]->on);
    c->Toggle(0, true);
    EXPECT_EQ(c->ComposeWrite(), std::vector<uint8_t>{0xF5});
}

TEST(Status, Conditions) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<status size=\"4\">"
                         "<info name=\"always\" mask=\"0\" value=\"0\"/>"
                         "<info name=\"no input\" offset=\"1\" mask=\"0x01\" value=\"0x01\" level=\"9\"/>"
                         "<info name=\"locked\" offset=\"1\" mask=\"0x02\" value=\"0x00\" level=\"-2\"/>"
                         "<info name=\"beyond\" offset=\"9\" mask=\"0\" value=\"0\" level=\"1\"/>"
                         "<info name=\"nested\"><info/></info>"
                         "</status>"),
              kPnPLoaded);
    auto* s = First<CPnPStatus>(m, kPnPStatus);
    ASSERT_EQ(s->nodes.size(), 5u);
    EXPECT_EQ(s->nodes[1]->level, 2);
    EXPECT_EQ(s->nodes[2]->level, 0);
    const uint8_t rec[4] = {0, 0x03, 0, 0};
    EXPECT_EQ(s->Raised(rec, 4), (std::vector<size_t>{0, 1, 4}));
    const uint8_t rec2[4] = {0, 0x00, 0, 0};
    EXPECT_EQ(s->Raised(rec2, 4), (std::vector<size_t>{0, 2, 4}));
}

TEST(Serial, SizesAndText) {
    struct Case {
        const char* size;
        int32_t expect;
    } cases[] = {{"4", 8}, {"8", 8}, {"12", 16}, {"16", 16}, {"200", 128}, {"-5", 8}, {"0x41", 72}};
    for (const auto& c : cases) {
        CPnPModel m;
        ASSERT_EQ(LoadPnp(m, std::string("<serial size=\"") + c.size + "\" address=\"-1\"/>"), kPnPLoaded);
        auto* s = First<CPnPSerial>(m, kPnPSerial);
        EXPECT_EQ(s->size, c.expect) << c.size;
        EXPECT_TRUE(s->FromIdentity());
    }
    const uint8_t b[16] = {0x12, 0x34, 0xAB, 0xCD, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA, 0xB};
    EXPECT_EQ(CPnPSerial::Text(b, 8), "1234-ABCD-0001-0203");
    EXPECT_EQ(CPnPSerial::Text(b, 16), "1234ABCD-00010203-04050607-08090A0B");
}

TEST(Bin, SizeRulesAndLoading) {
    TempDir dir;
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<bin name=\"exact\" size=\"1024\" exact_size=\"1\" extensions=\"bin\">"
                         "<item address=\"0x100\" size=\"5\"/><item address=\"0x600\"/></bin>"
                         "<bin name=\"loose\" size=\"1024\"><item/></bin>"
                         "<bin name=\"tiny\" size=\"-4\"><item/></bin>"),
              kPnPLoaded);
    auto* exact = static_cast<CPnPBin*>(m.elements[0].get());
    auto* loose = static_cast<CPnPBin*>(m.elements[1].get());
    EXPECT_EQ(static_cast<CPnPBin*>(m.elements[2].get())->size, 1);
    EXPECT_EQ(exact->items[0]->size, 1024);
    EXPECT_EQ(exact->items[1]->size, 1024);
    EXPECT_EQ(exact->fileFilter, "Binary files (*.bin)|*.bin|");

    std::string content(1000, '\x11');
    TempDir::WriteAll(dir.File("f.bin"), content);
    EXPECT_EQ(exact->LoadFile(dir.File("f.bin")), kPnPBinWrongSize);
    EXPECT_FALSE(exact->loaded);
    EXPECT_EQ(exact->LoadFile(dir.File("none.bin")), kPnPBinCannotOpen);
    ASSERT_EQ(loose->LoadFile(dir.File("f.bin")), kPnPBinLoaded);
    ASSERT_EQ(loose->data.size(), 1024u);
    EXPECT_EQ(loose->data[999], 0x11);
    for (size_t i = 1000; i < 1024; ++i) EXPECT_EQ(loose->data[i], 0xFF);
    // A longer file gives its first size bytes; a failed load keeps the data.
    TempDir::WriteAll(dir.File("long.bin"), std::string(2000, '\x22'));
    ASSERT_EQ(loose->LoadFile(dir.File("long.bin")), kPnPBinLoaded);
    EXPECT_EQ(loose->data[1023], 0x22);
    EXPECT_EQ(loose->LoadFile(dir.File("none.bin")), kPnPBinCannotOpen);
    EXPECT_EQ(loose->data[0], 0x22);
    TempDir::WriteAll(dir.File("exact.bin"), std::string(1024, '\x33'));
    EXPECT_EQ(exact->LoadFile(dir.File("exact.bin")), kPnPBinLoaded);
}

TEST(LaterKinds, ItemSizesFollowTheirElements) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<pictures width=\"256\" height=\"128\" newformat=\"4\"><item size=\"1\"/></pictures>"
                         "<pictext width=\"100\" height=\"20\" linesize=\"128\" scale=\"3\"><item/></pictext>"
                         "<uit><item address=\"0x100000\" size=\"5\"/></uit>"
                         "<multiscreen width=\"1920\" height=\"1080\">"
                         "<background name=\"Display 1\" address=\"0x400000\" newformat=\"2\" scale=\"3\"/>"
                         "<background name=\"Display 2\" newformat=\"3\" scale=\"0\"/>"
                         "<background name=\"ignored\"/></multiscreen>"),
              kPnPLoaded);
    EXPECT_EQ(m.elements[0]->items[0]->size, 128 * 128 * 5);
    auto* pt = static_cast<CPnPPicText*>(m.elements[1].get());
    EXPECT_EQ(pt->kind, kPnPPicText);
    EXPECT_EQ(pt->scale, 1);
    EXPECT_EQ(pt->items[0]->size, 64 * 20 * 4);
    EXPECT_EQ(m.elements[2]->items[0]->size, CPnPUIT::kLineBytes);
    auto* ms = static_cast<CPnPMultiScreen*>(m.elements[3].get());
    EXPECT_EQ(ms->displays, 2);
    ASSERT_EQ(ms->items.size(), 2u);
    EXPECT_EQ(ms->items[0]->name, "Display 1");
    EXPECT_EQ(ms->items[0]->address, 0x400000u);
    EXPECT_EQ(ms->items[0]->size, 4 * 960 * 1080 / 16);
    EXPECT_EQ(ms->items[1]->size, 0);
}
