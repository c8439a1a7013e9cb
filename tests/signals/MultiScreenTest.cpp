// The multiscreen element, its document, ".mss" files, the overlap rule, label preferences and
// the three kinds of device data. Numbers are worked out by hand from the rules of the layout
// format, not taken from the code.
#include "app/ConfigStore.h"
#include "common/TempDir.h"
#include "model/CPnPModel.h"
#include "model/CPnPMultiScreen.h"
#include "model/ModelFixture.h"
#include "pictures/PictureConvert.h"
#include "signals/MultiScreenDoc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {
std::string Ms(const std::string& attrs, const std::string& body) {
    return "<multiscreen " + attrs + ">" + body + "</multiscreen>";
}

CPnPMultiScreen* LoadMs(CPnPModel& m, const std::string& attrs, const std::string& body) {
    if (LoadPnp(m, Ms(attrs, body)) != kPnPLoaded) return nullptr;
    return First<CPnPMultiScreen>(m, kPnPMultiScreen);
}

// Reads a field back by the packing rule: bit i at block bit (byte * 8 + bit + i), LSB first.
uint32_t Bits(const std::vector<uint8_t>& b, int byte, int bit, int size) {
    uint32_t v = 0;
    for (int i = 0; i < size; ++i) {
        const int q = byte * 8 + bit + i;
        if (b[size_t(q / 8)] >> (q % 8) & 1) v |= 1u << i;
    }
    return v;
}

const CScreenElement* FindEl(const CMultiScreen& doc, int display, int id) {
    for (const auto& l : doc.displays[size_t(display)]->layers)
        for (const auto& e : l->elements)
            if (e->id == id) return e.get();
    return nullptr;
}
CScreenElement* FindEl(CMultiScreen& doc, int display, int id) {
    return const_cast<CScreenElement*>(FindEl(static_cast<const CMultiScreen&>(doc), display, id));
}

const char* kWindowFields =
    " pos_x_offset_bytes=\"0\" pos_x_size=\"12\" pos_y_offset_bytes=\"2\" pos_y_size=\"12\""
    " scale_x_offset_bytes=\"4\" scale_x_size=\"16\" scale_y_offset_bytes=\"6\" scale_y_size=\"16\"";
}  // namespace

// ---- the model element ----

TEST(MultiScreenModel, BackgroundAndCoverSizes) {
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"1920\" height=\"1080\"",
                      "<background newformat=\"0\" scale=\"2\" address=\"0x100\"/>"
                      "<background newformat=\"0\" scale=\"0\"/><cover address=\"0x80000000\" newformat=\"6\"/>");
    ASSERT_TRUE(ms);
    ASSERT_EQ(ms->items.size(), 2u);
    EXPECT_EQ(ms->items[0]->size, 1036800);  // 4 x 960 x 1080 / 4
    EXPECT_EQ(ms->items[1]->size, 0);
    EXPECT_EQ(ms->CoverSize(), 1200128);  // 600064 x 2 displays
    EXPECT_EQ(ms->coverAddress, 0x80000000u);
    ASSERT_EQ(ms->displayList.size(), 2u);
    EXPECT_EQ(ms->displayList[0]->item, 0);
    EXPECT_EQ(ms->displayList[0]->tolLeft, 2);
    EXPECT_EQ(ms->displayList[0]->tolBottom, 6);
    EXPECT_TRUE(ms->displayList[0]->standardDefinition);
}

TEST(MultiScreenModel, ElementsWithDefaultsDescriptorsAndDrops) {
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"1920\" height=\"1080\" size=\"64\"",
                      "<background/>"
                      "<object name=\"Pair\" type=\"audio\"><element type=\"volume\" id=\"9\"/></object>"
                      "<layer name=\"L\">"
                      "<element name=\"W\" type=\"window\" id=\"1\" pos_x_offset_bytes=\"5\" pos_x_offset_bits=\"3\""
                      " pos_x_size=\"12\" parent_area_left=\"1\" parent_area_top=\"2\" parent_area_right=\"3\"/>"
                      "<element type=\"window\" id=\"0\"/>"         // id 0: dropped
                      "<element type=\"Window\" id=\"2\"/>"         // types are case-sensitive
                      "<element type=\"Pair\" id=\"3\" parent_area_left=\"1\" parent_area_top=\"2\""
                      " parent_area_right=\"3\" parent_area_bottom=\"4\"/>"
                      "<element type=\"volume\" id=\"4\"/>"
                      "<element type=\"label\" id=\"5\" fontweight=\"BOLD\" fontsize=\"12\" align=\"Right\"/>"
                      "</layer>");
    ASSERT_TRUE(ms);
    ASSERT_EQ(ms->layers.size(), 1u);
    const auto& els = ms->layers[0]->elements;
    ASSERT_EQ(els.size(), 4u);
    const auto& w = *els[0];
    EXPECT_EQ(w.type, kMsWindow);
    EXPECT_EQ(w.area[0], 8);
    EXPECT_EQ(w.area[1], 8);
    EXPECT_EQ(w.area[2], 1904);
    EXPECT_EQ(w.area[3], 1064);
    EXPECT_EQ(w.maxWidth, 1896);
    EXPECT_EQ(w.maxHeight, 1056);
    EXPECT_EQ(w.scaleWidth, 1920);
    EXPECT_EQ(w.scaleHeight, 1080);
    EXPECT_EQ(w.displayAffinity, 0xFFFFFFFFu);
    EXPECT_EQ(w.defaultDisplay, 1);
    EXPECT_FALSE(w.hasParentArea);  // three of the four corners only
    ASSERT_EQ(w.fields.size(), 4u);  // pos_x, pos_y, scale_x, scale_y
    EXPECT_EQ(w.fields[0].word, 0x0C030005u);
    EXPECT_EQ(els[1]->type, kMsObject);
    EXPECT_EQ(els[1]->objectIndex, 0);
    EXPECT_TRUE(els[1]->hasParentArea);
    EXPECT_EQ(els[2]->type, kMsVolume);
    EXPECT_EQ(els[2]->fields.size(), 7u);
    EXPECT_EQ(els[2]->maxSize, 1896);   // W - 24
    EXPECT_EQ(els[2]->maxWidth, 1056);  // H - 24
    const auto& l = *els[3];
    EXPECT_EQ(l.fontWeight, 700);
    EXPECT_EQ(l.align, TextAlign::Right);
    EXPECT_EQ(l.fontFace, "MS Sans Serif");
    EXPECT_EQ(l.font.height, -16);  // 12 points at 96 dpi

    // An object's elements have no display frame: their display-sized defaults are 0.
    ASSERT_EQ(ms->objects.size(), 1u);
    const auto& ov = *ms->objects[0]->elements[0];
    EXPECT_EQ(ms->objects[0]->width, 960);
    EXPECT_EQ(ov.area[2], 0);
    EXPECT_EQ(ov.maxSize, 0);
    EXPECT_EQ(ov.area[0], 0);
}

