// The AVX2 builds of the forward transform and of block reconstruction. Only this file is
// compiled for AVX2; it is called only when the processor has it.
#include "codec/TamoCodeBlock.h"
#include "codec/TamoDecodeRow.h"
#include "codec/TamoTables.h"
#include "codec/TamoTransform.h"

#include <immintrin.h>

#include <cstdlib>

namespace {

// Eight named registers rather than an array, so the block stays in registers while its
// coefficients are added.
struct BlockAvx2 {
    __m256 r0, r1, r2, r3, r4, r5, r6, r7;
    TAMO_INLINE void Init() { r0 = r1 = r2 = r3 = r4 = r5 = r6 = r7 = _mm256_set1_ps(128.0f); }
    TAMO_INLINE void Add(float c, const float* b) {
        const __m256 cv = _mm256_set1_ps(c);
        r0 = _mm256_add_ps(r0, _mm256_mul_ps(cv, _mm256_load_ps(b)));
        r1 = _mm256_add_ps(r1, _mm256_mul_ps(cv, _mm256_load_ps(b + 8)));
        r2 = _mm256_add_ps(r2, _mm256_mul_ps(cv, _mm256_load_ps(b + 16)));
        r3 = _mm256_add_ps(r3, _mm256_mul_ps(cv, _mm256_load_ps(b + 24)));
        r4 = _mm256_add_ps(r4, _mm256_mul_ps(cv, _mm256_load_ps(b + 32)));
        r5 = _mm256_add_ps(r5, _mm256_mul_ps(cv, _mm256_load_ps(b + 40)));
        r6 = _mm256_add_ps(r6, _mm256_mul_ps(cv, _mm256_load_ps(b + 48)));
        r7 = _mm256_add_ps(r7, _mm256_mul_ps(cv, _mm256_load_ps(b + 56)));
    }
    static TAMO_INLINE void StoreLine(__m256 line, uint8_t* dst) {
        __m256i v = _mm256_cvtps_epi32(line);
        __m128i s = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(s, s));
    }
    TAMO_INLINE void Store(uint8_t* dst, int stride) {
        StoreLine(r0, dst);
        StoreLine(r1, dst + stride);
        StoreLine(r2, dst + 2 * stride);
        StoreLine(r3, dst + 3 * stride);
        StoreLine(r4, dst + 4 * stride);
        StoreLine(r5, dst + 5 * stride);
        StoreLine(r6, dst + 6 * stride);
        StoreLine(r7, dst + 7 * stride);
    }
};

// For each output register of the scan order, the sources it takes bytes from: bit 2i for
// register i as it is, bit 2i + 1 for it with its halves swapped (checked when the shuffles are
// built).
constexpr uint32_t kZigzagSources[4] = {0x2F, 0x5F, 0xF5, 0xF8};
// Signs of row 4 of the matrix relative to row 0 (checked when the constants are built).
constexpr bool kRow4Plus[8] = {true, false, false, true, true, false, false, true};

// Constants of the forward transform: each matrix entry broadcast to a whole register, and the
// byte shuffles that put the packed coefficients into scan order.
struct ForwardConsts {
    __m256 m[64];           // M(k, n) at [8k + n]
    __m256i zigzag[4][4][2];  // [output register][source register][source as is, halves swapped]
};

