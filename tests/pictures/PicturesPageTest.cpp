// The pictures and text label elements and their page against a scripted engine: attributes,
// the size rules of loading (odd shapes, scale), raw files, hostile sizes, slot reads and
// writes, the luma key on Load, the text label with its preferences, and the preview.
#include "app/ConfigStore.h"
#include "app/MainSettings.h"
#include "common/TempDir.h"
#include "elementpages/FakeDevice.h"
#include "model/CPnPPics.h"
#include "pictures/LoadingOptions.h"
#include "pictures/PictureConvert.h"
#include "pictures/PicturesPage.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
struct AnsweringUi : FakeUi {
    bool AskYesNo(const std::string&, MsgIcon, bool) override { return true; }
};

struct Rig : FakeDeviceContext<FakeEngine, AnsweringUi> {
    Rig(const std::string& pnp, int interfaceChoice = 3)
        : FakeDeviceContext("<device><pnp>" + pnp + "</pnp></device>", 0x30000) {
        ctx.interfaceChoice = interfaceChoice;
        ctx.effectiveModelName = "TEST-MODEL";
    }
    CPnPPics& Pics(size_t i = 0) { return *static_cast<CPnPPics*>(model.elements[i].get()); }
    CPnPPicText& Text(size_t i = 0) { return *static_cast<CPnPPicText*>(model.elements[i].get()); }
    void Done() { ops.Completed(0, 0); }
};

// A picture with a different colour in every pixel's neighbourhood, so shifted rows show.
CPicture Pattern(int w, int h, uint32_t seed = 1) {
    CPicture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.At(x, y) = ((x * 7 + y * 13 + seed) & 0xFF) | (((x * 3) & 0xFF) << 8) | ((y & 0xFF) << 16);
    return p;
}

std::string SavedPng(TempDir& dir, const std::string& name, const CPicture& pic) {
    const std::string path = dir.File(name);
    EXPECT_EQ(pic.SavePNG(path), 0);
    return path;
}

std::vector<uint8_t> Converted(const CPnPPics& el, const CPicture& pic, int line) {
    std::vector<uint8_t> buf(size_t(el.BufferSize()), 0);
    EXPECT_TRUE(PictureToDevice(pic, !el.standardDefinition, el.format, el.saturation, buf.data(), buf.size(), line));
    return buf;
}

bool SamePixels(const CPicture& a, const CPicture& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::memcmp(a.Pixels(), b.Pixels(), size_t(a.Width()) * size_t(a.Height()) * 4) == 0;
}
}  // namespace

