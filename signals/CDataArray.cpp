#include "signals/CDataArray.h"

#include "signals/ByteStream.h"

CDataArray::CDataArray() : lineLength(kSamplesPerLine) {
    spans.push_back(std::make_unique<CDataSpan>(kSpanPoints, kSamplesPerLine));
}

CDataArray::CDataArray(int32_t lineLength_) : lineLength(lineLength_) {
    spans.push_back(std::make_unique<CDataSpan>(kSpanPoints, lineLength_ > 0 ? lineLength_ : 1));
}

CDataArray::CDataArray(const CDataArray& other) : lineLength(other.lineLength) {
    spans.reserve(other.spans.size());
    for (const auto& s : other.spans) spans.push_back(std::make_unique<CDataSpan>(*s));
}

CDataArray& CDataArray::operator=(const CDataArray& other) {
    if (this != &other) {
        CDataArray copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void CDataArray::Write(CByteSink& out) const {
    out.PutI32(lineLength);
    out.PutI32(int32_t(spans.size()));
    for (const auto& s : spans) s->Write(out);
}

bool CDataArray::Read(CByteSource& in) {
    int32_t len, count;
    if (!in.ReadI32(len) || !in.ReadI32(count)) return false;
    if (count < 0 || count > kSamplesPerLine) return false;
    std::vector<std::unique_ptr<CDataSpan>> read;
    read.reserve(size_t(count));
    int total = 0;
    for (int32_t i = 0; i < count; ++i) {
        auto s = std::make_unique<CDataSpan>(kSpanPoints, 0);
        if (!s->Read(in)) return false;
        total += s->length;
        if (total > kSamplesPerLine) return false;
        read.push_back(std::move(s));
    }
    lineLength = len;
    spans = std::move(read);
    return true;
}

int CDataArray::TotalLength() const {
    int n = 0;
    for (const auto& s : spans) n += s->length;
    return n;
}

const ComponentRange& ComponentInfo(int component) {
    static const ComponentRange ranges[kComponents] = {
        {"Y", 0.0, 255.0, 1.0, 254.0},
        {"Dr", -127.0, 127.0, -126.0, 126.0},
        {"Db", -127.0, 127.0, -126.0, 126.0},
    };
    return ranges[component >= 0 && component < kComponents ? component : 0];
}
