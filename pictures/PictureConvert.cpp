#include "pictures/PictureConvert.h"

#include "pictures/PictureConvertAvx2.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// All colour maths is single precision with the constants exactly as below, floor(x + 0.5)
// and clamps. The vector paths do the same operations in the same order, so both give the
// same bytes (the tests compare them against a plain per-pixel version).

namespace {
struct Coeffs {
    float yr, yg, yb;     // luma
    float cbb, cbg, cbr;  // Cb = cbb B - cbg G - cbr R
    float crr, crg, crb;  // Cr = crr R - crg G - crb B
    float rcr, gcr, gcb, bcb;  // back to RGB
};
constexpr Coeffs k601{0.257f, 0.504f, 0.098f, 0.439f, 0.291f, 0.148f, 0.439f, 0.368f, 0.071f,
                      1.596f, 0.813f, 0.391f, 2.018f};
constexpr Coeffs k709{0.183f, 0.614f, 0.062f, 0.439f, 0.338f, 0.101f, 0.439f, 0.399f, 0.040f,
                      1.793f, 0.534f, 0.213f, 2.115f};

std::atomic<ICompressedPictureCodec*> g_codec{nullptr};

// floor() for the small values met here, without a library call.
inline int FloorInt(float v) {
    int i = int(v);
    return i - (float(i) > v);
}

// Per pixel pair, before bit reduction: Y and A as integers, chroma as float (the saturation
// factor can make it fractional).
struct PairRow {
    std::vector<int32_t> y0, y1, a0, a1;
    std::vector<float> cb, cr;
    explicit PairRow(size_t n) : y0(n), y1(n), a0(n), a1(n), cb(n), cr(n) {}
};

inline void PairScalar(uint32_t p0, uint32_t p1, const Coeffs& k, float s, PairRow& o, size_t i) {
    float r0 = float((p0 >> 16) & 255), g0 = float((p0 >> 8) & 255), b0 = float(p0 & 255);
    float r1 = float((p1 >> 16) & 255), g1 = float((p1 >> 8) & 255), b1 = float(p1 & 255);
    o.y0[i] = std::clamp(FloorInt(k.yr * r0 + k.yg * g0 + k.yb * b0 + 0.5f) + 16, 16, 235);
    o.y1[i] = std::clamp(FloorInt(k.yr * r1 + k.yg * g1 + k.yb * b1 + 0.5f) + 16, 16, 235);
    float cb0 = k.cbb * b0 - k.cbg * g0 - k.cbr * r0, cb1 = k.cbb * b1 - k.cbg * g1 - k.cbr * r1;
    float cr0 = k.crr * r0 - k.crg * g0 - k.crb * b0, cr1 = k.crr * r1 - k.crg * g1 - k.crb * b1;
    float cb = float(FloorInt((cb0 + cb1) * 0.5f + 0.5f)) * s + 128.0f;
    float cr = float(FloorInt((cr0 + cr1) * 0.5f + 0.5f)) * s + 128.0f;
    o.cb[i] = std::min(std::max(cb, 16.0f), 240.0f);
    o.cr[i] = std::min(std::max(cr, 16.0f), 240.0f);
    o.a0[i] = int32_t(255 - (p0 >> 24));
    o.a1[i] = int32_t(255 - (p1 >> 24));
}

#ifdef __SSE2__
inline __m128i FloorEpi32(__m128 x) {
    __m128i i = _mm_cvttps_epi32(x);
    __m128 gt = _mm_cmpgt_ps(_mm_cvtepi32_ps(i), x);
    return _mm_add_epi32(i, _mm_castps_si128(gt));  // gt lanes are -1
}
#endif

#ifdef __SSE2__
// Broadcast constants of the picture-to-device kernel.
struct ToDevConsts {
    __m128 yr, yg, yb, cbb, cbg, cbr, crr, crg, crb, half, vs, c128, c16, c240;
    __m128i m255, i16, i235;
    ToDevConsts(const Coeffs& k, float s)
        : yr(_mm_set1_ps(k.yr)), yg(_mm_set1_ps(k.yg)), yb(_mm_set1_ps(k.yb)), cbb(_mm_set1_ps(k.cbb)),
          cbg(_mm_set1_ps(k.cbg)), cbr(_mm_set1_ps(k.cbr)), crr(_mm_set1_ps(k.crr)), crg(_mm_set1_ps(k.crg)),
          crb(_mm_set1_ps(k.crb)), half(_mm_set1_ps(0.5f)), vs(_mm_set1_ps(s)), c128(_mm_set1_ps(128.0f)),
          c16(_mm_set1_ps(16.0f)), c240(_mm_set1_ps(240.0f)), m255(_mm_set1_epi32(255)), i16(_mm_set1_epi32(16)),
          i235(_mm_set1_epi32(235)) {}
};

struct PairVec {
    __m128i y0, y1, a0, a1;
    __m128 cb, cr;
};

// Four pixel pairs (eight pixels from px) at once; the same operations as PairScalar.
inline PairVec PairsSimd(const uint32_t* px, const ToDevConsts& c) {
    __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px)));
    __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 4)));
    __m128i p0 = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    __m128i p1 = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    __m128 r0 = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p0, 16), c.m255));
    __m128 g0 = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p0, 8), c.m255));
    __m128 b0 = _mm_cvtepi32_ps(_mm_and_si128(p0, c.m255));
    __m128 r1 = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p1, 16), c.m255));
    __m128 g1 = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p1, 8), c.m255));
    __m128 b1 = _mm_cvtepi32_ps(_mm_and_si128(p1, c.m255));
    // Luma is never negative, so truncation is floor; values fit 16 bits, so the 16-bit
    // min/max clamp the 32-bit lanes correctly.
    __m128 yf0 = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(c.yr, r0), _mm_mul_ps(c.yg, g0)), _mm_mul_ps(c.yb, b0)), c.half);
    __m128 yf1 = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(c.yr, r1), _mm_mul_ps(c.yg, g1)), _mm_mul_ps(c.yb, b1)), c.half);
    PairVec v;
    v.y0 = _mm_max_epi16(_mm_min_epi16(_mm_add_epi32(_mm_cvttps_epi32(yf0), c.i16), c.i235), c.i16);
    v.y1 = _mm_max_epi16(_mm_min_epi16(_mm_add_epi32(_mm_cvttps_epi32(yf1), c.i16), c.i235), c.i16);
    __m128 cb0 = _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(c.cbb, b0), _mm_mul_ps(c.cbg, g0)), _mm_mul_ps(c.cbr, r0));
    __m128 cb1 = _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(c.cbb, b1), _mm_mul_ps(c.cbg, g1)), _mm_mul_ps(c.cbr, r1));
    __m128 cr0 = _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(c.crr, r0), _mm_mul_ps(c.crg, g0)), _mm_mul_ps(c.crb, b0));
    __m128 cr1 = _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(c.crr, r1), _mm_mul_ps(c.crg, g1)), _mm_mul_ps(c.crb, b1));
    __m128 cb = _mm_cvtepi32_ps(FloorEpi32(_mm_add_ps(_mm_mul_ps(_mm_add_ps(cb0, cb1), c.half), c.half)));
    __m128 cr = _mm_cvtepi32_ps(FloorEpi32(_mm_add_ps(_mm_mul_ps(_mm_add_ps(cr0, cr1), c.half), c.half)));
    v.cb = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_mul_ps(cb, c.vs), c.c128), c.c16), c.c240);
    v.cr = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_mul_ps(cr, c.vs), c.c128), c.c16), c.c240);
    v.a0 = _mm_sub_epi32(c.m255, _mm_srli_epi32(p0, 24));
    v.a1 = _mm_sub_epi32(c.m255, _mm_srli_epi32(p1, 24));
    return v;
}
#endif

