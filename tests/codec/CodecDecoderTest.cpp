// Decoding: the failure rules, bounds, reconstruction quality and RGB conversion.
#include "codec/CBitstream.h"
#include "codec/TamoDecoder.h"
#include "codec/TamoEncoder.h"
#include "codec/TamoLib.h"
#include "codec/TamoTables.h"
#include "codec/CodecTestPictures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tamo;
using namespace codectest;

namespace {

// An HD stream whose rows are all empty.
std::vector<uint8_t> EmptyHdStream() {
    std::vector<uint8_t> s(32, 0);
    s[0] = 'T'; s[1] = 'a'; s[2] = 'm'; s[3] = 'o'; s[4] = 1;
    for (int r = 0; r < 68; ++r) s.insert(s.end(), {uint8_t(r), 0, 0, 1});
    return s;
}

void PutBits(CBitstream& w, const std::string& bits) {
    for (char c : bits) w.Put(c == '1', 1);
}

// An HD stream whose row 0 holds 120 macroblocks at scale 1: the first block is `firstBlock`
// (bits after the scale), every other block 000 101. The other rows are empty.
std::vector<uint8_t> OneRowStream(const std::string& firstBlock) {
    std::vector<uint8_t> data(65536);
    CBitstream w;
    w.StartWrite(data.data(), int(data.size()));
    for (int m = 0; m < 120; ++m) {
        PutBits(w, "000000");
        PutBits(w, m == 0 ? firstBlock : "000101");
        for (int b = 1; b < 6; ++b) PutBits(w, "000101");
    }
    w.Flush();
    std::vector<uint8_t> s = EmptyHdStream();
    int words = w.BytesStored() / 4 + 1;
    s[34] = uint8_t(words >> 8);
    s[35] = uint8_t(words);
    s.insert(s.begin() + 36, data.begin(), data.begin() + w.BytesStored());
    return s;
}

// Row record `row` of 120 plain macroblocks; the first block of macroblock `badColumn` puts a
// symbol after position 63, so decoding fails there.
std::vector<uint8_t> RowRecordFailingAt(int row, int badColumn) {
    std::vector<uint8_t> data(65536);
    CBitstream w;
    w.StartWrite(data.data(), int(data.size()));
    for (int m = 0; m < 120; ++m) {
        PutBits(w, "000000");
        PutBits(w, m == badColumn ? "000" "01" "0" "111101110" "00" "0" "101" : "000101");
        for (int b = 1; b < 6; ++b) PutBits(w, "000101");
    }
    w.Flush();
    const int words = w.BytesStored() / 4 + 1;
    std::vector<uint8_t> rec = {uint8_t(row), 0, uint8_t(words >> 8), uint8_t(words)};
    rec.insert(rec.end(), data.begin(), data.begin() + 4 * (words - 1));
    return rec;
}

// Byte offset of row `row`'s record.
size_t RowOffset(const std::vector<uint8_t>& s, int row) {
    size_t pos = 32;
    for (int r = 0; r < row; ++r) pos += 4 * size_t((s[pos + 2] << 8) | s[pos + 3]);
    return pos;
}

bool DecodeInto(const std::vector<uint8_t>& s, Planes& p, TransformImpl impl = BestTransform()) {
    TamoDecoder dec(impl);
    // An allocation of exactly the stream's size, so the sanitizers see any read past it.
    std::vector<uint8_t> exact(s);
    return dec.Decode(exact.data(), int(exact.size()), p.y.data(), p.cb.data(), p.cr.data());
}

Planes Filled(int type, uint8_t v) {
    Planes p(type);
    std::fill(p.y.begin(), p.y.end(), v);
    std::fill(p.cb.begin(), p.cb.end(), v);
    std::fill(p.cr.begin(), p.cr.end(), v);
    return p;
}

std::vector<uint8_t> Encode(const Planes& p, int units) {
    TamoEncoder enc(units, p.type, 0);
    std::vector<uint8_t> out(size_t(units) * 512);
    out.resize(size_t(enc.Encode(0, p.y.data(), p.cb.data(), p.cr.data(), out.data())));
    return out;
}

}  // namespace

TEST(CodecDecoder, EmptyHdStreamDecodesToBlack) {
    auto s = EmptyHdStream();
    ASSERT_EQ(s.size(), 304u);
    Planes p = Filled(kTypeHD, 77);
    ASSERT_TRUE(DecodeInto(s, p));
    EXPECT_EQ(std::count(p.y.begin(), p.y.end(), 0), long(p.y.size()));
    EXPECT_EQ(std::count(p.cb.begin(), p.cb.end(), 128), long(p.cb.size()));
    EXPECT_EQ(std::count(p.cr.begin(), p.cr.end(), 128), long(p.cr.size()));
}