TEST(PicturesElement, AttributesAndSizes) {
    Rig r(R"(<pictures name="Tiny" width="2" height="2"><item name="A"/></pictures>
             <pictures name="SD" newformat="3" width="720" linesize="720" height="576" hdtv="1" saturation="0x50"
                       lumakey="1" mode="Resize" resizable="1" scale="0"><item name="A"/><item name="B"/></pictures>
             <pictures mode="RESIZE"><item/></pictures><pictures mode="stretch"><item/></pictures>
             <pictures mode="Crop"><item/></pictures><pictures mode="aspect"><item/></pictures>
             <pictext name="Caption" width="100" height="20" linesize="128" scale="3" resizable="1"><item/></pictext>
             <pictext name="Right" align="RIGHT" x="90" y="0x10" color="0x0000FF" font="Arial" fontsize="28"><item/></pictext>)");
    CPnPPics& tiny = r.Pics(0);
    EXPECT_EQ(tiny.width, 4);
    EXPECT_EQ(tiny.height, 4);
    EXPECT_EQ(tiny.EffectiveLineLength(), 4);
    EXPECT_EQ(tiny.items[0]->size, 2 * 4 * 4);
    EXPECT_TRUE(tiny.Usable());
    EXPECT_FALSE(tiny.loaded);

    CPnPPics& sd = r.Pics(1);
    EXPECT_EQ(sd.BufferSize(), 1658880);
    EXPECT_EQ(sd.items[0]->size, 1658880);
    EXPECT_EQ(sd.items[1]->size, 1658880);
    EXPECT_FALSE(sd.standardDefinition);
    EXPECT_EQ(sd.saturation, 0x50);
    EXPECT_TRUE(sd.lumaKeyAllowed);
    EXPECT_TRUE(sd.resizable);
    EXPECT_EQ(sd.scale, 1);  // 0 would halve a negative number of times
    EXPECT_EQ(sd.loadMode, CPicture::kLoadResize);
    const int modes[] = {CPicture::kLoadResize, CPicture::kLoadNone, CPicture::kLoadCrop, CPicture::kLoadAspect};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.Pics(size_t(2 + i)).loadMode, modes[i]) << i;

    CPnPPicText& cap = r.Text(6);
    EXPECT_EQ(cap.kind, kPnPPicText);
    EXPECT_EQ(cap.scale, 1);
    EXPECT_FALSE(cap.resizable);
    EXPECT_EQ(cap.elementName, "Caption");
    EXPECT_EQ(cap.alignment, TextAlign::Centre);
    EXPECT_EQ(cap.defaultFont.FaceName(), "MS Sans Serif");
    EXPECT_EQ(FontPoints(cap.defaultFont), 10);
    EXPECT_EQ(cap.defaultColour, 0u);
    EXPECT_FALSE(cap.hasBackground);
    CPnPPicText& right = r.Text(7);
    EXPECT_EQ(right.alignment, TextAlign::Right);
    EXPECT_EQ(right.x, 90);
    EXPECT_EQ(right.y, 16);
    EXPECT_EQ(right.defaultColour, 0x0000FFu);
    EXPECT_EQ(right.colour, 0x0000FFu);
    EXPECT_EQ(right.defaultFont.FaceName(), "Arial");
    EXPECT_EQ(FontPoints(right.defaultFont), 28);
}

// A hostile model: nothing is allocated for it, Load says why and changes nothing.
TEST(PicturesElement, SizesNothingCanHoldAreRefusedBeforeAllocating) {
    TempDir dir;
    const std::string png = SavedPng(dir, "p.png", Pattern(8, 8));
    const char* cases[] = {
        R"(<pictures width="8192" height="8192" scale="2147483647"><item/></pictures>)",
        R"(<pictures width="4000" height="4000" scale="3"><item/></pictures>)",
        R"(<pictures width="8192" height="2048" newformat="3"><item/></pictures>)",  // a 64 MB buffer
        R"(<pictures width="720" linesize="360" height="576"><item/></pictures>)",
    };
    for (const char* xml : cases) {
        Rig r(xml);
        CPnPPics& el = r.Pics();
        EXPECT_FALSE(el.Usable()) << xml;
        EXPECT_FALSE(el.SizeProblem().empty());
        CPicturesPage page(el, r.ctx);
        EXPECT_FALSE(page.Load(png, {}));
        ASSERT_EQ(r.ui.messages.size(), 1u);
        EXPECT_EQ(r.ui.messages[0], el.SizeProblem());
        EXPECT_TRUE(el.picture.Empty());
        EXPECT_TRUE(el.deviceBuffer.empty());
        EXPECT_FALSE(el.FromDeviceBuffer(r.buffer.data(), r.buffer.size()));
        EXPECT_FALSE(page.Read(0));
        EXPECT_TRUE(r.engine.started.empty());
    }
    // The largest that still goes: an 8K-class image halved once.
    Rig ok(R"(<pictures width="3840" height="2160" scale="2"><item/></pictures>)");
    EXPECT_TRUE(ok.Pics().Usable()) << ok.Pics().SizeProblem();
}

