#include "ModelFixture.h"
#include "common/TempDir.h"
#include "model/CPnPBin.h"
#include "model/FileTypes.h"
#include "model/CPnPSettings.h"

#include <cstdint>
#include <filesystem>
#include <string>

TEST(ModelLoader, RootNameIsFreeButPnpMustBeItsChild) {
    CPnPModel m;
    EXPECT_EQ(m.LoadFromText("<anything><pnp timesync=\"1\"><status name=\"S\"/></pnp></anything>"), kPnPLoaded);
    EXPECT_TRUE(m.timeSync);
    ASSERT_EQ(m.elements.size(), 1u);
    EXPECT_EQ(m.LoadFromText("<pnp><status name=\"S\"/></pnp>"), kPnPNoModel);
    EXPECT_TRUE(m.elements.empty());
    EXPECT_EQ(m.LoadFromText("<?xml version=\"1.0\"?><!-- no root element -->"), kPnPNoModel);
    EXPECT_EQ(m.LoadFromText(""), kPnPCannotOpen);
    EXPECT_EQ(m.LoadFromText("<a><pnp><status></pnp></a>"), kPnPCannotOpen);
    // Bytes above 127 stay as they are; a UTF-8 byte order mark is skipped.
    EXPECT_EQ(m.LoadFromText("\xEF\xBB\xBF<a><pnp><status name=\"Gr\xFC\xDF\"/></pnp></a>"), kPnPLoaded);
    EXPECT_EQ(m.elements[0]->name, "Gr\xFC\xDF");
    EXPECT_FALSE(m.timeSync);
}

TEST(ModelLoader, FileResults) {
    TempDir dir;
    CPnPModel m;
    EXPECT_EQ(m.Load(dir.File("missing.xml")), kPnPCannotOpen);
    TempDir::WriteAll(dir.File("bad.xml"), "<a><pnp><status name=\"x\"></a>");
    EXPECT_EQ(m.Load(dir.File("bad.xml")), kPnPCannotOpen);
    TempDir::WriteAll(dir.File("nopnp.xml"), "<a><other/></a>");
    EXPECT_EQ(m.Load(dir.File("nopnp.xml")), kPnPNoModel);
    TempDir::WriteAll(dir.File("ok.xml"), "<a><pnp><controls name=\"C\" size=\"4\"/></pnp></a>");
    EXPECT_EQ(m.Load(dir.File("ok.xml")), kPnPLoaded);
    EXPECT_EQ(m.elements.size(), 1u);
    // A failed load leaves nothing of the previous model.
    EXPECT_EQ(m.Load(dir.File("missing.xml")), kPnPCannotOpen);
    EXPECT_TRUE(m.elements.empty());
    EXPECT_TRUE(m.pages.empty());
}

TEST(ModelLoader, EveryElementNameGivesItsKind) {
    const char* names[] = {"pictures", "service", "bin", "serial", "uit", "picturebank", "settings", "status",
                           "controls", "pictext", "settings_block", "settings_group", "multiscreen",
                           "dynamic_labels", "panel_mapping", "pictures_compressed"};
    std::string body;
    for (const char* n : names)
        body += std::string("<") + n + " name=\"" + n + "\"><item name=\"i\" address=\"0x100\" size=\"16\"/></" + n + ">";
    body += "<Status name=\"wrong case\"/><unknown name=\"u\"/>";
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, body), kPnPLoaded);
    ASSERT_EQ(m.elements.size(), 16u);
    for (int k = 1; k <= 16; ++k) {
        EXPECT_EQ(m.elements[size_t(k - 1)]->kind, k);
        EXPECT_EQ(m.elements[size_t(k - 1)]->name, names[k - 1]);
    }
    // Service is never a page: 15 pages.
    EXPECT_EQ(m.pages.size(), 15u);
}