// Reduction of an 8-bit value to n < 8 bits: floor(v / 2^(8-n) + 0.5), at most 2^n - 1.
template <int N>
inline uint32_t Reduce(float v) {
    constexpr float kScale = 1.0f / float(1 << (8 - N));
    int r = FloorInt(v * kScale + 0.5f);
    return uint32_t(std::min(r, (1 << N) - 1));
}

inline void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline uint32_t Rot0(uint32_t w) { return (w >> 2) | ((w & 3) << 14); }

void PackRow(int format, const PairRow& r, size_t pairs, uint8_t* out) {
    switch (format) {
    case 0:
        for (size_t i = 0; i < pairs; ++i, out += 4) {
            Put16(out, Rot0(Reduce<6>(float(r.y0[i])) << 10 | Reduce<4>(float(r.a0[i])) << 6 | Reduce<6>(r.cb[i])));
            Put16(out + 2, Rot0(Reduce<6>(float(r.y1[i])) << 10 | Reduce<4>(float(r.a1[i])) << 6 | Reduce<6>(r.cr[i])));
        }
        break;
    case 1:
        for (size_t i = 0; i < pairs; ++i, out += 4) {
            Put16(out, Reduce<7>(float(r.y0[i])) << 9 | Reduce<3>(float(r.a0[i])) << 6 | Reduce<6>(r.cb[i]));
            Put16(out + 2, Reduce<7>(float(r.y1[i])) << 9 | Reduce<3>(float(r.a1[i])) << 6 | Reduce<6>(r.cr[i]));
        }
        break;
    case 3:
        for (size_t i = 0; i < pairs; ++i, out += 8) {
            Put32(out, uint32_t(r.y0[i]) << 16 | uint32_t(int(r.cb[i])) << 8 | uint32_t(r.a0[i]));
            Put32(out + 4, uint32_t(r.y1[i]) << 16 | uint32_t(int(r.cr[i])) << 8 | uint32_t(r.a1[i]));
        }
        break;
    case 4:
        for (size_t i = 0; i < pairs; ++i, out += 5) {
            uint32_t a0 = Reduce<5>(float(r.a0[i])), a1 = Reduce<5>(float(r.a1[i]));
            out[0] = uint8_t((a0 & 1) << 7 | Reduce<7>(r.cb[i]));
            out[1] = uint8_t(r.y0[i]);
            out[2] = uint8_t((a1 & 1) << 7 | Reduce<7>(r.cr[i]));
            out[3] = uint8_t(r.y1[i]);
            out[4] = uint8_t((a1 >> 1) << 4 | (a0 >> 1));
        }
        break;
    default:
        for (size_t i = 0; i < pairs; ++i, out += 4) {
            out[0] = uint8_t(int(r.cb[i]));
            out[1] = uint8_t(r.y0[i]);
            out[2] = uint8_t(int(r.cr[i]));
            out[3] = uint8_t(r.y1[i]);
        }
        break;
    }
}