TEST(PicturesElement, ImageSizeRules) {
    TempDir dir;
    CDitherRandom rng;
    Rig r(R"(<pictures name="Plain" width="720" height="576" newformat="2"><item/></pictures>
             <pictures name="Odd" width="720" height="576" newformat="2" resizable="1"><item/></pictures>
             <pictures name="Super" width="720" height="576" newformat="2" scale="2"><item/></pictures>)");
    CPnPPics& plain = r.Pics(0);
    CPnPPics& odd = r.Pics(1);
    CPnPPics& super = r.Pics(2);
    const std::string tall = SavedPng(dir, "tall.png", Pattern(360, 1152));
    const std::string wide = SavedPng(dir, "wide.png", Pattern(1440, 288));
    const std::string normal = SavedPng(dir, "normal.png", Pattern(720, 576));
    const std::string big = SavedPng(dir, "big.png", Pattern(1440, 1152));

    // Not resizable: exactly the size, else 21350 with it.
    PnPPicsLoad res = plain.LoadFromFile(tall, false, false, rng);
    EXPECT_EQ(res.result, PnPPicsLoad::kWrongSize);
    EXPECT_EQ(res.message, "Unsupported image dimensions!\n\nPlease use 720 x 576 pixels image files.");
    EXPECT_FALSE(plain.loaded);
    ASSERT_EQ(plain.LoadFromFile(normal, false, false, rng).result, PnPPicsLoad::kLoaded);
    EXPECT_EQ(plain.deviceBuffer, Converted(plain, Pattern(720, 576), 720));

    // Resizable: 21351 with all three shapes; a wrong size changes nothing.
    res = odd.LoadFromFile(big, false, false, rng);
    EXPECT_EQ(res.message,
              "Unsupported image dimensions!\n\nPlease use 720 x 576, 1440 x 288 or 360 x 1152 pixels image files.");
    struct Shape {
        const std::string* file;
        int w, h;
        uint16_t marker;
    } shapes[] = {{&tall, 360, 1152, kPnPShapeHalfWidth}, {&wide, 1440, 288, kPnPShapeDoubleWidth}};
    for (const Shape& s : shapes) {
        ASSERT_EQ(odd.LoadFromFile(*s.file, false, false, rng).result, PnPPicsLoad::kLoaded) << s.w;
        EXPECT_EQ(odd.picture.Width(), s.w);
        // Rows of the picture width, the shape in the first word.
        std::vector<uint8_t> expect = Converted(odd, Pattern(s.w, s.h), s.w);
        expect[0] = uint8_t(s.marker);
        expect[1] = uint8_t(s.marker >> 8);
        EXPECT_EQ(odd.deviceBuffer, expect);
        // The slot read back takes its shape from the marker.
        Rig back(R"(<pictures width="720" height="576" newformat="2" resizable="1"><item/></pictures>)");
        ASSERT_TRUE(back.Pics().FromDeviceBuffer(expect.data(), expect.size()));
        EXPECT_EQ(back.Pics().picture.Width(), s.w);
        EXPECT_EQ(back.Pics().picture.Height(), s.h);
        EXPECT_EQ(back.Pics().deviceBuffer, expect);
    }
    // Bits outside the marker's mask do not hide it; any other word is the normal shape.
    std::vector<uint8_t> buf = odd.deviceBuffer;
    buf[0] = 0x02 | 0x0C;
    buf[1] = 0x01 | 0xFC;
    ASSERT_TRUE(odd.FromDeviceBuffer(buf.data(), buf.size()));
    EXPECT_EQ(odd.picture.Width(), 360);
    buf[0] = 0x03;
    ASSERT_TRUE(odd.FromDeviceBuffer(buf.data(), buf.size()));
    EXPECT_EQ(odd.picture.Width(), 720);
    EXPECT_FALSE(odd.FromDeviceBuffer(buf.data(), buf.size() - 1));  // a short slot is no picture

    // Scale 2: twice the size wanted, halved, and saved at twice the size again.
    res = super.LoadFromFile(normal, false, false, rng);
    EXPECT_EQ(res.message, "Unsupported image dimensions!\n\nPlease use 1440 x 1152 pixels image files.");
    ASSERT_EQ(super.LoadFromFile(big, false, false, rng).result, PnPPicsLoad::kLoaded);
    CPicture half = Pattern(1440, 1152);
    half.DownscaleByTwo();
    EXPECT_TRUE(SamePixels(super.picture, half));
    ASSERT_EQ(super.SaveToFile(dir.File("saved.png")), 0);
    CPicture saved;
    ASSERT_EQ(saved.Load(dir.File("saved.png"), false, 0, 0, 0), 0);
    EXPECT_EQ(saved.Width(), 1440);
    EXPECT_EQ(saved.Height(), 1152);
}

