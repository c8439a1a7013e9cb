// Whole-picture encoding: transform implementations, sizes, budgets, scale search.
#include "codec/TamoDecoder.h"
#include "codec/TamoEncoder.h"
#include "codec/TamoTables.h"
#include "codec/TamoTransform.h"
#include "codec/CodecTestPictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace tamo;
using namespace codectest;

namespace {

int RowLength(const std::vector<uint8_t>& s, int pos) { return (s[size_t(pos) + 2] << 8) | s[size_t(pos) + 3]; }

std::vector<int32_t> Transformed(const Planes& p, TransformImpl impl) {
    const Geometry& g = *GeometryOf(p.type);
    std::vector<int32_t> store(size_t(g.rows) * g.columns * 384);
    TransformPicture(impl, p.y.data(), p.cb.data(), p.cr.data(), g.width, g.rows, g.columns, store.data());
    return store;
}

}  // namespace

TEST(CodecTransform, AllImplementationsGiveIdenticalCoefficients) {
    std::vector<Planes> pictures;
    for (auto kind : {Synthetic::Noise, Synthetic::Edges, Synthetic::Gradient}) pictures.push_back(MakeSynthetic(kind, kTypeHD, 7));
    for (const char* name : {"forest-1920x1080.png", "water-1920x1080.png"}) {
        bool ok = false;
        Planes p = BenchPicture(name, kTypeHD, ok);
        if (ok) {
            pictures.push_back(std::move(p));
        } else {
            ADD_FAILURE() << "cannot read " << name;
        }
    }
    for (size_t i = 0; i < pictures.size(); ++i) {
        auto reference = Transformed(pictures[i], TransformImpl::Reference);
        EXPECT_EQ(Transformed(pictures[i], TransformImpl::Portable), reference) << "picture " << i;
        if (Avx2Available()) {
            EXPECT_EQ(Transformed(pictures[i], TransformImpl::Avx2), reference) << "picture " << i;
        }
    }
    if (!Avx2Available()) GTEST_SKIP() << "no AVX2 on this processor: only the portable transform was compared";
}

TEST(CodecTransform, MatchesTheExactDctWithinRounding) {
    uint32_t seed = 3;
    uint8_t block[64];
    const double pi = std::acos(-1.0);
    for (int trial = 0; trial < 200; ++trial) {
        for (auto& b : block) b = trial == 0 ? 255 : trial == 1 ? 0 : uint8_t(NextRandom(seed));
        int32_t out[64];
        TransformBlockReference(block, 8, out);
        for (int p = 0; p < 64; ++p) {
            int u = kScanToNatural[p] % 8, v = kScanToNatural[p] / 8;
            double sum = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    sum += (u ? 0.5 : std::sqrt(0.125)) * (v ? 0.5 : std::sqrt(0.125)) * std::cos((2 * x + 1) * u * pi / 16) *
                           std::cos((2 * y + 1) * v * pi / 16) * (block[y * 8 + x] - 128);
            ASSERT_LE(std::fabs(out[p] - sum), 0.5 + 1e-3) << "trial " << trial << " position " << p;
        }
        if (trial == 0) {
            EXPECT_EQ(out[0], 1016);
        }
        if (trial == 1) {
            EXPECT_EQ(out[0], -1024);
        }
    }
}

TEST(CodecEncoder, QuantiserDivisionIsExact) {
    // The encoder divides by multiplying with a per-position reciprocal.
    for (int q = 1; q <= 64; ++q) {
        for (const uint8_t* w : {kWeightLuma, kWeightChroma}) {
            for (int p = 1; p < 64; ++p) {
                uint32_t d = uint32_t(q) * w[p];
                uint32_t magic = uint32_t((uint64_t(1) << 32) / d + 1);
                for (uint32_t x = 0; x <= 2048; ++x)
                    ASSERT_EQ(uint32_t((uint64_t(x * 32) * magic) >> 32), x * 32 / d) << q << " " << p << " " << x;
            }
        }
    }
}

TEST(CodecEncoder, MidGreyHdFitsAtScaleOne) {
    Planes p = MakeSynthetic(Synthetic::Flat, kTypeHD);
    TamoEncoder enc(1171, kTypeHD, 0);
    std::vector<uint8_t> out(1171 * 512);
    int size = enc.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data());
    EXPECT_EQ(enc.Scale(), 1);
    EXPECT_EQ(size, 32 + 68 * (4 + 632));
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "Tamo");
    EXPECT_EQ(out[4], 1);
    EXPECT_EQ(out[5], 0);
    EXPECT_EQ((out[6] << 8) | out[7], 1171);
    int pos = 32;
    for (int r = 0; r < 68; ++r) {
        ASSERT_EQ(out[size_t(pos)], r);
        ASSERT_EQ(RowLength(out, pos), 159) << "row " << r;
        pos += 4 * 159;
    }
    // Every macroblock: the scale bits, then six blocks of 000 101.
    std::string bits;
    for (int i = 0; i < 6; ++i)
        for (int k = 7; k >= 0; --k) bits += (out[size_t(36 + i)] >> k) & 1 ? '1' : '0';
    EXPECT_EQ(bits.substr(0, 48), "000000" "000101" "000101" "000101" "000101" "000101" "000101" "000000");
}