const ForwardConsts& Consts() {
    static const ForwardConsts* c = [] {
        auto* k = new ForwardConsts;
        const float* m = tamo::ForwardMatrix();
        for (int i = 0; i < 64; ++i) k->m[i] = _mm256_set1_ps(m[i]);
        for (int n = 0; n < 8; ++n)
            if (m[32 + n] != (kRow4Plus[n] ? m[n] : -m[n])) std::abort();
        // Source register i holds rows 2i and 2i+1 packed per 128-bit half: element e of half h is
        // row 2i + (e >= 4) at column 4h + e % 4.
        int srcReg[64], srcElem[64];
        for (int i = 0; i < 4; ++i)
            for (int e = 0; e < 16; ++e) {
                const int h = e / 8, w = e % 8;
                const int natural = (2 * i + (w >= 4)) * 8 + 4 * h + w % 4;
                srcReg[natural] = i;
                srcElem[natural] = e;
            }
        alignas(32) int8_t bytes[4][4][2][32];
        for (auto& a : bytes)
            for (auto& b : a)
                for (auto& c : b)
                    for (auto& d : c) d = int8_t(0x80);  // zero
        for (int p = 0; p < 64; ++p) {
            const int natural = tamo::kScanToNatural[p];
            const int j = p / 16, half = (p % 16) / 8, slot = p % 8;
            const int i = srcReg[natural], e = srcElem[natural];
            const int swapped = e / 8 != half;
            bytes[j][i][swapped][16 * half + 2 * slot] = int8_t(2 * (e % 8));
            bytes[j][i][swapped][16 * half + 2 * slot + 1] = int8_t(2 * (e % 8) + 1);
        }
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                for (int w = 0; w < 2; ++w) {
                    k->zigzag[j][i][w] = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes[j][i][w]));
                    // TransformBlock skips the sources that give an output register nothing.
                    bool used = false;
                    for (int8_t byte : bytes[j][i][w]) used |= byte != int8_t(0x80);
                    if (used && !(kZigzagSources[j] & (1u << (2 * i + w)))) std::abort();
                }
        return k;
    }();
    return *c;
}

// Same products and the same order of sums as the reference: t(y, u) = sum over x of
// d(y, x) M(u, x), then X(v, u) = sum over y of M(v, y) t(y, u). The row pass runs on columns
// of samples (one register per x, lanes over y), so the matrix entries are the broadcast
// operands; its result is transposed for the column pass.
__attribute__((noinline)) void TransformBlock(const uint8_t* src, int stride, tamo::Coef* out, const ForwardConsts& k) {
    // 8 x 8 bytes transposed: c[x / 2] holds column x in its low (x even) or high half.
    const __m128i r0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src));
    const __m128i r1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + stride));
    const __m128i r2 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 2 * stride));
    const __m128i r3 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 3 * stride));
    const __m128i r4 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 4 * stride));
    const __m128i r5 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 5 * stride));
    const __m128i r6 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 6 * stride));
    const __m128i r7 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 7 * stride));
    const __m128i a0 = _mm_unpacklo_epi8(r0, r1), a1 = _mm_unpacklo_epi8(r2, r3);
    const __m128i a2 = _mm_unpacklo_epi8(r4, r5), a3 = _mm_unpacklo_epi8(r6, r7);
    const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
    const __m128i c[4] = {_mm_unpacklo_epi32(b0, b2), _mm_unpackhi_epi32(b0, b2), _mm_unpacklo_epi32(b1, b3),
                          _mm_unpackhi_epi32(b1, b3)};
    const __m256 bias = _mm256_set1_ps(128.0f);
    __m256 d[8];
#pragma GCC unroll 8
    for (int x = 0; x < 8; ++x) {
        const __m128i col = (x & 1) ? _mm_unpackhi_epi64(c[x / 2], c[x / 2]) : c[x / 2];
        d[x] = _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(col)), bias);
    }
    // Row pass: t[u] lanes over y. Row 4 of the matrix is row 0 with signs (+ - - + + - - +), so
    // its products are row 0's, added or subtracted: exactly the same sums.
    __m256 t[8];
    {
        __m256 p = _mm256_mul_ps(d[0], k.m[0]);
        __m256 acc0 = p, acc4 = p;
#pragma GCC unroll 8
        for (int x = 1; x < 8; ++x) {
            p = _mm256_mul_ps(d[x], k.m[x]);
            acc0 = _mm256_add_ps(acc0, p);
            acc4 = kRow4Plus[x] ? _mm256_add_ps(acc4, p) : _mm256_sub_ps(acc4, p);
        }
        t[0] = acc0;
        t[4] = acc4;
    }
