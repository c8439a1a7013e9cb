#include "ModelFixture.h"
#include "model/CPnPSettings.h"
#include "pictures/PictureConvert.h"

#include <cstdlib>

#include <cstring>
#include <string>

namespace {
CPnPSettings* LoadSettings(CPnPModel& m, const std::string& nodes, const std::string& attrs = "") {
    EXPECT_EQ(LoadPnp(m, "<settings name=\"S\" " + attrs + ">" + nodes + "</settings>"), kPnPLoaded);
    return First<CPnPSettings>(m, kPnPSettings);
}
}  // namespace

TEST(SettingsNode, TreeInPreOrderWithRunningAddress) {
    CPnPModel m;
    auto* s = LoadSettings(m, "<node name=\"A\" address=\"0x10\" size=\"2\">"
                              "  <node name=\"heading\"><node name=\"B\" address=\"+\"/></node>"
                              "</node>"
                              "<node name=\"C\" address=\"+\" collapse=\"1\"/>");
    ASSERT_EQ(s->nodes.size(), 4u);
    const char* names[] = {"A", "heading", "B", "C"};
    int depths[] = {0, 1, 2, 0};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(s->nodes[i]->name, names[i]);
        EXPECT_EQ(s->nodes[i]->depth, depths[i]);
    }
    EXPECT_EQ(s->nodes[0]->address, 0x10u);
    EXPECT_FALSE(s->nodes[1]->HasAddress());
    EXPECT_EQ(s->nodes[1]->controlKind, kPnPCtlNone);
    EXPECT_EQ(s->nodes[2]->address, 0x12u);
    EXPECT_EQ(s->nodes[3]->address, 0x13u);
    EXPECT_TRUE(s->nodes[3]->collapse);
    EXPECT_EQ(s->nodes[0]->controlKind, kPnPCtlAddressed);
    EXPECT_EQ(s->nodes[0]->blockIndex, -1);
    EXPECT_TRUE(s->nodes[0]->enabled);
    EXPECT_EQ(s->currentNode, -1);
}

TEST(SettingsNode, SizesTypesAndDefaults) {
    CPnPModel m;
    auto* s = LoadSettings(m,
                           "<node address=\"0\" size=\"300\" type=\"ascii\" default=\"Studio 1\"/>"
                           "<node address=\"0\" size=\"8\"/>"
                           "<node address=\"0\" size=\"4\" type=\"IPADDR\" default=\"C0A80164\"/>"
                           "<node address=\"0\" size=\"32\" type=\"1\"/>"
                           "<node address=\"0\" size=\"8\" type=\"Hex\" min=\"0x10\" max=\"0xFFFF\" default=\"0x1234\"/>"
                           "<node address=\"0\" size=\"3\" type=\"color\" default=\"EB8080\" saturation=\"70\"/>"
                           "<node address=\"0\" type=\"fancy\" min=\"-10\" max=\"10\" step=\"2\" default=\"-3\"/>"
                           "<node address=\"0\" size=\"4\" type=\"asciiz\" default=\"toolong\"/>");
    auto& n = s->nodes;
    ASSERT_EQ(n.size(), 8u);
    EXPECT_EQ(n[0]->size, 256);
    EXPECT_EQ(n[0]->type, kPnPTypeAscii);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(n[0]->defaultBytes.data())), "Studio 1");
    EXPECT_EQ(n[0]->min, 0);
    EXPECT_EQ(n[0]->max, 1);
    EXPECT_EQ(n[1]->size, 4);
    EXPECT_EQ(n[1]->type, kPnPTypeNumeric);
    EXPECT_EQ(n[2]->type, kPnPTypeIpAddr);
    EXPECT_EQ(n[2]->defaultBytes[0], 0xC0);
    EXPECT_EQ(n[2]->defaultBytes[3], 0x64);
    EXPECT_EQ(n[3]->type, kPnPTypeIpOut);
    EXPECT_EQ(n[4]->type, kPnPTypeHex);
    EXPECT_EQ(n[4]->size, 4);
    EXPECT_EQ(n[4]->min, 0x10);
    EXPECT_EQ(n[4]->def, 0x1234);
    EXPECT_EQ(n[4]->defaultBytes[0], 0x34);
    EXPECT_EQ(n[4]->defaultBytes[1], 0x12);
    EXPECT_EQ(n[5]->type, kPnPTypeColor);
    EXPECT_EQ(n[5]->saturation, 70);
    EXPECT_EQ(n[5]->defaultBytes[0], 0xEB);
    EXPECT_EQ(n[5]->defaultBytes[2], 0x80);
    EXPECT_EQ(n[6]->type, kPnPTypeNumeric);
    EXPECT_EQ(n[6]->min, -10);
    EXPECT_EQ(n[6]->step, 2);
    EXPECT_EQ(n[6]->def, -3);
    // asciiz takes at most size bytes of the default text.
    EXPECT_EQ(std::memcmp(n[7]->defaultBytes.data(), "tool\0", 5), 0);
    for (auto& node : n) EXPECT_EQ(node->value, 0);
}

