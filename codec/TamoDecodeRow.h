#pragma once
// The row decoder, compiled once per vector unit (included by the portable and the AVX2 file).
// Everything here has internal linkage so the two builds never mix at link time.
#include "codec/CBitstream.h"
#include "codec/TamoDecoder.h"
#include "codec/TamoTables.h"
#include "codec/TamoTransform.h"

namespace {

// Blk: 64 single-precision values starting at 128 with Init(), Add(c, basis) adding c times a
// basis image, Store(dst, stride) rounding (ties to even) and clamping to bytes.
template <class Blk>
bool DecodeRowT(tamo::RowContext& rc) {
    using namespace tamo;
    const CodeTables& t = Tables();
    const float* basis = BasisImages();
    CBitstream& br = *rc.bits;
    for (int c = 0; c < rc.columns; ++c) {
        const int q = int(br.Get(6)) + 1;
        uint8_t* ly = rc.y + c * 16;
        uint8_t* dst[6] = {ly, ly + 8, rc.cb + c * 8, rc.cr + c * 8, ly + 8 * rc.yStride, ly + 8 * rc.yStride + 8};
        for (int b = 0; b < 6; ++b) {
            const int comp = b == 2 ? 1 : b == 3 ? 2 : 0;
            const uint8_t* w = comp ? kWeightChroma : kWeightLuma;
            Blk acc;
            acc.Init();

            SmallEntry e = t.dc6[br.Peek(6)];
            br.Skip(e.len);
            int d = 0;
            if (e.value) {
                int cat = e.value;
                int bits = int(br.Get(cat));
                d = bits >= (1 << (cat - 1)) ? bits : bits + 1 - (1 << cat);
            }
            const int dc = rc.pred[comp] + d;
            rc.pred[comp] = dc;
            acc.Add(float(dc), basis);

            int p = 1;
            for (;;) {
                uint32_t peek = br.Peek(16);
                AcEntry a = t.ac8[peek >> 8];
                if (a.len == 0) a = t.ac16[peek];
                br.Skip(a.len);
                if (a.eob) break;
                if (p >= 64) return false;
                const uint32_t sign = br.Get(1);
                int level = a.level;
                if (a.flags & kAcExtFlag) level += 64 * int(br.Get(4));
                if (a.flags & kAcRunFlag) {
                    SmallEntry r = t.run7[br.Peek(7)];
                    if (r.len == 0) r = t.run10[br.Peek(10)];
                    br.Skip(r.len);
                    p += r.value;
                    if (p > 63) return false;
                }
                const int wq = w[p] * q;
                int v = (wq * level + (w[p] != 32 ? 16 : 0) + wq / 2) >> 5;
                if (sign) v = -v;
                acc.Add(float(v), basis + p * 64);
                ++p;
            }
            acc.Store(dst[b], b == 2 || b == 3 ? rc.cStride : rc.yStride);
        }
    }
    return true;
}

}  // namespace