TEST(ModelLoader, AcceptanceRules) {
    std::string items40;
    for (int i = 0; i < 40; ++i) items40 += "<item address=\"" + std::to_string(i * 16) + "\" size=\"16\"/>";
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<status name=\"first\"/><status name=\"second\"/>"
                         "<settings_block name=\"b1\"/><settings_block name=\"b2\"/>"
                         "<pictures name=\"empty\"/><pictext name=\"empty too\"/>"
                         "<dynamic_labels name=\"no items\"/><pictures_compressed name=\"none\"/>"
                         "<service name=\"svc\">" + items40 + "</service>"
                         "<bin name=\"bin\" size=\"16\">" + items40 + "</bin>"
                         "<service name=\"empty service\"/><bin name=\"empty bin\"/>"),
              kPnPLoaded);
    ASSERT_EQ(m.elements.size(), 5u);
    EXPECT_EQ(m.elements[0]->name, "first");
    EXPECT_EQ(m.elements[1]->name, "b1");
    EXPECT_EQ(m.elements[2]->name, "b2");
    EXPECT_EQ(m.elements[3]->kind, kPnPService);
    EXPECT_EQ(m.elements[3]->items.size(), 40u);
    EXPECT_EQ(m.elements[4]->kind, kPnPBin);
    ASSERT_EQ(m.elements[4]->items.size(), 32u);
    EXPECT_EQ(m.elements[4]->items[31]->address, 31u * 16);
    EXPECT_EQ(m.FindFirst(kPnPStatus)->name, "first");
    EXPECT_EQ(m.FindFirst(kPnPPictures), nullptr);
}

TEST(ModelLoader, ItemsAreFoundAmongOtherChildren) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<service><item address=\"1\"/><note/><item address=\"2\" size=\"0x10\" factory_mode=\"1\"/></service>"),
              kPnPLoaded);
    auto& items = m.elements[0]->items;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1]->address, 2u);
    EXPECT_EQ(items[1]->size, 16);
    EXPECT_TRUE(items[1]->factoryMode);
    EXPECT_FALSE(items[0]->factoryMode);
}

TEST(ModelNumbers, UnsignedAndSignedRules) {
    struct Case {
        const char* text;
        uint32_t u;
        int32_t s;
    } cases[] = {
        {"0x10", 16, 16},   {"0X10", 16, 16},       {"16", 16, 16},   {"0x", 0, 0},
        {"0x1G", 1, 1},     {"", 0, 0},             {"abc", 0, 0},    {"12abc", 12, 12},
        {"-1", 0xFFFFFFFFu, -1}, {"0xFFFFFFFF", 0xFFFFFFFFu, 0x7FFFFFFF}, {"99999999999", 0xFFFFFFFFu, 0x7FFFFFFF},
        {"-10", uint32_t(-10), -10}, {"0x80", 128, 128}, {"x10", 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PnPParseUnsigned(c.text), c.u) << c.text;
        EXPECT_EQ(PnPParseSigned(c.text), c.s) << c.text;
    }
    EXPECT_DOUBLE_EQ(PnPParseDouble("0.5"), 0.5);
    EXPECT_DOUBLE_EQ(PnPParseDouble("-2.25x"), -2.25);
    EXPECT_DOUBLE_EQ(PnPParseDouble("abc"), 0.0);

    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<controls address=\"0X10\"/><status address=\"0x1G\"/><serial address=\"-1\"/>"
                         "<settings_block address=\"0x\"/>"),
              kPnPLoaded);
    EXPECT_EQ(m.elements[0]->address, 16u);
    EXPECT_EQ(m.elements[1]->address, 1u);
    EXPECT_EQ(m.elements[2]->address, 0xFFFFFFFFu);
    EXPECT_EQ(m.elements[3]->address, 0u);
}

TEST(ModelLoader, CommonAttributeDefaults) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<controls/><status user=\"0\" factory_mode=\"2\" no_factory=\"1\"/>"), kPnPLoaded);
    EXPECT_TRUE(m.elements[0]->user);
    EXPECT_FALSE(m.elements[0]->factoryMode);
    EXPECT_FALSE(m.elements[0]->noFactory);
    EXPECT_FALSE(m.elements[1]->user);
    EXPECT_TRUE(m.elements[1]->factoryMode);
    EXPECT_TRUE(m.elements[1]->noFactory);
    // Loaded, but no page.
    ASSERT_EQ(m.pages.size(), 1u);
    EXPECT_EQ(m.pages[0], m.elements[0].get());
}