TEST(SettingsNode, InfoScalingAndClamps) {
    CPnPModel m;
    auto* s = LoadSettings(m,
                           "<node info=\"a^b\" info_type=\"7\" a=\"-1\" b=\"0\" decimals=\"3\"/>"
                           "<node info_type=\"-3\" a=\"0.5\" decimals=\"12\"/>"
                           "<node a=\"1\" b=\"0.1\" decimals=\"-1\" deadzone_max=\"10.0\"/>");
    auto& n = s->nodes;
    EXPECT_EQ(n[0]->info, "a\r\nb");
    EXPECT_EQ(n[0]->infoIcon, 2);
    EXPECT_FALSE(n[0]->scaled);
    EXPECT_EQ(n[0]->decimals, 0);  // read only when scaled
    EXPECT_EQ(n[1]->infoIcon, 0);
    EXPECT_TRUE(n[1]->scaled);
    EXPECT_EQ(n[1]->decimals, 8);
    EXPECT_TRUE(n[2]->scaled);
    EXPECT_EQ(n[2]->decimals, 0);
    EXPECT_DOUBLE_EQ(n[2]->deadZoneMax, 10.0);
    EXPECT_DOUBLE_EQ(n[2]->deadZoneMin, -9999999.0);
}

TEST(SettingsNode, DisplayValue) {
    CPnPSettingsNode n;
    EXPECT_EQ(n.DisplayText(-7), "-7");
    n.scaled = true;
    n.a = 0.5;
    n.decimals = 1;
    EXPECT_EQ(n.DisplayText(5), "2.5");
    n.decimals = 0;
    EXPECT_EQ(n.DisplayText(5), "3");
    EXPECT_EQ(n.DisplayText(-5), "-3");
    n.a = 1.0;
    n.b = 0.1;
    n.deadZoneMax = 10.0;
    EXPECT_EQ(n.DisplayText(500), "10");
    n.deadZoneMin = -2.0;
    EXPECT_EQ(n.DisplayText(-500), "-2");
}

TEST(SettingsNode, FlagItems) {
    CPnPModel m;
    auto* s = LoadSettings(m, "<node address=\"0\">"
                              "<checkbox mask=\"0x03\" value=\"1\" name=\"a\"/>"
                              "<checkbox mask=\"0x01\" value=\"1\" name=\"b\"/>"
                              "<checkbox mask=\"0x80\" value=\"0x80\" name=\"c\"/>"
                              "<checkbox mask=\"0x104\" value=\"0x04\" name=\"d\"/>"
                              "</node>"
                              "<node address=\"1\">" +
                                  std::string(10 * 1, ' ') +
                                  "<checkbox/><checkbox/><checkbox/><checkbox/><checkbox/>"
                                  "<checkbox/><checkbox/><checkbox/><checkbox/><checkbox/></node>");
    auto* n = s->nodes[0].get();
    ASSERT_EQ(n->flagItems.size(), 4u);
    EXPECT_TRUE(n->flagItems[0].exclusive);
    EXPECT_TRUE(n->flagItems[1].exclusive);
    EXPECT_FALSE(n->flagItems[2].exclusive);
    EXPECT_EQ(n->flagItems[3].mask, 0x04);  // low 8 bits
    EXPECT_FALSE(n->flagItems[3].exclusive);
    EXPECT_EQ(s->nodes[1]->flagItems.size(), 8u);

    // Value 0x05: item d (mask 0x04, value 0x04) shows checked; clicking it gives 0x01.
    n->value = 0x05;
    EXPECT_TRUE(n->FlagItemChecked(3));
    EXPECT_EQ(n->SetFlagItem(3), 0x01);
    n->value = 0x01;
    EXPECT_EQ(n->SetFlagItem(3), 0x05);
    // Radio item a on 0x86 (mask 0x03 shared with b): clears 0x03, sets 0x01.
    n->value = 0x86;
    EXPECT_EQ(n->SetExclusiveFlagItem(0), 0x85);
    n->value = 0x85;
    EXPECT_EQ(n->SetExclusiveFlagItem(0), 0x85);  // already chosen: unchanged
}

