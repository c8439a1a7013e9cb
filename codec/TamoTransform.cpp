#include "codec/TamoTransform.h"

#include "codec/TamoCodeBlock.h"
#include "codec/TamoTables.h"

#include <cmath>
#include <cstdlib>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tamo {

namespace {

struct Matrices {
    alignas(32) float m[64];
    alignas(32) float basis[64 * 64];
};

Matrices* BuildMatrices() {
    auto* t = new Matrices();
    const double pi = std::acos(-1.0);
    auto c = [](int k) { return k == 0 ? std::sqrt(1.0 / 8.0) : 0.5; };
    for (int k = 0; k < 8; ++k)
        for (int n = 0; n < 8; ++n) t->m[k * 8 + n] = float(c(k) * std::cos((2 * n + 1) * k * pi / 16));
    for (int p = 0; p < 64; ++p) {
        int nat = kScanToNatural[p];
        int u = nat % 8, v = nat / 8;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                t->basis[p * 64 + y * 8 + x] = float(c(u) * c(v) * std::cos((2 * x + 1) * u * pi / 16) *
                                                     std::cos((2 * y + 1) * v * pi / 16));
    }
    return t;
}

const Matrices& Mats() {
    static const Matrices* m = BuildMatrices();
    return *m;
}

int RoundEven(float f) { return int(std::nearbyint(f)); }

#if defined(__SSE2__)
// Row pass then column pass, four lanes at a time.
void TransformBlockSse(const uint8_t* src, int stride, Coef* out, const float* m, const float* mt) {
    alignas(16) float d[64];
    const __m128i zero = _mm_setzero_si128();
    const __m128 bias = _mm_set1_ps(128.0f);
    for (int y = 0; y < 8; ++y) {
        __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * stride)), zero);
        _mm_store_ps(d + y * 8, _mm_sub_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(b, zero)), bias));
        _mm_store_ps(d + y * 8 + 4, _mm_sub_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(b, zero)), bias));
    }
    __m128 tlo[8], thi[8];
    for (int y = 0; y < 8; ++y) {
        __m128 s = _mm_set1_ps(d[y * 8]);
        __m128 lo = _mm_mul_ps(s, _mm_load_ps(mt));
        __m128 hi = _mm_mul_ps(s, _mm_load_ps(mt + 4));
        for (int x = 1; x < 8; ++x) {
            s = _mm_set1_ps(d[y * 8 + x]);
            lo = _mm_add_ps(lo, _mm_mul_ps(s, _mm_load_ps(mt + x * 8)));
            hi = _mm_add_ps(hi, _mm_mul_ps(s, _mm_load_ps(mt + x * 8 + 4)));
        }
        tlo[y] = lo;
        thi[y] = hi;
    }
    for (int v = 0; v < 8; ++v) {
        __m128 s = _mm_set1_ps(m[v * 8]);
        __m128 lo = _mm_mul_ps(s, tlo[0]);
        __m128 hi = _mm_mul_ps(s, thi[0]);
        for (int y = 1; y < 8; ++y) {
            s = _mm_set1_ps(m[v * 8 + y]);
            lo = _mm_add_ps(lo, _mm_mul_ps(s, tlo[y]));
            hi = _mm_add_ps(hi, _mm_mul_ps(s, thi[y]));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + v * 8), _mm_packs_epi32(_mm_cvtps_epi32(lo), _mm_cvtps_epi32(hi)));
    }
}
#endif

}  // namespace

bool Avx2Available() {
#if defined(__x86_64__) || defined(__i386__)
    // Also checks that the system saves the wide registers. The AVX2 file also uses the bit
    // manipulation instructions that came with it.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
#else
    return false;
#endif
}

TransformImpl BestTransform() {
    static const TransformImpl best = Avx2Available() ? TransformImpl::Avx2 : TransformImpl::Portable;
    return best;
}

const float* ForwardMatrix() { return Mats().m; }
const float* BasisImages() { return Mats().basis; }

void TransformBlockReference(const uint8_t* src, int stride, Coef* out) {
    const float* m = ForwardMatrix();
    float d[8][8], t[8][8];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) d[y][x] = float(src[y * stride + x]) - 128.0f;
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u) {
            float acc = d[y][0] * m[u * 8];
            for (int x = 1; x < 8; ++x) acc = acc + d[y][x] * m[u * 8 + x];
            t[y][u] = acc;
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            float acc = m[v * 8] * t[0][u];
            for (int y = 1; y < 8; ++y) acc = acc + m[v * 8 + y] * t[y][u];
            out[v * 8 + u] = Coef(RoundEven(acc));
        }
}