TEST(MultiScreenModel, HostileSizesAndCountsAreRefusedBeforeAllocating) {
    std::string many;
    for (int i = 1; i <= 4100; ++i) many += "<element type=\"box\" id=\"" + std::to_string(i) + "\"/>";
    std::string layers;
    for (int i = 0; i < 70; ++i) layers += "<layer/>";
    std::string bigLabels;
    for (int i = 1; i <= 40; ++i)
        bigLabels += "<element type=\"label\" id=\"" + std::to_string(i) + "\" width=\"8192\" height=\"8192\"/>";
    struct Case {
        const char* what;
        std::string attrs, body;
    } cases[] = {
        {"elements", "width=\"64\" height=\"64\"", "<layer>" + many + "</layer>"},
        {"layers", "width=\"64\" height=\"64\"", layers},
        {"label pictures", "width=\"64\" height=\"64\"", "<layer>" + bigLabels + "</layer>"},
        {"display", "width=\"8192\" height=\"8192\"", "<layer><element type=\"box\" id=\"1\"/></layer>"},
        {"settings block", "width=\"64\" height=\"64\" size=\"0x7FFFFFFF\"", "<layer/>"},
    };
    for (const auto& c : cases) {
        CPnPModel m;
        auto* ms = LoadMs(m, c.attrs, c.body);
        ASSERT_TRUE(ms) << c.what;
        EXPECT_FALSE(ms->error.empty()) << c.what;
        EXPECT_TRUE(ms->layers.empty()) << c.what;
        CMultiScreen doc;
        MultiScreenBuild(doc, *ms, false);
        EXPECT_FALSE(doc.built) << c.what;
        EXPECT_TRUE(doc.displays.empty()) << c.what;
    }
}

// ---- building ----

TEST(MultiScreenDocument, DisplaysLayersAffinityAndObjectDisplays) {
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"640\" height=\"360\"",
                      "<background name=\"A\" scale=\"2\"/><background name=\"B\" scale=\"0\" tollerance_left=\"5\"/>"
                      "<object name=\"Obj\" width=\"32\" height=\"16\"><element type=\"box\" id=\"7\" width=\"4\" height=\"4\"/></object>"
                      "<layer name=\"L1\"><element type=\"window\" id=\"1\" display_affinity=\"2\" default_display=\"2\""
                      " default_width=\"100\" default_height=\"50\" default_x=\"10\"/>"
                      "<element type=\"label\" id=\"2\" width=\"40\" height=\"10\" display_affinity=\"3\"/></layer>");
    ASSERT_TRUE(ms);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    ASSERT_TRUE(doc.built);
    EXPECT_EQ(doc.realDisplays, 2);
    ASSERT_EQ(doc.displays.size(), 3u);
    // Display 0: a background layer with the whole display as element 0, opaque black.
    const auto& d0 = *doc.displays[0];
    ASSERT_EQ(d0.layers.size(), 2u);
    EXPECT_TRUE(d0.layers[0]->background);
    EXPECT_EQ(d0.layers[0]->name, "Background");
    const auto& bg = *d0.layers[0]->elements[0];
    EXPECT_EQ(bg.id, 0);
    EXPECT_EQ(bg.picture.Width(), 640);
    EXPECT_EQ(bg.picture.Height(), 360);
    EXPECT_EQ(bg.picture.At(100, 100), 0u);
    // Affinity 2 is the second display only; the label (affinity 3) is on both, visible on
    // its default display 1 (the first).
    EXPECT_EQ(FindEl(doc, 0, 1), nullptr);
    const auto& d1 = *doc.displays[1];
    ASSERT_EQ(d1.layers.size(), 1u);  // scale 0: no background layer
    EXPECT_EQ(d1.tolLeft, 5);
    ASSERT_NE(FindEl(doc, 1, 1), nullptr);
    EXPECT_TRUE(FindEl(doc, 1, 1)->visible);
    EXPECT_EQ(FindEl(doc, 1, 1)->x, 10);
    EXPECT_EQ(FindEl(doc, 1, 1)->width, 100);
    EXPECT_TRUE(FindEl(doc, 0, 2)->visible);
    EXPECT_FALSE(FindEl(doc, 1, 2)->visible);
    EXPECT_TRUE(d0.layers[1]->hasLabels);
    EXPECT_EQ(FindEl(doc, 0, 2)->picture.At(3, 3) >> 24, 255u);  // no background file: transparent
    // The object display follows the real ones.
    const auto& od = *doc.displays[2];
    EXPECT_TRUE(od.objectDisplay);
    EXPECT_EQ(od.objectIndex, 0);
    EXPECT_EQ(od.picture.Width(), 32);
    ASSERT_EQ(od.layers.size(), 1u);
    EXPECT_EQ(od.layers[0]->elements[0]->id, 7);

    MultiScreenBuild(doc, *ms, true);
    EXPECT_FALSE(FindEl(doc, 1, 1)->visible);
    EXPECT_FALSE(FindEl(doc, 0, 2)->visible);
}

