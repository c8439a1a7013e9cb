// Fuzz target of the compressed pictures decode path: a valid system codec slot with the input
// laid over it (the first four bytes choose where), as a slot read from a device and as a raw
// slot file loaded into the element. Nothing may crash; a slot that decodes keeps its picture.
#include "common/TempDir.h"
#include "model/CPnPModel.h"
#include "model/CPnPPicsCompressed.h"
#include "pictures/CompressedPicture.h"
#include "pictures/LoadingOptions.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {
struct Fixture {
    TempDir dir;
    CPnPModel model;
    std::vector<uint8_t> valid = std::vector<uint8_t>(kCodecFrameBytes);
    CPnPPicsCompressed* el = nullptr;
    Fixture() {
        model.LoadFromText("<device><pnp><pictures_compressed width=\"1920\" height=\"1080\" format=\"1\">"
                           "<item/></pictures_compressed></pnp></device>");
        el = static_cast<CPnPPicsCompressed*>(model.elements.at(0).get());
        CPicture p(1920, 1080);
        for (int y = 0; y < 1080; ++y)
            for (int x = 0; x < 1920; ++x) p.At(x, y) = uint32_t(x * 7 + y * 3) & 0x00FFFFFFu;
        std::string error;
        CompressPicture(p, CompressedCodec::System, DnxhdRange::Pc, valid.data(), valid.size(), error);
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fx;
    std::vector<uint8_t> slot = fx.valid;
    if (size >= 4) {
        const size_t at = (size_t(data[0]) | size_t(data[1]) << 8 | size_t(data[2]) << 16) % slot.size();
        for (size_t i = 4; i < size; ++i) slot[(at + i - 4) % slot.size()] ^= data[i];
    }
    // Read from a device: whatever happens the buffer is the slot's.
    fx.el->FromDeviceBuffer(slot.data(), slot.size());
    if (fx.el->deviceBuffer != slot) __builtin_trap();
    // A raw file, cut short by the last byte of the input.
    const std::string path = fx.dir.File("slot.bin");
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        const size_t n = size && (data[size - 1] & 1) ? slot.size() / 2 : slot.size();
        std::fwrite(slot.data(), 1, n, f);
        std::fclose(f);
    }
    CDitherRandom rng(1);
    fx.el->LoadFromFile(path, false, false, rng);
    return 0;
}
