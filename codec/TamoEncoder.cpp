#include "codec/TamoEncoder.h"

#include "codec/TamoTables.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

using namespace tamo;

namespace {
constexpr int kMaxUnits = 0xFFFF;      // the header holds 16 bits
constexpr int kMaxRowWords = 0xFFFF;   // so does a row's length
constexpr int kSampleStep = 1291;
// Above this ratio of the failed sample's size to the row budget the final coding counts first.
constexpr double kCountFirstRatio = 1.05;
}  // namespace

namespace {
// Encoders made one per picture would otherwise get their multi-megabyte stores fresh from the
// system every time and pay a page fault per 4 KB on first touch. A few freed buffers are kept.
class BufferPool {
public:
    uint8_t* Acquire(size_t bytes) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto it = m_free.begin(); it != m_free.end(); ++it)
                if (it->second == bytes) {
                    uint8_t* p = it->first.release();
                    m_free.erase(it);
                    return p;
                }
        }
        return new (std::nothrow) uint8_t[bytes];
    }
    void Release(uint8_t* p, size_t bytes) {
        if (!p) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.emplace_back(std::unique_ptr<uint8_t[]>(p), bytes);
        size_t total = 0;
        for (auto& f : m_free) total += f.second;
        while (m_free.size() > kKept || total > kMaxBytes) {
            total -= m_free.front().second;
            m_free.erase(m_free.begin());
        }
    }

private:
    static constexpr size_t kKept = 4;
    static constexpr size_t kMaxBytes = size_t(64) << 20;
    std::mutex m_mutex;
    std::vector<std::pair<std::unique_ptr<uint8_t[]>, size_t>> m_free;
};

BufferPool& Pool() {
    static BufferPool pool;
    return pool;
}
}  // namespace

TamoEncoder::TamoEncoder(int budgetUnits, int type, int frameRate, TransformImpl impl)
    : m_type(type), m_frameRate(frameRate), m_impl(impl) {
    const bool avx2 = impl == TransformImpl::Avx2 && Avx2Available();
    m_code = avx2 ? CodeMacroblocksAvx2 : CodeMacroblocksPortable;
    m_count = avx2 ? CountMacroblocksAvx2 : CountMacroblocksPortable;
    const Geometry* g = GeometryOf(type);
    if (!g) return;
    m_width = g->width;
    m_height = g->height;
    m_rows = g->rows;
    m_columns = g->columns;
    // A larger budget could not be written into the header; the caller's buffer holds more.
    m_budgetUnits = std::clamp(budgetUnits, 0, kMaxUnits);
    m_budgetBytes = m_budgetUnits * 512;
    m_coefficients = reinterpret_cast<Coef*>(Pool().Acquire(StoreBytes()));
    SetScale(1);
}

TamoEncoder::~TamoEncoder() {
    Pool().Release(reinterpret_cast<uint8_t*>(m_coefficients), StoreBytes());
    for (uint8_t* s : m_scratch) Pool().Release(s, size_t(m_budgetBytes));
}

size_t TamoEncoder::StoreBytes() const { return size_t(m_rows) * m_columns * 6 * 64 * sizeof(Coef); }

void TamoEncoder::SetScale(int scale) {
    m_scale = scale;
    if (scale > 64) return;
    MakeQuantTable(scale, kWeightLuma, m_quant[0]);
    MakeQuantTable(scale, kWeightChroma, m_quant[1]);
}

namespace {
// Helper threads kept for the next picture: starting a thread costs about as much as coding a
// few rows, and a picture starts three parallel steps. One job at a time; a caller that finds
// the pool busy (pictures encoded on several threads at once) starts threads of its own.
class HelperPool {
public:
    static HelperPool& Instance() {
        static HelperPool pool;
        return pool;
    }
    ~HelperPool() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        for (auto& t : m_threads) t.join();
    }
    // Runs job(1 ... n-1) on helpers and job(0) on the caller; false when the pool is busy.
    bool Run(int n, const std::function<void(int)>& job) {
        std::unique_lock<std::mutex> busy(m_busy, std::try_to_lock);
        if (!busy.owns_lock()) return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            while (int(m_threads.size()) < n - 1) {
                const int index = int(m_threads.size()) + 1;
                m_threads.emplace_back([this, index] { Loop(index); });
            }
            m_job = &job;
            m_helpers = n - 1;
            m_pending = n - 1;
            ++m_generation;
        }
        m_wake.notify_all();
        job(0);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [&] { return m_pending == 0; });
        m_job = nullptr;
        return true;
    }

