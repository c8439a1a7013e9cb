// Fuzz targets of the pictures elements' readers (FUZZ_TARGET at build time):
// 1 a raw device picture file loaded into a resizable element (the shape from its marker),
//   the first byte choosing the format; 2 a stored 60-byte font record and colour read back
//   as a text label's preferences and drawn with.
#include "app/ConfigStore.h"
#include "common/TempDir.h"
#include "model/CPnPModel.h"
#include "model/CPnPPics.h"
#include "pictures/LoadingOptions.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {
TempDir& Dir() {
    static TempDir d;
    return d;
}

#if FUZZ_TARGET == 1
void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}
#endif
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if FUZZ_TARGET == 1
    if (size < 1) return 0;
    static CPnPModel models[5];
    static bool loaded = false;
    if (!loaded) {
        for (int f = 0; f < 5; ++f)
            models[f].LoadFromText("<device><pnp><pictures width=\"12\" height=\"6\" linesize=\"14\" resizable=\"1\" newformat=\"" +
                                   std::to_string(f) + "\" extensions=\"lbl\"><item/></pictures></pnp></device>");
        loaded = true;
    }
    auto* el = static_cast<CPnPPics*>(models[data[0] % 5].elements.at(0).get());
    const std::string path = Dir().File("in.lbl");
    if ((data[0] & 0x80) && size > 1) {
        // Short inputs repeated up to a whole file (and a little more), so the shapes are reached.
        std::vector<uint8_t> file(size_t(el->BufferSize()) + (data[0] & 0x0F));
        for (size_t i = 0; i < file.size(); ++i) file[i] = data[1 + i % (size - 1)];
        WriteFile(path, file.data(), file.size());
    } else {
        WriteFile(path, data + 1, size - 1);
    }
    CDitherRandom rng;
    const bool was = el->loaded;
    const PnPPicsLoad r = el->LoadFromFile(path, false, false, rng);
    if (r.result == PnPPicsLoad::kLoaded) {
        // Whatever shape was read, it goes back into a slot of the same size.
        if (el->deviceBuffer.size() != size_t(el->BufferSize()) || !el->Convert()) __builtin_trap();
    } else if (el->loaded != was) {
        __builtin_trap();
    }
#else
    static CPnPModel model;
    static CConfigStore store;
    static bool loaded = false;
    if (!loaded) {
        CPicture bg(48, 16);
        bg.SavePNG(Dir().File("bg.png"));
        model.LoadFromText("<device><pnp><pictext name=\"L\" width=\"48\" height=\"16\" x=\"24\" y=\"12\" background=\"" +
                           Dir().File("bg.png") + "\"><item/></pictext></pnp></device>");
        store.SetPath(Dir().File("VaroConfig.ini"));
        loaded = true;
    }
    auto* el = static_cast<CPnPPicText*>(model.elements.at(0).get());
    // The record as any earlier program may have stored it (checksum right, content anything),
    // the colour from the rest of the input as text.
    uint8_t rec[CFontRecord::kSize] = {};
    for (size_t i = 0; i < CFontRecord::kSize && i < size; ++i) rec[i] = data[i];
    store.WriteStruct("PnP_Preferences", CPnPPicText::FontKey("M", "L"), rec, sizeof rec);
    std::string colour;
    for (size_t i = CFontRecord::kSize; i < size && colour.size() < 40; ++i)
        if (data[i] >= 0x20 && data[i] < 0x7F) colour += char(data[i]);
    store.WriteString("PnP_Preferences", CPnPPicText::ColourKey("M"), colour);
    el->LoadPreferences(store, "M");
    if (el->colour > 0xFFFFFF) __builtin_trap();
    el->text = "Ag";
    el->DrawLabel();
#endif
    return 0;
}