#pragma GCC unroll 8
    for (int u = 1; u < 8; ++u) {
        if (u == 4) continue;
        __m256 acc = _mm256_mul_ps(d[0], k.m[8 * u]);
#pragma GCC unroll 8
        for (int x = 1; x < 8; ++x) acc = _mm256_add_ps(acc, _mm256_mul_ps(d[x], k.m[8 * u + x]));
        t[u] = acc;
    }
    // Transpose: t[y] lanes over u.
    const __m256 e0 = _mm256_unpacklo_ps(t[0], t[1]), e1 = _mm256_unpackhi_ps(t[0], t[1]);
    const __m256 e2 = _mm256_unpacklo_ps(t[2], t[3]), e3 = _mm256_unpackhi_ps(t[2], t[3]);
    const __m256 e4 = _mm256_unpacklo_ps(t[4], t[5]), e5 = _mm256_unpackhi_ps(t[4], t[5]);
    const __m256 e6 = _mm256_unpacklo_ps(t[6], t[7]), e7 = _mm256_unpackhi_ps(t[6], t[7]);
    const __m256 f0 = _mm256_shuffle_ps(e0, e2, 0x44), f1 = _mm256_shuffle_ps(e0, e2, 0xEE);
    const __m256 f2 = _mm256_shuffle_ps(e1, e3, 0x44), f3 = _mm256_shuffle_ps(e1, e3, 0xEE);
    const __m256 f4 = _mm256_shuffle_ps(e4, e6, 0x44), f5 = _mm256_shuffle_ps(e4, e6, 0xEE);
    const __m256 f6 = _mm256_shuffle_ps(e5, e7, 0x44), f7 = _mm256_shuffle_ps(e5, e7, 0xEE);
    __m256 ty[8];
    ty[0] = _mm256_permute2f128_ps(f0, f4, 0x20);
    ty[1] = _mm256_permute2f128_ps(f1, f5, 0x20);
    ty[2] = _mm256_permute2f128_ps(f2, f6, 0x20);
    ty[3] = _mm256_permute2f128_ps(f3, f7, 0x20);
    ty[4] = _mm256_permute2f128_ps(f0, f4, 0x31);
    ty[5] = _mm256_permute2f128_ps(f1, f5, 0x31);
    ty[6] = _mm256_permute2f128_ps(f2, f6, 0x31);
    ty[7] = _mm256_permute2f128_ps(f3, f7, 0x31);
    // Column pass: row v of the coefficients, lanes over u; rounded, packed two rows a register.
    // Rows 0 and 4 share their products as above.
    __m256i rows[8];
    {
        __m256 p = _mm256_mul_ps(k.m[0], ty[0]);
        __m256 acc0 = p, acc4 = p;
#pragma GCC unroll 8
        for (int y = 1; y < 8; ++y) {
            p = _mm256_mul_ps(k.m[y], ty[y]);
            acc0 = _mm256_add_ps(acc0, p);
            acc4 = kRow4Plus[y] ? _mm256_add_ps(acc4, p) : _mm256_sub_ps(acc4, p);
        }
        rows[0] = _mm256_cvtps_epi32(acc0);
        rows[4] = _mm256_cvtps_epi32(acc4);
    }
