// varoctl pictures against varosim over TCP: write, read and label give the slot the bytes the
// pictures page gives it; bad input is refused with its message and exit status.
#include "../eth/NetSim.h"
#include "common/TempDir.h"
#include "elementpages/FakeDevice.h"
#include "model/CPnPPics.h"
#include "pictures/PictureConvert.h"
#include "pictures/PicturesPage.h"
#include "sim/CSimImage.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

namespace {
struct Outcome {
    int code = -1;
    std::string err;
};

// varoctl from a program folder of the test's own, so the signature finds the test's model.
class Folder {
public:
    Folder() {
        std::filesystem::create_directories(m_dir.File("ModelsPnP"));
        const char* bin = std::getenv("VARO_BIN_DIR");
        std::filesystem::copy_file(std::string(bin ? bin : ".") + "/varoctl", m_dir.File("varoctl"));
        std::filesystem::permissions(m_dir.File("varoctl"), std::filesystem::perms::owner_all);
    }
    const TempDir& Dir() const { return m_dir; }
    std::string Model(const std::string& name, const std::string& pnp) {
        const std::string path = m_dir.File("ModelsPnP/" + name + ".xml");
        TempDir::WriteAll(path, "<?xml version=\"1.0\"?>\n<device><pnp>" + pnp + "</pnp></device>\n");
        return path;
    }
    Outcome Run(std::vector<std::string> args) const {
        const std::string exe = m_dir.File("varoctl"), err = m_dir.File("err.txt");
        args.insert(args.begin(), exe);
        pid_t pid = fork();
        if (pid == 0) {
            int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int n = ::open("/dev/null", O_WRONLY);
            dup2(n, 1);
            dup2(e, 2);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        int st = 0;
        waitpid(pid, &st, 0);
        return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, TempDir::ReadAll(err)};
    }

private:
    TempDir m_dir;
};

std::vector<uint8_t> ImageBytes(const std::string& image, uint32_t address, size_t n) {
    CSimImage img;
    std::string err;
    if (!img.OpenExisting(image, err)) return {};
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i) out.push_back(img.Flash(0, address + uint32_t(i)));
    return out;
}

// What the page makes of the same input, through a scripted device.
struct PageRig : FakeDeviceContext<FakeEngine, FakeUi> {
    explicit PageRig(const std::string& modelFile) : FakeDeviceContext(TempDir::ReadAll(modelFile), 0x30000) {}
    CPnPPics& El(size_t i) { return *static_cast<CPnPPics*>(model.elements[i].get()); }
};

const char* const kModel = R"(
  <pictures name="Logos" group="Pictures" width="64" height="32" newformat="4" hdtv="1" lumakey="1">
    <item name="Logo 1" address="0x020000"/><item name="Logo 2" address="0x030000"/>
  </pictures>
  <pictures name="Huge" group="Pictures" width="8192" height="4" scale="9"><item name="H" address="0x0"/></pictures>
  <pictext name="Caption" group="Pictures" width="160" height="32" newformat="3" x="80" y="24" font="DejaVu Sans"
           fontsize="12" color="0xFFFFFF" background="BG">
    <item name="Caption" address="0x040000"/>
  </pictext>)";
}  // namespace