// Pixels straight to device bytes for the 8-bit formats: no intermediate row. Chroma is at
// least 16, so truncation to an integer is the same as in PackRow.
void ConvertRow8(int format, const uint32_t* px, size_t pairs, const Coeffs& k, float s, PairRow& tail, uint8_t* out) {
    size_t i = 0;
#ifdef __SSE2__
    const ToDevConsts c(k, s);
    for (; i + 4 <= pairs; i += 4) {
        PairVec v = PairsSimd(px + 2 * i, c);
        __m128i cb = _mm_cvttps_epi32(v.cb), cr = _mm_cvttps_epi32(v.cr);
        if (format == 3) {
            __m128i w0 = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(v.y0, 16), _mm_slli_epi32(cb, 8)), v.a0);
            __m128i w1 = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(v.y1, 16), _mm_slli_epi32(cr, 8)), v.a1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i), _mm_unpacklo_epi32(w0, w1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i + 16), _mm_unpackhi_epi32(w0, w1));
        } else {
            __m128i w = _mm_or_si128(_mm_or_si128(cb, _mm_slli_epi32(v.y0, 8)),
                                     _mm_or_si128(_mm_slli_epi32(cr, 16), _mm_slli_epi32(v.y1, 24)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), w);
        }
    }
#endif
    size_t rest = pairs - i;
    for (size_t j = 0; j < rest; ++j) PairScalar(px[2 * (i + j)], px[2 * (i + j) + 1], k, s, tail, j);
    PackRow(format, tail, rest, out + i * size_t(DeviceBytesPerPair(format)));
}

#ifdef __SSE2__
// floor(v / 2^(8-N) + 0.5) at most 2^N - 1, for non-negative integer lanes: exact integer form.
template <int N>
inline __m128i ReduceInt(__m128i v) {
    return _mm_min_epi16(_mm_srli_epi32(_mm_add_epi32(v, _mm_set1_epi32(1 << (7 - N))), 8 - N), _mm_set1_epi32((1 << N) - 1));
}
// The same for float lanes (chroma, which saturation can make fractional), as Reduce<N>.
template <int N>
inline __m128i ReduceFloat(__m128 v) {
    __m128 x = _mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(1.0f / float(1 << (8 - N)))), _mm_set1_ps(0.5f));
    return _mm_min_epi16(_mm_cvttps_epi32(x), _mm_set1_epi32((1 << N) - 1));
}
inline __m128i Rot0Simd(__m128i w) {
    return _mm_or_si128(_mm_srli_epi32(w, 2), _mm_slli_epi32(_mm_and_si128(w, _mm_set1_epi32(3)), 14));
}
#endif