TEST(ModelLoader, LocalisedTexts) {
    CPnPModel m;
    ASSERT_EQ(LoadPnp(m, "<controls name=\"Plain\" name_english=\"English\"/>"
                         "<status name=\"Plain\" name_english=\"\"/>"
                         "<bin name_deutsch=\"Deutsch\" info=\"one^two\"><item/></bin>"),
              kPnPLoaded);
    EXPECT_EQ(m.elements[0]->name, "English");
    EXPECT_EQ(m.elements[1]->name, "Plain");
    EXPECT_EQ(m.elements[2]->name, "");
    EXPECT_EQ(static_cast<CPnPBin*>(m.elements[2].get())->info, "one\r\ntwo");
    m.SetLanguage("Deutsch");
    ASSERT_EQ(LoadPnp(m, "<bin name=\"x\" name_deutsch=\"Deutsch\"><item/></bin>"), kPnPLoaded);
    EXPECT_EQ(m.elements[0]->name, "Deutsch");
}

TEST(ModelLoader, FileNamesHangOffTheProgramFolder) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("Data"));
    TempDir::WriteAll(dir.File("Data/Logo.bin"), "x");
    CPnPModel m;
    m.SetProgramFolder(dir.Path());
    ASSERT_EQ(LoadPnp(m, "<service>"
                         "<item filename=\"  data\\logo.bin \"/>"
                         "<item filename=\"data\\other.bin\"/>"
                         "<item filename=\"C:\\factory\\x.bin\"/>"
                         "<item filename=\"/abs/y.bin\"/>"
                         "<item filename=\"   \"/></service>"),
              kPnPLoaded);
    auto& it = m.elements[0]->items;
    // The case-insensitive fallback finds Data/Logo.bin.
    EXPECT_EQ(it[0]->fileName, dir.Path() + "/Data/Logo.bin");
    EXPECT_EQ(it[1]->fileName, dir.Path() + "/data/other.bin");
    EXPECT_EQ(it[2]->fileName, "C:/factory/x.bin");
    EXPECT_EQ(it[3]->fileName, "/abs/y.bin");
    EXPECT_EQ(it[4]->fileName, "");
}

TEST(ModelLoader, FileFilters) {
    PnPReadContext ctx;
    EXPECT_EQ(PnPBuildFileFilter(nullptr, kPnPBin, ctx), "");
    EXPECT_EQ(PnPBuildFileFilter("bin", kPnPBin, ctx), "Binary files (*.bin)|*.bin|");
    EXPECT_EQ(PnPBuildFileFilter(" BIN , dat,,", kPnPBin, ctx),
              "All supported types |*.bin;*.dat|Binary files (*.bin)|*.bin|.dat files|*.dat|");
    const std::string pics = "Picture files (*.bmp;*.tga;*.jpg;*.png;*.gif)|*.bmp;*.tga;*.jpg;*.png;*.gif|";
    EXPECT_EQ(PnPBuildFileFilter(nullptr, kPnPPictures, ctx), pics);
    // Picture extensions are already in the picture pattern.
    EXPECT_EQ(PnPBuildFileFilter("png,jpg", kPnPPicText, ctx), pics);
    EXPECT_EQ(PnPBuildFileFilter("lbl,*", kPnPPicturesCompressed, ctx),
              "All supported types |*.bmp;*.tga;*.jpg;*.png;*.gif;*.lbl|" + pics + "Logo files (*.lbl)|*.lbl|");
    // "*" lies inside the picture pattern text, so it is skipped like a picture extension.
    EXPECT_EQ(PnPBuildFileFilter("*", kPnPBin, ctx), "");
    EXPECT_EQ(FileTypeOfPath("/x/Y.PNG", true), kFileTypePictures);
    EXPECT_EQ(FileTypeOfPath("/x/Y.PNG", false), 21);
    EXPECT_EQ(FileTypeOfPath("a.mss", false), 14);
    EXPECT_EQ(FileTypeOfPath("a.zzz", true), -1);
    EXPECT_EQ(FileTypeOfPath("dir.d/noext", true), -1);
}

