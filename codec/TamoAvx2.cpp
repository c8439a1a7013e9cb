// The AVX2 builds of the forward transform and of block reconstruction. Only this file is
// compiled for AVX2; it is called only when the processor has it.
#include "codec/TamoDecodeRow.h"
#include "codec/TamoTables.h"
#include "codec/TamoTransform.h"

#include <immintrin.h>

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

// Rows first: t[y] = sum over x of d[y][x] * M(., x); then columns: X[v] = sum over y of
// M(v, y) * t[y]. Same products and the same order of sums as the other implementations.
void TransformBlock(const uint8_t* src, int stride, tamo::Coef* out, const float* m, const __m256* mt) {
    alignas(32) float d[64];
    const __m256 bias = _mm256_set1_ps(128.0f);
    for (int y = 0; y < 8; ++y) {
        __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * stride));
        _mm256_store_ps(d + y * 8, _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(b)), bias));
    }
    __m256 t[8];
    for (int y = 0; y < 8; ++y) {
        __m256 acc = _mm256_mul_ps(_mm256_broadcast_ss(d + y * 8), mt[0]);
        for (int x = 1; x < 8; ++x) acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_broadcast_ss(d + y * 8 + x), mt[x]));
        t[y] = acc;
    }
    __m256i rows[8];
    for (int v = 0; v < 8; ++v) {
        __m256 acc = _mm256_mul_ps(_mm256_broadcast_ss(m + v * 8), t[0]);
        for (int y = 1; y < 8; ++y) acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_broadcast_ss(m + v * 8 + y), t[y]));
        rows[v] = _mm256_cvtps_epi32(acc);
    }
    for (int v = 0; v < 8; v += 2) {
        // packs works per 128-bit lane: put the quarters back in order.
        __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(rows[v], rows[v + 1]), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + v * 8), packed);
    }
}

}  // namespace

namespace tamo {

uint64_t QuantizeBlockAvx2(const Coef* x, const float* recip, int32_t* levels) {
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256 maxLevel = _mm256_set1_ps(1024.0f);
    const __m256i zero = _mm256_setzero_si256();
    uint64_t mask = 0;
    for (int i = 0; i < 64; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
        const __m256i halves[2] = {_mm256_cvtepi16_epi32(_mm256_castsi256_si128(v)), _mm256_cvtepi16_epi32(_mm256_extracti128_si256(v, 1))};
        for (int h = 0; h < 2; ++h) {
            const int o = i + 8 * h;
            __m256 f = _mm256_and_ps(_mm256_cvtepi32_ps(halves[h]), absMask);
            f = _mm256_min_ps(_mm256_mul_ps(f, _mm256_loadu_ps(recip + o)), maxLevel);
            __m256i a = _mm256_cvttps_epi32(f);
            const int nz = ~_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(a, zero))) & 0xFF;
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels + o), _mm256_sign_epi32(a, halves[h]));
            mask |= uint64_t(nz) << o;
        }
    }
    return mask & ~uint64_t(1);
}

bool DecodeRowAvx2(RowContext& rc) { return DecodeRowT<BlockAvx2>(rc); }

void TransformPictureAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int rows,
                          int columns, Coef* store) {
    const float* m = ForwardMatrix();
    alignas(32) float mtf[64];
    for (int x = 0; x < 8; ++x)
        for (int u = 0; u < 8; ++u) mtf[x * 8 + u] = m[u * 8 + x];
    __m256 mt[8];
    for (int x = 0; x < 8; ++x) mt[x] = _mm256_load_ps(mtf + x * 8);
    const int cw = width / 2;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const uint8_t* ly = y + size_t(r) * 16 * width + c * 16;
            const size_t co = size_t(r) * 8 * cw + c * 8;
            TransformBlock(ly, width, store, m, mt);
            TransformBlock(ly + 8, width, store + 64, m, mt);
            TransformBlock(cb + co, cw, store + 128, m, mt);
            TransformBlock(cr + co, cw, store + 192, m, mt);
            TransformBlock(ly + 8 * width, width, store + 256, m, mt);
            TransformBlock(ly + 8 * width + 8, width, store + 320, m, mt);
            store += 384;
        }
}

}  // namespace tamo