TEST(VaroctlPictures, WriteReadAndLabelAsThePageDoes) {
    Folder f;
    CPicture logo(64, 32);
    logo.Fill(0x00102030);
    logo.Fill(0x00E0C0A0, 0, 16, 8, 32, 16);
    ASSERT_EQ(logo.SavePNG(f.Dir().File("logo.png")), 0);
    CPicture bg(160, 32);
    bg.Fill(0x00400000);
    ASSERT_EQ(bg.SavePNG(f.Dir().File("bg.png")), 0);
    std::string model = kModel;
    model.replace(model.find("\"BG\""), 4, "\"" + f.Dir().File("bg.png") + "\"");
    const std::string modelFile = f.Model("PIC-CTL", model);
    const std::string image = f.Dir().File("dev.img");
    const uint32_t ip = NetSim::NextAddress();
    NetSim sim({"--tcp", IpToString(ip), "--model", modelFile}, image);
    ASSERT_TRUE(sim.Ready());
    const std::string link = "tcp:" + IpToString(ip);

    // write: loaded, keyed and converted exactly as on the page, into the slot by name.
    Outcome o = f.Run({"--link", link, "pictures", "write", "Pictures - Logos", "Logo 2", f.Dir().File("logo.png"),
                       "--lumakey", "5,1,2,0", "--vfilter"});
    ASSERT_EQ(o.code, 0) << o.err;
    PageRig page(modelFile);
    CPicturesPage logos(page.El(0), page.ctx);
    PicturesOptions opt;
    opt.verticalFilter = opt.lumaKey = true;
    opt.luma = {5, 1, 2, 0};
    ASSERT_TRUE(logos.Load(f.Dir().File("logo.png"), opt));
    const std::vector<uint8_t>& expect = page.El(0).deviceBuffer;
    EXPECT_EQ(ImageBytes(image, 0x030000, expect.size()), expect);

    // read: the slot back as its raw bytes, and as a picture of the element's size.
    o = f.Run({"--link", link, "pictures", "read", "logos", "1", f.Dir().File("back.raw")});
    ASSERT_EQ(o.code, 0) << o.err;
    const std::string raw = TempDir::ReadAll(f.Dir().File("back.raw"));
    EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.end()), expect);
    o = f.Run({"--link", link, "pictures", "read", "Logos", "Logo 2", f.Dir().File("back.png")});
    ASSERT_EQ(o.code, 0) << o.err;
    CPicture back;
    ASSERT_EQ(back.Load(f.Dir().File("back.png"), true, 0, 0, 0), 0);
    EXPECT_EQ(back.Width(), 64);
    EXPECT_EQ(back.Height(), 32);

    // label: drawn over the background with the font and colour given.
    o = f.Run({"--link", link, "pictures", "label", "Caption", "0", "Hello", "--font", "DejaVu Sans,14,bold",
               "--color", "0x00FF00"});
    ASSERT_EQ(o.code, 0) << o.err;
    CPicturesPage caption(page.El(2), page.ctx);
    CPnPPicText& label = *caption.TextLabel();
    label.font = PointFont("DejaVu Sans", 14, 700);
    label.colour = 0x00FF00;
    ASSERT_TRUE(caption.SetLabelText("Hello"));
    EXPECT_EQ(ImageBytes(image, 0x040000, label.deviceBuffer.size()), label.deviceBuffer);
    EXPECT_NE(label.deviceBuffer, std::vector<uint8_t>(label.deviceBuffer.size(), 0));

    // Bad input: the reason on stderr and the status that goes with it; nothing is written.
    TempDir::WriteAll(f.Dir().File("small.png"), TempDir::ReadAll(f.Dir().File("bg.png")));
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;
    } cases[] = {
        {{"write", "Logos", "Logo 1", f.Dir().File("none.png")}, 66, "Error opening image file:  " + f.Dir().File("none.png")},
        {{"write", "Logos", "Logo 1", f.Dir().File("small.png")}, 66,
         "Unsupported image dimensions!  Please use 64 x 32 pixels image files."},
        {{"write", "Logos", "Logo 9", f.Dir().File("logo.png")}, 64, "no slot 'Logo 9'"},
        {{"write", "Nothing", "0", f.Dir().File("logo.png")}, 64, "no pictures or text label element"},
        {{"write", "Logos", "0", f.Dir().File("logo.png"), "--lumakey", "5,1,2"}, 64, "bad or missing value"},
        {{"write", "Caption", "0", f.Dir().File("logo.png"), "--lumakey", "0,0,0,0"}, 64, "does not offer the luma key"},
        {{"write", "Huge", "0", f.Dir().File("logo.png")}, 66, "larger than any picture can be"},
        {{"label", "Logos", "0", "x"}, 64, "not a text label element"},
        {{"label", "Caption", "0", "x", "--font", "DejaVu Sans"}, 64, "bad or missing value"},
        {{"read", "Logos", "0", f.Dir().File("no/such/dir/x.png")}, 73, "cannot write"},
    };
    const std::vector<uint8_t> before = ImageBytes(image, 0x020000, 0x30000);
    for (const Case& c : cases) {
        std::vector<std::string> args{"--link", link, "pictures"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        o = f.Run(args);
        EXPECT_EQ(o.code, c.code) << c.args[0] << " " << c.args[1] << ": " << o.err;
        EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    }
    EXPECT_EQ(ImageBytes(image, 0x020000, 0x30000), before);
}

