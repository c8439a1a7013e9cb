// Bit writer rules, code tables and the bits of single blocks and headers.
#include "codec/CBitstream.h"
#include "codec/TamoEncoder.h"
#include "codec/TamoTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace tamo;

namespace {

std::string BitString(const uint8_t* data, int64_t bits) {
    std::string s;
    for (int64_t i = 0; i < bits; ++i) s += (data[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
    return s;
}

std::string CodeString(const Code& c) {
    std::string s;
    for (int i = c.len - 1; i >= 0; --i) s += (c.bits >> i) & 1 ? '1' : '0';
    return s;
}

}  // namespace

TEST(CodecBitstream, StoresAtMostCapacityMinusOneBytes) {
    uint8_t buf[8] = {};
    CBitstream w;
    w.StartWrite(buf, 4);
    w.Put(0xABCDEF, 24);  // three bytes: still below the capacity
    w.Put(0x1, 7);
    EXPECT_FALSE(w.Overflow());
    w.Put(0x1, 1);         // the fourth byte would reach the capacity
    w.Flush();
    EXPECT_TRUE(w.Overflow());
    EXPECT_EQ(w.BytesStored(), 3);
    EXPECT_EQ(buf[0], 0xAB);
    EXPECT_EQ(buf[2], 0xEF);
    EXPECT_EQ(buf[3], 0x00);  // never written
    w.Put(0xFF, 8);           // ignored from now on
    EXPECT_EQ(w.BytesStored(), 3);
}

TEST(CodecBitstream, FlushPadsToWholeWords) {
    struct Case {
        int bits;
        int bytes;
    } cases[] = {{0, 0}, {1, 4}, {31, 4}, {32, 4}, {33, 8}, {63, 8}, {64, 8}};
    for (const auto& c : cases) {
        std::vector<uint8_t> buf(64, 0xEE);
        CBitstream w;
        w.StartWrite(buf.data(), 64);
        for (int i = 0; i < c.bits; ++i) w.Put(1, 1);
        w.Flush();
        ASSERT_FALSE(w.Overflow());
        EXPECT_EQ(w.BytesStored(), c.bytes) << c.bits;
        EXPECT_EQ(BitString(buf.data(), c.bytes * 8), std::string(size_t(c.bits), '1') + std::string(size_t(c.bytes * 8 - c.bits), '0'));
    }
    // A flush that needs the capacity-th byte overflows.
    uint8_t small[4];
    CBitstream w;
    w.StartWrite(small, 4);
    w.Put(1, 1);
    w.Flush();
    EXPECT_TRUE(w.Overflow());
}

TEST(CodecBitstream, CursorWritesExactlyLikePlainPuts) {
    // The encoder's fast path (a cursor storing eight bytes at once, a word at a time near the
    // end) against plain Puts: same bytes, same overflow, same bit count after every batch, for
    // every capacity around the end of the codes and for batches of every size.
    uint32_t seed = 99;
    std::vector<std::pair<uint32_t, int>> codes;
    int64_t total = 0;
    for (int i = 0; i < 300; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int n = 1 + int((seed >> 8) % 31);
        codes.emplace_back((seed >> 3) & ((1u << n) - 1), n);
        total += n;
    }
    const int bytes = int((total + 31) / 32 * 4);
    for (int capacity = 1; capacity <= bytes + 10; ++capacity)
        for (size_t batch : {size_t(1), size_t(7), size_t(300)}) {
            std::vector<uint8_t> a(size_t(bytes) + 16, 0xEE), b(a.size(), 0xEE);
            CBitstream plain, fast;
            plain.StartWrite(a.data(), capacity);
            fast.StartWrite(b.data(), capacity);
            for (size_t i = 0; i < codes.size(); i += batch) {
                CBitstream::Cursor c = fast.LoadCursor();
                for (size_t k = i; k < std::min(codes.size(), i + batch); ++k) {
                    plain.Put(codes[k].first, codes[k].second);
                    fast.Put(c, codes[k].first, codes[k].second);
                }
                fast.SaveCursor(c);
                ASSERT_EQ(fast.Overflow(), plain.Overflow()) << capacity << " " << i;
                ASSERT_EQ(fast.TotalBits(), plain.TotalBits()) << capacity << " " << i;
                ASSERT_EQ(fast.BytesStored(), plain.BytesStored()) << capacity << " " << i;
            }
            plain.Flush();
            fast.Flush();
            ASSERT_EQ(fast.Overflow(), plain.Overflow()) << capacity;
            ASSERT_EQ(fast.BytesStored(), plain.BytesStored()) << capacity;
            ASSERT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + fast.BytesStored()),
                      std::vector<uint8_t>(a.begin(), a.begin() + plain.BytesStored())) << capacity;
            // Nothing at or past the capacity is ever touched.
            for (size_t k = size_t(capacity); k < b.size(); ++k) ASSERT_EQ(b[k], 0xEE) << capacity;
        }
}