TEST(PicturesElement, FittingModesAcceptWhatTheyMake) {
    TempDir dir;
    CDitherRandom rng;
    Rig r(R"(<pictures width="64" height="32" mode="Resize"><item/></pictures>
             <pictures width="64" height="32" mode="resize" resizable="1"><item/></pictures>)");
    const std::string other = SavedPng(dir, "o.png", Pattern(100, 90));
    ASSERT_EQ(r.Pics(0).LoadFromFile(other, false, false, rng).result, PnPPicsLoad::kLoaded);
    EXPECT_EQ(r.Pics(0).picture.Width(), 64);
    EXPECT_EQ(r.Pics(0).picture.Height(), 32);
    // A resizable element fits instead: the image is too big for every shape and wider than
    // twice the width is not, so it takes the double-width shape and its marker.
    ASSERT_EQ(r.Pics(1).LoadFromFile(other, false, false, rng).result, PnPPicsLoad::kLoaded);
    EXPECT_EQ(r.Pics(1).picture.Width(), 128);
    EXPECT_EQ(r.Pics(1).deviceBuffer[0], 0x01);
    EXPECT_EQ(r.Pics(1).deviceBuffer[1], 0x02);
}

TEST(PicturesElement, RawFilesAndFileErrors) {
    TempDir dir;
    Rig r(R"(<pictures width="16" height="8" linesize="20" newformat="4" extensions="lbl,bin"><item/></pictures>)");
    CPnPPics& el = r.Pics();
    CPicturesPage page(el, r.ctx);
    EXPECT_EQ(el.BufferSize(), 10 * 8 * 5);
    std::string raw(size_t(el.BufferSize()), '\0');
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = char(i * 31 + 7);
    TempDir::WriteAll(dir.File("logo.lbl"), raw);
    ASSERT_TRUE(page.Load(dir.File("logo.lbl"), {}));
    EXPECT_TRUE(el.loaded);
    EXPECT_EQ(std::string(el.deviceBuffer.begin(), el.deviceBuffer.end()), raw);
    CPicture expect(16, 8);
    ASSERT_TRUE(DeviceToPicture(expect, 20, reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), false, 4));
    EXPECT_TRUE(SamePixels(el.picture, expect));
    // Save as anything but PNG or BMP writes the buffer back as it is.
    ASSERT_TRUE(page.Save(dir.File("copy.bin")));
    EXPECT_EQ(TempDir::ReadAll(dir.File("copy.bin")), raw);

    // Failures: the message with its path, the element as it was.
    TempDir::WriteAll(dir.File("short.lbl"), raw.substr(1));
    TempDir::WriteAll(dir.File("bad.png"), "not a picture");
    struct Case {
        std::string path, message;
    } cases[] = {
        {dir.File("short.lbl"), "Invalid image file format:\n\n" + dir.File("short.lbl")},
        {dir.File("missing.lbl"), "Error opening image file:\n\n" + dir.File("missing.lbl")},
        {dir.File("bad.png"), "Invalid image file format:\n\n" + dir.File("bad.png")},
        {dir.File("missing.png"), "Error opening image file:\n\n" + dir.File("missing.png")},
    };
    for (const Case& c : cases) {
        r.ui.messages.clear();
        EXPECT_FALSE(page.Load(c.path, {}));
        EXPECT_EQ(r.ui.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(std::string(el.deviceBuffer.begin(), el.deviceBuffer.end()), raw);
        EXPECT_TRUE(SamePixels(el.picture, expect));
    }
    r.ui.messages.clear();
    EXPECT_FALSE(page.Save(dir.File("no/such/folder/x.png")));
    EXPECT_EQ(r.ui.messages.size(), 1u);

    EXPECT_EQ(page.SaveFilter(), "PNG image files (*.png)|*.png|BMP image files (*.bmp)|*.bmp|"
                                 "Logo files (*.lbl)|*.lbl|Binary files (*.bin)|*.bin|");
    Rig slides(R"(<pictures extensions="sld"><item/></pictures><pictures><item/></pictures>)");
    EXPECT_EQ(CPicturesPage(slides.Pics(0), slides.ctx).SaveFilter(),
              "PNG image files (*.png)|*.png|BMP image files (*.bmp)|*.bmp|Slide files (*.sld)|*.sld|");
    EXPECT_EQ(CPicturesPage(slides.Pics(1), slides.ctx).SaveFilter(),
              "PNG image files (*.png)|*.png|BMP image files (*.bmp)|*.bmp|");
}

