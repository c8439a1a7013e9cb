// The encoded bytes of a set of pictures, pinned by size, final scale and a hash. The devices
// decode what the encoder writes, and speed work on the encoder must not move a single bit:
// any change in the transform, the quantiser, the codes or the scale rules shows up here.
#include "codec/TamoEncoder.h"
#include "codec/TamoTables.h"
#include "codec/TamoTransform.h"
#include "codec/CodecTestPictures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace tamo;
using namespace codectest;

namespace {

uint64_t Fnv1a(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

const Planes& Picture(const std::string& name, Synthetic kind, int type) {
    static std::map<std::string, std::unique_ptr<Planes>> cache;
    const std::string key = name + "/" + std::to_string(int(kind)) + "/" + std::to_string(type);
    auto& p = cache[key];
    if (!p) {
        if (name.empty()) {
            p = std::make_unique<Planes>(MakeSynthetic(kind, type, 41));
        } else {
            bool ok = false;
            p = std::make_unique<Planes>(BenchPicture(name, type, ok));
            if (!ok) p.reset();
        }
    }
    if (!p) ADD_FAILURE() << "cannot read " << name;
    static const Planes none;
    return p ? *p : none;
}

}  // namespace

TEST(CodecPinnedStreams, EncodedBytesDoNotChange) {
    struct Case {
        std::string name;  // bench picture, or empty for the synthetic kind
        Synthetic kind;
        int type;
        int units;
        int size;
        int scale;
        uint64_t hash;
    } cases[] = {
        // The benchmark's pictures; the first codes twice (its first final coding overflows).
        {"forest-1920x1080.png", Synthetic::Flat, kTypeHD, 1171, 570108, 5, 0xc307edd12534d5aaull},
        {"forest-1920x1080.png", Synthetic::Flat, kTypeHD, 500, 241932, 15, 0x20087bb2bcc4489full},
        {"water-1920x1080.png", Synthetic::Flat, kTypeHD, 1171, 583908, 2, 0x771f5e2ca7de932aull},
        // Its search ends on a scale whose sample was well over, yet the picture fits.
        {"water-1920x1080.png", Synthetic::Flat, kTypeHD, 348, 176228, 10, 0x0c1fcda9e46d8dd7ull},
        {"forest-1920x1080.png", Synthetic::Flat, kType4K, 4684, 2239532, 3, 0x238203261d9ac53aull},
        {"water-1920x1080.png", Synthetic::Flat, kType4K, 2000, 995952, 4, 0xb0d356249e7a2b1cull},
        // Synthetic ones: escalations by one scale step and to the empty picture, scale 1, the
        // largest scale, a 4K picture at a low scale.
        {"", Synthetic::Noise, kTypeHD, 1200, 604268, 44, 0xb75154401dc50d5aull},
        {"", Synthetic::Noise, kTypeHD, 2000, 999148, 26, 0x8d8951482aca19e2ull},
        {"", Synthetic::Noise, kTypeHD, 40, 304, 65, 0x3b653cc92d401ab1ull},
        {"", Synthetic::Edges, kTypeHD, 500, 234712, 31, 0x593f3bc8e7dc5a4dull},
        {"", Synthetic::Edges, kTypeHD, 800, 393492, 6, 0x9f121e2dc7fe894full},
        {"", Synthetic::Gradient, kTypeHD, 150, 60924, 63, 0x88806affb154624dull},
        {"", Synthetic::Gradient, kTypeHD, 200, 85404, 2, 0xa0504ebd72720519ull},
        {"", Synthetic::Gradient, kTypeHD, 60000, 117652, 1, 0x15cc0c36a76998abull},
        {"", Synthetic::Edges, kType4K, 4000, 1990916, 2, 0x811473c723799a87ull},
        {"", Synthetic::Noise, kType4K, 4000, 2008712, 51, 0x9d22ae3de49106d0ull},
    };
    for (const auto& c : cases) {
        const Planes& p = Picture(c.name, c.kind, c.type);
        if (p.y.empty()) continue;
        // The portable transform on one thread, the best one on two.
        const std::pair<TransformImpl, int> runs[] = {{TransformImpl::Portable, 1}, {BestTransform(), 2}};
        for (auto [impl, threads] : runs) {
            TamoEncoder enc(c.units, c.type, 0, impl);
            enc.SetThreads(threads);
            std::vector<uint8_t> out(size_t(c.units) * 512);
            const int size = enc.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data());
            const uint64_t hash = Fnv1a(out.data(), size_t(size > 0 ? size : 0));
            const std::string what = (c.name.empty() ? "synthetic " + std::to_string(int(c.kind)) : c.name) +
                                     " type " + std::to_string(c.type) + " at " + std::to_string(c.units) +
                                     " units, impl " + std::to_string(int(impl)) + ", " +
                                     std::to_string(threads) + " threads";
            EXPECT_EQ(size, c.size) << what;
            EXPECT_EQ(enc.Scale(), c.scale) << what;
            char hex[32];
            std::snprintf(hex, sizeof hex, "0x%016llx", static_cast<unsigned long long>(hash));
            EXPECT_EQ(hash, c.hash) << what << ": " << hex;
        }
    }
}