TEST(CodecBitstream, ReaderYieldsZeroBitsPastTheEnd) {
    // The buffer sits at the end of a sanitizer-guarded allocation of exactly its size.
    std::vector<uint8_t> data = {0xA5, 0xFF, 0x81};
    CBitstream r;
    r.StartRead(data.data(), int(data.size()));
    EXPECT_EQ(r.Get(4), 0xAu);
    EXPECT_EQ(r.Peek(16), 0x5FF8u);
    r.Skip(12);
    EXPECT_EQ(r.Get(16), 0x8100u);  // the last byte, then zeros
    EXPECT_EQ(r.Get(16), 0u);
    CBitstream empty;
    empty.StartRead(nullptr, 0);
    EXPECT_EQ(empty.Get(16), 0u);
}

TEST(CodecTables, CodesOfTheStream) {
    const CodeTables& t = Tables();
    std::map<std::string, std::string> got = {
        {"DC 0", CodeString(t.dc[0])},   {"DC 1", CodeString(t.dc[1])},   {"DC 2", CodeString(t.dc[2])},
        {"DC 10", CodeString(t.dc[10])}, {"DC 11", CodeString(t.dc[11])},
        {"AC 1", CodeString(t.ac[0])},   {"AC 1r", CodeString(t.ac[64])}, {"AC 2", CodeString(t.ac[1])},
        {"EOB", CodeString(t.ac[kAcEob])}, {"AC 3", CodeString(t.ac[2])}, {"AC 4", CodeString(t.ac[3])},
        {"AC 13", CodeString(t.ac[12])}, {"AC 64", CodeString(t.ac[63])}, {"AC 1x", CodeString(t.ac[128])},
        {"AC 2x", CodeString(t.ac[129])}, {"AC 64x", CodeString(t.ac[191])}, {"AC 64xr", CodeString(t.ac[255])},
        {"Run 1", CodeString(t.run[1])}, {"Run 2", CodeString(t.run[2])}, {"Run 3", CodeString(t.run[3])},
        {"Run 53", CodeString(t.run[53])}, {"Run 56", CodeString(t.run[56])}, {"Run 62", CodeString(t.run[62])},
    };
    std::map<std::string, std::string> expected = {
        {"DC 0", "000"},   {"DC 1", "1100"},  {"DC 2", "1101"},  {"DC 10", "111110"}, {"DC 11", "111111"},
        {"AC 1", "00"},    {"AC 1r", "01"},   {"AC 2", "100"},   {"EOB", "101"},     {"AC 3", "1100"},
        {"AC 4", "11010"}, {"AC 13", "111110010"}, {"AC 64", "111111110100101"}, {"AC 1x", "111111110100110"},
        {"AC 2x", "1111111101011100"}, {"AC 64x", "1111111110011010"}, {"AC 64xr", "1111111111111111"},
        {"Run 1", "0"},    {"Run 2", "100"},  {"Run 3", "1010"}, {"Run 53", "111101000"}, {"Run 56", "1111111111"},
        {"Run 62", "111101110"},
    };
    EXPECT_EQ(got, expected);
}

TEST(CodecTables, DecoderLookupsInvertEveryCode) {
    const CodeTables& t = Tables();
    for (int sym = 0; sym <= kAcEob; ++sym) {
        const Code& c = t.ac[sym];
        uint32_t peek = c.bits << (16 - c.len);
        AcEntry e = t.ac8[peek >> 8];
        if (e.len == 0) e = t.ac16[peek];
        ASSERT_EQ(e.len, c.len) << sym;
        if (sym == kAcEob) {
            EXPECT_TRUE(e.eob);
        } else {
            EXPECT_FALSE(e.eob);
            EXPECT_EQ(e.level, sym % 64 + 1);
            EXPECT_EQ(e.flags, sym / 64);
        }
        EXPECT_EQ(c.len > 8, (peek >> 8) >= 0xF9) << sym;  // long codes begin 11111001 or higher
    }
    for (int run = 1; run <= 62; ++run) {
        const Code& c = t.run[run];
        uint32_t peek = c.bits << (10 - c.len);
        SmallEntry e = t.run7[peek >> 3];
        if (e.len == 0) e = t.run10[peek];
        EXPECT_EQ(e.len, c.len);
        EXPECT_EQ(e.value, run);
    }
    for (int cat = 0; cat < 12; ++cat) {
        SmallEntry e = t.dc6[t.dc[cat].bits << (6 - t.dc[cat].len)];
        EXPECT_EQ(e.len, t.dc[cat].len);
        EXPECT_EQ(e.value, cat);
    }
}

