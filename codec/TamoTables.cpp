#include "codec/TamoTables.h"

#include <cstdlib>
#include <vector>

namespace tamo {

namespace {
const Geometry kGeometry[2] = {
    {kTypeHD, 1920, 1080, 1088, 68, 120},
    {kType4K, 3840, 2160, 2160, 135, 240},
};
}  // namespace

const Geometry* GeometryOf(int type) {
    if (type == kTypeHD) return &kGeometry[0];
    if (type == kType4K) return &kGeometry[1];
    return nullptr;
}

const uint8_t kScanToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

const uint8_t kWeightLuma[64] = {
    32, 32, 33, 34, 34, 36, 37, 36, 36, 37, 38, 38, 38, 39, 41, 44,  43,  41, 40,  41, 46, 49,
    47, 46, 47, 49, 51, 54, 60, 62, 59, 55, 54, 56, 58, 61, 65, 66,  64,  63, 66,  73, 78, 79,
    80, 79, 78, 78, 82, 87, 89, 90, 93, 95, 96, 97, 97, 100, 104, 102, 98, 98, 99, 99};

const uint8_t kWeightChroma[64] = {
    32, 32, 36, 39, 39, 38, 39, 41, 45, 51, 57, 58, 53,  48,  47,  51, 55, 58, 66, 75,  81, 83,
    82, 78, 73, 72, 74, 77, 83, 85, 83, 82, 89, 99, 96,  90,  94,  97, 99, 105, 109, 105, 95, 89,
    92, 95, 94, 93, 92, 88, 89, 90, 93, 95, 96, 97, 97, 100, 104, 102, 98, 98, 99, 99};

namespace {

int Plain(int level) { return level - 1; }
int WithRun(int level) { return kAcRunFlag * 64 + level - 1; }
int WithExt(int level) { return kAcExtFlag * 64 + level - 1; }
int WithExtRun(int level) { return (kAcExtFlag | kAcRunFlag) * 64 + level - 1; }

// AC symbols in code order, grouped by code length (2 ... 16).
std::vector<std::pair<int, int>> AcSymbolsInCodeOrder() {
    std::vector<std::pair<int, int>> s;  // (symbol, length)
    auto add = [&](int sym, int len) { s.emplace_back(sym, len); };
    auto range = [&](int (*f)(int), int from, int to, int len) {
        for (int l = from; l <= to; ++l) add(f(l), len);
    };
    add(Plain(1), 2); add(WithRun(1), 2);
    add(Plain(2), 3); add(kAcEob, 3);
    add(Plain(3), 4);
    add(Plain(4), 5); add(WithRun(2), 5);
    range(Plain, 5, 7, 6); add(WithRun(3), 6);
    range(Plain, 8, 9, 7);
    range(Plain, 10, 12, 8); range(WithRun, 4, 5, 8);
    range(Plain, 13, 16, 9); add(WithRun(6), 9);
    range(Plain, 17, 21, 10); add(WithRun(7), 10);
    range(Plain, 22, 27, 11); range(WithRun, 8, 9, 11);
    range(Plain, 28, 34, 12); range(WithRun, 10, 12, 12);
    range(Plain, 35, 41, 13); range(WithRun, 13, 16, 13);
    range(Plain, 42, 52, 14); range(WithRun, 17, 21, 14);
    range(Plain, 53, 61, 15); add(Plain(64), 15); add(WithExt(1), 15); range(WithRun, 22, 27, 15);
    range(Plain, 62, 63, 16); range(WithExt, 2, 64, 16); range(WithRun, 28, 64, 16);
    range(WithExtRun, 1, 64, 16);
    return s;
}

std::vector<std::pair<int, int>> RunSymbolsInCodeOrder() {
    static const int counts[] = {1, 0, 1, 2, 3, 5, 2, 1, 13, 34};  // per length 1 ... 10
    std::vector<int> runs;
    for (int r = 1; r <= 21; ++r) runs.push_back(r);
    for (int r : {53, 57, 58, 59, 60, 61, 62}) runs.push_back(r);
    for (int r = 22; r <= 52; ++r) runs.push_back(r);
    for (int r : {54, 55, 56}) runs.push_back(r);
    std::vector<std::pair<int, int>> s;
    size_t i = 0;
    for (int len = 1; len <= 10; ++len)
        for (int k = 0; k < counts[len - 1]; ++k) s.emplace_back(runs[i++], len);
    return s;
}

// Canonical codes: the first is 0, each next is (previous + 1) shifted by the length step.
template <typename Assign>
void Canonical(const std::vector<std::pair<int, int>>& syms, Assign assign) {
    uint32_t code = 0;
    int prevLen = syms.front().second;
    bool first = true;
    for (auto [sym, len] : syms) {
        if (!first) code = (code + 1) << (len - prevLen);
        first = false;
        prevLen = len;
        assign(sym, Code{code, uint8_t(len)});
    }
    // A complete prefix code ends in all ones; anything else is a typo in the lists above.
    if (code != (1u << prevLen) - 1) std::abort();
}

// Fills a lookup table indexed by `bits` peeked bits with every code up to that length.
template <typename Entry, typename Make>
void Fill(Entry* table, int bits, Code c, Make make) {
    if (c.len > bits) return;
    uint32_t first = c.bits << (bits - c.len);
    uint32_t count = 1u << (bits - c.len);
    for (uint32_t i = 0; i < count; ++i) table[first + i] = make();
}

CodeTables* Build() {
    auto* t = new CodeTables();
    static const Code dc[12] = {{0b000, 3},  {0b1100, 4}, {0b1101, 4},  {0b001, 3},
                                {0b010, 3},  {0b011, 3},  {0b100, 3},   {0b101, 3},
                                {0b1110, 4}, {0b11110, 5}, {0b111110, 6}, {0b111111, 6}};
    for (int c = 0; c < 12; ++c) {
        t->dc[c] = dc[c];
        Fill(t->dc6, 6, dc[c], [&] { return SmallEntry{dc[c].len, uint8_t(c)}; });
    }

    Canonical(AcSymbolsInCodeOrder(), [&](int sym, Code c) {
        t->ac[sym] = c;
        AcEntry e{c.len, uint8_t(sym == kAcEob ? 0 : sym % 64 + 1), uint8_t(sym == kAcEob ? 0 : sym / 64),
                  uint8_t(sym == kAcEob)};
        Fill(t->ac8, 8, c, [&] { return e; });
        Fill(t->ac16, 16, c, [&] { return e; });
    });

    for (int withRun = 0; withRun < 2; ++withRun)
        for (uint32_t a = 1; a <= 1024; ++a) {
            uint32_t level = a, ext = 0;
            int flags = withRun ? kAcRunFlag : 0;
            if (a > 64) {
                flags |= kAcExtFlag;
                level = a % 64 ? a % 64 : 64;
                ext = a % 64 ? a / 64 : a / 64 - 1;
            }
            const Code& c = t->ac[flags * 64 + int(level) - 1];
            LevelCode& lc = t->level[withRun][a];
            if (flags & kAcExtFlag)
                lc = {(c.bits << 5) | ext, uint8_t(c.len + 5), 4};
            else
                lc = {c.bits << 1, uint8_t(c.len + 1), 0};
        }

    for (int withRun = 0; withRun < 2; ++withRun)
        for (int v = -1024; v <= 1024; ++v) {
            if (v == 0) {
                t->acSigned[withRun][1024] = 0;
                continue;
            }
            const LevelCode& lc = t->level[withRun][v < 0 ? -v : v];
            const uint32_t bits = lc.bits | (uint32_t(v < 0) << lc.signShift);
            t->acSigned[withRun][v + 1024] = (bits << 5) | lc.len;
            t->acSignedLen[withRun][v + 1024] = lc.len;
        }

    Canonical(RunSymbolsInCodeOrder(), [&](int run, Code c) {
        t->run[run] = c;
        t->runPacked[run] = uint16_t((c.bits << 4) | c.len);
        t->runLen[run] = c.len;
        Fill(t->run7, 7, c, [&] { return SmallEntry{c.len, uint8_t(run)}; });
        Fill(t->run10, 10, c, [&] { return SmallEntry{c.len, uint8_t(run)}; });
    });
    for (int run = 0; run < 63; ++run)
        for (int v = -CodeTables::kSmallLevel; v < CodeTables::kSmallLevel; ++v) {
            const uint32_t lc = t->acSigned[run != 0][v + 1024];
            const uint32_t rc = t->runPacked[run];
            const uint32_t len = (lc & 31) + (rc & 15);
            t->runLevel[run][v + CodeTables::kSmallLevel] = v ? ((((lc >> 5) << (rc & 15)) | (rc >> 4)) << 5) | len : 0;
        }
    return t;
}

}  // namespace

const CodeTables& Tables() {
    static const CodeTables* tables = Build();
    return *tables;
}

}  // namespace tamo