// varoctl compressed: a slot written and read back as the page does it, a "pictures" element of
// format 6 through the pictures command, and the codecs offline.
TEST(VaroctlCompressed, WriteReadEncodeAndDecode) {
    Folder f;
    CPicture slide(1920, 1080);
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 1920; ++x) slide.At(x, y) = uint32_t((x / 8) & 0xFF) << 16 | uint32_t((y / 5) & 0xFF) << 8 | 0x40;
    const std::string png = f.Dir().File("slide.png");
    ASSERT_EQ(slide.SavePNG(png), 0);
    const std::string modelFile = f.Model("CMP-CTL", R"(
  <pictures_compressed name="Slides" group="Pictures" width="1920" height="1080" format="1">
    <item name="Slide 1" address="0x100000"/><item name="Slide 2" address="0x200000"/>
  </pictures_compressed>
  <pictures name="Full" width="1920" height="1080" newformat="6"><item name="F" address="0x400000"/></pictures>)");
    const std::string image = f.Dir().File("dev.img");
    const uint32_t ip = NetSim::NextAddress();
    NetSim sim({"--tcp", IpToString(ip), "--model", modelFile}, image);
    ASSERT_TRUE(sim.Ready());
    const std::string link = "tcp:" + IpToString(ip);

    Outcome o = f.Run({"--link", link, "compressed", "write", "slides", "Slide 2", png});
    ASSERT_EQ(o.code, 0) << o.err;
    PageRig page(modelFile);
    CPicturesPage slides(page.El(0), page.ctx);
    ASSERT_TRUE(slides.Load(png, {}));
    const std::vector<uint8_t> expect = page.El(0).deviceBuffer;
    ASSERT_EQ(expect.size(), 600064u);
    EXPECT_EQ(ImageBytes(image, 0x200000, expect.size()), expect);

    o = f.Run({"--link", link, "compressed", "read", "Slides", "1", f.Dir().File("back.bin")});
    ASSERT_EQ(o.code, 0) << o.err;
    const std::string raw = TempDir::ReadAll(f.Dir().File("back.bin"));
    EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.end()), expect);
    // An empty slot (erased flash) does not decode: said so, and no file.
    o = f.Run({"--link", link, "compressed", "read", "Slides", "0", f.Dir().File("empty.png")});
    EXPECT_EQ(o.code, 66) << o.err;
    EXPECT_NE(o.err.find("does not decode"), std::string::npos) << o.err;
    EXPECT_FALSE(std::filesystem::exists(f.Dir().File("empty.png")));

    // The pictures command waits for the compression of a format-6 element before its write.
    o = f.Run({"--link", link, "pictures", "write", "Full", "F", png});
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(ImageBytes(image, 0x400000, 600064), expect);

    // Offline: the same stream as the element makes, and back to a picture.
    o = f.Run({"compressed", "encode", png, f.Dir().File("enc.bin"), "--codec", "tamo"});
    ASSERT_EQ(o.code, 0) << o.err;
    const std::string enc = TempDir::ReadAll(f.Dir().File("enc.bin"));
    EXPECT_EQ(std::vector<uint8_t>(enc.begin(), enc.end()), expect);
    o = f.Run({"compressed", "decode", f.Dir().File("enc.bin"), f.Dir().File("dec.png"), "--codec", "tamo"});
    ASSERT_EQ(o.code, 0) << o.err;
    CPicture dec;
    ASSERT_EQ(dec.Load(f.Dir().File("dec.png"), false, 0, 0, 0), 0);
    EXPECT_EQ(dec.Width(), 1920);
    EXPECT_EQ(dec.Height(), 1080);

    TempDir::WriteAll(f.Dir().File("junk.bin"), std::string(600064, '\x11'));
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;
    } cases[] = {
        {{"compressed", "encode", png, f.Dir().File("x.bin")}, 64, "--codec"},
        {{"compressed", "encode", png, f.Dir().File("x.bin"), "--codec", "tamo", "--range", "pc"}, 64, "DNxHD"},
        {{"compressed", "encode", f.Dir().File("none.png"), f.Dir().File("x.bin"), "--codec", "tamo"}, 66, "Error opening image file"},
        {{"compressed", "encode", png, f.Dir().File("no/dir/x.bin"), "--codec", "tamo"}, 73, "cannot write"},
        {{"compressed", "decode", f.Dir().File("junk.bin"), f.Dir().File("x.png"), "--codec", "tamo"}, 66, "does not decode"},
        {{"compressed", "decode", png, f.Dir().File("x.png"), "--codec", "tamo"}, 66, "not 1 to 8 frames"},
        {{"--link", link, "compressed", "write", "Slides", "9", png}, 64, "no slot"},
        {{"--link", link, "compressed", "write", "Slides", "0", f.Dir().File("none.png")}, 66, "Error opening image file"},
    };
    for (const Case& c : cases) {
        o = f.Run(c.args);
        EXPECT_EQ(o.code, c.code) << o.err;
        EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    }
}