TEST(SettingsNode, SliderStepsAndReversedRanges) {
    CPnPSettingsNode n;
    n.min = 0;
    n.max = 100;
    n.step = 5;
    EXPECT_EQ(n.SliderRange(), 100);
    EXPECT_EQ(n.SliderToValue(12), 10);
    EXPECT_EQ(n.SliderToValue(13), 15);  // remainder of at least half a step rounds up
    EXPECT_EQ(n.SliderToValue(98), 100);
    EXPECT_EQ(n.SliderToValue(500), 100);
    n.value = 3;
    EXPECT_EQ(n.StepDown(), 0);
    EXPECT_EQ(n.StepUp(), 8);
    n.value = 98;
    EXPECT_EQ(n.StepUp(), 100);
    EXPECT_EQ(n.ValueToSlider(40), 40);

    // Reversed: min 10, max -10. Position 0 is min.
    CPnPSettingsNode r;
    r.min = 10;
    r.max = -10;
    r.step = 1;
    EXPECT_EQ(r.SliderRange(), 20);
    EXPECT_EQ(r.SliderToValue(0), 10);
    EXPECT_EQ(r.SliderToValue(20), -10);
    EXPECT_EQ(r.SliderToValue(5), 5);
    EXPECT_EQ(r.ValueToSlider(5), 5);
    r.value = 9;
    EXPECT_EQ(r.StepDown(), 10);
    EXPECT_EQ(r.StepUp(), 8);
    r.value = -10;
    EXPECT_EQ(r.StepUp(), -10);
}

TEST(SettingsNode, ControlKindRule) {
    CPnPSettingsNode n;
    EXPECT_EQ(n.QualifiedControlKind(), kPnPCtlSlider);
    n.max = 1;
    EXPECT_EQ(n.QualifiedControlKind(), kPnPCtlCheckBox);
    n.flagItems.resize(1);
    EXPECT_EQ(n.QualifiedControlKind(), kPnPCtlFlags);
    n.listItems.resize(1);
    EXPECT_EQ(n.QualifiedControlKind(), kPnPCtlList);
    n.type = kPnPTypeAscii;
    EXPECT_EQ(n.QualifiedControlKind(), kPnPCtlTyped);
}

TEST(SettingsNode, RegisterLimits) {
    CPnPModel m;
    auto* s = LoadSettings(m, "<node address=\"2\"/><node address=\"3\"><list value=\"1\" name=\"x\"/></node><node/>",
                           "address=\"0x100\"");
    const uint8_t disabled[4] = {5, 5, 7, 1}, list[4] = {0, 3, 1, 1};
    s->nodes[0]->ApplyRegisterLimits(disabled);
    EXPECT_FALSE(s->nodes[0]->enabled);
    EXPECT_EQ(s->nodes[0]->controlKind, kPnPCtlAddressed);
    s->nodes[1]->ApplyRegisterLimits(list);
    EXPECT_TRUE(s->nodes[1]->enabled);
    EXPECT_EQ(s->nodes[1]->controlKind, kPnPCtlList);
    EXPECT_EQ(s->RegisterAddress(*s->nodes[1]), 0x103u);
    auto defs = s->RegisterDefaults();
    ASSERT_EQ(defs.size(), 1u);
    EXPECT_EQ(defs[0], (std::pair<uint32_t, uint8_t>{0x103, 1}));
}