TEST(CodecDecoder, BadHeadersFailWithoutTouchingThePlanes) {
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
    } cases[] = {
        {"type 3", [] { auto s = EmptyHdStream(); s[4] = 3; return s; }()},
        {"type 0", [] { auto s = EmptyHdStream(); s[4] = 0; return s; }()},
        {"magic", [] { auto s = EmptyHdStream(); s[3] = 'O'; return s; }()},
        {"shorter than a header", [] { auto s = EmptyHdStream(); s.resize(31); return s; }()},
        {"nothing", {}},
    };
    for (const auto& c : cases) {
        Planes p = Filled(kTypeHD, 77);
        EXPECT_FALSE(DecodeInto(c.stream, p)) << c.what;
        EXPECT_EQ(std::count(p.y.begin(), p.y.end(), 77), long(p.y.size())) << c.what;
        EXPECT_EQ(std::count(p.cr.begin(), p.cr.end(), 77), long(p.cr.size())) << c.what;
    }
}

TEST(CodecDecoder, RowRecordFaults) {
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        bool ok;
    } cases[] = {
        {"row index out of place", [] { auto s = EmptyHdStream(); s[32 + 4 * 5] = 6; return s; }(), false},
        {"length 0 on a middle row", [] { auto s = EmptyHdStream(); s[32 + 4 * 5 + 3] = 0; return s; }(), false},
        {"length 0 on the last row", [] { auto s = EmptyHdStream(); s.back() = 0; return s; }(), true},
        {"last row header cut", [] { auto s = EmptyHdStream(); s.resize(302); return s; }(), false},
        {"row claims more than the stream holds", [] { auto s = EmptyHdStream(); s.back() = 200; return s; }(), false},
    };
    for (const auto& c : cases) {
        Planes p = Filled(kTypeHD, 77);
        EXPECT_EQ(DecodeInto(c.stream, p), c.ok) << c.what;
    }
}

TEST(CodecDecoder, BlockFaults) {
    struct Case {
        const char* what;
        std::string block;
        bool ok;
    } cases[] = {
        {"plain", "000" "101", true},
        {"coefficient at 63 after a run of 62", "000" "01" "0" "111101110" "101", true},
        {"symbol after position 63", "000" "01" "0" "111101110" "00" "0" "101", false},
        {"run beyond 63", "000" "00" "0" "01" "0" "111101110" "101", false},
        {"level with extension", "000" "111111110100110" "1" "1111" "101", true},
    };
    for (const auto& c : cases) {
        Planes p = Filled(kTypeHD, 77);
        EXPECT_EQ(DecodeInto(OneRowStream(c.block), p), c.ok) << c.what;
    }
}

TEST(CodecDecoder, FlatBlocksReconstructExactly) {
    // DC 1016 from predictor 0 and nothing else: 128 + 1016 / 8 = 255 everywhere in the block.
    Planes p = Filled(kTypeHD, 77);
    ASSERT_TRUE(DecodeInto(OneRowStream("111110" "1111111000" "101"), p));
    for (int l = 0; l < 8; ++l)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(p.Y(x, l), 255);
    EXPECT_EQ(p.Y(8, 0), 255);  // the next block carries the predictor with difference 0
    EXPECT_EQ(p.Y(0, 16), 0);   // row 1 is empty

    Planes white = Filled(kTypeHD, 255);
    Planes d = Filled(kTypeHD, 0);
    ASSERT_TRUE(DecodeInto(Encode(white, 1171), d));
    EXPECT_EQ(d.y, white.y);
    EXPECT_EQ(d.cb, white.cb);
}

TEST(CodecDecoder, TruncatedStreamKeepsEarlierRows) {
    bool ok = false;
    Planes src = BenchPicture("forest-1920x1080.png", kTypeHD, ok);
    if (!ok) src = MakeSynthetic(Synthetic::Noise, kTypeHD, 3);
    auto s = Encode(src, 1171);
    Planes full(kTypeHD);
    ASSERT_TRUE(DecodeInto(s, full));
    // Cut in the middle of row 10.
    size_t pos = 32;
    for (int r = 0; r < 10; ++r) pos += 4 * size_t((s[pos + 2] << 8) | s[pos + 3]);
    size_t rowBytes = 4 * size_t((s[pos + 2] << 8) | s[pos + 3]);
    std::vector<uint8_t> cut(s.begin(), s.begin() + long(pos + rowBytes / 2));
    Planes part = Filled(kTypeHD, 77);
    bool decoded = DecodeInto(cut, part);
    const size_t lines = 10 * 16;
    EXPECT_TRUE(std::equal(full.y.begin(), full.y.begin() + long(lines * 1920), part.y.begin()));
    EXPECT_TRUE(std::equal(full.cb.begin(), full.cb.begin() + long(lines / 2 * 960), part.cb.begin()));
    // Rows after the cut are never claimed as decoded: row 11's header is missing.
    EXPECT_FALSE(decoded);
}

