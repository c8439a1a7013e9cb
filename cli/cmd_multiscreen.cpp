// varoctl multiscreen: the multiscreen page's work from scripts, on the same core classes.
//   multiscreen render --model FILE [--mss FILE.mss] OUTDIR   device data and pictures, offline
//   multiscreen check FILE.mss --model FILE                   the first overlap, or "no overlap"
//   --link L multiscreen write [FILE.mss]                     the page's "Write"
// The model's first multiscreen element is used unless --element NAME names another.
#include "app/ConfigStore.h"
#include "cli/CliSession.h"
#include "model/CPnPMultiScreen.h"
#include "signals/MultiScreenPage.h"

#include <filesystem>
#include <strings.h>

namespace {
int Usage(const char* why) {
    std::fprintf(stderr, "varoctl multiscreen: %s\n", why);
    std::fprintf(stderr,
                 "usage: varoctl multiscreen render --model FILE [--mss FILE.mss] [--element NAME] OUTDIR\n"
                 "       varoctl multiscreen check FILE.mss --model FILE [--element NAME]\n"
                 "       varoctl --link KIND:TARGET multiscreen write [FILE.mss] [--element NAME]\n");
    return kExitUsage;
}

struct Args {
    std::string verb, model, mss, element;
    std::vector<std::string> positional;
};

bool Parse(const std::vector<std::string>& a, Args& out) {
    if (a.empty()) return false;
    out.verb = a[0];
    for (size_t i = 1; i < a.size(); ++i) {
        auto value = [&](std::string& v) {
            if (i + 1 >= a.size()) return false;
            v = a[++i];
            return true;
        };
        if (a[i] == "--model") {
            if (!value(out.model)) return false;
        } else if (a[i] == "--mss") {
            if (!value(out.mss)) return false;
        } else if (a[i] == "--element") {
            if (!value(out.element)) return false;
        } else if (a[i].rfind("--", 0) == 0) {
            return false;
        } else {
            out.positional.push_back(a[i]);
        }
    }
    return true;
}

CPnPMultiScreen* FindMultiScreen(CPnPModel& model, const std::string& name) {
    for (const auto& e : model.elements) {
        if (e->kind != kPnPMultiScreen) continue;
        if (name.empty() || strcasecmp(e->name.c_str(), name.c_str()) == 0 ||
            strcasecmp(model.PageTitle(e.get()).c_str(), name.c_str()) == 0)
            return static_cast<CPnPMultiScreen*>(e.get());
    }
    return nullptr;
}

// The operator's answers: messages on stderr, questions answered Yes.
struct OfflineUi : CliUi {};

struct Offline {
    CPnPModel model;
    OfflineUi ui;
    RDeviceContext ctx;
    CPnPMultiScreen* element = nullptr;