// Pixels straight to device bytes for the reduced formats 0, 1 and 4.
void ConvertRowReduced(int format, const uint32_t* px, size_t pairs, const Coeffs& k, float s, PairRow& tail,
                       uint8_t* out) {
    size_t i = 0;
    size_t bpp = size_t(DeviceBytesPerPair(format));
#ifdef __SSE2__
    const ToDevConsts c(k, s);
    for (; i + 4 <= pairs; i += 4) {
        PairVec v = PairsSimd(px + 2 * i, c);
        if (format == 4) {
            __m128i a0 = ReduceInt<5>(v.a0), a1 = ReduceInt<5>(v.a1), one = _mm_set1_epi32(1);
            __m128i b0 = _mm_or_si128(_mm_slli_epi32(_mm_and_si128(a0, one), 7), ReduceFloat<7>(v.cb));
            __m128i b2 = _mm_or_si128(_mm_slli_epi32(_mm_and_si128(a1, one), 7), ReduceFloat<7>(v.cr));
            __m128i w = _mm_or_si128(_mm_or_si128(b0, _mm_slli_epi32(v.y0, 8)),
                                     _mm_or_si128(_mm_slli_epi32(b2, 16), _mm_slli_epi32(v.y1, 24)));
            __m128i b4 = _mm_or_si128(_mm_slli_epi32(_mm_srli_epi32(a1, 1), 4), _mm_srli_epi32(a0, 1));
            alignas(16) uint32_t wv[4], b4v[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(wv), w);
            _mm_store_si128(reinterpret_cast<__m128i*>(b4v), b4);
            uint8_t* o = out + 5 * i;
            for (int j = 0; j < 4; ++j, o += 5) {
                std::memcpy(o, &wv[j], 4);  // little-endian: bytes 0..3 of the pair
                o[4] = uint8_t(b4v[j]);
            }
        } else {
            __m128i w0, w1;
            if (format == 0) {
                w0 = Rot0Simd(_mm_or_si128(_mm_or_si128(_mm_slli_epi32(ReduceInt<6>(v.y0), 10),
                                                        _mm_slli_epi32(ReduceInt<4>(v.a0), 6)), ReduceFloat<6>(v.cb)));
                w1 = Rot0Simd(_mm_or_si128(_mm_or_si128(_mm_slli_epi32(ReduceInt<6>(v.y1), 10),
                                                        _mm_slli_epi32(ReduceInt<4>(v.a1), 6)), ReduceFloat<6>(v.cr)));
            } else {
                w0 = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(ReduceInt<7>(v.y0), 9), _mm_slli_epi32(ReduceInt<3>(v.a0), 6)),
                                  ReduceFloat<6>(v.cb));
                w1 = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(ReduceInt<7>(v.y1), 9), _mm_slli_epi32(ReduceInt<3>(v.a1), 6)),
                                  ReduceFloat<6>(v.cr));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_or_si128(w0, _mm_slli_epi32(w1, 16)));
        }
    }
#endif
    size_t rest = pairs - i;
    for (size_t j = 0; j < rest; ++j) PairScalar(px[2 * (i + j)], px[2 * (i + j) + 1], k, s, tail, j);
    PackRow(format, tail, rest, out + i * bpp);
}

// Device pairs already expanded to 8 bits.
struct DevRow {
    std::vector<int32_t> y0, y1, a0, a1, cb, cr;
    explicit DevRow(size_t n) : y0(n), y1(n), a0(n), a1(n), cb(n), cr(n) {}
};

// Expansion of an n-bit value to 8 bits.
template <int N>
inline int32_t Expand(uint32_t v) {
    if (v < 1) return 0;
    if (v >= (1u << N) - 1) return 255;
    return int32_t(v << (8 - N));
}

void UnpackRow(int format, const uint8_t* in, size_t pairs, DevRow& r) {
    auto get16 = [](const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; };
    switch (format) {
    case 0:
    case 1:
        for (size_t i = 0; i < pairs; ++i, in += 4) {
            uint32_t w0 = get16(in), w1 = get16(in + 2);
            if (format == 0) {
                w0 = ((w0 << 2) | (w0 >> 14)) & 0xFFFF;
                w1 = ((w1 << 2) | (w1 >> 14)) & 0xFFFF;
                r.y0[i] = Expand<6>(w0 >> 10);
                r.a0[i] = Expand<4>((w0 >> 6) & 15);
                r.y1[i] = Expand<6>(w1 >> 10);
                r.a1[i] = Expand<4>((w1 >> 6) & 15);
            } else {
                r.y0[i] = Expand<7>(w0 >> 9);
                r.a0[i] = Expand<3>((w0 >> 6) & 7);
                r.y1[i] = Expand<7>(w1 >> 9);
                r.a1[i] = Expand<3>((w1 >> 6) & 7);
            }
            r.cb[i] = Expand<6>(w0 & 63);
            r.cr[i] = Expand<6>(w1 & 63);
        }
        break;
    case 3:
        for (size_t i = 0; i < pairs; ++i, in += 8) {
            r.a0[i] = in[0];
            r.cb[i] = in[1];
            r.y0[i] = in[2];
            r.a1[i] = in[4];
            r.cr[i] = in[5];
            r.y1[i] = in[6];
        }
        break;
    case 4:
        for (size_t i = 0; i < pairs; ++i, in += 5) {
            uint32_t a0 = uint32_t(in[4] & 15) << 1 | in[0] >> 7, a1 = uint32_t(in[4] >> 4) << 1 | in[2] >> 7;
            r.cb[i] = Expand<7>(in[0] & 127u);
            r.y0[i] = in[1];
            r.cr[i] = Expand<7>(in[2] & 127u);
            r.y1[i] = in[3];
            r.a0[i] = Expand<5>(a0);
            r.a1[i] = Expand<5>(a1);
        }
        break;
    default:
        for (size_t i = 0; i < pairs; ++i, in += 4) {
            r.cb[i] = in[0];
            r.y0[i] = in[1];
            r.cr[i] = in[2];
            r.y1[i] = in[3];
            r.a0[i] = r.a1[i] = 255;
        }
        break;
    }
}

inline uint32_t Channel(float v) {
    float c = std::min(std::max(v + 0.5f, 0.0f), 255.0f);
    return uint32_t(int(c));  // non-negative: truncation is floor
}

