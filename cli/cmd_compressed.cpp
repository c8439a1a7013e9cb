// varoctl compressed: compressed picture slots from scripts, with the pictures page's own
// steps (ELEMENT a compressed pictures element, or a pictures element of format 5 or 6), and
// the two codecs offline.
//   compressed write ELEMENT SLOT IMAGE [--dither] [--vfilter]
//   compressed read ELEMENT SLOT OUT.png|OUT.bmp|OUT.bin
//   compressed encode IMAGE OUT.bin --codec dnxhd|tamo [--range pc|tv]
//   compressed decode IN.bin OUT.png --codec dnxhd|tamo
#include "cli/CliSession.h"
#include "app/Strings.h"
#include "model/CPnPPicsCompressed.h"
#include "pictures/CompressedPicture.h"
#include "pictures/PicturesPage.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <strings.h>

namespace {
int Usage(const char* why, const std::string& what = {}) {
    std::fprintf(stderr, "varoctl compressed: %s%s\n", why, what.c_str());
    std::fprintf(stderr,
                 "usage: varoctl --link KIND:TARGET compressed write ELEMENT SLOT IMAGE [--dither] [--vfilter]\n"
                 "       varoctl --link KIND:TARGET compressed read ELEMENT SLOT OUT.png|OUT.bmp|OUT.bin\n"
                 "       varoctl compressed encode IMAGE OUT.bin --codec dnxhd|tamo [--range pc|tv]\n"
                 "       varoctl compressed decode IN.bin OUT.png --codec dnxhd|tamo\n");
    return kExitUsage;
}

// Elements whose slots hold compressed frames.
bool TakesCompressedFrames(const CPnPBlock& e) {
    return e.kind == kPnPPicturesCompressed ||
           (e.kind == kPnPPictures && static_cast<const CPnPPics&>(e).LongConversion());
}

struct Parsed {
    std::vector<std::string> positional;
    PicturesOptions options;
    std::string codec, range;
};

bool Parse(const std::string& verb, const std::vector<std::string>& a, Parsed& p, int& rc) {
    const bool offline = verb == "encode" || verb == "decode";
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string& o = a[i];
        bool ok = true;
        if (verb == "write" && o == "--dither") {
            p.options.dither = true;
        } else if (verb == "write" && o == "--vfilter") {
            p.options.verticalFilter = true;
        } else if (offline && o == "--codec") {
            ok = i + 1 < a.size() && (a[i + 1] == "dnxhd" || a[i + 1] == "tamo");
            if (ok) p.codec = a[++i];
        } else if (verb == "encode" && o == "--range") {
            ok = i + 1 < a.size() && (a[i + 1] == "pc" || a[i + 1] == "tv");
            if (ok) p.range = a[++i];
        } else if (o.size() > 1 && o[0] == '-' && o[1] == '-') {
            rc = Usage("unknown option ", o);
            return false;
        } else {
            p.positional.push_back(o);
        }
        if (!ok) {
            rc = Usage("bad or missing value for ", o);
            return false;
        }
    }
    if (p.positional.size() != (offline ? 2u : 3u)) {
        rc = Usage(offline ? "expected two file names" : "expected ELEMENT, SLOT and a file");
        return false;
    }
    if (offline && p.codec.empty()) {
        rc = Usage("--codec dnxhd|tamo is required");
        return false;
    }
    if (verb == "encode" && p.codec == "tamo" && !p.range.empty()) {
        rc = Usage("--range is for the DNxHD codec");
        return false;
    }
    return true;
}

int Encode(const Parsed& p) {
    const std::string &image = p.positional[0], &out = p.positional[1];
    CPicture pic;
    if (int r = pic.Load(image, false, CPicture::kLoadNone, 0, 0)) {
        std::fprintf(stderr, "varoctl: %s\n", FormatMessage(kStrImageError + r, {image}).c_str());
        return kExitNoInput;
    }
    const CompressedCodec codec = p.codec == "dnxhd" ? CompressedCodec::Dnxhd : CompressedCodec::System;
    const int frames = CompressedFrameCount(pic);
    if (!frames) {
        std::fprintf(stderr, "varoctl: %s is %d x %d; compressed pictures are 1920 x 1080 (or stacks of them)\n",
                     image.c_str(), pic.Width(), pic.Height());
        return kExitNoInput;
    }
    std::vector<uint8_t> buf(size_t(frames) * CompressedFrameBytes(codec));
    std::string error;
    // DNxHD defaults to the compressed pictures element's studio range.
    const DnxhdRange range = p.range == "pc" ? DnxhdRange::Pc : DnxhdRange::Tv;
    if (!CompressPicture(pic, codec, range, buf.data(), buf.size(), error)) {
        std::fprintf(stderr, "varoctl: %s (%s)\n", FormatMessage(kStrImageError + 1, {image}).c_str(), error.c_str());
        return kExitNoInput;
    }
    std::ofstream f(out, std::ios::binary);
    if (!f.write(reinterpret_cast<const char*>(buf.data()), std::streamsize(buf.size())) || !(f.flush())) {
        std::fprintf(stderr, "varoctl: cannot write %s\n", out.c_str());
        return kExitCantCreate;
    }
    std::printf("%s: %zu bytes, %d frame%s\n", out.c_str(), buf.size(), frames, frames == 1 ? "" : "s");
    return 0;
}