private:
    void Loop(int index) {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_quit || m_generation != seen; });
            if (m_quit) return;
            seen = m_generation;
            if (index > m_helpers) continue;
            const std::function<void(int)>* job = m_job;
            lock.unlock();
            (*job)(index);
            lock.lock();
            if (--m_pending == 0) m_done.notify_one();
        }
    }

    std::mutex m_busy;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    std::vector<std::thread> m_threads;
    const std::function<void(int)>* m_job = nullptr;
    int m_helpers = 0;
    int m_pending = 0;
    uint64_t m_generation = 0;
    bool m_quit = false;
};

// Runs fn(0 ... n-1), fn(0) on the calling thread.
template <typename Fn>
void ParallelFor(int n, Fn fn) {
    if (n <= 1) {
        fn(0);
        return;
    }
    const std::function<void(int)> job = [&fn](int i) { fn(i); };
    if (HelperPool::Instance().Run(n, job)) return;
    std::vector<std::thread> threads;
    for (int i = 1; i < n; ++i) threads.emplace_back(fn, i);
    fn(0);
    for (auto& t : threads) t.join();
}

// Rows handed out one at a time to `n` threads, so a thread that got cheap rows takes more;
// fn(thread, row) returns false to stop every thread.
template <typename Fn>
void ParallelRows(int n, int rows, Fn fn) {
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    ParallelFor(n, [&](int i) {
        for (int r = next++; r < rows && !stop.load(std::memory_order_relaxed); r = next++)
            if (!fn(i, r)) stop = true;
    });
}
}  // namespace

void TamoEncoder::Transform(const uint8_t* y, const uint8_t* cb, const uint8_t* cr) {
    const int n = std::min(m_threads, m_rows);
    const size_t cw = size_t(m_width) / 2;
    if (n == 1) {
        TransformPicture(m_impl, y, cb, cr, m_width, m_rows, m_columns, m_coefficients);
        return;
    }
    ParallelRows(n, m_rows, [&](int, int r) {
        TransformPicture(m_impl, y + size_t(r) * 16 * m_width, cb + size_t(r) * 8 * cw, cr + size_t(r) * 8 * cw,
                         m_width, 1, m_columns, m_coefficients + size_t(r) * m_columns * 384);
        return true;
    });
}

void TamoEncoder::CodeMacroblock(int m) { CodeMacroblocksInto(*m_bits, m_pred, m, 1); }

int TamoEncoder::SearchScale(uint8_t* out) {
    const int64_t rowBudget = int64_t(m_budgetBytes) * 8 / m_rows;
    const int total = m_rows * m_columns;
    int q = 1, low = 1, high = 64;
    m_failedScale = 0;
    SetWriter(&m_writer);
    while (high != low) {
        SetScale(q);
        m_writer.StartWrite(out, m_budgetBytes);
        ResetPredictors();
        bool fits = true;
        int m = 0, i = 0;
        for (; i < m_columns; ++i) {
            CodeMacroblock(m);
            // An overflowed writer has dropped its count; it certainly did not fit.
            if (m_writer.Overflow() || m_writer.TotalBits() > rowBudget) {
                fits = false;
                break;
            }
            m = (m + kSampleStep) % total;
        }
        if (!fits) {
            m_failedScale = q;
            m_failedRatio = double(m_writer.Overflow() ? 2 * rowBudget : m_writer.TotalBits()) * m_columns /
                            (double(i + 1) * double(rowBudget > 0 ? rowBudget : 1));
            low = q + 1;
            q = q + (high - q) / 2;
        } else {
            high = q;
            q = low + (q - low) / 2;
        }
    }
    return q;
}

