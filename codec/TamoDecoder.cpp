#include "codec/TamoDecoder.h"

#include "codec/TamoDecodeRow.h"
#include "codec/TamoTables.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace tamo;

namespace {

#if defined(__SSE2__)
struct BlockSse {
    __m128 r[16];
    void Init() {
        for (auto& v : r) v = _mm_set1_ps(128.0f);
    }
    void Add(float c, const float* b) {
        const __m128 cv = _mm_set1_ps(c);
        for (int i = 0; i < 16; ++i) r[i] = _mm_add_ps(r[i], _mm_mul_ps(cv, _mm_load_ps(b + 4 * i)));
    }
    void Store(uint8_t* dst, int stride) {
        for (int y = 0; y < 8; ++y) {
            __m128i s = _mm_packs_epi32(_mm_cvtps_epi32(r[2 * y]), _mm_cvtps_epi32(r[2 * y + 1]));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), _mm_packus_epi16(s, s));
        }
    }
};
using PortableBlock = BlockSse;
#else
struct BlockScalar {
    float r[64];
    void Init() {
        for (auto& v : r) v = 128.0f;
    }
    void Add(float c, const float* b) {
        for (int i = 0; i < 64; ++i) r[i] = r[i] + c * b[i];
    }
    void Store(uint8_t* dst, int stride) {
        for (int i = 0; i < 64; ++i) {
            long v = std::lrint(r[i]);
            dst[(i / 8) * stride + i % 8] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
};
using PortableBlock = BlockScalar;
#endif

}  // namespace

namespace tamo {
bool DecodeRowPortable(RowContext& rc) { return DecodeRowT<PortableBlock>(rc); }
}  // namespace tamo

int TamoDecoder::StreamType(const uint8_t* stream, int size) {
    if (!stream || size < 32 || std::memcmp(stream, "Tamo", 4) != 0) return 0;
    return GeometryOf(stream[4]) ? stream[4] : 0;
}

bool TamoDecoder::Decode(const uint8_t* stream, int size, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    const int type = StreamType(stream, size);
    if (!type) return false;
    const Geometry& g = *GeometryOf(type);
    auto decodeRow = (m_impl == TransformImpl::Avx2 && Avx2Available()) ? DecodeRowAvx2 : DecodeRowPortable;
    const int cw = g.width / 2;
    int pos = 32;
    for (int r = 0; r < g.rows; ++r) {
        const int remaining = size - pos;
        // The row header itself must be there; the row data may run short (zero bits).
        if (remaining < 4 || stream[pos] != uint8_t(r)) return false;
        const int n = (stream[pos + 2] << 8) | stream[pos + 3];
        uint8_t* ly = y + size_t(r) * 16 * g.width;
        uint8_t* lcb = cb + size_t(r) * 8 * cw;
        uint8_t* lcr = cr + size_t(r) * 8 * cw;
        if (n <= 1) {
            std::memset(ly, 0, size_t(16) * g.width);
            std::memset(lcb, 128, size_t(8) * cw);
            std::memset(lcr, 128, size_t(8) * cw);
        } else {
            m_reader.StartRead(stream + pos + 4, remaining - 4);
            RowContext rc{&m_reader, g.columns, ly, lcb, lcr, g.width, cw, {0, 0, 0}};
            if (!decodeRow(rc)) return false;
        }
        pos += 4 * n;
    }
    return true;
}

void TamoDecoder::ToRgb(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int height,
                        uint8_t* rgb) {
    auto clamp = [](float f) {
        float r = std::nearbyint(f);
        return uint8_t(r < 0.0f ? 0 : r > 255.0f ? 255 : int(r));
    };
    const int cw = width / 2;
    for (int line = 0; line < height; ++line) {
        const uint8_t* ly = y + size_t(line) * width;
        const uint8_t* lcb = cb + size_t(line / 2) * cw;
        const uint8_t* lcr = cr + size_t(line / 2) * cw;
        uint8_t* out = rgb + size_t(line) * width * 3;
        for (int x = 0; x < width; ++x) {
            const float u = float(lcb[x / 2]) - 128.0f;
            const float v = float(lcr[x / 2]) - 128.0f;
            const float l = 1.164f * (float(ly[x]) - 16.0f);
            out[0] = clamp(l + 1.793f * v);
            out[1] = clamp(l - 0.213f * u - 0.534f * v);
            out[2] = clamp(l + 2.115f * u);
            out += 3;
        }
    }
}