TEST(MultiScreenDocument, BackgroundComesFromTheItemFileDoubledBack) {
    TempDir dir;
    // A 4 x 2 format-2 picture (display 8 x 4 at scale 2): one white pair, the rest black.
    std::string raw;
    const uint8_t white[4] = {0x80, 0xEB, 0x80, 0xEB}, black[4] = {0x80, 0x10, 0x80, 0x10};
    for (int pair = 0; pair < 4; ++pair) raw.append(reinterpret_cast<const char*>(pair == 0 ? white : black), 4);
    TempDir::WriteAll(dir.File("bg.raw"), raw);
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"8\" height=\"4\"",
                      "<background scale=\"2\" newformat=\"2\" filename=\"" + dir.File("bg.raw") + "\"/>");
    ASSERT_TRUE(ms);
    EXPECT_EQ(ms->items[0]->size, 16);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    const CPicture& p = doc.displays[0]->layers[0]->elements[0]->picture;
    ASSERT_EQ(p.Width(), 8);
    ASSERT_EQ(p.Height(), 4);
    // The white pair (pixels 0, 1 of row 0) covers 4 x 2 after doubling.
    EXPECT_EQ(p.At(3, 1) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(p.At(4, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(p.At(0, 2) & 0xFFFFFF, 0u);
}

// ---- encoding ----

TEST(MultiScreenEncoding, WorkedValuesOfEveryType) {
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"1920\" height=\"1080\" size=\"32\"",
                      "<background/><background/>"
                      "<layer>"
                      "<element type=\"window\" id=\"1\" default_x=\"100\" default_y=\"10\" default_width=\"960\""
                      " default_height=\"540\" area_left=\"8\" area_step_x=\"4\" display_affinity=\"3\"" +
                          std::string(kWindowFields) +
                          "/>"
                          "<element type=\"volume\" id=\"2\" default_x=\"30\" default_y=\"100\" default_width=\"12\""
                          " default_size=\"200\" size_step=\"8\" pos_x_offset_bytes=\"8\" pos_x_size=\"12\""
                          " pos_y_offset_bytes=\"10\" pos_y_size=\"12\" ch_width_offset_bytes=\"12\" ch_width_size=\"8\""
                          " ch_dist_offset_bytes=\"13\" ch_dist_size=\"8\" scale_offset_bytes=\"14\" scale_size=\"8\""
                          " type_offset_bytes=\"15\" type_size=\"8\" ch_height_offset_bytes=\"16\" ch_height_size=\"8\"/>"
                          "<element type=\"box\" id=\"3\" width=\"10\" height=\"10\" default_x=\"50\" default_y=\"6\""
                          " area_step_y=\"2\" default_display=\"2\" pos_x_offset_bytes=\"18\" pos_x_size=\"8\""
                          " pos_y_offset_bytes=\"19\" pos_y_size=\"8\"/>"
                          "<element type=\"label\" id=\"4\" width=\"10\" height=\"10\" default_x=\"7\""
                          " pos_x_offset_bytes=\"20\" pos_x_size=\"8\"/>"
                          "</layer>");
    ASSERT_TRUE(ms);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    auto b = MultiScreenEncodeSettings(doc, *ms);
    ASSERT_EQ(b.size(), 32u);
    // Window at x 100 with area_left 8 and step 4: 100 / 4, not (100 - 8) / 4.
    EXPECT_EQ(Bits(b, 0, 0, 12), 25u);
    EXPECT_EQ(Bits(b, 2, 0, 12), 10u);
    EXPECT_EQ(Bits(b, 4, 0, 16), 512u);  // 1920 x 256 / 960
    EXPECT_EQ(Bits(b, 6, 0, 16), 512u);  // 1080 x 256 / 540
    // Vertical volume, 12 x 200 at (30, 100): pos_y = (200 + 100) / 1.
    EXPECT_EQ(Bits(b, 8, 0, 12), 30u);
    EXPECT_EQ(Bits(b, 10, 0, 12), 300u);
    EXPECT_EQ(b[12], 4u);                // ch_width = (12 - 4) / 2
    EXPECT_EQ(b[13], 4u + 3u);           // + 12 / 3 - 1
    EXPECT_EQ(b[14], 200u / 8u - 1u);
    EXPECT_EQ(b[15], 1u);                // vertical on display 0
    EXPECT_EQ(b[16], 0u);                // ch_height is not a vertical meter's
    // The box lies on display 1: bit 7 of pos_x; y 6 / step 2.
    EXPECT_EQ(b[18], 50u | 0x80u);
    EXPECT_EQ(b[19], 3u);
    // Labels are not encoded.
    EXPECT_EQ(b[20], 0u);

    // The window moved to the second display gets bit 15 of scale_x; the volume turned
    // horizontal (200 x 12) on display 1 there too.
    FindEl(doc, 0, 1)->visible = false;
    FindEl(doc, 1, 1)->visible = true;
    CScreenElement* v = FindEl(doc, 0, 2);
    v->visible = false;
    CScreenElement* v1 = FindEl(doc, 1, 2);
    v1->visible = true;
    v1->x = 30;
    v1->y = 100;
    v1->width = 200;
    v1->height = 12;
    b = MultiScreenEncodeSettings(doc, *ms);
    EXPECT_EQ(Bits(b, 4, 0, 16), 512u + 32768u);
    EXPECT_EQ(Bits(b, 10, 0, 12), 100u);  // horizontal: pos_y = y / step
    EXPECT_EQ(b[12], 0u);
    EXPECT_EQ(b[16], 4u);                 // ch_height = (12 - 4) / 2
    EXPECT_EQ(b[13], 4u + 3u);
    EXPECT_EQ(b[14], 200u / 8u - 1u);
    EXPECT_EQ(b[15], 2u);                 // horizontal on display 1

    // Nothing visible: pos_x and pos_y 0, the rest untouched (0).
    for (auto& d : doc.displays)
        for (auto& l : d->layers)
            for (auto& e : l->elements) e->visible = false;
    b = MultiScreenEncodeSettings(doc, *ms);
    EXPECT_EQ(std::vector<uint8_t>(32, 0), b);
}

TEST(MultiScreenEncoding, FieldPackingAcrossBytesKeepsOtherBits) {
    std::vector<uint8_t> b = {0xFF, 0xFF, 0xFF, 0x00};
    // 10 bits from bit 5 of byte 0: bits 5..7 of byte 0 and 0..6 of byte 1.
    MsStoreField(b.data(), b.size(), RMsField::Make(0, 5, 10), 0x155);  // 01 0101 0101
    EXPECT_EQ(b[0], 0x1F | 0xA0);  // value bits 0..2 = 1,0,1 -> bits 5..7
    EXPECT_EQ(b[1], 0x80 | 0x2A);  // value bits 3..9 = 0,1,0,1,0,1,0 -> bits 0..6, bit 7 kept
    EXPECT_EQ(b[2], 0xFF);
    // Size 0 stores nothing; bits past the block are dropped.
    MsStoreField(b.data(), b.size(), RMsField::Make(2, 0, 0), 0);
    EXPECT_EQ(b[2], 0xFF);
    MsStoreField(b.data(), b.size(), RMsField::Make(3, 4, 200), 0xFFFFFFFF);
    EXPECT_EQ(b[3], 0xF0);
    // A descriptor's fields: byte offset in 16 bits, 3 bits of bit offset, 8 of size.
    EXPECT_EQ(RMsField::Make(0x12345, 9, 0x1FF).word, 0xFF012345u);
}

TEST(MultiScreenEncoding, StepsOfZeroDoNotDivideByZero) {
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"64\" height=\"64\" size=\"8\"",
                      "<background/><layer><element type=\"volume\" id=\"1\" default_x=\"9\" default_width=\"4\""
                      " default_size=\"30\" area_step_x=\"0\" area_step_y=\"0\" size_step=\"0\" pos_x_offset_bytes=\"0\""
                      " pos_x_size=\"8\" scale_offset_bytes=\"1\" scale_size=\"8\"/>"
                      "<element type=\"window\" id=\"2\" pos_x_offset_bytes=\"2\" pos_x_size=\"8\""
                      " scale_x_offset_bytes=\"3\" scale_x_size=\"8\"/></layer>");
    ASSERT_TRUE(ms);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    auto b = MultiScreenEncodeSettings(doc, *ms);
    EXPECT_EQ(b[0], 9u);
    EXPECT_EQ(b[1], 29u);  // a step of 0 counts as 1
    EXPECT_EQ(b[3], 0u);   // a window of width 0 has no scale
}