void TamoEncoder::WriteHeader(uint32_t frameNumber, uint8_t* out) const {
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
}

// Rows are coded independently, by whichever thread takes them, into that thread's scratch
// buffer of the budget's size; then the rows are checked in order exactly as one writer after
// the other would have seen them (a row overflows when its bytes reach what is left of the
// budget) and copied.
int TamoEncoder::FinalCodingParallel(uint32_t frameNumber, int scale, uint8_t* out) {
    const int n = std::min(m_threads, m_rows);
    while (m_scratch.size() < size_t(n)) {
        uint8_t* s = Pool().Acquire(size_t(m_budgetBytes));
        if (!s) return 0;
        m_scratch.push_back(s);
    }
    std::vector<int> rowBytes(static_cast<size_t>(m_rows)), rowOffset(static_cast<size_t>(m_rows));
    std::vector<char> rowBad(static_cast<size_t>(m_rows));
    std::vector<int> rowOwner(static_cast<size_t>(m_rows));
    for (int q = scale;; ++q) {
        SetScale(q);
        WriteHeader(frameNumber, out);
        if (q > 64) {
            for (int r = 0; r < m_rows; ++r) {
                uint8_t* h = out + 32 + 4 * r;
                h[0] = uint8_t(r);
                h[1] = 0;
                h[2] = 0;
                h[3] = 1;
            }
            return 32 + 4 * m_rows;
        }
        // Each thread appends its rows to its own scratch buffer. A thread's rows alone that do
        // not fit the budget, or all rows so far with their headers reaching it, mean the
        // picture does not fit: everybody stops.
        std::vector<int> fill(size_t(n), 0);
        std::atomic<int64_t> total{32 + 4 * int64_t(m_rows)};
        ParallelRows(n, m_rows, [&](int i, int r) {
            const int off = fill[size_t(i)];
            CBitstream w;
            w.StartWrite(m_scratch[size_t(i)] + off, m_budgetBytes - off);
            int pred[3] = {0, 0, 0};
            CodeMacroblocksInto(w, pred, r * m_columns, m_columns);
            w.Flush();
            rowBad[size_t(r)] = w.Overflow();
            rowOwner[size_t(r)] = i;
            rowOffset[size_t(r)] = off;
            rowBytes[size_t(r)] = w.BytesStored();
            fill[size_t(i)] = off + w.BytesStored();
            return !w.Overflow() && (total += w.BytesStored()) < m_budgetBytes;
        });
        if (total >= m_budgetBytes) continue;
        int used = 32;
        bool overflow = false;
        for (int r = 0; r < m_rows && !overflow; ++r) {
            const int b = rowBytes[size_t(r)];
            overflow = rowBad[size_t(r)] || b >= m_budgetBytes - used - 4 || b / 4 + 1 > kMaxRowWords;
            used += 4 + b;
        }
        if (overflow) continue;
        used = 32;
        for (int r = 0; r < m_rows; ++r) {
            const int b = rowBytes[size_t(r)];
            uint8_t* h = out + used;
            h[0] = uint8_t(r);
            h[1] = 0;
            h[2] = uint8_t((b / 4 + 1) >> 8);
            h[3] = uint8_t(b / 4 + 1);
            std::memcpy(h + 4, m_scratch[size_t(rowOwner[size_t(r)])] + rowOffset[size_t(r)], size_t(b));
            used += 4 + b;
        }
        return used;
    }
}

