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

std::vector<Coef> Transformed(const Planes& p, TransformImpl impl) {
    const Geometry& g = *GeometryOf(p.type);
    std::vector<Coef> store(size_t(g.rows) * g.columns * 384);
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
        Coef out[64];
        TransformBlockReference(block, 8, out);
        for (int p = 0; p < 64; ++p) {
            int u = p % 8, v = p / 8;  // natural order
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

TEST(CodecEncoder, QuantisersDivideExactly) {
    // level = (X * 32) / (Q * W) truncated toward zero, for every coefficient value, scale and weight.
    std::vector<uint64_t (*)(const Coef*, const QuantTable&, int16_t*)> impls = {QuantizeBlockPortable};
    if (Avx2Available()) impls.push_back(QuantizeBlockAvx2);
    for (int q = 1; q <= 64; ++q) {
        for (const uint8_t* w : {kWeightLuma, kWeightChroma}) {
            QuantTable table;
            MakeQuantTable(q, w, table);
            for (int x = -1024; x <= 1024; ++x) {
                alignas(32) Coef block[64];
                std::fill(block, block + 64, Coef(x));
                uint64_t expectedMask = 0;
                int32_t expected[64];
                expected[0] = 0;  // DC is not quantised
                for (int p = 1; p < 64; ++p) {
                    expected[p] = x * 32 / (q * w[p]);
                    if (expected[p]) expectedMask |= uint64_t(1) << p;
                }
                for (auto impl : impls) {
                    alignas(32) int16_t levels[64];
                    ASSERT_EQ(impl(block, table, levels), expectedMask) << q << " " << x;
                    for (int p = 0; p < 64; ++p) ASSERT_EQ(levels[p], expected[p]) << q << " " << p << " " << x;
                }
            }
        }
    }
}

TEST(CodecEncoder, CountedBitsAreTheBitsWritten) {
    // The final coding decides from counted bits whether a scale fits; they must be exactly the
    // bits the coder writes, row by row, on every implementation.
    std::vector<Planes> pictures;
    for (auto kind : {Synthetic::Noise, Synthetic::Edges, Synthetic::Gradient}) pictures.push_back(MakeSynthetic(kind, kTypeHD, 13));
    bool ok = false;
    Planes forest = BenchPicture("forest-1920x1080.png", kTypeHD, ok);
    if (ok) pictures.push_back(std::move(forest));
    std::vector<TransformImpl> impls = {TransformImpl::Portable};
    if (Avx2Available()) impls.push_back(TransformImpl::Avx2);
    std::vector<uint8_t> buf(1 << 20);
    for (size_t i = 0; i < pictures.size(); ++i)
        for (TransformImpl impl : impls) {
            TamoEncoder enc(1171, kTypeHD, 0, impl);
            enc.Transform(pictures[i].y.data(), pictures[i].cb.data(), pictures[i].cr.data());
            for (int q : {1, 2, 5, 17, 64}) {
                enc.SetScale(q);
                for (int r = 0; r < enc.Rows(); r += 7) {
                    int predCount[3] = {0, 0, 0}, predCode[3] = {0, 0, 0};
                    const int64_t counted = enc.CountMacroblocks(predCount, r * enc.Columns(), enc.Columns());
                    CBitstream w;
                    w.StartWrite(buf.data(), int(buf.size()));
                    enc.CodeMacroblocksInto(w, predCode, r * enc.Columns(), enc.Columns());
                    ASSERT_FALSE(w.Overflow());
                    ASSERT_EQ(counted, w.TotalBits()) << "picture " << i << " impl " << int(impl) << " scale " << q << " row " << r;
                }
            }
        }
}

TEST(CodecEncoder, BothVectorUnitsGiveTheSameStream) {
    if (!Avx2Available()) GTEST_SKIP() << "no AVX2 on this processor";
    for (auto kind : {Synthetic::Noise, Synthetic::Edges}) {
        Planes p = MakeSynthetic(kind, kTypeHD, 23);
        std::vector<uint8_t> a(900 * 512), b(900 * 512);
        TamoEncoder ea(900, kTypeHD, 0, TransformImpl::Avx2), eb(900, kTypeHD, 0, TransformImpl::Portable);
        int na = ea.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), a.data());
        int nb = eb.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), b.data());
        ASSERT_EQ(na, nb);
        a.resize(size_t(na));
        b.resize(size_t(nb));
        EXPECT_EQ(a, b);
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

TEST(CodecEncoder, ThreadsGiveTheSameStream) {
    struct Case {
        Synthetic kind;
        int type;
        int units;
    } cases[] = {
        {Synthetic::Noise, kTypeHD, 1171}, {Synthetic::Noise, kTypeHD, 40}, {Synthetic::Noise, kTypeHD, 1},
        {Synthetic::Edges, kTypeHD, 250},  {Synthetic::Edges, kType4K, 900},
    };
    for (const auto& c : cases) {
        Planes p = MakeSynthetic(c.kind, c.type, 29);
        std::vector<uint8_t> reference;
        int referenceScale = 0;
        for (int threads : {1, 2, 3}) {
            TamoEncoder enc(c.units, c.type, 0);
            enc.SetThreads(threads);
            std::vector<uint8_t> out(size_t(c.units) * 512 + 8, 0xEE);
            int size = enc.Encode(7, p.y.data(), p.cb.data(), p.cr.data(), out.data());
            ASSERT_GT(size, 0);
            EXPECT_EQ(out[size_t(c.units) * 512], 0xEE);
            out.resize(size_t(size));
            if (threads == 1) {
                reference = out;
                referenceScale = enc.Scale();
            } else {
                EXPECT_EQ(enc.Scale(), referenceScale) << c.units << " with " << threads;
                EXPECT_EQ(out, reference) << c.units << " with " << threads;
            }
        }
    }
}