TEST(ModelLoader, PagesAndGroups) {
    CPnPModel m;
    // Nobody names a group: one group per page, named after it.
    ASSERT_EQ(LoadPnp(m, "<controls name=\"C\"/><status name=\"S\"/><service><item/></service><serial name=\"N\"/>"),
              kPnPLoaded);
    ASSERT_EQ(m.groupNames, (std::vector<std::string>{"C", "S", "N"}));
    EXPECT_EQ(m.groupSizes, (std::vector<uint32_t>{1, 1, 1}));
    EXPECT_EQ(m.pages[2]->groupIndex, 2);
    EXPECT_EQ(m.PageTitle(m.pages[1]), "S");

    // One named group beside ungrouped pages: "A" and the empty group.
    ASSERT_EQ(LoadPnp(m, "<controls name=\"C\" group=\"A\"/><status name=\"S\"/><serial name=\"N\"/>"), kPnPLoaded);
    ASSERT_EQ(m.groupNames, (std::vector<std::string>{"A", ""}));
    EXPECT_EQ(m.groupSizes, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(m.PageTitle(m.pages[0]), "C");
    EXPECT_EQ(m.PageTitle(m.pages[1]), " - S");

    // Group names compare exactly and localise.
    ASSERT_EQ(LoadPnp(m, "<controls name=\"C\" group=\"Video\"/><status name=\"S\" group_english=\"Video\"/>"
                         "<serial name=\"N\" group=\"video\"/>"),
              kPnPLoaded);
    ASSERT_EQ(m.groupNames, (std::vector<std::string>{"Video", "video"}));
    EXPECT_EQ(m.groupSizes, (std::vector<uint32_t>{2, 1}));
    EXPECT_EQ(m.PageTitle(m.pages[1]), "Video - S");
    EXPECT_EQ(m.PageTitle(m.pages[2]), "N");
}

TEST(ModelLoader, DeepNestingIsRefusedNotRecursedInto) {
    // Each level is an open "node" element carrying something that looks like an end of an
    // element to anything that does not read attributes, text, comments and CDATA properly.
    auto nested = [](int depth, const std::string& open, const std::string& inside) {
        std::string body;
        body.reserve(size_t(depth) * (open.size() + inside.size() + 8));
        for (int i = 0; i < depth; ++i) body += open + inside;
        for (int i = 0; i < depth; ++i) body += "</node>";
        return "<m><pnp><settings>" + body + "</settings></pnp></m>";
    };
    struct Case {
        const char* what;
        std::string open, inside;
    } cases[] = {
        {"plain", "<node address=\"+\">", ""},
        {"'/>' in a value", "<node name=\"/>\" address=\"+\">", ""},
        {"'/>' in a single-quoted value", "<node name='a/>b' address='+'>", ""},
        {"'</x>' in a value", "<node name=\"</x>\">", ""},
        {"'/>' in text", "<node>", "a/>"},
        {"end tag in a comment", "<node>", "<!-- </node> -->"},
        {"end tag in CDATA", "<node>", "<![CDATA[</node>]]>"},
        {"end tag in a declaration", "<node>", "<?xml version=\"</node>\"?>"},
        {"'/>' in unknown markup", "<node>", "<!x/>"},
    };
    for (const auto& c : cases) {
        CPnPModel m;
        // Far deeper than the parser or the element readers could recurse into on any stack.
        EXPECT_EQ(m.LoadFromText(nested(300000, c.open, c.inside)), kPnPNoModel) << c.what;
        EXPECT_TRUE(m.elements.empty()) << c.what;
        EXPECT_EQ(m.LoadFromText(nested(513, c.open, c.inside)), kPnPNoModel) << c.what;
        // As deep as real files may go: loaded, and what looked like markup is kept as text.
        ASSERT_EQ(m.LoadFromText(nested(200, c.open, c.inside)), kPnPLoaded) << c.what;
        auto* s = static_cast<CPnPSettings*>(m.FindFirst(kPnPSettings));
        ASSERT_NE(s, nullptr) << c.what;
        ASSERT_EQ(s->nodes.size(), 200u) << c.what;
        EXPECT_EQ(s->nodes[199]->depth, 199) << c.what;
    }
    CPnPModel m;
    ASSERT_EQ(m.LoadFromText(nested(200, "<node name=\"a/>b\" address=\"+\">", "")), kPnPLoaded);
    auto* s = static_cast<CPnPSettings*>(m.FindFirst(kPnPSettings));
    EXPECT_EQ(s->nodes[199]->name, "a/>b");
    EXPECT_EQ(s->nodes[199]->address, 199u);
    // Many elements side by side are not nesting.
    std::string wide = "<m><pnp><settings>";
    for (int i = 0; i < 5000; ++i) wide += "<node name=\"n\"/>";
    EXPECT_EQ(m.LoadFromText(wide + "</settings></pnp></m>"), kPnPLoaded);
}