inline void PixelScalar(int32_t y, int32_t cbv, int32_t crv, int32_t a, const Coeffs& k, uint32_t* out) {
    float yp = float(y - 16) * 1.164f, cb = float(cbv - 128), cr = float(crv - 128);
    uint32_t R = Channel(yp + k.rcr * cr);
    uint32_t G = Channel(yp - k.gcr * cr - k.gcb * cb);
    uint32_t B = Channel(yp + k.bcb * cb);
    *out = uint32_t(255 - a) << 24 | R << 16 | G << 8 | B;
}

#ifdef __SSE2__
struct FromDevConsts {
    __m128 c1164, rcr, gcr, gcb, bcb, half, zero, f255;
    __m128i i16, i128, i255, m255;
    explicit FromDevConsts(const Coeffs& k)
        : c1164(_mm_set1_ps(1.164f)), rcr(_mm_set1_ps(k.rcr)), gcr(_mm_set1_ps(k.gcr)), gcb(_mm_set1_ps(k.gcb)),
          bcb(_mm_set1_ps(k.bcb)), half(_mm_set1_ps(0.5f)), zero(_mm_setzero_ps()), f255(_mm_set1_ps(255.0f)),
          i16(_mm_set1_epi32(16)), i128(_mm_set1_epi32(128)), i255(_mm_set1_epi32(255)), m255(_mm_set1_epi32(255)) {}
};

// floor(v + 0.5) clamped to 0..255; clamping first is the same, and leaves truncation = floor.
inline __m128i Chan(__m128 v, const FromDevConsts& c) {
    return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_add_ps(v, c.half), c.zero), c.f255));
}

// Four pairs (8-bit values in 32-bit lanes) to eight pixels; the same operations as PixelScalar.
inline void PixelsSimd(__m128i y0, __m128i y1, __m128i cbi, __m128i cri, __m128i a0, __m128i a1,
                       const FromDevConsts& c, uint32_t* px) {
    __m128 yp0 = _mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(y0, c.i16)), c.c1164);
    __m128 yp1 = _mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(y1, c.i16)), c.c1164);
    __m128 cb = _mm_cvtepi32_ps(_mm_sub_epi32(cbi, c.i128));
    __m128 cr = _mm_cvtepi32_ps(_mm_sub_epi32(cri, c.i128));
    __m128 tr = _mm_mul_ps(c.rcr, cr), tgr = _mm_mul_ps(c.gcr, cr), tgb = _mm_mul_ps(c.gcb, cb), tb = _mm_mul_ps(c.bcb, cb);
    __m128i R0 = Chan(_mm_add_ps(yp0, tr), c), R1 = Chan(_mm_add_ps(yp1, tr), c);
    __m128i G0 = Chan(_mm_sub_ps(_mm_sub_ps(yp0, tgr), tgb), c), G1 = Chan(_mm_sub_ps(_mm_sub_ps(yp1, tgr), tgb), c);
    __m128i B0 = Chan(_mm_add_ps(yp0, tb), c), B1 = Chan(_mm_add_ps(yp1, tb), c);
    __m128i T0 = _mm_sub_epi32(c.i255, a0), T1 = _mm_sub_epi32(c.i255, a1);
    __m128i P0 = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(T0, 24), _mm_slli_epi32(R0, 16)), _mm_or_si128(_mm_slli_epi32(G0, 8), B0));
    __m128i P1 = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(T1, 24), _mm_slli_epi32(R1, 16)), _mm_or_si128(_mm_slli_epi32(G1, 8), B1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(px), _mm_unpacklo_epi32(P0, P1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(px + 4), _mm_unpackhi_epi32(P0, P1));
}
#endif