// Counts the bits of every row at the current scale and applies the rule of the final coding
// (a row overflows when its bytes reach what is left of the budget) without writing anything.
bool TamoEncoder::RowsFit() {
    m_rowBits.resize(size_t(m_rows));
    const int n = std::min(m_threads, m_rows);
    // All rows so far with their headers reaching the budget: it does not fit, stop counting.
    std::atomic<int64_t> total{32 + 4 * int64_t(m_rows)};
    ParallelRows(n, m_rows, [&](int, int r) {
        int pred[3] = {0, 0, 0};
        m_rowBits[size_t(r)] = CountMacroblocks(pred, r * m_columns, m_columns);
        return (total += (m_rowBits[size_t(r)] + 31) / 32 * 4) < m_budgetBytes;
    });
    if (total >= m_budgetBytes) return false;
    int64_t used = 32;
    for (int r = 0; r < m_rows; ++r) {
        const int64_t b = (m_rowBits[size_t(r)] + 31) / 32 * 4;
        if (b >= m_budgetBytes - used - 4 || b / 4 + 1 > kMaxRowWords) return false;
        used += 4 + b;
    }
    return true;
}

int TamoEncoder::FinalCoding(uint32_t frameNumber, int scale, uint8_t* out) {
    // The search ends on the scale of its last trial more often than not, and that trial's
    // sample did not fit. Well over the row budget, the whole picture almost never fits
    // either: counting its bits first is much cheaper than coding it in vain. Either way the
    // stream is the one the plain procedure gives.
    if (scale <= 64 && scale == m_failedScale && m_failedRatio >= kCountFirstRatio) {
        SetScale(scale);
        if (!RowsFit()) ++scale;
    }
    if (m_threads > 1) return FinalCodingParallel(frameNumber, scale, out);
    SetWriter(&m_writer);
    for (int q = scale;; ++q) {
        SetScale(q);
        WriteHeader(frameNumber, out);
        int used = 32;
        bool overflow = false;
        for (int r = 0; r < m_rows && !overflow; ++r) {
            int n = 0;
            if (q <= 64) {
                m_writer.StartWrite(out + used + 4, m_budgetBytes - used - 4);
                ResetPredictors();
                CodeMacroblocksInto(m_writer, m_pred, r * m_columns, m_columns);
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

// With several threads the search need not wait for the whole transform: it only looks at the
// sample macroblocks. The first thread transforms those and searches while the others transform
// the rest (each row without its sample macroblocks), then it joins them.
int TamoEncoder::TransformAndSearch(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out) {
    const int total = m_rows * m_columns;
    std::vector<std::vector<int>> sampleColumns(static_cast<size_t>(m_rows));
    {
        std::vector<char> seen(static_cast<size_t>(total));
        for (int i = 0, m = 0; i < m_columns; ++i, m = (m + kSampleStep) % total)
            if (!seen[size_t(m)]) {
                seen[size_t(m)] = 1;
                sampleColumns[size_t(m / m_columns)].push_back(m % m_columns);
            }
        for (auto& c : sampleColumns) std::sort(c.begin(), c.end());
    }
    const size_t cw = size_t(m_width) / 2;
    auto transform = [&](int r, int c0, int c1) {
        if (c1 > c0)
            TransformPicture(m_impl, y + size_t(r) * 16 * m_width + size_t(c0) * 16, cb + size_t(r) * 8 * cw + size_t(c0) * 8,
                             cr + size_t(r) * 8 * cw + size_t(c0) * 8, m_width, 1, c1 - c0,
                             m_coefficients + (size_t(r) * m_columns + size_t(c0)) * 384);
    };
    int q = 1;
    std::atomic<int> next{0};
    ParallelFor(std::min(m_threads, m_rows), [&](int i) {
        if (i == 0) {
            for (int r = 0; r < m_rows; ++r)
                for (int c : sampleColumns[size_t(r)]) transform(r, c, c + 1);
            q = SearchScale(out);
        }
        for (int r = next++; r < m_rows; r = next++) {
            int c0 = 0;
            for (int c : sampleColumns[size_t(r)]) {
                transform(r, c0, c);
                c0 = c + 1;
            }
            transform(r, c0, m_columns);
        }
    });
    return q;
}

int TamoEncoder::Encode(uint32_t frameNumber, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                        uint8_t* out) {
    if (!Usable()) return 0;
    int q;
    if (m_threads > 1) {
        q = TransformAndSearch(y, cb, cr, out);
    } else {
        Transform(y, cb, cr);
        q = SearchScale(out);
    }
    return FinalCoding(frameNumber, q, out);
}