// Codes macroblock 0 at scale 1 with block 0 given and the other blocks zero; returns the bits
// of block 0 (after the 6 scale bits).
std::string CodeFirstBlock(const std::map<int, int>& coefficients, int bits) {
    TamoEncoder enc(100, kTypeHD, 0);
    std::fill(enc.Coefficients(), enc.Coefficients() + 384, 0);
    for (auto [p, v] : coefficients) enc.Coefficients()[p] = Coef(v);
    std::vector<uint8_t> buf(4096);
    CBitstream w;
    w.StartWrite(buf.data(), int(buf.size()));
    enc.SetWriter(&w);
    enc.SetScale(1);
    enc.ResetPredictors();
    enc.CodeMacroblock(0);
    w.Flush();
    EXPECT_EQ(BitString(buf.data(), 6), "000000");
    return BitString(buf.data(), 6 + bits).substr(6);
}

TEST(CodecEncoderBlocks, CodedExamples) {
    struct Case {
        const char* what;
        std::map<int, int> coefficients;  // scan position -> coefficient (luma, scale 1)
        std::string bits;
    } cases[] = {
        {"flat 128", {}, "000" "101"},
        {"flat 255: DC 1016", {{0, 1016}}, "111110" "1111111000" "101"},
        {"DC difference -1", {{0, -1}}, "1100" "0" "101"},
        {"DC difference -3", {{0, -3}}, "1101" "00" "101"},
        {"DC -1024", {{0, -1024}}, "111111" "01111111111" "101"},
        {"level 64 plain", {{1, 64}}, "000" "111111110100101" "0" "101"},
        {"level 65 = 1 ext 1", {{1, 65}}, "000" "111111110100110" "0" "0001" "101"},
        {"level -65", {{1, -65}}, "000" "111111110100110" "1" "0001" "101"},
        {"level 128 = 64 ext 1", {{1, 128}}, "000" "1111111110011010" "0" "0001" "101"},
        {"level 129 = 1 ext 2", {{1, 129}}, "000" "111111110100110" "0" "0010" "101"},
        {"level 1024 = 64 ext 15", {{1, 1024}}, "000" "1111111110011010" "0" "1111" "101"},
        // weight 99 at position 63: 4 * 32 / 99 = level 1 after 62 zeros
        {"run 62", {{63, 4}}, "000" "01" "0" "111101110" "101"},
        {"run 53", {{54, 3}}, "000" "01" "0" "111101000" "101"},
        {"run 56", {{57, 4}}, "000" "01" "0" "1111111111" "101"},
        {"levels truncate toward zero", {{1, 1}, {2, -2}, {63, 3}}, "000" "00" "0" "00" "1" "101"},
        {"level 2 then level 1 after a run of 1", {{1, 2}, {3, 2}}, "000" "100" "0" "01" "0" "0" "101"},
    };
    for (const auto& c : cases) EXPECT_EQ(CodeFirstBlock(c.coefficients, int(c.bits.size())), c.bits) << c.what;
}

TEST(CodecEncoderBlocks, PredictorsFollowComponents) {
    // Y blocks share one predictor, Cb and Cr have their own.
    TamoEncoder enc(100, kTypeHD, 0);
    Coef* x = enc.Coefficients();
    std::fill(x, x + 384, 0);
    x[0] = 8; x[64] = 8; x[128] = -3; x[192] = 1; x[256] = 9; x[320] = 9;
    std::vector<uint8_t> buf(256);
    CBitstream w;
    w.StartWrite(buf.data(), int(buf.size()));
    enc.SetWriter(&w);
    enc.SetScale(7);
    enc.ResetPredictors();
    enc.CodeMacroblock(0);
    w.Flush();
    std::string expected = std::string("000110") +  // scale 7
        "010" "1000" "101" +   // Y: +8
        "000" "101" +          // Y: 0
        "1101" "00" "101" +    // Cb: -3
        "1100" "1" "101" +     // Cr: +1
        "1100" "1" "101" +     // Y: +1
        "000" "101";           // Y: 0
    EXPECT_EQ(BitString(buf.data(), int64_t(expected.size())), expected);
}
