#include "signals/CDataSpan.h"

#include "signals/ByteStream.h"

CDataSpan::CDataSpan(int32_t kind_, int32_t length_) : kind(kind_), length(length_ > 0 ? length_ : 0) {
    for (double& p : param) p = 0.0;
    samples.assign(size_t(length), 0.0);
}

void CDataSpan::Write(CByteSink& out) const {
    out.PutI32(kind);
    out.PutI32(length);
    for (double p : param) out.PutF64(p);
    // Samples always number `length` in the file, whatever the vector holds.
    for (int32_t i = 0; i < length; ++i) out.PutF64(size_t(i) < samples.size() ? samples[size_t(i)] : 0.0);
}

bool CDataSpan::Read(CByteSource& in) {
    int32_t k, n;
    double p[kParamCount];
    if (!in.ReadI32(k) || !in.ReadI32(n)) return false;
    // A span covers at least one and at most a whole line of samples: checked before allocating.
    if (n < 1 || n > kSamplesPerLine) return false;
    for (double& v : p)
        if (!in.ReadF64(v)) return false;
    std::vector<double> s(static_cast<size_t>(n));
    for (double& v : s)
        if (!in.ReadF64(v)) return false;
    kind = k;
    length = n;
    for (int i = 0; i < kParamCount; ++i) param[i] = p[i];
    samples = std::move(s);
    return true;
}

const char* SpanKindName(int32_t kind) {
    static const char* const names[kSpanKindCount] = {"points list", "const", "slope", "sin", "modulated sin",
                                                      "sin+slope"};
    return kind >= 0 && kind < kSpanKindCount ? names[kind] : "";
}

const char* SpanKindFormula(int32_t kind) {
    static const char* const labels[kSpanKindCount] = {
        "", "c1", "c1+x*(c2-c1)/l", "c1+a*sin(x*t+f*2*pi)",
        "c1+a*(sin(x*t/2+f*pi)^2)* (exp(-((x-l/2)/(w*2*pi))^2)+c3)", "c1+x*(c2-c1)/l+a*sin(x*t+f*2*pi)"};
    return kind >= 0 && kind < kSpanKindCount ? labels[kind] : "";
}