int Decode(const Parsed& p) {
    const std::string &in = p.positional[0], &out = p.positional[1];
    const CompressedCodec codec = p.codec == "dnxhd" ? CompressedCodec::Dnxhd : CompressedCodec::System;
    const size_t slot = CompressedFrameBytes(codec);
    std::ifstream f(in, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "varoctl: %s\n", FormatMessage(kStrImageError + 1, {in}).c_str());
        return kExitNoInput;
    }
    // Bounded before anything is allocated for it: at most a stack of eight frames.
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    f.seekg(0);
    const size_t frames = size > 0 ? size_t(size) / slot : 0;
    if (frames == 0 || frames > 8) {
        std::fprintf(stderr, "varoctl: %s holds %lld bytes, not 1 to 8 frames of %zu\n", in.c_str(),
                     static_cast<long long>(size), slot);
        return kExitNoInput;
    }
    std::vector<uint8_t> buf(frames * slot);
    if (!f.read(reinterpret_cast<char*>(buf.data()), std::streamsize(buf.size()))) {
        std::fprintf(stderr, "varoctl: %s\n", FormatMessage(kStrImageError + 1, {in}).c_str());
        return kExitNoInput;
    }
    CPicture pic(kCompressedFrameWidth, int(frames) * kCompressedFrameHeight);
    pic.Fill(0x00000000u);
    std::string error;
    for (size_t k = 0; k < frames; ++k)
        if (!DecompressFrame(buf.data() + k * slot, slot, codec, pic, int(k), error)) {
            std::fprintf(stderr, "varoctl: frame %zu of %s does not decode (%s)\n", k, in.c_str(), error.c_str());
            return kExitNoInput;
        }
    if (pic.SavePNG(out) != 0) {
        std::fprintf(stderr, "varoctl: cannot write %s\n", out.c_str());
        return kExitCantCreate;
    }
    std::printf("%s: %dx%d\n", out.c_str(), pic.Width(), pic.Height());
    return 0;
}

int RunCompressed(const VaroctlOptions& o, const std::vector<std::string>& a) {
    if (a.empty() || (a[0] != "write" && a[0] != "read" && a[0] != "encode" && a[0] != "decode"))
        return Usage("write, read, encode or decode?");
    const std::string verb = a[0];
    Parsed p;
    int rc = 0;
    if (!Parse(verb, a, p, rc)) return rc;
    if (verb == "encode") return Encode(p);
    if (verb == "decode") return Decode(p);

    CliSession s;
    if (!s.Select(o)) return kExitUsage;
    if (int r = s.LoadModel()) return r;
    auto* el = static_cast<CPnPPics*>(FindCliElement(s.model, p.positional[0], TakesCompressedFrames));
    if (!el) {
        std::fprintf(stderr, "varoctl: no compressed pictures element '%s' in the model\n", p.positional[0].c_str());
        return kExitUsage;
    }
    const int slot = FindCliSlot(*el, p.positional[1]);
    if (slot < 0) {
        std::fprintf(stderr, "varoctl: no slot '%s' in '%s'\n", p.positional[1].c_str(), el->name.c_str());
        return kExitUsage;
    }
    if (!el->Usable()) {
        std::fprintf(stderr, "varoctl: %s\n", el->SizeProblem().c_str());
        return kExitNoInput;
    }
    CPicturesPage page(*el, s.ctx, nullptr);
    if (verb == "read") {
        if (!page.Read(slot)) {
            std::fprintf(stderr, "varoctl: slot %d of '%s' cannot be read\n", slot, el->name.c_str());
            return kExitUsage;
        }
        // The read and then its decompression.
        if (int r = s.Run()) return r;
        if (!el->loaded) return kExitNoInput;  // the page said it does not decode
        if (el->SaveToFile(p.positional[2]) != 0) {
            std::fprintf(stderr, "varoctl: cannot write %s\n", p.positional[2].c_str());
            return kExitCantCreate;
        }
        return 0;
    }
    page.Load(p.positional[2], p.options);
    if (int r = s.Run()) return r;
    if (s.ui.failed || !el->loaded) return kExitNoInput;
    if (!page.Write(slot, false)) {
        std::fprintf(stderr, "varoctl: slot %d of '%s' cannot be written\n", slot, el->name.c_str());
        return kExitUsage;
    }
    return s.Run();
}

VaroctlRegistrar reg{{"compressed",
                      "compressed write ELEMENT SLOT IMAGE [--dither] [--vfilter]\n"
                      "  compressed read ELEMENT SLOT OUT.png|OUT.bmp|OUT.bin\n"
                      "  compressed encode IMAGE OUT.bin --codec dnxhd|tamo [--range pc|tv]\n"
                      "  compressed decode IN.bin OUT.png --codec dnxhd|tamo",
                      &RunCompressed}};
}  // namespace