// ---- overlap ----

TEST(MultiScreenOverlapCheck, RulesWithinAndAcrossLayers) {
    struct Case {
        const char* what;
        std::string layers;
        bool overlap;
    } cases[] = {
        {"two windows in one layer",
         "<layer><element name=\"A\" type=\"window\" id=\"1\" default_width=\"100\" default_height=\"100\"/>"
         "<element name=\"B\" type=\"window\" id=\"2\" default_x=\"50\" default_y=\"50\" default_width=\"100\" default_height=\"100\"/></layer>",
         true},
        {"one allows overlap",
         "<layer><element type=\"window\" id=\"1\" default_width=\"100\" default_height=\"100\" overlap=\"1\"/>"
         "<element type=\"window\" id=\"2\" default_x=\"50\" default_y=\"50\" default_width=\"100\" default_height=\"100\"/></layer>",
         false},
        {"different layers",
         "<layer><element type=\"window\" id=\"1\" default_width=\"100\" default_height=\"100\"/></layer>"
         "<layer><element type=\"window\" id=\"2\" default_x=\"50\" default_y=\"50\" default_width=\"100\" default_height=\"100\"/></layer>",
         false},
        {"edges touching",
         "<layer><element type=\"window\" id=\"1\" default_width=\"100\" default_height=\"100\"/>"
         "<element type=\"window\" id=\"2\" default_x=\"100\" default_width=\"100\" default_height=\"100\"/></layer>",
         false},
        {"one on another display",
         "<layer><element type=\"window\" id=\"1\" default_width=\"100\" default_height=\"100\"/>"
         "<element type=\"window\" id=\"2\" default_display=\"2\" default_width=\"100\" default_height=\"100\"/></layer>",
         false},
    };
    for (const auto& c : cases) {
        CPnPModel m;
        auto* ms = LoadMs(m, "width=\"640\" height=\"360\"", "<background/><background/>" + c.layers);
        ASSERT_TRUE(ms) << c.what;
        CMultiScreen doc;
        MultiScreenBuild(doc, *ms, false);
        RMsOverlap o;
        EXPECT_EQ(MultiScreenOverlap(doc, o), c.overlap) << c.what;
        if (c.overlap) {
            EXPECT_EQ(o.display, 0);
            EXPECT_EQ(o.layer, 1);  // after the background layer
            EXPECT_EQ(o.first, 0);
            EXPECT_EQ(o.second, 1);
        }
    }
}