TEST(SettingsNode, DecodeEncodeAndValidity) {
    std::vector<uint8_t> img = {0xFF, 0xFE, 0xFF, 0x78, 0x56, 0x34, 0x12, 0, 0, 0};
    CPnPSettingsNode n;
    n.address = 0;
    n.size = 1;
    n.controlKind = kPnPCtlSlider;
    n.min = -10;
    n.max = 10;
    n.Decode(img);
    EXPECT_EQ(n.value, -1);
    n.min = 0;
    n.max = 255;
    n.Decode(img);
    EXPECT_EQ(n.value, 255);
    n.address = 1;
    n.size = 2;
    n.Decode(img);
    EXPECT_EQ(n.value, 0xFFFE);
    n.min = -100;
    n.Decode(img);
    EXPECT_EQ(n.value, -2);
    n.address = 3;
    n.size = 4;
    n.Decode(img);
    EXPECT_EQ(n.value, 0x12345678);
    // Out of the image: left unchanged, nothing touched.
    n.address = 8;
    n.Decode(img);
    EXPECT_EQ(n.value, 0x12345678);
    n.Encode(img, 7, nullptr);
    EXPECT_EQ(img[8], 0);
    EXPECT_EQ(n.value, 7);

    n.address = 7;
    n.size = 2;
    n.Encode(img, 0x1234, nullptr);
    EXPECT_EQ(img[7], 0x34);
    EXPECT_EQ(img[8], 0x12);

    n.min = 0;
    n.max = 100;
    n.def = 50;
    n.value = 101;
    EXPECT_TRUE(n.NeedsReset());
    n.ResetToDefault();
    EXPECT_EQ(n.value, 50);
    EXPECT_FALSE(n.NeedsReset());
    n.max = 0;  // equal limits: never reset
    n.value = 101;
    EXPECT_FALSE(n.NeedsReset());

    CPnPSettingsNode t;
    t.type = kPnPTypeDec;
    t.controlKind = kPnPCtlTyped;
    t.address = 0;
    t.size = 4;
    t.min = 10;
    t.max = 1000;
    t.Decode(img);
    EXPECT_TRUE(t.NeedsReset());  // bytes FF FE FF 78
    t.valueBytes.fill(0);
    t.valueBytes[0] = 200;
    EXPECT_FALSE(t.NeedsReset());
    CPnPSettingsNode::Bytes nb{};
    nb[0] = 200;
    EXPECT_FALSE(t.IsChanged(t.value, nb.data()));
    nb[3] = 1;
    EXPECT_TRUE(t.IsChanged(t.value, nb.data()));
    EXPECT_TRUE(t.IsChanged(t.value + 1, t.valueBytes.data()));
    nb.fill(0);
    nb[0] = 0x2A;
    t.Encode(img, 0, nb.data());
    EXPECT_EQ(img[0], 0x2A);
    EXPECT_EQ(img[1], 0);
    EXPECT_EQ(t.valueBytes[0], 0x2A);
}

TEST(SettingsNode, SealIsModbusCrcLowByteFirst) {
    EXPECT_EQ(PnPCrc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x4B37);
    std::vector<uint8_t> img = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0, 0};
    PnPSealBlock(img);
    uint16_t crc = PnPCrc16(img.data(), 6);
    EXPECT_EQ(img[6], crc & 0xFF);
    EXPECT_EQ(img[7], crc >> 8);
    EXPECT_TRUE(PnPBlockSealOk(img));
    img[0] ^= 1;
    EXPECT_FALSE(PnPBlockSealOk(img));
    // The CRC over everything including a correct seal is zero.
    img[0] ^= 1;
    EXPECT_EQ(PnPCrc16(img.data(), img.size()), 0);
}

