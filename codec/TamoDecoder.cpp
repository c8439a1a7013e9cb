#include "codec/TamoDecoder.h"

#include "codec/TamoDecodeRow.h"
#include "codec/TamoTables.h"

#include <cmath>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
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

    // A row outcome must not depend on timing: what ends up in the planes is what a one-thread
    // decode leaves, rows after a failing one untouched. Only the row every earlier row has
    // been committed before goes straight into the planes; a thread running ahead decodes into
    // a slot of its own, committed in row order once the rows before it are in.
    const size_t lumaBytes = size_t(16) * g.width, chromaBytes = size_t(8) * cw;
    auto rowY = [&](int r) { return y + size_t(r) * lumaBytes; };
    auto rowCb = [&](int r) { return cb + size_t(r) * chromaBytes; };
    auto rowCr = [&](int r) { return cr + size_t(r) * chromaBytes; };
    auto rowLength = [&](int r) { return (stream[start[size_t(r)] + 2] << 8) | stream[start[size_t(r)] + 3]; };
    auto decodeInto = [&](CBitstream& reader, int r, uint8_t* ly, uint8_t* lcb, uint8_t* lcr) {
        const int pos = start[size_t(r)];
        reader.StartRead(stream + pos + 4, size - pos - 4);
        RowContext rc{&reader, g.columns, ly, lcb, lcr, g.width, cw, {0, 0, 0}};
        return decodeRow(rc);
    };
    auto fillEmpty = [&](int r) {
        std::memset(rowY(r), 0, lumaBytes);
        std::memset(rowCb(r), 128, chromaBytes);
        std::memset(rowCr(r), 128, chromaBytes);
    };

    const int workers = std::max(1, std::min(m_threads, rows));
    if (workers == 1) {
        CBitstream reader;
        for (int r = 0; r < rows; ++r) {
            if (rowLength(r) <= 1)
                fillEmpty(r);
            else if (!decodeInto(reader, r, rowY(r), rowCb(r), rowCr(r)))
                return false;
        }
        return ok;
    }

    enum : uint8_t { Busy, InPlanes, InSlot, Empty, Failed };
    const int slots = 2 * workers;
    const size_t slotBytes = lumaBytes + 2 * chromaBytes;
    std::unique_ptr<uint8_t[]> slotMem(new uint8_t[size_t(slots) * slotBytes]);
    auto slot = [&](int r) { return slotMem.get() + size_t(r % slots) * slotBytes; };
    std::vector<uint8_t> state(size_t(rows), Busy);
    std::mutex m;
    std::condition_variable slotFreed;
    int next = 0;       // next row to hand out
    int committed = 0;  // rows in the planes, all decoded
    bool failed = false;

    // Under the lock: moves every finished row at the front into the planes, in order.
    CBitstream redo;
    auto commit = [&] {
        const int before = committed;
        while (!failed && committed < rows && state[size_t(committed)] != Busy) {
            const int r = committed;
            switch (state[size_t(r)]) {
            case InSlot:
                std::memcpy(rowY(r), slot(r), lumaBytes);
                std::memcpy(rowCb(r), slot(r) + lumaBytes, chromaBytes);
                std::memcpy(rowCr(r), slot(r) + lumaBytes + chromaBytes, chromaBytes);
                break;
            case Empty:
                fillEmpty(r);
                break;
            case InPlanes:
                break;
            case Failed:
                // Written again in place: the planes get exactly the blocks before the fault.
                failed = true;
                decodeInto(redo, r, rowY(r), rowCb(r), rowCr(r));
                continue;
            }
            ++committed;
        }
        if (committed != before || failed) slotFreed.notify_all();
    };

    auto work = [&] {
        CBitstream reader;
        std::unique_lock lk(m);
        for (;;) {
            const int r = next;
            if (failed || r >= rows) return;
            ++next;
            slotFreed.wait(lk, [&] { return failed || r < committed + slots; });
            if (failed) return;
            const bool direct = r == committed;
            lk.unlock();
            uint8_t result;
            if (rowLength(r) <= 1) {
                result = Empty;
            } else if (direct) {
                // Written in place: a failure here leaves what a one-thread decode leaves.
                result = decodeInto(reader, r, rowY(r), rowCb(r), rowCr(r)) ? InPlanes : Failed;
            } else {
                uint8_t* buf = slot(r);
                result = decodeInto(reader, r, buf, buf + lumaBytes, buf + lumaBytes + chromaBytes) ? InSlot : Failed;
            }
            lk.lock();
            if (direct && result == Failed) {
                failed = true;
                slotFreed.notify_all();
                return;
            }
            state[size_t(r)] = result;
            commit();
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    return ok && !failed;
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
