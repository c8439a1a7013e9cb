#pragma once
#include "codec/CBitstream.h"
#include "codec/TamoTransform.h"

#include <cstdint>
#include <vector>

// Encodes one 8-bit YCbCr 4:2:0 picture into a stream that fits a byte budget: one transform
// pass, a scale search on a sample of macroblocks, then the final coding, raising the scale
// while the picture does not fit (up to the empty picture).
class TamoEncoder {
public:
    TamoEncoder(int budgetUnits, int type, int frameRate, tamo::TransformImpl impl = tamo::BestTransform());
    virtual ~TamoEncoder();
    TamoEncoder(const TamoEncoder&) = delete;
    TamoEncoder& operator=(const TamoEncoder&) = delete;

    // False for an unknown picture type or a budget that cannot hold even the empty picture;
    // Encode then writes nothing and returns 0.
    bool Usable() const { return m_coefficients != nullptr && m_budgetBytes >= 32 + 4 * m_rows; }

    // Planes tightly packed: Y width x rows*16, Cb and Cr width/2 x rows*8. `out` holds the
    // budget. Returns the stream size in bytes.
    int Encode(uint32_t frameNumber, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out);

    // The steps of Encode, for tests and benchmarks.
    void Transform(const uint8_t* y, const uint8_t* cb, const uint8_t* cr);
    int SearchScale(uint8_t* out);
    int FinalCoding(uint32_t frameNumber, int scale, uint8_t* out);

    // Threads for the transform and the final coding (rows are independent); 1 by default,
    // the file encoder's workers keep it so.
    void SetThreads(int threads) { m_threads = threads < 1 ? 1 : threads; }

    int Scale() const { return m_scale; }
    int BudgetBytes() const { return m_budgetBytes; }
    int Rows() const { return m_rows; }
    int Columns() const { return m_columns; }
    // Per macroblock six blocks of 64 coefficients in scan order.
    const tamo::Coef* Coefficients() const { return m_coefficients; }
    tamo::Coef* Coefficients() { return m_coefficients; }

    // Codes macroblock m (raster index) with the current scale into the current writer.
    void CodeMacroblock(int m);
    void ResetPredictors() { m_pred[0] = m_pred[1] = m_pred[2] = 0; }
    void SetScale(int scale);
    void SetWriter(CBitstream* writer) { m_bits = writer; }
    // Codes `count` macroblocks from raster index m on into `bw`, or only counts their bits.
    void CodeMacroblocksInto(CBitstream& bw, int pred[3], int m, int count) const {
        m_code(bw, pred, m_coefficients + size_t(m) * 384, count, m_quant, m_scale);
    }
    int64_t CountMacroblocks(int pred[3], int m, int count) const {
        return m_count(pred, m_coefficients + size_t(m) * 384, count, m_quant);
    }

private:
    CBitstream* m_bits = nullptr;
    int m_type = 0;
    int m_width = 0;
    int m_height = 0;
    int m_rows = 0;
    int m_columns = 0;
    int m_frameRate = 0;
    int m_budgetUnits = 0;
    int m_budgetBytes = 0;
    tamo::Coef* m_coefficients = nullptr;
    int m_scale = 1;
    int m_pred[3] = {0, 0, 0};

    tamo::TransformImpl m_impl;
    void (*m_code)(CBitstream&, int*, const tamo::Coef*, int, const tamo::QuantTable*, int) = nullptr;
    int64_t (*m_count)(int*, const tamo::Coef*, int, const tamo::QuantTable*) = nullptr;
    // The last scale search: the scale of the last trial that did not fit and its sample's
    // size extrapolated to the whole sample, over the row budget.
    int m_failedScale = 0;
    double m_failedRatio = 0;
    CBitstream m_writer;
    int m_threads = 1;
    std::vector<uint8_t*> m_scratch;  // per thread, budget-sized, for the parallel final coding

    void WriteHeader(uint32_t frameNumber, uint8_t* out) const;
    size_t StoreBytes() const;
    int FinalCodingParallel(uint32_t frameNumber, int scale, uint8_t* out);
    bool RowsFit();
    int TransformAndSearch(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out);
    std::vector<int64_t> m_rowBits;
    tamo::QuantTable m_quant[2];  // luma, chroma for m_scale
};