// ---- files and preferences ----

namespace {
const char* kLabelLayout =
    "<background name=\"Main\" scale=\"1\"/><background scale=\"0\"/>"
    "<object name=\"Obj\" width=\"40\" height=\"20\"><element type=\"box\" id=\"70\" width=\"4\" height=\"4\"/></object>"
    "<layer><element name=\"Win\" type=\"window\" id=\"1\" default_width=\"50\" default_height=\"40\" display_affinity=\"3\"/>"
    "<element name=\"Lab\" type=\"label\" id=\"2\" width=\"60\" height=\"20\" text=\"Cam\" color=\"0x123456\""
    " font=\"Arial\" fontsize=\"10\" default_x=\"100\" default_y=\"100\"/></layer>";
}

TEST(MultiScreenFile, SaveAndLoadKeepPositionsVisibilityAndA12PointBoldLabel) {
    TempDir dir;
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"160\" height=\"120\"", kLabelLayout);
    ASSERT_TRUE(ms);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    doc.displays[0]->layers[0]->elements[0]->picture.Fill(0x00336699u);
    CScreenElement* win1 = FindEl(doc, 1, 1);
    win1->visible = true;
    win1->x = 12;
    win1->y = 34;
    win1->width = 56;
    CScreenElement* lab = FindEl(doc, 0, 2);
    lab->font = PointFont("Arial", 12, 700);
    lab->colour = 0x00ABCDEF;
    FindEl(doc, 2, 70)->x = 9;
    const std::string path = dir.File("a.mss");
    ASSERT_EQ(MultiScreenSave(doc, *ms, path), 0);

    const std::string f = TempDir::ReadAll(path);
    // Header, the background block of display 0, two records for each display (the label's
    // affinity is every display), one object record.
    ASSERT_EQ(f.size(), 256u + 256u + 160u * 120u * 4u + 5u * 256u);
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, f.data() + at, 4);
        return v;
    };
    EXPECT_EQ(u32(0), 0x1A43534Du);
    EXPECT_EQ(u32(4), 160u);
    EXPECT_EQ(u32(12), 1u);  // display 0 has a background block
    EXPECT_EQ(u32(16), 0u);
    EXPECT_EQ(u32(20), 2u);
    EXPECT_EQ(u32(24), 0u);  // display 1: scale 0
    EXPECT_EQ(u32(32), 2u);
    EXPECT_EQ(u32(36), 1u);
    EXPECT_EQ(std::string(f.data() + 256), "Background");
    EXPECT_EQ(u32(256 + 136), 160u);
    EXPECT_EQ(u32(256 + 140), 120u);
    EXPECT_EQ(u32(512), 0x00336699u);
    const size_t rec = 512 + 160 * 120 * 4 + 256;  // the label, after the window
    EXPECT_EQ(u32(rec), 2u);
    EXPECT_EQ(uint8_t(f[rec + 24]), 1u);
    EXPECT_EQ(std::string(f.data() + rec + 25), "Arial");
    EXPECT_EQ(uint8_t(f[rec + 57]), 12u);
    EXPECT_EQ(uint8_t(f[rec + 58]), 1u);
    EXPECT_EQ(u32(rec + 59), 0x00ABCDEFu);

    CMultiScreen back;
    ASSERT_EQ(MultiScreenLoad(back, *ms, path), 0);
    const CScreenElement* w = FindEl(back, 1, 1);
    EXPECT_TRUE(w->visible);
    EXPECT_EQ(w->x, 12);
    EXPECT_EQ(w->y, 34);
    EXPECT_EQ(w->width, 56);
    EXPECT_TRUE(FindEl(back, 0, 1)->visible);
    EXPECT_FALSE(FindEl(back, 1, 2)->visible);  // invisible stays invisible, not the model's default
    const CScreenElement* l = FindEl(back, 0, 2);
    EXPECT_TRUE(l->visible);
    EXPECT_EQ(FontPoints(l->font), 12);
    EXPECT_EQ(l->font.weight, 700);
    EXPECT_EQ(l->font.FaceName(), "Arial");
    EXPECT_EQ(l->colour, 0x00ABCDEFu);
    EXPECT_EQ(FindEl(back, 2, 70)->x, 9);
    EXPECT_EQ(back.displays[0]->layers[0]->elements[0]->picture.At(5, 5), 0x00336699u);
}

