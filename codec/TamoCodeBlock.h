#pragma once
// Coding (and counting the bits) of macroblocks, compiled once per vector unit: included by the
// portable file and the AVX2 file with their own quantiser. Internal linkage, so the two builds
// never mix at link time.
#include "codec/CBitstream.h"
#include "codec/TamoTables.h"
#include "codec/TamoTransform.h"

#include <cstdlib>

namespace {

// The DC difference as one code: category code then the category's bits.
TAMO_INLINE void DcCode(const tamo::CodeTables& t, int x0, int& pred, uint32_t& bits, int& len) {
    const int d = x0 - pred;
    pred = x0;
    const uint32_t ad = uint32_t(std::abs(d));
    const int cat = ad ? 32 - __builtin_clz(ad) : 0;
    const uint32_t extra = d > 0 ? uint32_t(d) : uint32_t(d + (1 << cat) - 1);
    bits = (t.dc[cat].bits << cat) | extra;
    len = t.dc[cat].len + cat;
}

// Quant: static uint64_t Quantize(const Coef* x, const QuantTable& q, int16_t* levels).
template <class Quant>
TAMO_INLINE void CodeBlockT(CBitstream& bw, CBitstream::Cursor& cur, const tamo::CodeTables& t, const tamo::Coef* x,
                            int& pred, const tamo::QuantTable& q) {
    uint32_t dcBits;
    int dcLen;
    DcCode(t, x[0], pred, dcBits, dcLen);
    bw.Put(cur, dcBits, dcLen);

    alignas(32) int16_t levels[64];
    uint64_t mask = Quant::Quantize(x, q, levels);
    // [run follows][level]: the second half starts 2049 entries on.
    const uint32_t* codes = &t.acSigned[0][1024];
    uint64_t last = 0;
    while (mask) {
        const uint64_t p = uint64_t(__builtin_ctzll(mask));
        mask &= mask - 1;
        const uint64_t run = p - last - 1;
        last = p;
        const int64_t v = levels[p];
        if (uint64_t(v + tamo::CodeTables::kSmallLevel) < 2 * tamo::CodeTables::kSmallLevel) [[likely]] {
            const uint32_t e = t.runLevel[run][v + tamo::CodeTables::kSmallLevel];
            bw.Put(cur, e >> 5, int(e & 31));
        } else {
            const uint32_t lc = codes[v + (run ? 2049 : 0)];
            const uint32_t rc = t.runPacked[run];
            const uint32_t rl = rc & 15;
            bw.Put(cur, ((lc >> 5) << rl) | (rc >> 4), int((lc & 31) + rl));
        }
    }
    bw.Put(cur, t.ac[tamo::kAcEob].bits, t.ac[tamo::kAcEob].len);
}

template <class Quant>
TAMO_INLINE int64_t CountBlockT(const tamo::CodeTables& t, const tamo::Coef* x, int& pred, const tamo::QuantTable& q) {
    uint32_t dcBits;
    int dcLen;
    DcCode(t, x[0], pred, dcBits, dcLen);
    int64_t bits = dcLen + t.ac[tamo::kAcEob].len;

    alignas(32) int16_t levels[64];
    uint64_t mask = Quant::Quantize(x, q, levels);
    const uint8_t* lens = &t.acSignedLen[0][1024];
    uint64_t last = 0;
    while (mask) {
        const uint64_t p = uint64_t(__builtin_ctzll(mask));
        mask &= mask - 1;
        const uint64_t run = p - last - 1;
        last = p;
        bits += lens[int64_t(levels[p]) + (run ? 2049 : 0)] + t.runLen[run];
    }
    return bits;
}

// `count` macroblocks from `x` on (384 coefficients each), with the scale's quantiser tables
// (luma, chroma).
template <class Quant>
void CodeMacroblocksT(CBitstream& bw, int pred[3], const tamo::Coef* x, int count, const tamo::QuantTable* q,
                      int scale) {
    const tamo::CodeTables& t = tamo::Tables();
    CBitstream::Cursor cur = bw.LoadCursor();
    for (int i = 0; i < count; ++i, x += 384) {
        bw.Put(cur, uint32_t(scale - 1), 6);
        CodeBlockT<Quant>(bw, cur, t, x, pred[0], q[0]);
        CodeBlockT<Quant>(bw, cur, t, x + 64, pred[0], q[0]);
        CodeBlockT<Quant>(bw, cur, t, x + 128, pred[1], q[1]);
        CodeBlockT<Quant>(bw, cur, t, x + 192, pred[2], q[1]);
        CodeBlockT<Quant>(bw, cur, t, x + 256, pred[0], q[0]);
        CodeBlockT<Quant>(bw, cur, t, x + 320, pred[0], q[0]);
    }
    bw.SaveCursor(cur);
}

template <class Quant>
int64_t CountMacroblocksT(int pred[3], const tamo::Coef* x, int count, const tamo::QuantTable* q) {
    const tamo::CodeTables& t = tamo::Tables();
    int64_t bits = 0;
    for (int i = 0; i < count; ++i, x += 384) {
        bits += 6;
        bits += CountBlockT<Quant>(t, x, pred[0], q[0]);
        bits += CountBlockT<Quant>(t, x + 64, pred[0], q[0]);
        bits += CountBlockT<Quant>(t, x + 128, pred[1], q[1]);
        bits += CountBlockT<Quant>(t, x + 192, pred[2], q[1]);
        bits += CountBlockT<Quant>(t, x + 256, pred[0], q[0]);
        bits += CountBlockT<Quant>(t, x + 320, pred[0], q[0]);
    }
    return bits;
}

}  // namespace