void PairsToRow(const DevRow& r, size_t pairs, const Coeffs& k, uint32_t* px) {
    size_t i = 0;
#ifdef __SSE2__
    const FromDevConsts c(k);
    auto load = [](const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    for (; i + 4 <= pairs; i += 4)
        PixelsSimd(load(&r.y0[i]), load(&r.y1[i]), load(&r.cb[i]), load(&r.cr[i]), load(&r.a0[i]), load(&r.a1[i]), c,
                   px + 2 * i);
#endif
    for (; i < pairs; ++i) {
        PixelScalar(r.y0[i], r.cb[i], r.cr[i], r.a0[i], k, px + 2 * i);
        PixelScalar(r.y1[i], r.cb[i], r.cr[i], r.a1[i], k, px + 2 * i + 1);
    }
}

#ifdef __SSE2__
// Expansion of N-bit lanes to 8 bits: v << (8 - N), the top code 255 (0 stays 0).
template <int N>
inline __m128i ExpandSimd(__m128i v) {
    __m128i top = _mm_and_si128(_mm_cmpeq_epi32(v, _mm_set1_epi32((1 << N) - 1)), _mm_set1_epi32(255));
    return _mm_or_si128(_mm_slli_epi32(v, 8 - N), top);
}
#endif

// Device bytes to pixels for the 16-bit-word formats 0 and 1.
void DeviceRow16(int format, const uint8_t* in, size_t pairs, const Coeffs& k, DevRow& tail, uint32_t* px) {
    size_t i = 0;
#ifdef __SSE2__
    const FromDevConsts c(k);
    const __m128i lo16 = _mm_set1_epi32(0xFFFF), m63 = _mm_set1_epi32(63);
    for (; i + 4 <= pairs; i += 4) {
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
        __m128i w0 = _mm_and_si128(d, lo16), w1 = _mm_srli_epi32(d, 16);
        if (format == 0) {
            w0 = _mm_and_si128(_mm_or_si128(_mm_slli_epi32(w0, 2), _mm_srli_epi32(w0, 14)), lo16);
            w1 = _mm_and_si128(_mm_or_si128(_mm_slli_epi32(w1, 2), _mm_srli_epi32(w1, 14)), lo16);
            __m128i m15 = _mm_set1_epi32(15);
            PixelsSimd(ExpandSimd<6>(_mm_srli_epi32(w0, 10)), ExpandSimd<6>(_mm_srli_epi32(w1, 10)),
                       ExpandSimd<6>(_mm_and_si128(w0, m63)), ExpandSimd<6>(_mm_and_si128(w1, m63)),
                       ExpandSimd<4>(_mm_and_si128(_mm_srli_epi32(w0, 6), m15)),
                       ExpandSimd<4>(_mm_and_si128(_mm_srli_epi32(w1, 6), m15)), c, px + 2 * i);
        } else {
            __m128i m7 = _mm_set1_epi32(7);
            PixelsSimd(ExpandSimd<7>(_mm_srli_epi32(w0, 9)), ExpandSimd<7>(_mm_srli_epi32(w1, 9)),
                       ExpandSimd<6>(_mm_and_si128(w0, m63)), ExpandSimd<6>(_mm_and_si128(w1, m63)),
                       ExpandSimd<3>(_mm_and_si128(_mm_srli_epi32(w0, 6), m7)),
                       ExpandSimd<3>(_mm_and_si128(_mm_srli_epi32(w1, 6), m7)), c, px + 2 * i);
        }
    }
#endif
    size_t rest = pairs - i;
    UnpackRow(format, in + i * 4, rest, tail);
    PairsToRow(tail, rest, k, px + 2 * i);
}

// Device bytes to pixels for format 4 (five bytes per pair).
void DeviceRow40(const uint8_t* in, size_t pairs, const Coeffs& k, DevRow& tail, uint32_t* px) {
    size_t i = 0;
#ifdef __SSE2__
    const FromDevConsts c(k);
    const __m128i m127 = _mm_set1_epi32(127), one = _mm_set1_epi32(1), m15 = _mm_set1_epi32(15);
    for (; i + 4 <= pairs; i += 4) {
        alignas(16) uint32_t wv[4], b4v[4];
        for (int j = 0; j < 4; ++j) {
            std::memcpy(&wv[j], in + 5 * (i + size_t(j)), 4);
            b4v[j] = in[5 * (i + size_t(j)) + 4];
        }
        __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(wv));
        __m128i b4 = _mm_load_si128(reinterpret_cast<const __m128i*>(b4v));
        __m128i a0 = _mm_or_si128(_mm_slli_epi32(_mm_and_si128(b4, m15), 1), _mm_and_si128(_mm_srli_epi32(w, 7), one));
        __m128i a1 = _mm_or_si128(_mm_slli_epi32(_mm_srli_epi32(b4, 4), 1), _mm_and_si128(_mm_srli_epi32(w, 23), one));
        PixelsSimd(_mm_and_si128(_mm_srli_epi32(w, 8), c.m255), _mm_srli_epi32(w, 24),
                   ExpandSimd<7>(_mm_and_si128(w, m127)), ExpandSimd<7>(_mm_and_si128(_mm_srli_epi32(w, 16), m127)),
                   ExpandSimd<5>(a0), ExpandSimd<5>(a1), c, px + 2 * i);
    }
#endif
    size_t rest = pairs - i;
    UnpackRow(4, in + i * 5, rest, tail);
    PairsToRow(tail, rest, k, px + 2 * i);
}

// Device bytes straight to pixels for the 8-bit formats 2 (and unlisted codes) and 3.
void DeviceRow8(int format, const uint8_t* in, size_t pairs, const Coeffs& k, DevRow& tail, uint32_t* px) {
    size_t i = 0;
#ifdef __SSE2__
    const FromDevConsts c(k);
    for (; i + 4 <= pairs; i += 4) {
        if (format == 3) {
            __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * i)));
            __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * i + 16)));
            __m128i w0 = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
            __m128i w1 = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
            PixelsSimd(_mm_and_si128(_mm_srli_epi32(w0, 16), c.m255), _mm_and_si128(_mm_srli_epi32(w1, 16), c.m255),
                       _mm_and_si128(_mm_srli_epi32(w0, 8), c.m255), _mm_and_si128(_mm_srli_epi32(w1, 8), c.m255),
                       _mm_and_si128(w0, c.m255), _mm_and_si128(w1, c.m255), c, px + 2 * i);
        } else {
            __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
            PixelsSimd(_mm_and_si128(_mm_srli_epi32(w, 8), c.m255), _mm_srli_epi32(w, 24), _mm_and_si128(w, c.m255),
                       _mm_and_si128(_mm_srli_epi32(w, 16), c.m255), c.i255, c.i255, c, px + 2 * i);
        }
    }
