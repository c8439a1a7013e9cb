#include "codec/TamoEncoder.h"

#include "codec/TamoTables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace tamo;

namespace {
constexpr int kMaxUnits = 0xFFFF;      // the header holds 16 bits
constexpr int kMaxRowWords = 0xFFFF;   // so does a row's length
constexpr int kSampleStep = 1291;
}  // namespace

TamoEncoder::TamoEncoder(int budgetUnits, int type, int frameRate)
    : m_type(type), m_frameRate(frameRate) {
    const Geometry* g = GeometryOf(type);
    if (!g) return;
    m_width = g->width;
    m_height = g->height;
    m_rows = g->rows;
    m_columns = g->columns;
    // A larger budget could not be written into the header; the caller's buffer holds more.
    m_budgetUnits = std::clamp(budgetUnits, 0, kMaxUnits);
    m_budgetBytes = m_budgetUnits * 512;
    m_coefficients = new (std::nothrow) int32_t[size_t(m_rows) * m_columns * 6 * 64];
    SetScale(1);
}

TamoEncoder::~TamoEncoder() { delete[] m_coefficients; }

void TamoEncoder::SetScale(int scale) {
    m_scale = scale;
    if (scale > 64) return;
    for (int c = 0; c < 2; ++c) {
        const uint8_t* w = c == 0 ? kWeightLuma : kWeightChroma;
        for (int p = 0; p < 64; ++p) {
            uint32_t d = uint32_t(scale) * w[p];
            m_quant[c].threshold[p] = (d + 31) / 32;
            // Exact for every n < 2^32 / d; n = |X| * 32 stays below 2^16.
            m_quant[c].magic[p] = uint32_t((uint64_t(1) << 32) / d + 1);
        }
    }
}

void TamoEncoder::Transform(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, TransformImpl impl) {
    TransformPicture(impl, y, cb, cr, m_width, m_rows, m_columns, m_coefficients);
}

void TamoEncoder::CodeBlock(const int32_t* x, int component, const Quant& q) {
    const CodeTables& t = Tables();
    CBitstream& bw = *m_bits;

    int d = x[0] - m_pred[component];
    m_pred[component] = x[0];
    uint32_t ad = uint32_t(std::abs(d));
    int cat = ad ? 32 - __builtin_clz(ad) : 0;
    uint32_t extra = d > 0 ? uint32_t(d) : uint32_t(d + (1 << cat) - 1);
    bw.Put((t.dc[cat].bits << cat) | extra, t.dc[cat].len + cat);

    uint64_t mask = 0;
    for (int p = 1; p < 64; ++p) mask |= uint64_t(uint32_t(std::abs(x[p])) >= q.threshold[p]) << p;

    int last = 0;
    while (mask) {
        int p = __builtin_ctzll(mask);
        mask &= mask - 1;
        int run = p - last - 1;
        last = p;
        int v = x[p];
        uint32_t n = uint32_t(std::abs(v)) * 32;
        uint32_t a = uint32_t((uint64_t(n) * q.magic[p]) >> 32);
        a = std::min(a, 1024u);  // cannot happen with 8-bit samples; keeps the 4-bit field valid
        uint32_t level, ext = 0;
        int flags = 0;
        if (a <= 64) {
            level = a;
        } else if ((a & 63) == 0) {
            level = 64;
            ext = a / 64 - 1;
            flags = kAcExtFlag;
        } else {
            level = a & 63;
            ext = a / 64;
            flags = kAcExtFlag;
        }
        if (run) flags |= kAcRunFlag;
        const Code& sc = t.ac[flags * 64 + int(level) - 1];
        uint32_t bits = (sc.bits << 1) | uint32_t(v < 0);
        int len = sc.len + 1;
        if (flags & kAcExtFlag) {
            bits = (bits << 4) | ext;
            len += 4;
        }
        if (run) {
            const Code& rc = t.run[run];
            bits = (bits << rc.len) | rc.bits;
            len += rc.len;
        }
        bw.Put(bits, len);
    }
    bw.Put(t.ac[kAcEob].bits, t.ac[kAcEob].len);
}

void TamoEncoder::CodeMacroblock(int m) {
    const int32_t* x = m_coefficients + size_t(m) * 384;
    m_bits->Put(uint32_t(m_scale - 1), 6);
    CodeBlock(x, 0, m_quant[0]);
    CodeBlock(x + 64, 0, m_quant[0]);
    CodeBlock(x + 128, 1, m_quant[1]);
    CodeBlock(x + 192, 2, m_quant[1]);
    CodeBlock(x + 256, 0, m_quant[0]);
    CodeBlock(x + 320, 0, m_quant[0]);
}

int TamoEncoder::SearchScale(uint8_t* out) {
    const int64_t rowBudget = int64_t(m_budgetBytes) * 8 / m_rows;
    const int total = m_rows * m_columns;
    int q = 1, low = 1, high = 64;
    SetWriter(&m_writer);
    while (high != low) {
        SetScale(q);
        m_writer.StartWrite(out, m_budgetBytes);
        ResetPredictors();
        bool fits = true;
        int m = 0;
        for (int i = 0; i < m_columns; ++i) {
            CodeMacroblock(m);
            // An overflowed writer has dropped its count; it certainly did not fit.
            if (m_writer.Overflow() || m_writer.TotalBits() > rowBudget) {
                fits = false;
                break;
            }
            m = (m + kSampleStep) % total;
        }
        if (!fits) {
            low = q + 1;
            q = q + (high - q) / 2;
        } else {
            high = q;
            q = low + (q - low) / 2;
        }
    }
    return q;
}

int TamoEncoder::FinalCoding(uint32_t frameNumber, int scale, uint8_t* out) {
    SetWriter(&m_writer);
    for (int q = scale;; ++q) {
        SetScale(q);
        std::memset(out, 0, 32);
        std::memcpy(out, "Tamo", 4);
        out[4] = uint8_t(m_type);
        out[5] = uint8_t(m_frameRate);
        out[6] = uint8_t(m_budgetUnits >> 8);
        out[7] = uint8_t(m_budgetUnits);
        out[8] = uint8_t(frameNumber >> 24);
        out[9] = uint8_t(frameNumber >> 16);
        out[10] = uint8_t(frameNumber >> 8);
        out[11] = uint8_t(frameNumber);
        int used = 32;
        bool overflow = false;
        for (int r = 0; r < m_rows && !overflow; ++r) {
            int n = 0;
            if (q <= 64) {
                m_writer.StartWrite(out + used + 4, m_budgetBytes - used - 4);
                ResetPredictors();
                for (int c = 0; c < m_columns; ++c) CodeMacroblock(r * m_columns + c);
                m_writer.Flush();
                n = m_writer.BytesStored();
                // A row too long for its length field is handled like one that does not fit.
                if (m_writer.Overflow() || n / 4 + 1 > kMaxRowWords) {
                    overflow = true;
                    break;
                }
            }
            uint8_t* h = out + used;
            h[0] = uint8_t(r);
            h[1] = 0;
            h[2] = uint8_t((n / 4 + 1) >> 8);
            h[3] = uint8_t(n / 4 + 1);
            used += 4 + n;
        }
        if (!overflow) return used;
    }
}

int TamoEncoder::Encode(uint32_t frameNumber, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                        uint8_t* out) {
    if (!Usable()) return 0;
    Transform(y, cb, cr);
    int q = SearchScale(out);
    return FinalCoding(frameNumber, q, out);
}
