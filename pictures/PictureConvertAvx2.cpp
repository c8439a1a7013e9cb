// The AVX2 build of the conversion into separate planes. Only this file is compiled for AVX2
// (no FMA: a fused multiply-add would round differently); it runs only when the processor has it.
#include "pictures/PictureConvertAvx2.h"

#include <immintrin.h>

namespace {
struct Consts {
    __m256 yr, yg, yb, cbb, cbg, cbr, crr, crg, crb, half;
    __m256i m255, b16, b128;
    Consts()
        : yr(_mm256_set1_ps(0.183f)), yg(_mm256_set1_ps(0.614f)), yb(_mm256_set1_ps(0.062f)),
          cbb(_mm256_set1_ps(0.439f)), cbg(_mm256_set1_ps(0.338f)), cbr(_mm256_set1_ps(0.101f)),
          crr(_mm256_set1_ps(0.439f)), crg(_mm256_set1_ps(0.399f)), crb(_mm256_set1_ps(0.040f)),
          half(_mm256_set1_ps(0.5f)), m255(_mm256_set1_epi32(255)), b16(_mm256_set1_epi8(16)),
          b128(_mm256_set1_epi8(char(0x80))) {}
};

struct Rgb {
    __m256 r, g, b;
};

inline Rgb Split(const uint32_t* px, const Consts& c) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px));
    return {_mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(v, 16), c.m255)),
            _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(v, 8), c.m255)),
            _mm256_cvtepi32_ps(_mm256_and_si256(v, c.m255))};
}

// Luma before its offset of 16: never negative, so truncation is floor; at most 219, so the
// clamp to 16..235 never bites.
inline __m256i Luma(const Rgb& p, const Consts& c) {
    const __m256 f = _mm256_add_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(c.yr, p.r), _mm256_mul_ps(c.yg, p.g)), _mm256_mul_ps(c.yb, p.b)),
        c.half);
    return _mm256_cvttps_epi32(f);
}

// Four vectors of luma (32 pixels in order) to 32 bytes in order, the offset added per byte.
inline void StoreLuma(uint8_t* out, __m256i a, __m256i b, __m256i c, __m256i d, const Consts& k) {
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_add_epi8(_mm256_permutevar8x32_epi32(bytes, order), k.b16));
}

// Pair chroma of two vectors of eight pixels before its offset: floor((c0 + c1) * 0.5 + 0.5),
// within -112..112, so the clamp to 16..240 after the offset never bites. Lanes in the order
// hadd leaves them (pairs 0 1 4 5 | 2 3 6 7).
inline __m256i PairChroma(__m256 a, __m256 b, const Consts& c) {
    const __m256 f = _mm256_floor_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_hadd_ps(a, b), c.half), c.half));
    return _mm256_cvttps_epi32(f);
}

inline __m256 Cb(const Rgb& p, const Consts& c) {
    return _mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(c.cbb, p.b), _mm256_mul_ps(c.cbg, p.g)), _mm256_mul_ps(c.cbr, p.r));
}
inline __m256 Cr(const Rgb& p, const Consts& c) {
    return _mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(c.crr, p.r), _mm256_mul_ps(c.crg, p.g)), _mm256_mul_ps(c.crb, p.b));
}

// Sixteen pair chroma values from two PairChroma results (pairs 0-7 and 8-15) into bytes with
// the offset of 128 (a flipped sign bit of the signed bytes).
inline void StoreChroma(uint8_t* out, __m256i lo, __m256i hi, const Consts& k) {
    // packs: 16-bit pairs 0 1 4 5 8 9 12 13 | 2 3 6 7 10 11 14 15; then bytes, then reorder.
    const __m256i w = _mm256_packs_epi32(lo, hi);
    const __m256i b = _mm256_xor_si256(_mm256_packs_epi16(w, w), k.b128);
    const __m128i q = _mm256_castsi256_si128(_mm256_permute4x64_epi64(b, 0x08));  // lane0 low, lane1 low
    const __m128i order = _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(q, order));
}
}  // namespace

int RowToPlanes709Avx2(const uint32_t* px, int width, bool chroma, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    const Consts c;
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const Rgb p0 = Split(px + x, c), p1 = Split(px + x + 8, c), p2 = Split(px + x + 16, c),
                  p3 = Split(px + x + 24, c);
        StoreLuma(y + x, Luma(p0, c), Luma(p1, c), Luma(p2, c), Luma(p3, c), c);
        if (!chroma) continue;
        StoreChroma(cb + x / 2, PairChroma(Cb(p0, c), Cb(p1, c), c), PairChroma(Cb(p2, c), Cb(p3, c), c), c);
        StoreChroma(cr + x / 2, PairChroma(Cr(p0, c), Cr(p1, c), c), PairChroma(Cr(p2, c), Cr(p3, c), c), c);
    }
    return x;
}