TEST(CodecDecoder, RoundTripQuality) {
    struct Case {
        std::string name;  // bench picture or synthetic
        Synthetic kind;
        int type;
        int units;
        double minLuma;
        double minChroma;
    } cases[] = {
        {"forest-1920x1080.png", Synthetic::Flat, kTypeHD, 1171, 36.0, 41.0},
        {"water-1920x1080.png", Synthetic::Flat, kTypeHD, 1171, 44.0, 46.0},
        {"", Synthetic::Gradient, kTypeHD, 300, 55.0, 60.0},
        {"", Synthetic::Edges, kTypeHD, 600, 35.0, 32.0},
        {"", Synthetic::Gradient, kType4K, 2000, 58.0, 60.0},
    };
    for (const auto& c : cases) {
        Planes src(c.type);
        if (c.name.empty()) {
            src = MakeSynthetic(c.kind, c.type);
        } else {
            bool ok = false;
            src = BenchPicture(c.name, c.type, ok);
            ASSERT_TRUE(ok) << c.name;
        }
        auto s = Encode(src, c.units);
        ASSERT_LE(s.size(), size_t(c.units) * 512);
        Planes d(c.type);
        ASSERT_TRUE(DecodeInto(s, d)) << c.name;
        double py = Psnr(src.y, d.y, src.width, src.height);
        double pc = std::min(Psnr(src.cb, d.cb, src.width / 2, src.height / 2), Psnr(src.cr, d.cr, src.width / 2, src.height / 2));
        EXPECT_GE(py, c.minLuma) << c.name << " " << int(c.kind);
        EXPECT_GE(pc, c.minChroma) << c.name << " " << int(c.kind);
        std::printf("%s/%d type %d at %d units: %zu bytes, PSNR Y %.2f dB, chroma %.2f dB\n", c.name.c_str(), int(c.kind),
                    c.type, c.units, s.size(), py, pc);
    }
}

TEST(CodecDecoder, VectorUnitsReconstructIdentically) {
    if (!Avx2Available()) GTEST_SKIP() << "no AVX2 on this processor";
    for (auto kind : {Synthetic::Noise, Synthetic::Edges}) {
        Planes src = MakeSynthetic(kind, kTypeHD, 17);
        auto s = Encode(src, 1500);
        Planes a(kTypeHD), b(kTypeHD);
        ASSERT_TRUE(DecodeInto(s, a, TransformImpl::Avx2));
        ASSERT_TRUE(DecodeInto(s, b, TransformImpl::Portable));
        EXPECT_EQ(a.y, b.y);
        EXPECT_EQ(a.cb, b.cb);
        EXPECT_EQ(a.cr, b.cr);
    }
}

TEST(CodecDecoder, ToRgb) {
    struct Case {
        uint8_t y, cb, cr;
        uint8_t r, g, b;
    } cases[] = {
        {235, 128, 128, 255, 255, 255},
        {16, 128, 128, 0, 0, 0},
        {126, 128, 128, 128, 128, 128},  // 1.164 * 110 = 128.04
        {81, 90, 240, 255, 24, 0},       // saturated red clamps
        {41, 240, 110, 0, 15, 255},
    };
    for (const auto& c : cases) {
        uint8_t y[4] = {c.y, c.y, c.y, c.y}, cb[1] = {c.cb}, cr[1] = {c.cr};
        uint8_t rgb[12];
        TamoDecoder::ToRgb(y, cb, cr, 2, 2, rgb);
        for (int px = 0; px < 4; ++px) {
            EXPECT_EQ(rgb[px * 3], c.r) << int(c.y);
            EXPECT_EQ(rgb[px * 3 + 1], c.g) << int(c.y);
            EXPECT_EQ(rgb[px * 3 + 2], c.b) << int(c.y);
        }
    }
}