    int Open(const Args& a) {
        if (a.model.empty()) return Usage("--model FILE is needed");
        const int r = model.Load(a.model);
        if (r != kPnPLoaded) {
            std::fprintf(stderr, "varoctl: cannot load the model %s\n", a.model.c_str());
            return kExitNoInput;
        }
        element = FindMultiScreen(model, a.element);
        if (!element) {
            std::fprintf(stderr, "varoctl: no multiscreen element%s%s in %s\n", a.element.empty() ? "" : " ",
                         a.element.c_str(), a.model.c_str());
            return kExitUsage;
        }
        if (!element->error.empty()) {
            std::fprintf(stderr, "varoctl: %s\n", element->error.c_str());
            return kExitNoInput;
        }
        ctx.ui = &ui;
        ctx.model = &model;
        // Preferences are kept per model name: the signature, which names the file.
        ctx.effectiveModelName = std::filesystem::path(a.model).stem().string();
        return 0;
    }
};

// Loads the .mss file into the page; the message says why it failed.
int LoadMss(CMultiScreenPage& page, const std::string& path) {
    const int r = page.Load(path);
    return r == 0 ? 0 : kExitNoInput;
}

int Render(const Args& a) {
    if (a.positional.size() != 1) return Usage("render needs one OUTDIR");
    Offline o;
    if (int r = o.Open(a)) return r;
    CMultiScreenPage page(*o.element, o.ctx, AppStore());
    page.EnsureBuilt();
    if (!a.mss.empty())
        if (int r = LoadMss(page, a.mss)) return r;
    const std::string dir = a.positional[0];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    auto fail = [](const std::string& p) {
        std::fprintf(stderr, "varoctl: cannot write %s\n", p.c_str());
        return kExitCantCreate;
    };
    auto writeBin = [](const std::string& p, const std::vector<uint8_t>& b) {
        FILE* f = std::fopen(p.c_str(), "wb");
        if (!f) return false;
        const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
        return std::fclose(f) == 0 && ok;
    };
    CMultiScreen& doc = page.Document();
    CPnPMultiScreen& m = *o.element;
    for (int d = 0; d < doc.realDisplays; ++d) {
        if (m.DisplayBackgroundSize(d) < 1) continue;
        CPicture halved;
        std::vector<uint8_t> bytes;
        std::string err;
        if (!MultiScreenBackgroundBytes(doc, m, d, halved, bytes, err)) {
            std::fprintf(stderr, "varoctl: %s\n", err.c_str());
            return kExitNoInput;
        }
        const std::string base = dir + "/background" + std::to_string(d + 1);
        if (halved.SavePNG(base + ".png") != 0) return fail(base + ".png");
        if (!writeBin(base + ".bin", bytes)) return fail(base + ".bin");
    }
    if (m.CoverSize() > 0) {
        CPicture cover;
        MultiScreenCoverPicture(doc, m, cover);
        std::vector<uint8_t> bytes;
        std::string err;
        if (!MultiScreenCoverBytes(cover, m, bytes, err)) {
            std::fprintf(stderr, "varoctl: %s\n", err.c_str());
            return kExitNoInput;
        }
        if (cover.SavePNG(dir + "/cover.png") != 0) return fail(dir + "/cover.png");
        if (!writeBin(dir + "/cover.bin", bytes)) return fail(dir + "/cover.bin");
    }
    if (MultiScreenComposed(doc, m).SavePNG(dir + "/composed.png") != 0) return fail(dir + "/composed.png");
    if (!writeBin(dir + "/settings.bin", MultiScreenEncodeSettings(doc, m))) return fail(dir + "/settings.bin");
    return 0;
}

int Check(const Args& a) {
    if (a.positional.size() != 1) return Usage("check needs one FILE.mss");
    Offline o;
    if (int r = o.Open(a)) return r;
    CMultiScreenPage page(*o.element, o.ctx, AppStore());
    if (int r = LoadMss(page, a.positional[0])) return r;
    if (page.Valid()) {
        std::printf("no overlap\n");
        return 0;
    }
    const RMsOverlap& ov = page.LastOverlap();
    const CMultiScreen& doc = page.Document();
    const auto& disp = *doc.displays[size_t(ov.display)];
    const auto& layer = *disp.layers[size_t(ov.layer)];
    std::printf("overlap on %s, layer %s: [%s] and [%s]\n", disp.name.c_str(), layer.name.c_str(),
                layer.elements[size_t(ov.first)]->name.c_str(), layer.elements[size_t(ov.second)]->name.c_str());
    return 0;
}

int Write(const VaroctlOptions& opts, const Args& a) {
    if (a.positional.size() > 1) return Usage("write takes at most one FILE.mss");
    CliSession s;
    if (!s.Select(opts)) return kExitUsage;
    if (int r = s.LoadModel()) return r;
    CPnPMultiScreen* el = FindMultiScreen(s.model, a.element);
    if (!el) {
        std::fprintf(stderr, "varoctl: the device's model has no multiscreen element\n");
        return kExitUsage;
    }
    if (!el->error.empty()) {
        std::fprintf(stderr, "varoctl: %s\n", el->error.c_str());
        return kExitNoInput;
    }
    CMultiScreenPage page(*el, s.ctx, AppStore());
    page.EnsureBuilt();
    if (!a.positional.empty())
        if (int r = LoadMss(page, a.positional[0])) return r;
    if (!page.Write(false)) return s.ui.failed ? kExitNoInput : kExitUsage;
    return s.Run();
}

int RunMultiScreen(const VaroctlOptions& opts, const std::vector<std::string>& args) {
    Args a;
    if (!Parse(args, a)) return Usage("bad arguments");
    if (a.verb == "render") return Render(a);
    if (a.verb == "check") return Check(a);
    if (a.verb == "write") return Write(opts, a);
    return Usage("unknown verb");
}

VaroctlRegistrar reg{{"multiscreen",
                      "multiscreen render --model FILE [--mss FILE.mss] OUTDIR | check FILE.mss --model FILE | "
                      "write [FILE.mss]",
                      &RunMultiScreen}};
}  // namespace