#pragma GCC unroll 8
    for (int v = 1; v < 8; ++v) {
        if (v == 4) continue;
        __m256 acc = _mm256_mul_ps(k.m[8 * v], ty[0]);
#pragma GCC unroll 8
        for (int y = 1; y < 8; ++y) acc = _mm256_add_ps(acc, _mm256_mul_ps(k.m[8 * v + y], ty[y]));
        rows[v] = _mm256_cvtps_epi32(acc);
    }
    __m256i packed[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) packed[i] = _mm256_packs_epi32(rows[2 * i], rows[2 * i + 1]);
    // Scan order: every output register gathers its bytes from the four, each as it is and with
    // its halves swapped.
    __m256i swapped[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) swapped[i] = _mm256_permute2x128_si256(packed[i], packed[i], 0x01);
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        __m256i o = _mm256_setzero_si256();
#pragma GCC unroll 8
        for (int s = 0; s < 8; ++s)
            if (kZigzagSources[j] & (1u << s))
                o = _mm256_or_si256(o, _mm256_shuffle_epi8((s & 1) ? swapped[s / 2] : packed[s / 2], k.zigzag[j][s / 2][s & 1]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * j), o);
    }
}

}  // namespace

namespace tamo {

namespace {
TAMO_INLINE uint64_t Quantize(const Coef* x, const QuantTable& q, int16_t* levels) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i z[4];
    for (int i = 0; i < 4; ++i) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + 16 * i));
        __m256i l = _mm256_mulhi_epu16(_mm256_slli_epi16(_mm256_abs_epi16(v), 5),
                                       _mm256_load_si256(reinterpret_cast<const __m256i*>(q.mul + 16 * i)));
        l = _mm256_mulhi_epu16(l, _mm256_load_si256(reinterpret_cast<const __m256i*>(q.post + 16 * i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels + 16 * i), _mm256_sign_epi16(l, v));
        z[i] = _mm256_cmpeq_epi16(l, zero);
    }
    // packs works per 128-bit lane: put the quarters back in order.
    const uint32_t lo = uint32_t(_mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(z[0], z[1]), 0xD8)));
    const uint32_t hi = uint32_t(_mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(z[2], z[3]), 0xD8)));
    return ~((uint64_t(hi) << 32) | lo);
}
struct QuantAvx2 {
    static TAMO_INLINE uint64_t Quantize(const Coef* x, const QuantTable& q, int16_t* levels) {
        return tamo::Quantize(x, q, levels);
    }
};
}  // namespace

uint64_t QuantizeBlockAvx2(const Coef* x, const QuantTable& q, int16_t* levels) { return Quantize(x, q, levels); }

void CodeMacroblocksAvx2(CBitstream& bw, int pred[3], const Coef* x, int count, const QuantTable* q, int scale) {
    CodeMacroblocksT<QuantAvx2>(bw, pred, x, count, q, scale);
}

