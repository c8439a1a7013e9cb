// varoctl pictures: what the pictures page does, from scripts. The device's signature selects
// the model; ELEMENT is a pictures or text label element by name or page title, SLOT an item
// by name or index.
//   pictures write ELEMENT SLOT IMAGE [--dither] [--vfilter] [--lumakey T,TYPE,SIZE,COLOR]
//   pictures read ELEMENT SLOT OUT.png|OUT.bmp|OUT.raw
//   pictures label ELEMENT SLOT TEXT [--font FACE,SIZE[,bold]] [--color 0xBBGGRR]
#include "cli/CliSession.h"
#include "model/CPnPPics.h"
#include "pictures/PicturesPage.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

namespace {
int Usage(const char* why, const std::string& what = {}) {
    std::fprintf(stderr, "varoctl pictures: %s%s\n", why, what.c_str());
    std::fprintf(stderr,
                 "usage: varoctl --link KIND:TARGET pictures write ELEMENT SLOT IMAGE [--dither] [--vfilter]\n"
                 "                [--lumakey T,TYPE,SIZE,COLOR]\n"
                 "       varoctl --link KIND:TARGET pictures read ELEMENT SLOT OUT.png|OUT.bmp|OUT.raw\n"
                 "       varoctl --link KIND:TARGET pictures label ELEMENT SLOT TEXT [--font FACE,SIZE[,bold]]\n"
                 "                [--color 0xBBGGRR]\n");
    return kExitUsage;
}

bool ParseLong(const std::string& s, long lo, long hi, long& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long x = std::strtol(s.c_str(), &end, 0);
    if (errno || !end || *end || x < lo || x > hi) return false;
    v = x;
    return true;
}

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = s.find(',', start);
        parts.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

struct Parsed {
    std::vector<std::string> positional;
    PicturesOptions options;
    bool lumaKeyGiven = false;
    bool fontGiven = false, colourGiven = false;
    CFontRecord font;
    uint32_t colour = 0;
};

// false: the usage message is out (rc set).
bool Parse(const std::string& verb, const std::vector<std::string>& a, Parsed& p, int& rc) {
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string& o = a[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= a.size()) return false;
            v = a[++i];
            return true;
        };
        std::string v;
        bool ok = true;
        if (verb == "write" && o == "--dither") {
            p.options.dither = true;
        } else if (verb == "write" && o == "--vfilter") {
            p.options.verticalFilter = true;
        } else if (verb == "write" && o == "--lumakey") {
            ok = value(v);
            const std::vector<std::string> parts = ok ? Split(v) : std::vector<std::string>{};
            static const long kMax[4] = {9, 4, 4, 2};
            long n[4] = {};
            ok = ok && parts.size() == 4;
            for (size_t k = 0; ok && k < 4; ++k) ok = ParseLong(parts[k], 0, kMax[k], n[k]);
            p.options.lumaKey = p.lumaKeyGiven = ok;
            p.options.luma = {int(n[0]), int(n[1]), int(n[2]), int(n[3])};
        } else if (verb == "label" && o == "--font") {
            ok = value(v);
            const std::vector<std::string> parts = ok ? Split(v) : std::vector<std::string>{};
            long points = 0;
            ok = ok && (parts.size() == 2 || (parts.size() == 3 && parts[2] == "bold")) && !parts[0].empty() &&
                 ParseLong(parts[1], 1, 1000, points);
            if (ok) p.font = PointFont(parts[0], int(points), parts.size() == 3 ? 700 : 400);
            p.fontGiven = ok;
        } else if (verb == "label" && o == "--color") {
            long c = 0;
            ok = value(v) && ParseLong(v, 0, 0xFFFFFF, c);
            p.colour = uint32_t(c);
            p.colourGiven = ok;
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
    if (p.positional.size() != 3) {
        rc = Usage("expected ELEMENT, SLOT and ", verb == "write" ? "IMAGE" : verb == "read" ? "OUT" : "TEXT");
        return false;
    }
    return true;
}

int RunPictures(const VaroctlOptions& o, const std::vector<std::string>& a) {
    if (a.empty() || (a[0] != "write" && a[0] != "read" && a[0] != "label")) return Usage("write, read or label?");
    const std::string verb = a[0];
    Parsed p;
    int rc = 0;
    if (!Parse(verb, a, p, rc)) return rc;

    CliSession s;
    if (!s.Select(o)) return kExitUsage;
    if (int r = s.LoadModel()) return r;
    auto* el = static_cast<CPnPPics*>(FindCliElement(
        s.model, p.positional[0], [](const CPnPBlock& e) { return e.kind == kPnPPictures || e.kind == kPnPPicText; }));
    if (!el) {
        std::fprintf(stderr, "varoctl: no pictures or text label element '%s' in the model\n", p.positional[0].c_str());
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
    // The command line's font and colour are for this label only: no preferences are kept.
    CPicturesPage page(*el, s.ctx, nullptr);

    if (verb == "read") {
        if (!page.Read(slot)) {
            std::fprintf(stderr, "varoctl: slot %d of '%s' cannot be read\n", slot, el->name.c_str());
            return kExitUsage;
        }
        if (int r = s.Run()) return r;
        if (el->SaveToFile(p.positional[2]) != 0) {
            std::fprintf(stderr, "varoctl: cannot write %s\n", p.positional[2].c_str());
            return kExitCantCreate;
        }
        return 0;
    }
    if (verb == "write") {
        if (p.lumaKeyGiven && !page.LumaKeyOffered()) {
            std::fprintf(stderr, "varoctl: '%s' does not offer the luma key\n", el->name.c_str());
            return kExitUsage;
        }
        if (!page.Load(p.positional[2], p.options)) return kExitNoInput;
        // Formats 5 and 6 compress as an operation of their own.
        if (s.ops.Busy()) {
            if (int r = s.Run()) return r;
            if (s.ui.failed || !el->loaded) return kExitNoInput;
        }
    } else {
        CPnPPicText* label = page.TextLabel();
        if (!label) {
            std::fprintf(stderr, "varoctl: '%s' is not a text label element\n", el->name.c_str());
            return kExitUsage;
        }
        if (!page.CanEditLabel()) {
            std::fprintf(stderr, "varoctl: '%s' has no background to draw the label on\n", el->name.c_str());
            return kExitNoInput;
        }
        if (p.fontGiven) label->font = p.font;
        if (p.colourGiven) label->colour = p.colour;
        if (!page.SetLabelText(p.positional[2])) {
            std::fprintf(stderr, "varoctl: no font to draw the label with\n");
            return kExitNoInput;
        }
    }
    if (!page.Write(slot, false)) {
        std::fprintf(stderr, "varoctl: slot %d of '%s' cannot be written\n", slot, el->name.c_str());
        return kExitUsage;
    }
    return s.Run();
}

VaroctlRegistrar reg{{"pictures",
                      "pictures write ELEMENT SLOT IMAGE [--dither] [--vfilter] [--lumakey T,TYPE,SIZE,COLOR]\n"
                      "  pictures read ELEMENT SLOT OUT.png|OUT.bmp|OUT.raw\n"
                      "  pictures label ELEMENT SLOT TEXT [--font FACE,SIZE[,bold]] [--color 0xBBGGRR]",
                      &RunPictures}};
}  // namespace