TEST(CodecEncoder, HeaderCarriesFrameNumberAndRate) {
    Planes p = MakeSynthetic(Synthetic::Flat, kTypeHD);
    TamoEncoder enc(700, kTypeHD, 25);
    std::vector<uint8_t> out(700 * 512, 0xEE);
    enc.Encode(258, p.y.data(), p.cb.data(), p.cr.data(), out.data());
    std::vector<uint8_t> expected = {'T', 'a', 'm', 'o', 1, 25, 0x02, 0xBC, 0x00, 0x00, 0x01, 0x02};
    expected.resize(32, 0);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 32), expected);
}

TEST(CodecEncoder, BudgetTooSmallGivesTheEmptyPicture) {
    struct Case {
        int type;
        int units;
        int size;
    } cases[] = {{kTypeHD, 1, 304}, {kType4K, 2, 572}, {kType4K, 1, 0} /* cannot even hold the empty picture */};
    for (const auto& c : cases) {
        Planes p = MakeSynthetic(Synthetic::Noise, c.type, 11);
        TamoEncoder enc(c.units, c.type, 0);
        std::vector<uint8_t> out(size_t(c.units) * 512 + 64, 0xEE);
        int size = enc.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data());
        EXPECT_EQ(size, c.size) << c.type << "/" << c.units;
        for (size_t i = size_t(c.units) * 512; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << "wrote past the budget";
        if (size == 0) continue;
        EXPECT_EQ(enc.Scale(), 65);
        const Geometry& g = *GeometryOf(c.type);
        for (int r = 0; r < g.rows; ++r) {
            EXPECT_EQ(out[size_t(32 + 4 * r)], uint8_t(r));
            EXPECT_EQ(RowLength(out, 32 + 4 * r), 1);
        }
        Planes d(c.type);
        std::fill(d.y.begin(), d.y.end(), 77);
        TamoDecoder dec;
        ASSERT_TRUE(dec.Decode(out.data(), size, d.y.data(), d.cb.data(), d.cr.data()));
        EXPECT_EQ(std::count(d.y.begin(), d.y.end(), 0), long(d.y.size()));
        EXPECT_EQ(std::count(d.cr.begin(), d.cr.end(), 128), long(d.cr.size()));
    }
}

TEST(CodecEncoder, LargeBudgetStopsTheSearchAtScaleOne) {
    Planes p = MakeSynthetic(Synthetic::Gradient, kTypeHD);
    TamoEncoder enc(60000, kTypeHD, 0);
    std::vector<uint8_t> out(size_t(60000) * 512);
    enc.Transform(p.y.data(), p.cb.data(), p.cr.data());
    EXPECT_EQ(enc.SearchScale(out.data()), 1);
}

TEST(CodecEncoder, EveryStreamStaysWithinItsBudget) {
    struct Case {
        Synthetic kind;
        int type;
        int units;
    } cases[] = {
        {Synthetic::Noise, kTypeHD, 1171}, {Synthetic::Noise, kTypeHD, 3000}, {Synthetic::Noise, kTypeHD, 40},
        {Synthetic::Edges, kTypeHD, 300},  {Synthetic::Gradient, kTypeHD, 100}, {Synthetic::Noise, kType4K, 4000},
        {Synthetic::Edges, kType4K, 60000},
    };
    for (const auto& c : cases) {
        Planes p = MakeSynthetic(c.kind, c.type, 5);
        TamoEncoder enc(c.units, c.type, 0);
        const size_t budget = size_t(c.units) * 512;
        std::vector<uint8_t> out(budget + 16, 0xEE);
        int size = enc.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data());
        ASSERT_GT(size, 0);
        EXPECT_LE(size_t(size), budget) << c.units;
        for (size_t i = budget; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE);
        // The rows add up to the size and each row's index and length are consistent.
        const Geometry& g = *GeometryOf(c.type);
        size_t pos = 32;
        for (int r = 0; r < g.rows; ++r) {
            ASSERT_LE(pos + 4, size_t(size));
            ASSERT_EQ(out[pos], uint8_t(r));
            pos += 4 * size_t(RowLength(out, int(pos)));
        }
        EXPECT_EQ(pos, size_t(size));
    }
}