TEST(MultiScreenFile, WrongMissingAndDamagedFiles) {
    TempDir dir;
    CPnPModel big, small;
    auto* msBig = LoadMs(big, "width=\"1920\" height=\"1080\"", "<background scale=\"0\"/><layer><element type=\"box\" id=\"1\"/></layer>");
    auto* msSmall = LoadMs(small, "width=\"1280\" height=\"720\"",
                           "<background scale=\"0\"/><layer><element type=\"box\" id=\"1\" width=\"8\" height=\"8\"/></layer>");
    ASSERT_TRUE(msBig && msSmall);
    CMultiScreen doc;
    MultiScreenBuild(doc, *msBig, false);
    ASSERT_EQ(MultiScreenSave(doc, *msBig, dir.File("big.mss")), 0);
    // A file for 1920 x 1080 in a 1280 x 720 model is corrupt and leaves everything invisible.
    CMultiScreen other;
    MultiScreenBuild(other, *msSmall, false);
    ASSERT_TRUE(FindEl(other, 0, 1)->visible);
    EXPECT_EQ(MultiScreenLoad(other, *msSmall, dir.File("big.mss")), 2);
    EXPECT_FALSE(FindEl(other, 0, 1)->visible);
    EXPECT_EQ(MultiScreenLoad(other, *msSmall, dir.File("none.mss")), 1);

    MultiScreenBuild(doc, *msSmall, false);
    ASSERT_EQ(MultiScreenSave(doc, *msSmall, dir.File("ok.mss")), 0);
    const std::string good = TempDir::ReadAll(dir.File("ok.mss"));
    auto damaged = [&](const std::string& bytes) {
        TempDir::WriteAll(dir.File("bad.mss"), bytes);
        CMultiScreen d;
        return MultiScreenLoad(d, *msSmall, dir.File("bad.mss"));
    };
    EXPECT_EQ(damaged(good), 0);
    EXPECT_EQ(damaged(good.substr(0, good.size() - 1)), 2);  // a record cut short
    EXPECT_EQ(damaged(good.substr(0, 100)), 2);
    std::string s = good;
    s[0] = 'X';
    EXPECT_EQ(damaged(s), 2);
    s = good;
    s[20] = char(0xFF), s[21] = s[22] = s[23] = char(0x7F);  // two billion records
    EXPECT_EQ(damaged(s), 2);
    s = good;
    s[16] = 1;  // an extra picture block that is not there
    EXPECT_EQ(damaged(s), 2);
    s = good;
    s[256 + 12] = char(0xFF), s[256 + 13] = char(0xFF), s[256 + 14] = char(0xFF), s[256 + 15] = char(0x7F);
    EXPECT_EQ(damaged(s), 2);  // an element two billion pixels wide
    // Nothing of a damaged file is taken: the element keeps its place and stays invisible.
    s = good;
    s[256 + 4] = 77;
    s.resize(s.size() - 1);
    CMultiScreen d;
    EXPECT_EQ((TempDir::WriteAll(dir.File("bad.mss"), s), MultiScreenLoad(d, *msSmall, dir.File("bad.mss"))), 2);
    EXPECT_EQ(FindEl(d, 0, 1)->x, 0);
    EXPECT_FALSE(FindEl(d, 0, 1)->visible);

    EXPECT_EQ(MultiScreenSave(doc, *msSmall, dir.File("no/such/folder/x.mss")), 3);
}

TEST(MultiScreenPreferences, LabelFontColourAndTextStoredAndRestored) {
    TempDir dir;
    CConfigStore store(dir.File("VaroConfig.ini"));
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"160\" height=\"120\"", kLabelLayout);
    ASSERT_TRUE(ms);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    CScreenElement* lab = FindEl(doc, 0, 2);
    EXPECT_EQ(lab->text, "Cam");
    EXPECT_EQ(lab->colour, 0x123456u);
    lab->font = PointFont("Arial", 12, 700);
    lab->colour = 0x00FF00;
    lab->text = "Studio A";
    MultiScreenStoreLabel(*lab, store, "HD-X");
    std::string v;
    ASSERT_TRUE(store.Lookup("PnP_Preferences", "model_HD-X_element_2_struct", v));
    EXPECT_EQ(v.size(), 61u * 2u);  // 60 bytes and the checksum, in hex
    EXPECT_EQ(store.ReadInt("PnP_Preferences", "model_HD-X_element_2_int_0", 0), 0x00FF00);
    EXPECT_EQ(store.ReadString("PnP_Preferences", "model_HD-X_element_2_string_0", ""), "Studio A");

    // Only the text when font and colour are not asked for.
    MultiScreenBuild(doc, *ms, false);
    MultiScreenApplyPreferences(doc, store, "HD-X", false);
    lab = FindEl(doc, 0, 2);
    EXPECT_EQ(lab->text, "Studio A");
    EXPECT_EQ(lab->colour, 0x123456u);
    EXPECT_EQ(FontPoints(lab->font), 10);
    MultiScreenApplyPreferences(doc, store, "HD-X", true);
    EXPECT_EQ(lab->colour, 0x00FF00u);
    EXPECT_EQ(FontPoints(lab->font), 12);
    EXPECT_EQ(lab->font.weight, 700);
    // Another model's keys are not ours.
    MultiScreenBuild(doc, *ms, false);
    MultiScreenApplyPreferences(doc, store, "HD-Y", true);
    EXPECT_EQ(FindEl(doc, 0, 2)->text, "Cam");
}

// ---- rendering ----

