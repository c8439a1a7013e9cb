#include "codec/TamoDecoder.h"

#include "codec/TamoDecodeRow.h"
#include "codec/TamoTables.h"

#include <cmath>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

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

    // The row records first: where each row starts. Rows up to a bad record are still decoded.
    std::vector<int> start(size_t(g.rows));
    int rows = 0;
    bool ok = true;
    for (int pos = 32; rows < g.rows; ++rows) {
        // The row header itself must be there; the row data may run short (zero bits).
        if (size - pos < 4 || stream[pos] != uint8_t(rows)) {
            ok = false;
            break;
        }
        start[size_t(rows)] = pos;
        pos += 4 * ((stream[pos + 2] << 8) | stream[pos + 3]);
    }

    std::atomic<bool> rowsOk{true};
    auto decodeRows = [&](int r0, int r1) {
        CBitstream reader;
        for (int r = r0; r < r1 && rowsOk; ++r) {
            const int pos = start[size_t(r)];
            const int n = (stream[pos + 2] << 8) | stream[pos + 3];
            uint8_t* ly = y + size_t(r) * 16 * g.width;
            uint8_t* lcb = cb + size_t(r) * 8 * cw;
            uint8_t* lcr = cr + size_t(r) * 8 * cw;
            if (n <= 1) {
                std::memset(ly, 0, size_t(16) * g.width);
                std::memset(lcb, 128, size_t(8) * cw);
                std::memset(lcr, 128, size_t(8) * cw);
                continue;
            }
            reader.StartRead(stream + pos + 4, size - pos - 4);
            RowContext rc{&reader, g.columns, ly, lcb, lcr, g.width, cw, {0, 0, 0}};
            if (!decodeRow(rc)) rowsOk = false;
        }
    };
    const int n = std::max(1, std::min(m_threads, rows));
    std::vector<std::thread> threads;
    for (int i = 1; i < n; ++i) threads.emplace_back(decodeRows, rows * i / n, rows * (i + 1) / n);
    decodeRows(0, rows / n);
    for (auto& t : threads) t.join();
    return ok && rowsOk;
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
