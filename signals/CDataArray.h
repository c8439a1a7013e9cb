#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "signals/CDataSpan.h"

// One component of a line: spans from the start of the line to its end. Copies are deep.
class CDataArray {
public:
    // The usual array: line length 702, one points-list span of 702 zeros.
    CDataArray();
    // lineLength 1 gives the starting point of arrays built from a picture: one span of one sample.
    explicit CDataArray(int32_t lineLength);
    CDataArray(const CDataArray& other);
    CDataArray& operator=(const CDataArray& other);
    CDataArray(CDataArray&&) = default;
    CDataArray& operator=(CDataArray&&) = default;
    virtual ~CDataArray() = default;

    void Write(CByteSink& out) const;
    // Reads line length, span count and spans. Refuses (false, array unchanged) short data, a
    // negative span count, more spans than a line has samples, and spans whose lengths add up to
    // more than a line.
    bool Read(CByteSource& in);

    int TotalLength() const;
    void Clear() { spans.clear(); }
    CDataSpan& Span(size_t i) { return *spans[i]; }
    const CDataSpan& Span(size_t i) const { return *spans[i]; }

    int32_t lineLength;
    std::vector<std::unique_ptr<CDataSpan>> spans;
};

// Legal (clamping) and display ranges of the components Y, Dr, Db.
struct ComponentRange {
    const char* name;
    double displayMin, displayMax;
    double legalMin, legalMax;
};
const ComponentRange& ComponentInfo(int component);