TEST(MultiScreenRendering, WindowHolesInsetByTheTolerances) {
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"64\" height=\"32\"",
                      "<background scale=\"1\" newformat=\"3\" tollerance_left=\"1\" tollerance_top=\"2\""
                      " tollerance_right=\"3\" tollerance_bottom=\"4\"/>"
                      "<layer><element type=\"window\" id=\"1\" default_x=\"10\" default_y=\"5\" default_width=\"20\""
                      " default_height=\"10\"/></layer><layer><element type=\"box\" id=\"2\" default_x=\"40\""
                      " width=\"8\" height=\"8\"/></layer>");
    ASSERT_TRUE(ms);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    CPicture pic;
    std::vector<uint8_t> bytes;
    std::string err;
    ASSERT_TRUE(MultiScreenBackgroundBytes(doc, *ms, 0, pic, bytes, err)) << err;
    ASSERT_EQ(bytes.size(), size_t(8 * 32 * 32));
    // Format 3: 8 bytes per pair, the opacity in the low byte of each pixel's word.
    auto alpha = [&](int x, int y) { return bytes[size_t(y) * 32 * 8 + size_t(x) * 4]; };
    // The hole runs from (10 + 1, 5 + 2) over (20 - 3) x (10 - 4): x 11..27, y 7..12.
    EXPECT_EQ(alpha(11, 7), 0);
    EXPECT_EQ(alpha(27, 12), 0);
    EXPECT_EQ(alpha(10, 7), 255);
    EXPECT_EQ(alpha(28, 7), 255);
    EXPECT_EQ(alpha(11, 6), 255);
    EXPECT_EQ(alpha(11, 13), 255);
    EXPECT_EQ(alpha(42, 2), 255);  // boxes make no hole
}

TEST(MultiScreenRendering, CoverStacksDisplaysWithLabelsAndMeters) {
    TempDir dir;
    // A 6 x 20 opaque red meter picture for the vertical meter.
    CPicture meter(6, 20);
    meter.Fill(0x00FF0000u);
    ASSERT_EQ(meter.SavePNG(dir.File("v.png")), 0);
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"64\" height=\"32\"",
                      "<background/><background/><cover newformat=\"3\"/>"
                      "<object name=\"O\" width=\"20\" height=\"20\"><element type=\"volume\" id=\"9\" default_x=\"10\""
                      " default_width=\"10\" default_size=\"20\" picture_vertical=\"" + dir.File("v.png") + "\"/></object>"
                      "<layer><element type=\"volume\" id=\"1\" default_x=\"2\" default_y=\"4\" default_width=\"6\""
                      " default_size=\"20\" default_display=\"2\" picture_vertical=\"" + dir.File("v.png") + "\"/>"
                      "<element type=\"O\" id=\"2\" default_x=\"40\" default_y=\"0\" default_width=\"10\" default_height=\"10\"/>"
                      "<element type=\"label\" id=\"3\" width=\"30\" height=\"12\" x=\"0\" y=\"10\" align=\"left\""
                      " text=\"MMMM\" color=\"0xFFFFFF\" default_x=\"20\" default_y=\"16\"/></layer>");
    ASSERT_TRUE(ms);
    EXPECT_EQ(ms->CoverSize(), 8 * 32 * 32 * 2);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    CPicture cover;
    MultiScreenCoverPicture(doc, *ms, cover);
    ASSERT_EQ(cover.Width(), 64);
    ASSERT_EQ(cover.Height(), 64);
    // The meter of display 1 (the second) lies 32 rows down.
    EXPECT_EQ(cover.At(2, 32 + 4), 0x00FF0000u);
    EXPECT_EQ(cover.At(7, 32 + 23), 0x00FF0000u);
    EXPECT_EQ(cover.At(2, 4) >> 24, 255u);
    EXPECT_EQ(cover.At(8, 32 + 4) >> 24, 255u);
    // The object's meter at (10, 0) 10 x 20 in a 20 x 20 object, drawn into a 10 x 10 element
    // at (40, 0): (45, 0) 5 x 10.
    EXPECT_EQ(cover.At(45, 0), 0x00FF0000u);
    EXPECT_EQ(cover.At(49, 9), 0x00FF0000u);
    EXPECT_EQ(cover.At(44, 0) >> 24, 255u);
    EXPECT_EQ(cover.At(50, 0) >> 24, 255u);
    // The label's text, when a font is installed, makes some pixels opaque above its baseline.
    TextExtent ext;
    if (MeasureText("MMMM", FindEl(doc, 0, 3)->font, ext)) {
        int opaque = 0;
        for (int y = 16; y < 26; ++y)
            for (int x = 20; x < 50; ++x) opaque += (cover.At(x, y) >> 24) < 128;
        EXPECT_GT(opaque, 10);
        for (int x = 0; x < 64; ++x) EXPECT_EQ(cover.At(x, 27) >> 24, 255u) << x;  // below the label
    }
    std::vector<uint8_t> bytes;
    std::string err;
    ASSERT_TRUE(MultiScreenCoverBytes(cover, *ms, bytes, err)) << err;
    EXPECT_EQ(bytes.size(), size_t(ms->CoverSize()));
}

TEST(MultiScreenRendering, CompressedCoverWithoutCodecSaysSo) {
    CPnPModel m;
    auto* ms = LoadMs(m, "width=\"64\" height=\"32\"", "<background/><cover newformat=\"6\"/>");
    ASSERT_TRUE(ms);
    SetCompressedPictureCodec(nullptr);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    CPicture cover;
    MultiScreenCoverPicture(doc, *ms, cover);
    std::vector<uint8_t> bytes;
    std::string err;
    EXPECT_FALSE(MultiScreenCoverBytes(cover, *ms, bytes, err));
    EXPECT_NE(err.find("compressed picture format 6"), std::string::npos) << err;
}

// ---- the sample model's layout ----