TEST(PicturesPage, SlotWriteOnRs232AndTcp_AndReadBack) {
    TempDir dir;
    // 320 / 2 pairs x 100 rows x 4 bytes: the 64000-byte slot of a 64 KB-block device.
    const char* xml = R"(<pictures width="320" height="100" newformat="2">
        <item name="Logo 1" address="0x123456"/><item name="Logo 2" address="0x020000"/></pictures>)";
    const std::string png = SavedPng(dir, "l.png", Pattern(320, 100));
    {
        Rig r(xml, 0);
        CPicturesPage page(r.Pics(), r.ctx);
        EXPECT_FALSE(page.CanWrite());
        EXPECT_FALSE(page.Write(0));
        ASSERT_TRUE(page.Load(png, {}));
        ASSERT_EQ(r.Pics().items[0]->size, 64000);
        ASSERT_TRUE(page.Write(0));
        ASSERT_EQ(r.engine.started.size(), 1u);
        EXPECT_EQ(r.engine.started[0].code, 3);
        EXPECT_EQ(r.engine.started[0].address, 0x120000u);
        std::vector<uint8_t> device(0x20000);
        for (size_t i = 0; i < device.size(); ++i) device[i] = uint8_t(i * 5 + 1);
        std::memcpy(r.buffer.data(), device.data(), device.size());
        r.Done();
        ASSERT_EQ(r.engine.started.size(), 2u);
        EXPECT_EQ(r.engine.started[1].code, 5);
        EXPECT_EQ(r.engine.started[1].address, 0x120000u);
        std::copy(r.Pics().deviceBuffer.begin(), r.Pics().deviceBuffer.end(), device.begin() + 0x3456);
        EXPECT_TRUE(std::equal(device.begin(), device.end(), r.buffer.begin()));
        r.Done();
        EXPECT_EQ(r.ui.messages, std::vector<std::string>{"Write complete."});
    }
    Rig r(xml, 3);
    CPicturesPage page(r.Pics(), r.ctx);
    ASSERT_TRUE(page.Load(png, {}));
    const std::vector<uint8_t> written = r.Pics().deviceBuffer;
    ASSERT_TRUE(page.Write(1));
    ASSERT_EQ(r.engine.started.size(), 1u);
    EXPECT_EQ(r.engine.started[0].code, 5);
    EXPECT_EQ(r.engine.started[0].address, 0x020000u);
    EXPECT_EQ(r.engine.started[0].size, 64000);
    r.Done();

    // Reading the other slot replaces picture and buffer once the bytes are there.
    std::vector<uint8_t> other(64000);
    for (size_t i = 0; i < other.size(); ++i) other[i] = uint8_t(i * 3);
    bool refreshed = false;
    ASSERT_TRUE(page.Read(0, [&] { refreshed = true; }));
    EXPECT_EQ(r.engine.started.back().code, 3);
    EXPECT_EQ(r.engine.started.back().address, 0x123456u);
    EXPECT_EQ(r.engine.started.back().size, 64000);
    EXPECT_EQ(r.Pics().deviceBuffer, written);  // nothing changes before the completion
    std::memcpy(r.buffer.data(), other.data(), other.size());
    r.Done();
    EXPECT_TRUE(refreshed);
    EXPECT_EQ(r.Pics().deviceBuffer, other);
    CPicture expect(320, 100);
    ASSERT_TRUE(DeviceToPicture(expect, 320, other.data(), other.size(), false, 2));
    EXPECT_TRUE(SamePixels(r.Pics().picture, expect));
}