namespace {
template <typename BlockFn>
void ForEachBlock(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int rows,
                  int columns, Coef* store, BlockFn natural) {
    // The blocks come in natural order; the store holds them in scan order.
    auto fn = [&](const uint8_t* src, int stride, Coef* out) {
        Coef nat[64];
        natural(src, stride, nat);
        for (int p = 0; p < 64; ++p) out[p] = nat[kScanToNatural[p]];
    };
    const int cw = width / 2;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const uint8_t* ly = y + size_t(r) * 16 * width + c * 16;
            size_t co = size_t(r) * 8 * cw + c * 8;
            fn(ly, width, store);
            fn(ly + 8, width, store + 64);
            fn(cb + co, cw, store + 128);
            fn(cr + co, cw, store + 192);
            fn(ly + 8 * width, width, store + 256);
            fn(ly + 8 * width + 8, width, store + 320);
            store += 384;
        }
}
}  // namespace

void TransformPicturePortable(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width,
                              int rows, int columns, Coef* store) {
#if defined(__SSE2__)
    const float* m = ForwardMatrix();
    alignas(16) float mt[64];
    for (int x = 0; x < 8; ++x)
        for (int u = 0; u < 8; ++u) mt[x * 8 + u] = m[u * 8 + x];
    ForEachBlock(y, cb, cr, width, rows, columns, store,
                 [&](const uint8_t* s, int stride, Coef* o) { TransformBlockSse(s, stride, o, m, mt); });
#else
    ForEachBlock(y, cb, cr, width, rows, columns, store, TransformBlockReference);
#endif
}

void MakeQuantTable(int scale, const uint8_t* weights, QuantTable& q) {
    q.mul[0] = 0;  // DC is not quantised
    q.post[0] = 0;
    for (int p = 1; p < 64; ++p) {
        const int n = p;
        const uint32_t d = uint32_t(scale) * weights[p];
        const int k = 31 - __builtin_clz(d);
        if (d == (1u << k)) {
            q.mul[n] = uint16_t(1u << 15);
            q.post[n] = uint16_t(1u << (17 - k));
        } else {
            q.mul[n] = uint16_t(((uint64_t(1) << (16 + k)) + d - 1) / d);
            q.post[n] = uint16_t(1u << (16 - k));
        }
    }
}

uint64_t QuantizeBlockPortable(const Coef* x, const QuantTable& q, int16_t* levels) {
    uint64_t mask = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 16) {
        __m128i z[2];
        for (int h = 0; h < 2; ++h) {
            const int o = i + 8 * h;
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + o));
            const __m128i a = _mm_max_epi16(v, _mm_sub_epi16(zero, v));
            __m128i l = _mm_mulhi_epu16(_mm_slli_epi16(a, 5), _mm_load_si128(reinterpret_cast<const __m128i*>(q.mul + o)));
            l = _mm_mulhi_epu16(l, _mm_load_si128(reinterpret_cast<const __m128i*>(q.post + o)));
            const __m128i s = _mm_srai_epi16(v, 15);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + o), _mm_sub_epi16(_mm_xor_si128(l, s), s));
            z[h] = _mm_cmpeq_epi16(l, zero);
        }
        mask |= uint64_t(~_mm_movemask_epi8(_mm_packs_epi16(z[0], z[1])) & 0xFFFF) << i;
    }
#else
    for (int n = 0; n < 64; ++n) {
        const uint32_t a = uint32_t(std::abs(int(x[n])));
        const uint32_t l = ((((a << 5) * q.mul[n]) >> 16) * q.post[n]) >> 16;
        levels[n] = int16_t(x[n] < 0 ? -int(l) : int(l));
        mask |= uint64_t(l != 0) << n;
    }
#endif
    return mask;
}

namespace {
struct QuantPortable {
    static TAMO_INLINE uint64_t Quantize(const Coef* x, const QuantTable& q, int16_t* levels) {
        return QuantizeBlockPortable(x, q, levels);
    }
};
}  // namespace

void CodeMacroblocksPortable(CBitstream& bw, int pred[3], const Coef* x, int count, const QuantTable* q, int scale) {
    CodeMacroblocksT<QuantPortable>(bw, pred, x, count, q, scale);
}

int64_t CountMacroblocksPortable(int pred[3], const Coef* x, int count, const QuantTable* q) {
    return CountMacroblocksT<QuantPortable>(pred, x, count, q);
}

void TransformPicture(TransformImpl impl, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                      int width, int rows, int columns, Coef* store) {
    switch (impl) {
    case TransformImpl::Avx2:
        if (Avx2Available()) {
            TransformPictureAvx2(y, cb, cr, width, rows, columns, store);
            return;
        }
        [[fallthrough]];
    case TransformImpl::Portable:
        TransformPicturePortable(y, cb, cr, width, rows, columns, store);
        return;
    case TransformImpl::Reference:
        ForEachBlock(y, cb, cr, width, rows, columns, store, TransformBlockReference);
        return;
    }
}

}  // namespace tamo