#endif
    size_t rest = pairs - i;
    UnpackRow(format, in + i * size_t(DeviceBytesPerPair(format)), rest, tail);
    PairsToRow(tail, rest, k, px + 2 * i);
}

bool CheckBuffer(int format, int width, int height, size_t bufSize, int& lineLength) {
    if (lineLength == 0) lineLength = width;
    if (lineLength < width || lineLength < 0 || height < 0) return false;
    return DeviceBufferSize(format, lineLength, height) <= bufSize;
}

int ClampSaturation(int s) { return (s < 10 || s > 100) ? 100 : s; }

float FactorFor(int s, int m) {
    if (m > 0 && s * 112 < m * 100) return float(s * 112) / float(m * 100);
    return 1.0f;
}
}  // namespace

int DeviceBytesPerPair(int format) {
    switch (format) {
    case 3: return 8;
    case 4: return 5;
    case 5: return 1;
    default: return 4;
    }
}

size_t DeviceBufferSize(int format, int lineLength, int height) {
    if (lineLength < 0 || height < 0) return 0;
    return size_t(lineLength / 2) * size_t(height) * size_t(DeviceBytesPerPair(format));
}

void SetCompressedPictureCodec(ICompressedPictureCodec* codec) { g_codec.store(codec); }
ICompressedPictureCodec* CompressedPictureCodec() { return g_codec.load(); }

float SaturationFactor(const CPicture& pic, bool hdtv, int saturation) {
    int s = ClampSaturation(saturation);
    if (s == 100 || pic.Empty()) return 1.0f;
    const Coeffs& k = hdtv ? k709 : k601;
    size_t pairs = size_t(pic.Width() / 2);
    PairRow tail(4);
    int m = 0;
#ifdef __SSE2__
    const ToDevConsts c(k, 1.0f);
    __m128 vm = _mm_setzero_ps();
#endif
    for (int y = 0; y < pic.Height(); ++y) {
        const uint32_t* px = pic.Row(y);
        size_t i = 0;
#ifdef __SSE2__
        // With factor 1 the chroma values are whole numbers, so the float maximum is exact.
        for (; i + 4 <= pairs; i += 4) {
            PairVec v = PairsSimd(px + 2 * i, c);
            __m128 db = _mm_sub_ps(v.cb, c.c128), dr = _mm_sub_ps(v.cr, c.c128);
            vm = _mm_max_ps(vm, _mm_max_ps(_mm_max_ps(db, _mm_sub_ps(_mm_setzero_ps(), db)),
                                           _mm_max_ps(dr, _mm_sub_ps(_mm_setzero_ps(), dr))));
        }
#endif
        for (; i < pairs; ++i) {
            PairScalar(px[2 * i], px[2 * i + 1], k, 1.0f, tail, 0);
            m = std::max(m, std::abs(int(tail.cb[0]) - 128));
            m = std::max(m, std::abs(int(tail.cr[0]) - 128));
        }
    }
#ifdef __SSE2__
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, vm);
    for (float f : lanes) m = std::max(m, int(f));
#endif
    return FactorFor(s, m);
}

bool PictureToDevice(const CPicture& pic, bool hdtv, int format, int saturation, uint8_t* buf, size_t bufSize,
                     int lineLength) {
    if (IsCompressedPictureFormat(format)) {
        ICompressedPictureCodec* c = CompressedPictureCodec();
        return c && c->Handles(format) && c->PictureToDevice(pic, hdtv, format, saturation, buf, bufSize, lineLength);
    }
    if (!CheckBuffer(format, pic.Width(), pic.Height(), bufSize, lineLength)) return false;
    const Coeffs& k = hdtv ? k709 : k601;
    float s = SaturationFactor(pic, hdtv, saturation);
    size_t pairs = size_t(pic.Width() / 2);
    size_t stride = size_t(lineLength / 2) * size_t(DeviceBytesPerPair(format));
    bool reduced = format == 0 || format == 1 || format == 4;
    PairRow tail(4);
    for (int y = 0; y < pic.Height(); ++y) {
        if (reduced) ConvertRowReduced(format, pic.Row(y), pairs, k, s, tail, buf + size_t(y) * stride);
        else ConvertRow8(format, pic.Row(y), pairs, k, s, tail, buf + size_t(y) * stride);
    }
    return true;
}