TEST(SettingsNode, TypedEditors) {
    CPnPSettingsNode n;
    CPnPSettingsNode::Bytes out{};
    n.size = 2;
    n.min = 0x10;
    n.max = 0x1000;
    n.type = kPnPTypeHex;
    n.ParseHex("0FFZ", out);
    EXPECT_EQ(n.TypedNumber(out), 0xFFu);
    n.ParseHex("FFFFFF", out);  // 4 digits read for size 2, then limited
    EXPECT_EQ(n.TypedNumber(out), 0x1000u);
    n.ParseHex("", out);
    EXPECT_EQ(n.TypedNumber(out), 0x10u);
    n.type = kPnPTypeDec;
    n.max = 100000;
    n.ParseDec("99999999999", out);  // ten digits at most, then limited
    EXPECT_EQ(n.TypedNumber(out), 100000u);
    n.ParseDec("42", out);
    EXPECT_EQ(n.TypedNumber(out), 42u);

    n.type = kPnPTypeAsciiz;
    n.size = 4;
    n.ParseText("ABCDEF", out);
    EXPECT_EQ(std::memcmp(out.data(), "ABC\0\0", 5), 0);
    n.type = kPnPTypeAscii;
    n.ParseText("ABCDEF", out);
    EXPECT_EQ(std::memcmp(out.data(), "ABCD\0", 5), 0);

    const std::string ip[4] = {"192", "168", "1", "300"};
    n.ParseIpAddr(ip, out);
    EXPECT_EQ(CPnPSettingsNode::IpAddrText(out.data()), "192.168.1.255");
    const std::string partial[4] = {"10", "", "0", "1"};
    n.ParseIpAddr(partial, out);
    EXPECT_EQ(CPnPSettingsNode::IpAddrText(out.data()), "");

    CPnPSettingsNode::ColourBytes(0x00F0801Eu, out);
    EXPECT_EQ(out[0], 0x1E);
    EXPECT_EQ(out[1], 0x80);
    EXPECT_EQ(out[2], 0xF0);
}

TEST(SettingsNode, StreamOutputDescriptor) {
    CPnPSettingsNode::Bytes cur{};
    for (size_t i = 0; i < 32; ++i) cur[i] = uint8_t(0xA0 + i);
    PnPStreamOutput f;
    f.ip[0] = 239;
    f.ip[1] = 1;
    f.ip[2] = 2;
    f.ip[3] = 3;
    f.port = 5004;
    f.mode = 0x0102;
    f.protocol = 2;
    f.noStuffing = true;
    f.tos = 0xB8;
    CPnPSettingsNode::Bytes out{};
    CPnPSettingsNode::BuildStreamStart(cur, f, out);
    EXPECT_EQ(out[0], 0x11);
    EXPECT_EQ(out[1], 0xA1);  // kept
    EXPECT_EQ(out[6], 5004 >> 8);
    EXPECT_EQ(out[7], 5004 & 0xFF);
    EXPECT_EQ(out[8], 0x01);
    EXPECT_EQ(out[10], 0xB2);  // bits 5-7 of 0xAA kept, stuffing bit and protocol 2 set
    EXPECT_EQ(out[12], 0xAC);  // kept
    auto back = CPnPSettingsNode::DecodeStreamOutput(out.data());
    EXPECT_TRUE(back.running);
    EXPECT_EQ(back.port, 5004);
    EXPECT_EQ(back.mode, 0x0102);
    EXPECT_EQ(back.protocol, 2);
    EXPECT_TRUE(back.noStuffing);
    EXPECT_EQ(back.ip[0], 239);
    CPnPSettingsNode::BuildStreamStop(out, cur);
    EXPECT_EQ(cur[0], 0x10);
    EXPECT_FALSE(CPnPSettingsNode::DecodeStreamOutput(cur.data()).running);
}

TEST(SettingsNode, ColourChoice) {
    CPnPSettingsNode n;
    n.type = kPnPTypeColor;
    n.size = 3;
    CPnPSettingsNode::Bytes out{};
    // White at full saturation: Y 235, Cb = Cr = 128.
    ASSERT_TRUE(n.ChooseColour(0x00FFFFFF, 0x00000000, &ColourToDevice, out));
    EXPECT_EQ(out[0], 235);
    EXPECT_EQ(out[1], 128);
    EXPECT_EQ(out[2], 128);
    // Picking what is shown changes nothing.
    EXPECT_FALSE(n.ChooseColour(0x000000FF, 0x000000FF, &ColourToDevice, out));
    // A saturation limit below 100 pulls a pure red's chroma in; outside 10..100 counts as 100.
    CPnPSettingsNode::Bytes full{}, limited{};
    n.saturation = 5;
    ASSERT_TRUE(n.ChooseColour(0x000000FF, 0, &ColourToDevice, full));
    n.saturation = 50;
    ASSERT_TRUE(n.ChooseColour(0x000000FF, 0, &ColourToDevice, limited));
    EXPECT_EQ(full[2], uint8_t(ColourToDevice(0x000000FF, 100) >> 16));
    EXPECT_LT(std::abs(int(limited[2]) - 128), std::abs(int(full[2]) - 128));
}