TEST(CodecDecoder, ThreadsDecodeTheSame) {
    Planes src = MakeSynthetic(Synthetic::Edges, kTypeHD, 31);
    auto s = Encode(src, 800);
    auto cut = s;
    cut.resize(s.size() * 2 / 3);
    auto badIndex = s;
    size_t pos = 32;
    for (int r = 0; r < 40; ++r) pos += 4 * size_t((s[pos + 2] << 8) | s[pos + 3]);
    badIndex[pos] = 99;  // row 40's record
    for (const auto* stream : {&s, &cut, &badIndex}) {
        Planes one = Filled(kTypeHD, 77), two = Filled(kTypeHD, 77);
        TamoDecoder a, b;
        b.SetThreads(2);
        std::vector<uint8_t> exact(*stream);
        bool ra = a.Decode(exact.data(), int(exact.size()), one.y.data(), one.cb.data(), one.cr.data());
        bool rb = b.Decode(exact.data(), int(exact.size()), two.y.data(), two.cb.data(), two.cr.data());
        EXPECT_EQ(ra, stream == &s);
        EXPECT_EQ(rb, ra);
        if (ra) {
            EXPECT_EQ(one.y, two.y);
            EXPECT_EQ(one.cr, two.cr);
        }
        if (stream == &badIndex) {
            // The rows before the bad record are decoded by both.
            EXPECT_TRUE(std::equal(one.y.begin(), one.y.begin() + 40 * 16 * 1920, two.y.begin()));
            EXPECT_NE(one.Y(5, 40 * 16 - 1), 77);
        }
    }
}

// A row that fails mid-way ends the decode there whatever the number of threads: the rows before
// it decoded, the failing row as far as a one-thread decode gets, nothing after it written.
TEST(CodecDecoder, FailingRowEndsTheDecodeDeterministically) {
    // Noise makes every row costly, so threads decoding ahead have time to write later rows.
    Planes src = MakeSynthetic(Synthetic::Noise, kTypeHD, 9);
    const auto good = Encode(src, 1500);
    Planes full(kTypeHD);
    ASSERT_TRUE(DecodeInto(good, full));

    for (int bad : {0, 3, 20, 33, 34, 50, 67}) {
        SCOPED_TRACE("failing row " + std::to_string(bad));
        auto s = good;
        const size_t pos = RowOffset(s, bad);
        const size_t end = RowOffset(s, bad + 1);
        const auto rec = RowRecordFailingAt(bad, 60);
        s.erase(s.begin() + long(pos), s.begin() + long(end));
        s.insert(s.begin() + long(pos), rec.begin(), rec.end());

        Planes one = Filled(kTypeHD, 77);
        ASSERT_FALSE(DecodeInto(s, one));
        const size_t yBefore = size_t(bad) * 16 * 1920, cBefore = size_t(bad) * 8 * 960;
        const size_t yAfter = size_t(bad + 1) * 16 * 1920, cAfter = size_t(bad + 1) * 8 * 960;
        ASSERT_TRUE(std::equal(full.y.begin(), full.y.begin() + long(yBefore), one.y.begin()));
        ASSERT_TRUE(std::equal(full.cr.begin(), full.cr.begin() + long(cBefore), one.cr.begin()));
        ASSERT_EQ(one.Y(16 * 59, 16 * bad), 128);  // plain macroblocks up to the bad one
        ASSERT_EQ(one.Y(16 * 60, 16 * bad), 77);
        ASSERT_EQ(std::count(one.y.begin() + long(yAfter), one.y.end(), 77), long(one.y.size() - yAfter));
        ASSERT_EQ(std::count(one.cb.begin() + long(cAfter), one.cb.end(), 77), long(one.cb.size() - cAfter));
        ASSERT_EQ(std::count(one.cr.begin() + long(cAfter), one.cr.end(), 77), long(one.cr.size() - cAfter));

        // Threads finish rows in any order; the outcome must not depend on it.
        for (int threads : {2, 3, 4}) {
            for (int run = 0; run < 8; ++run) {
                Planes p = Filled(kTypeHD, 77);
                TamoDecoder dec;
                dec.SetThreads(threads);
                ASSERT_FALSE(dec.Decode(s.data(), int(s.size()), p.y.data(), p.cb.data(), p.cr.data()));
                ASSERT_TRUE(p.y == one.y && p.cb == one.cb && p.cr == one.cr) << threads << " threads, run " << run;
            }
        }
        Planes p = Filled(kTypeHD, 77);
        EXPECT_EQ(Tamo_Decode(s.data(), int(s.size()), p.y.data(), p.cb.data(), p.cr.data()), 1);
        EXPECT_TRUE(p.y == one.y && p.cb == one.cb && p.cr == one.cr);
    }
}
