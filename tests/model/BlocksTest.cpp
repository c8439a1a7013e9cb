#include "ModelFixture.h"
#include "model/CPnPGroupSettings.h"

#include <string>

TEST(SettingsBlock, NodesFitIncludingTheCrcBytes) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<settings_block name=\"B\" address=\"0x2000\" size=\"16\">"
                         "<node name=\"fits\" address=\"14\" size=\"2\"/>"
                         "<node name=\"over\" address=\"15\" size=\"2\"/>"
                         "<node name=\"three\" address=\"0\" size=\"3\"/>"
                         "<node name=\"check\" address=\"0\" min=\"0\" max=\"1\"/>"
                         "<node name=\"text\" address=\"2\" size=\"12\" type=\"ascii\"/>"
                         "<node name=\"heading\"/>"
                         "</settings_block>"
                         "<settings_block name=\"no record\"><node address=\"0\"/></settings_block>"
                         "<settings_block name=\"huge\" size=\"0x7FFFFFFF\"><node address=\"0\"/></settings_block>"),
              kPnPLoaded);
    auto* b = First<CPnPBlockSettings>(m, kPnPSettingsBlock);
    EXPECT_EQ(b->size, 16);
    EXPECT_EQ(b->blockImage.size(), 16u);
    EXPECT_EQ(b->macroFrom, 0);
    EXPECT_EQ(b->macroTo, -1);
    int expect[] = {kPnPCtlSlider, kPnPCtlNone, kPnPCtlNone, kPnPCtlCheckBox, kPnPCtlTyped, kPnPCtlNone};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(b->nodes[i]->controlKind, expect[i]) << b->nodes[i]->name;

    auto* none = static_cast<CPnPBlockSettings*>(m.elements[1].get());
    EXPECT_EQ(none->size, -1);
    EXPECT_FALSE(none->HasRecord());
    EXPECT_EQ(none->nodes[0]->controlKind, kPnPCtlNone);
    // A size no device record has is refused rather than allocated.
    auto* huge = static_cast<CPnPBlockSettings*>(m.elements[2].get());
    EXPECT_FALSE(huge->HasRecord());
    EXPECT_EQ(huge->nodes[0]->controlKind, kPnPCtlNone);
}

TEST(SettingsBlock, DecodeEncodeSealRoundTrip) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<settings_block size=\"8\">"
                         "<node address=\"0\" size=\"2\" min=\"0\" max=\"1000\"/>"
                         "<node address=\"+\" size=\"4\" type=\"ipaddr\"/>"
                         "</settings_block>"),
              kPnPLoaded);
    auto* b = First<CPnPBlockSettings>(m, kPnPSettingsBlock);
    auto& n0 = *b->nodes[0];
    auto& n1 = *b->nodes[1];
    EXPECT_EQ(n1.address, 2u);
    n0.Encode(b->blockImage, 513, nullptr);
    CPnPSettingsNode::Bytes ip{};
    ip[0] = 10;
    ip[3] = 7;
    n1.Encode(b->blockImage, 0, ip.data());
    b->Seal();
    EXPECT_TRUE(PnPBlockSealOk(b->blockImage));
    n0.value = 0;
    n1.valueBytes.fill(0);
    b->DecodeAll();
    EXPECT_EQ(n0.value, 513);
    EXPECT_EQ(CPnPSettingsNode::IpAddrText(n1.valueBytes.data()), "10.0.0.7");
}

TEST(SettingsGroup, MacroSeries) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<settings_group name=\"Inputs\">"
                         "<settings_block name=\"Input %MACRO%\" group=\"In %MACRO%\" address=\"0x1000\" size=\"64\""
                         " macro_from=\"1\" macro_to=\"4\">"
                         "<node name=\"Input %MACRO% gain\" info=\"%MACRO%/%MACRO%\" address=\"0\"/>"
                         "<node name=\"Mode\" address=\"+\"/>"
                         "</settings_block>"
                         "<settings_block name=\"One %MACRO%\" address=\"0x3000\" size=\"16\" macro_from=\"3\" macro_to=\"3\">"
                         "<node name=\"n%MACRO%\" address=\"+\"/></settings_block>"
                         "<settings_block name=\"Plain %MACRO%\" address=\"0x4000\" size=\"16\">"
                         "<node name=\"p%MACRO%\" address=\"+\"/></settings_block>"
                         "</settings_group>"),
              kPnPLoaded);
    auto* g = First<CPnPGroupSettings>(m, kPnPSettingsGroup);
    ASSERT_EQ(g->blocks.size(), 6u);
    const uint32_t addrs[] = {0x1000, 0x1040, 0x1080, 0x10C0, 0x3000, 0x4000};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(g->blocks[i]->address, addrs[i]);
    EXPECT_EQ(g->blocks[0]->name, "Input 1");
    EXPECT_EQ(g->blocks[3]->group, "In 4");
    EXPECT_EQ(g->blocks[0]->nodes[0]->name, "Input 1 gain");
    EXPECT_EQ(g->blocks[3]->nodes[0]->name, "Input 4 gain");
    EXPECT_EQ(g->blocks[3]->nodes[0]->info, "4/4");
    EXPECT_EQ(g->blocks[4]->name, "One 3");
    EXPECT_EQ(g->blocks[4]->nodes[0]->name, "n3");
    // Without a series the template is used as it stands.
    EXPECT_EQ(g->blocks[5]->name, "Plain %MACRO%");
    EXPECT_EQ(g->blocks[5]->nodes[0]->name, "p%MACRO%");
    // "+" restarts from 0 in every block.
    EXPECT_EQ(g->blocks[4]->nodes[0]->address, 0u);
    EXPECT_EQ(g->blocks[1]->nodes[1]->address, 1u);

    // The group's nodes are copies, block after block, carrying their block index.
    ASSERT_EQ(g->nodes.size(), 10u);
    EXPECT_EQ(g->nodes[2]->name, "Input 2 gain");
    EXPECT_EQ(g->nodes[2]->blockIndex, 1);
    EXPECT_EQ(g->nodes[9]->blockIndex, 5);
    EXPECT_EQ(g->blocks[1]->nodes[0]->blockIndex, 1);
    EXPECT_NE(g->nodes[2].get(), g->blocks[1]->nodes[0].get());
    EXPECT_EQ(g->BlockOf(*g->nodes[2]), g->blocks[1].get());
    EXPECT_EQ(PnPBlockOfNode(g, *g->nodes[8]), g->blocks[4].get());

    // Decoding a copy goes through its block's image.
    auto* blk = g->BlockOf(*g->nodes[6]);
    blk->blockImage[0] = 42;
    g->nodes[6]->Decode(blk->blockImage);
    EXPECT_EQ(g->nodes[6]->value, 42);
    EXPECT_EQ(g->nodes[6]->name, "Input 4 gain");
}

TEST(SettingsGroup, HostileSeriesIsBounded) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<settings_group><settings_block address=\"0\" size=\"16\" macro_from=\"0\" macro_to=\"0x7FFFFFFF\">"
                         "<node address=\"0\"/></settings_block></settings_group>"),
              kPnPLoaded);
    auto* g = First<CPnPGroupSettings>(m, kPnPSettingsGroup);
    EXPECT_EQ(g->blocks.size(), size_t(kPnPMaxSeriesBlocks));
    EXPECT_EQ(g->blocks.back()->address, uint32_t(16 * (kPnPMaxSeriesBlocks - 1)));
}