TEST(PicturesPage, LumaKeyAfterLoadOnlyWhereOffered) {
    TempDir dir;
    CPicture pic(32, 16);
    pic.Fill(0x00102030);
    pic.Fill(0x00FFFFFF, 0, 8, 4, 16, 8);
    const std::string png = SavedPng(dir, "k.png", pic);
    Rig r(R"(<pictures width="32" height="16" newformat="3" lumakey="1"><item/></pictures>
             <pictures width="32" height="16" newformat="3"><item/></pictures>)");
    PicturesOptions opt;
    opt.lumaKey = true;
    opt.luma.transparencyIndex = 5;
    {
        CPicturesPage page(r.Pics(0), r.ctx);
        EXPECT_TRUE(page.LumaKeyOffered());
        ASSERT_TRUE(page.Load(png, opt));
        CPicture keyed = pic;
        LumaKey(keyed, opt.luma);
        EXPECT_TRUE(SamePixels(r.Pics(0).picture, keyed));
        EXPECT_EQ(r.Pics(0).picture.At(0, 0) >> 24, 255u);
        EXPECT_EQ(r.Pics(0).picture.At(16, 8) >> 24, 80u);
        EXPECT_EQ(r.Pics(0).deviceBuffer, Converted(r.Pics(0), keyed, 32));
    }
    CPicturesPage plain(r.Pics(1), r.ctx);
    EXPECT_FALSE(plain.LumaKeyOffered());
    ASSERT_TRUE(plain.Load(png, opt));
    EXPECT_TRUE(SamePixels(r.Pics(1).picture, pic));

    // The window's keys map onto the options both ways.
    CMainSettings s;
    s.dither = 1;
    s.shadow = 1;
    s.shadowType = 3;
    s.shadowPixels = 4;
    s.shadowTransp = 9;
    s.shadowDepth = 2;
    const PicturesOptions o = PicturesOptions::FromSettings(s);
    EXPECT_TRUE(o.dither && !o.verticalFilter && o.lumaKey);
    EXPECT_EQ(o.luma.shadowType, 3);
    EXPECT_EQ(o.luma.shadowSize, 4);
    EXPECT_EQ(o.luma.transparencyIndex, 9);
    EXPECT_EQ(o.luma.shadowColour, 2);
    CMainSettings back;
    o.ToSettings(back);
    EXPECT_EQ(back.shadowTransp, 9);
    EXPECT_EQ(back.shadowDepth, 2);
    EXPECT_EQ(back.dither, 1);
}

TEST(TextLabel, DrawsOverTheBackgroundAndKeepsItsPreferences) {
    TempDir dir;
    CPicture bg(200, 40);
    bg.Fill(0x00204060);
    SavedPng(dir, "bg.png", bg);
    CConfigStore store(dir.File("VaroConfig.ini"));
    // A line longer than the width: the label's rows must keep the slot's line length.
    const std::string xml = R"(<pictext name="Caption" width="200" height="40" linesize="256" newformat="3" x="100"
        y="30" font="DejaVu Sans" fontsize="14" color="0x0000FF" background=")" + dir.File("bg.png") +
                            R"("><item name="Caption" address="0x1000"/></pictext>
        <pictext name="Bare" width="200" height="40"><item/></pictext>)";
    Rig r(xml);
    CPnPPicText& el = r.Text(0);
    ASSERT_TRUE(el.hasBackground);
    EXPECT_TRUE(el.loaded);  // the background is a picture already
    CPicturesPage page(el, r.ctx, &store);
    ASSERT_TRUE(page.CanEditLabel());
    ASSERT_TRUE(page.SetLabelText("Hello"));
    EXPECT_FALSE(SamePixels(el.picture, bg));
    EXPECT_TRUE(SamePixels(el.background, bg));  // drawn on a copy
    // Red text (0x0000FF is BGR) somewhere under the baseline's row.
    bool red = false;
    for (int x = 0; x < 200; ++x) red |= (el.picture.At(x, 25) & 0x00FFFFFF) == 0x00FF0000;
    EXPECT_TRUE(red);
    EXPECT_EQ(el.deviceBuffer, Converted(el, el.picture, 256));

    // Font and colour are stored per model (and element, for the font) and come back.
    const CFontRecord bold = PointFont("DejaVu Sans", 20, 700);
    ASSERT_TRUE(page.SetLabelFont(bold));
    ASSERT_TRUE(page.SetLabelColour(0x00FF00));
    std::string v;
    EXPECT_TRUE(store.Lookup("PnP_Preferences", "struct_TEST-MODEL_Caption", v));
    EXPECT_EQ(store.ReadInt("PnP_Preferences", "int_TEST-MODEL_1", -1), 0x00FF00);
    Rig again(xml);
    CPicturesPage restored(again.Text(0), again.ctx, &store);
    EXPECT_TRUE(again.Text(0).font == bold);
    EXPECT_EQ(again.Text(0).colour, 0x00FF00u);
    // A broken stored record is not used: the default font is.
    store.WriteString("PnP_Preferences", "struct_TEST-MODEL_Caption", "00FF");
    Rig broken(xml);
    CPicturesPage b(broken.Text(0), broken.ctx, &store);
    EXPECT_TRUE(broken.Text(0).font == broken.Text(0).defaultFont);
    // "Default" restores and stores the model's choice.
    ASSERT_TRUE(restored.RestoreLabelDefaults());
    EXPECT_EQ(again.Text(0).colour, 0x0000FFu);
    EXPECT_EQ(store.ReadInt("PnP_Preferences", "int_TEST-MODEL_1", -1), 0x0000FF);

    // Without a background there is nothing to draw on.
    CPicturesPage bare(r.Text(1), r.ctx, &store);
    EXPECT_FALSE(bare.CanEditLabel());
    EXPECT_FALSE(bare.SetLabelText("x"));
    EXPECT_FALSE(r.Text(1).loaded);
    // Loading a picture gives it one.
    ASSERT_TRUE(bare.Load(dir.File("bg.png"), {}));
    EXPECT_TRUE(bare.CanEditLabel());
    EXPECT_TRUE(bare.SetLabelText("x"));
}