TEST(MultiScreenSample, SettingsBlockFieldByField) {
    const char* bin = std::getenv("VARO_BIN_DIR");
    ASSERT_TRUE(bin);
    CPnPModel m;
    m.SetProgramFolder(std::string(bin) + "/");
    ASSERT_EQ(m.Load(std::string(bin) + "/ModelsPnP/HD-OVL.xml"), kPnPLoaded);
    auto* ms = First<CPnPMultiScreen>(m, kPnPMultiScreen);
    ASSERT_TRUE(ms);
    ASSERT_TRUE(ms->error.empty()) << ms->error;
    EXPECT_EQ(ms->items[0]->size, 1036800);
    EXPECT_EQ(ms->items[1]->size, 1036800);
    EXPECT_EQ(ms->CoverSize(), 5 * 960 * 1080 * 2);
    CMultiScreen doc;
    MultiScreenBuild(doc, *ms, false);
    RMsOverlap o;
    EXPECT_FALSE(MultiScreenOverlap(doc, o));
    const auto b = MultiScreenEncodeSettings(doc, *ms);
    ASSERT_EQ(b.size(), 256u);

    struct Field {
        const char* what;
        int byte, bit, size;
        uint32_t value;
    } fields[] = {
        // Input 1, display 1: 16 / 8, 16 / 4, 1920 x 256 / 944 = 520.68, 1080 x 256 / 532 = 519.70
        {"Input 1 pos_x", 0, 0, 12, 2},
        {"Input 1 pos_y", 2, 0, 12, 4},
        {"Input 1 scale_x", 4, 0, 16, 521},
        {"Input 1 scale_y", 6, 0, 12, 520},
        {"Input 2 pos_x", 8, 0, 12, 120},  // 960 / 8
        {"Input 2 pos_y", 10, 0, 12, 4},
        {"Input 2 scale_x", 12, 0, 16, 521},
        {"Input 2 scale_y", 14, 0, 12, 520},
        // Inputs 3 and 4 show on the second display: bit 15 of scale_x.
        {"Input 3 pos_x", 16, 0, 12, 2},
        {"Input 3 pos_y", 18, 0, 12, 135},  // 540 / 4
        {"Input 3 scale_x", 20, 0, 16, 521 + 32768},
        {"Input 3 scale_y", 22, 0, 12, 520},
        {"Input 4 pos_x", 24, 0, 12, 120},
        {"Input 4 pos_y", 26, 0, 12, 135},
        {"Input 4 scale_x", 28, 0, 16, 521 + 32768},
        {"Input 4 scale_y", 30, 0, 12, 520},
        // Audio 1: vertical 16 x 240 at (24, 40), steps 1, size_step 8, display 1.
        {"Audio 1 pos_x", 32, 0, 12, 24},
        {"Audio 1 pos_y", 34, 0, 12, 280},  // (240 + 40) / 1
        {"Audio 1 ch_width", 36, 0, 6, 5},  // (16 - 5) / 2
        {"Audio 1 ch_dist", 36, 6, 6, 9},   // 5 + (5 - 1)
        {"Audio 1 scale", 38, 0, 8, 29},    // 240 / 8 - 1
        {"Audio 1 type", 39, 0, 2, 1},
        {"Audio 1 ch_height", 39, 2, 6, 0},
        // Labels are not in the block.
        {"Title 1 pos_x", 40, 0, 12, 0},
        {"Title 1 pos_y", 42, 0, 12, 0},
        {"Tally box pos_x", 44, 0, 12, 860},
        {"Tally box pos_y", 46, 0, 12, 24},
        // Audio 3: vertical 16 x 200 at (24, 40) on the second display.
        {"Audio 3 pos_x", 48, 0, 12, 24},
        {"Audio 3 pos_y", 50, 0, 12, 240},
        {"Audio 3 ch_width", 52, 0, 6, 5},
        {"Audio 3 ch_dist", 52, 6, 6, 9},
        {"Audio 3 scale", 54, 0, 8, 24},  // 200 / 8 - 1
        {"Audio 3 type", 55, 0, 2, 3},
        // Stereo 1: object element 64 x 240 at (1832, 40), steps 8 and 4, native scale.
        {"Stereo 1 pos_x", 56, 0, 12, 229},
        {"Stereo 1 pos_y", 58, 0, 12, 10},
        {"Stereo 1 scale_x", 60, 0, 16, 256},
        {"Stereo 1 scale_y", 62, 0, 12, 256},
        // Its meters in object coordinates: 24 x 240 at (0, 0) and (40, 0), found in the
        // object display, so with the first display's codes.
        {"Left pos_x", 64, 0, 8, 0},
        {"Left pos_y", 65, 0, 8, 240},
        {"Left ch_width", 66, 0, 6, 8},  // (24 - 8) / 2
        {"Left ch_dist", 66, 6, 6, 15},  // 8 + (8 - 1)
        {"Left scale", 68, 0, 8, 29},
        {"Left type", 69, 0, 2, 1},
        {"Right pos_x", 72, 0, 8, 40},
        {"Right pos_y", 73, 0, 8, 240},
        {"Right ch_width", 74, 0, 6, 8},
        {"Right ch_dist", 74, 6, 6, 15},
        {"Right scale", 76, 0, 8, 29},
        {"Right type", 77, 0, 2, 1},
    };
    std::vector<bool> covered(256 * 8, false);
    for (const auto& f : fields) {
        EXPECT_EQ(Bits(b, f.byte, f.bit, f.size), f.value) << f.what;
        for (int i = 0; i < f.size; ++i) covered[size_t(f.byte * 8 + f.bit + i)] = true;
    }
    for (size_t q = 0; q < covered.size(); ++q)
        if (!covered[q]) EXPECT_EQ(b[q / 8] >> (q % 8) & 1, 0) << "stray bit " << q;
}
