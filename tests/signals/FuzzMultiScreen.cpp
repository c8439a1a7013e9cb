// Fuzz targets of the multiscreen code.
//   FUZZ_TARGET 1: ".mss" files from any bytes and from patched valid ones, loaded into a small
//   two-display model with an object; a loaded layout is saved, encoded and rendered.
//   FUZZ_TARGET 2: the multiscreen part of model files: any text as the element's body and
//   attributes; the document is built, checked, encoded and (for small displays) rendered.
#include "model/CPnPModel.h"
#include "signals/MultiScreenDoc.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {
const char* const kLayout =
    "<background scale=\"2\" newformat=\"4\"/><background scale=\"1\" newformat=\"3\"/><cover newformat=\"4\"/>"
    "<object name=\"O\" width=\"16\" height=\"16\"><element type=\"volume\" id=\"9\" default_width=\"4\" default_size=\"16\""
    " pos_x_offset_bytes=\"30\" pos_x_size=\"8\"/></object>"
    "<layer><element type=\"window\" id=\"1\" default_width=\"20\" default_height=\"10\" display_affinity=\"3\""
    " pos_x_offset_bytes=\"0\" pos_x_size=\"12\" scale_x_offset_bytes=\"2\" scale_x_size=\"16\"/>"
    "<element type=\"O\" id=\"2\" default_x=\"30\" default_width=\"8\" default_height=\"8\"/></layer>"
    "<layer><element type=\"label\" id=\"3\" width=\"20\" height=\"8\" text=\"A\" display_affinity=\"3\"/>"
    "<element type=\"volume\" id=\"4\" default_width=\"4\" default_size=\"20\" default_display=\"2\"/>"
    "<element type=\"box\" id=\"5\" width=\"4\" height=\"4\" pos_x_offset_bytes=\"31\" pos_x_offset_bits=\"5\" pos_x_size=\"9\"/></layer>";

std::string TempPath() {
    static std::string p = [] {
        char t[] = "/tmp/varo-msfuzz-XXXXXX";
        int fd = mkstemp(t);
        if (fd >= 0) close(fd);
        return std::string(t);
    }();
    return p;
}

void Exercise(CMultiScreen& doc, const CPnPMultiScreen& ms, bool render) {
    RMsOverlap o;
    MultiScreenOverlap(doc, o);
    if (MultiScreenEncodeSettings(doc, ms).size() != size_t(std::max(ms.size, 0))) __builtin_trap();
    if (!render) return;
    for (int d = 0; d < doc.realDisplays; ++d) {
        CPicture half;
        std::vector<uint8_t> bytes;
        std::string err;
        if (MultiScreenBackgroundBytes(doc, ms, d, half, bytes, err) && bytes.size() != size_t(ms.DisplayBackgroundSize(d)))
            __builtin_trap();
    }
    CPicture cover;
    MultiScreenCoverPicture(doc, ms, cover);
    std::vector<uint8_t> bytes;
    std::string err;
    MultiScreenCoverBytes(cover, ms, bytes, err);
    MultiScreenPreview(doc, ms);
}

#if FUZZ_TARGET == 1
struct Fixture {
    CPnPModel model;
    CPnPMultiScreen* ms = nullptr;
    std::vector<uint8_t> valid;
    Fixture() {
        model.LoadFromText("<m><pnp><multiscreen width=\"64\" height=\"32\" size=\"32\">" + std::string(kLayout) +
                           "</multiscreen></pnp></m>");
        ms = static_cast<CPnPMultiScreen*>(model.FindFirst(kPnPMultiScreen));
        CMultiScreen doc;
        MultiScreenBuild(doc, *ms, false);
        MultiScreenSave(doc, *ms, TempPath());
        FILE* f = std::fopen(TempPath().c_str(), "rb");
        int c;
        while (f && (c = std::fgetc(f)) != EOF) valid.push_back(uint8_t(c));
        if (f) std::fclose(f);
    }
};

void LoadBytes(const Fixture& fx, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(TempPath().c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    CMultiScreen doc;
    const int r = MultiScreenLoad(doc, *fx.ms, TempPath());
    if (r != 0 && r != 2) __builtin_trap();
    if (r == 0) {
        Exercise(doc, *fx.ms, true);
        if (MultiScreenSave(doc, *fx.ms, TempPath()) != 0) __builtin_trap();
        CMultiScreen again;
        if (MultiScreenLoad(again, *fx.ms, TempPath()) != 0) __builtin_trap();
    }
}
#endif
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if FUZZ_TARGET == 1
    static Fixture fx;
    LoadBytes(fx, std::vector<uint8_t>(data, data + size));
    if (size < 2 || fx.valid.empty()) return 0;
    // A valid file cut and patched: offsets into the header, the background block or the records.
    std::vector<uint8_t> f = fx.valid;
    const size_t cut = size_t(data[0] | data[1] << 8);
    if (cut != 0xFFFF) f.resize(f.size() * cut / 0xFFFF);
    for (size_t i = 2; i + 3 <= size && !f.empty(); i += 3) {
        const size_t off = size_t(data[i] | data[i + 1] << 8);
        f[(data[i + 1] & 0x80) ? f.size() - 1 - off % f.size() : off % f.size()] = data[i + 2];
    }
    LoadBytes(fx, f);
#else
    // The first byte picks a display size, the rest is the element's attributes and body.
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string attrs = "size=\"40\" width=\"64\" height=\"32\"";
    if (!text.empty() && text[0] == '!') {
        const size_t gt = text.find('>');
        if (gt != std::string::npos) {
            attrs = text.substr(1, gt - 1);
            text = text.substr(gt + 1);
        }
    }
    CPnPModel model;
    if (model.LoadFromText("<m><pnp><multiscreen " + attrs + ">" + text + "</multiscreen></pnp></m>") != kPnPLoaded)
        return 0;
    for (const auto& e : model.elements) {
        if (e->kind != kPnPMultiScreen) continue;
        auto& ms = static_cast<CPnPMultiScreen&>(*e);
        CMultiScreen doc;
        MultiScreenBuild(doc, ms, size % 2 == 0);
        // Big displays are built and encoded; only small ones are drawn, to keep runs short.
        Exercise(doc, ms, int64_t(ms.width) * ms.height <= 256 * 256);
    }
#endif
    return 0;
}