TEST(PicturesPage, PreviewSizeAndRendering) {
    struct Case {
        int w, h, pw, ph;
    } cases[] = {
        {720, 576, 256, 144}, {1920, 1080, 240, 135}, {256, 128, 227, 128},
        {512, 64, 227, 128},  {4, 4, 7, 4},          {64, 360, 320, 180},
    };
    for (const Case& c : cases) {
        int pw = 0, ph = 0;
        CPicturesPage::PreviewSize(c.w, c.h, pw, ph);
        EXPECT_EQ(pw, c.pw) << c.w << "x" << c.h;
        EXPECT_EQ(ph, c.ph) << c.w << "x" << c.h;
    }

    // A 1920 x 1080 picture is halved three times and fills the preview; transparent pixels
    // show the chosen background.
    Rig r(R"(<pictures width="1920" height="1080" newformat="3"><item/></pictures>)");
    CPnPPics& el = r.Pics();
    CPicturesPage page(el, r.ctx);
    CPicture out;
    page.RenderPreview(out, kPreviewCheckered);
    EXPECT_EQ(out.Width(), 240);
    EXPECT_EQ(out.At(0, 0), 0x00FFFFFFu);
    EXPECT_EQ(out.At(8, 0), 0x00A0A0A0u);
    el.picture.Create(1920, 1080);
    el.picture.Fill(0xFF000000);
    el.picture.Fill(0x00FF0000, 0, 0, 0, 960, 1080);
    page.RenderPreview(out, kPreviewWhite);
    EXPECT_EQ(out.At(10, 10), 0x00FF0000u);
    EXPECT_EQ(out.At(200, 10), 0x00FFFFFFu);
    page.RenderPreview(out, kPreviewBlack);
    EXPECT_EQ(out.At(200, 10), 0x00000000u);
    // A picture smaller than the preview is centred.
    el.picture.Create(100, 50);
    el.picture.Fill(0x000000FF);
    page.RenderPreview(out, kPreviewWhite);
    EXPECT_EQ(out.At(70, 42), 0x000000FFu);
    EXPECT_EQ(out.At(69, 42), 0x00FFFFFFu);
    EXPECT_EQ(out.At(169, 91), 0x000000FFu);
    EXPECT_EQ(out.At(170, 91), 0x00FFFFFFu);
}
