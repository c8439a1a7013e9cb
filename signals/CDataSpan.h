#pragma once
#include <cstdint>
#include <vector>

class CByteSource;
class CByteSink;

// Line constants shared by signal sets and test tables.
constexpr int kSamplesPerLine = 702;
constexpr double kLineDuration = 52.0;  // microseconds
constexpr int kComponents = 3;          // Y, Dr, Db

enum SpanKind : int32_t {
    kSpanPoints = 0,
    kSpanConst = 1,
    kSpanSlope = 2,
    kSpanSin = 3,
    kSpanModulatedSin = 4,
    kSpanSinSlope = 5,
};
constexpr int kSpanKindCount = 6;

// Parameter indices, in stored order. The eighth is reserved: kept and stored, never used.
enum SpanParam { kC1 = 0, kC2, kA, kT, kF, kW, kC3, kReserved, kParamCount };

// One span of a component: a points list or a parametric segment evaluated into samples.
class CDataSpan {
public:
    CDataSpan(int32_t kind, int32_t length);
    CDataSpan(const CDataSpan&) = default;
    CDataSpan& operator=(const CDataSpan&) = default;
    virtual ~CDataSpan() = default;

    void Write(CByteSink& out) const;
    // Replaces everything on success; on failure (short data, length outside 1..702) the span is
    // left as it was and false is returned.
    bool Read(CByteSource& in);

    int32_t kind;
    int32_t length;
    double param[kParamCount];
    std::vector<double> samples;  // exactly `length` values
};

const char* SpanKindName(int32_t kind);     // "points list" ... "sin+slope", "" for others
const char* SpanKindFormula(int32_t kind);  // the editor's formula label