namespace {
// Bits of one block without a loop over every coefficient: the lengths of the plain symbols of
// levels below 16 (nearly all of them) are looked up sixteen at a time and summed; the rare
// larger levels and the symbols with a run (their length difference and the run code) are
// added one by one.
TAMO_INLINE int64_t CountBlock(const CodeTables& t, const Coef* x, int& pred, const QuantTable& q, __m256i lenSmall) {
    uint32_t dcBits;
    int dcLen;
    DcCode(t, x[0], pred, dcBits, dcLen);
    int64_t bits = dcLen + t.ac[kAcEob].len;

    alignas(32) int16_t levels[64];
    const __m256i zero = _mm256_setzero_si256();
    __m256i mag[4], z[4];
    for (int i = 0; i < 4; ++i) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + 16 * i));
        __m256i l = _mm256_mulhi_epu16(_mm256_slli_epi16(_mm256_abs_epi16(v), 5),
                                       _mm256_load_si256(reinterpret_cast<const __m256i*>(q.mul + 16 * i)));
        mag[i] = _mm256_mulhi_epu16(l, _mm256_load_si256(reinterpret_cast<const __m256i*>(q.post + 16 * i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels + 16 * i), _mm256_sign_epi16(mag[i], v));
        z[i] = _mm256_cmpeq_epi16(mag[i], zero);
    }
    const uint32_t zlo = uint32_t(_mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(z[0], z[1]), 0xD8)));
    const uint32_t zhi = uint32_t(_mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(z[2], z[3]), 0xD8)));
    const uint64_t zeroMask = (uint64_t(zhi) << 32) | zlo;
    const uint64_t nz = ~zeroMask;

    // Magnitudes as bytes (saturated), in scan order.
    const __m256i b0 = _mm256_permute4x64_epi64(_mm256_packus_epi16(mag[0], mag[1]), 0xD8);
    const __m256i b1 = _mm256_permute4x64_epi64(_mm256_packus_epi16(mag[2], mag[3]), 0xD8);
    const __m256i fifteen = _mm256_set1_epi8(15);
    const __m256i small0 = _mm256_cmpeq_epi8(_mm256_min_epu8(b0, fifteen), b0);
    const __m256i small1 = _mm256_cmpeq_epi8(_mm256_min_epu8(b1, fifteen), b1);
    const __m256i len = _mm256_add_epi8(_mm256_and_si256(_mm256_shuffle_epi8(lenSmall, b0), small0),
                                        _mm256_and_si256(_mm256_shuffle_epi8(lenSmall, b1), small1));
    const __m256i sums = _mm256_sad_epu8(len, zero);
    bits += _mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) + _mm256_extract_epi64(sums, 2) +
            _mm256_extract_epi64(sums, 3);

    const uint8_t* lens0 = &t.acSignedLen[0][1024];
    const uint8_t* lens1 = &t.acSignedLen[1][1024];
    const uint64_t big = ~((uint64_t(uint32_t(_mm256_movemask_epi8(small1))) << 32) |
                           uint32_t(_mm256_movemask_epi8(small0)));
    for (uint64_t m = big; m; m &= m - 1) bits += lens0[levels[__builtin_ctzll(m)]];
    // A level after a zero (from position 2 on) carries a run.
    for (uint64_t m = nz & (zeroMask << 1) & ~uint64_t(3); m; m &= m - 1) {
        const int p = __builtin_ctzll(m);
        const uint64_t before = nz & ((uint64_t(1) << p) - 1);
        const int prev = before ? 63 - __builtin_clzll(before) : 0;
        const int64_t v = levels[p];
        bits += int(lens1[v]) - int(lens0[v]) + t.runLen[p - prev - 1];
    }
    return bits;
}
}  // namespace

int64_t CountMacroblocksAvx2(int pred[3], const Coef* x, int count, const QuantTable* q) {
    const CodeTables& t = Tables();
    alignas(16) uint8_t small[16];
    for (int a = 0; a < 16; ++a) small[a] = a ? t.acSignedLen[0][1024 + a] : 0;
    const __m256i lenSmall = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(small)));
    int64_t bits = 0;
    for (int i = 0; i < count; ++i, x += 384) {
        bits += 6;
        bits += CountBlock(t, x, pred[0], q[0], lenSmall);
        bits += CountBlock(t, x + 64, pred[0], q[0], lenSmall);
        bits += CountBlock(t, x + 128, pred[1], q[1], lenSmall);
        bits += CountBlock(t, x + 192, pred[2], q[1], lenSmall);
        bits += CountBlock(t, x + 256, pred[0], q[0], lenSmall);
        bits += CountBlock(t, x + 320, pred[0], q[0], lenSmall);
    }
    return bits;
}

bool DecodeRowAvx2(RowContext& rc) { return DecodeRowT<BlockAvx2>(rc); }

void TransformPictureAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int rows,
                          int columns, Coef* store) {
    const ForwardConsts& k = Consts();
    const int cw = width / 2;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const uint8_t* ly = y + size_t(r) * 16 * width + c * 16;
            const size_t co = size_t(r) * 8 * cw + c * 8;
            TransformBlock(ly, width, store, k);
            TransformBlock(ly + 8, width, store + 64, k);
            TransformBlock(cb + co, cw, store + 128, k);
            TransformBlock(cr + co, cw, store + 192, k);
            TransformBlock(ly + 8 * width, width, store + 256, k);
            TransformBlock(ly + 8 * width + 8, width, store + 320, k);
            store += 384;
        }
}

}  // namespace tamo