bool DeviceToPicture(CPicture& pic, int lineLength, const uint8_t* buf, size_t bufSize, bool hdtv, int format) {
    if (IsCompressedPictureFormat(format)) {
        ICompressedPictureCodec* c = CompressedPictureCodec();
        return c && c->Handles(format) && c->DeviceToPicture(pic, lineLength, buf, bufSize, hdtv, format);
    }
    if (!CheckBuffer(format, pic.Width(), pic.Height(), bufSize, lineLength)) return false;
    const Coeffs& k = hdtv ? k709 : k601;
    size_t pairs = size_t(pic.Width() / 2);
    size_t stride = size_t(lineLength / 2) * size_t(DeviceBytesPerPair(format));
    bool words = format == 0 || format == 1;
    DevRow row(4);
    for (int y = 0; y < pic.Height(); ++y) {
        const uint8_t* in = buf + size_t(y) * stride;
        if (words) {
            DeviceRow16(format, in, pairs, k, row, pic.Row(y));
        } else if (format == 4) {
            DeviceRow40(in, pairs, k, row, pic.Row(y));
        } else {
            DeviceRow8(format, in, pairs, k, row, pic.Row(y));
        }
    }
    return true;
}

void RowsToPlanes709(const uint32_t* px, int width, int rows, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    const size_t pairs = size_t(width / 2);
    PairRow tail(4);
    for (int line = 0; line < rows; ++line, px += width, y += width) {
        const bool chroma = !(line & 1);
        size_t i = avx2 ? size_t(RowToPlanes709Avx2(px, width, chroma, y, cb, cr)) / 2 : 0;
#ifdef __SSE2__
        const ToDevConsts c(k709, 1.0f);
        for (; i + 4 <= pairs; i += 4) {
            PairVec v = PairsSimd(px + 2 * i, c);
            __m128i lo = _mm_unpacklo_epi32(v.y0, v.y1), hi = _mm_unpackhi_epi32(v.y0, v.y1);
            __m128i w = _mm_packs_epi32(lo, hi);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(y + 2 * i), _mm_packus_epi16(w, w));
            if (!chroma) continue;
            __m128i cw = _mm_packs_epi32(_mm_cvttps_epi32(v.cb), _mm_cvttps_epi32(v.cr));
            alignas(16) uint8_t b[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(b), _mm_packus_epi16(cw, cw));
            std::memcpy(cb + i, b, 4);
            std::memcpy(cr + i, b + 4, 4);
        }
#endif
        for (; i < pairs; ++i) {
            PairScalar(px[2 * i], px[2 * i + 1], k709, 1.0f, tail, 0);
            y[2 * i] = uint8_t(tail.y0[0]);
            y[2 * i + 1] = uint8_t(tail.y1[0]);
            if (!chroma) continue;
            cb[i] = uint8_t(int(tail.cb[0]));
            cr[i] = uint8_t(int(tail.cr[0]));
        }
        if (!chroma) {
            cb += pairs;
            cr += pairs;
        }
    }
}

void PlanesToRows709(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int rows, uint32_t* px) {
    const size_t pairs = size_t(width / 2);
    for (int line = 0; line < rows; ++line, px += width, y += width) {
        const uint8_t* cbl = cb + size_t(line / 2) * pairs;
        const uint8_t* crl = cr + size_t(line / 2) * pairs;
        size_t i = 0;
#ifdef __SSE2__
        const FromDevConsts c(k709);
        const __m128i zero = _mm_setzero_si128();
        auto widen4 = [&](const uint8_t* p) {
            int32_t v;
            std::memcpy(&v, p, 4);
            return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero), zero);
        };
        for (; i + 4 <= pairs; i += 4) {
            __m128i ys = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + 2 * i)), zero);
            // As 32-bit lanes each pair is y0 | y1 << 16.
            __m128i y0 = _mm_and_si128(ys, _mm_set1_epi32(0xFFFF)), y1 = _mm_srli_epi32(ys, 16);
            PixelsSimd(y0, y1,
                       widen4(cbl + i), widen4(crl + i), c.i255, c.i255, c, px + 2 * i);
        }
#endif
        for (; i < pairs; ++i) {
            PixelScalar(y[2 * i], cbl[i], crl[i], 255, k709, px + 2 * i);
            PixelScalar(y[2 * i + 1], cbl[i], crl[i], 255, k709, px + 2 * i + 1);
        }
    }
}

uint32_t ColourToDevice(uint32_t colour, int saturation) {
    uint32_t p = (colour & 0xFF) << 16 | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
    PairRow r(1);
    PairScalar(p, p, k709, 1.0f, r, 0);
    int s = ClampSaturation(saturation);
    if (s != 100) {
        int m = std::max(std::abs(int(r.cb[0]) - 128), std::abs(int(r.cr[0]) - 128));
        float f = FactorFor(s, m);
        if (f != 1.0f) PairScalar(p, p, k709, f, r, 0);
    }
    return uint32_t(int(r.cr[0])) << 16 | uint32_t(int(r.cb[0])) << 8 | uint32_t(r.y0[0]);
}
