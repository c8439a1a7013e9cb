#include "signals/SignalSet.h"

#include <algorithm>
#include <cmath>

#include "signals/ByteStream.h"

bool SignalSet::IsConsistent() const {
    const CDataArray& y = comp[0];
    if (y.spans.empty() || y.TotalLength() != kSamplesPerLine) return false;
    for (const auto& s : y.spans)
        if (s->length < 1) return false;
    for (int c = 1; c < kComponents; ++c) {
        if (comp[c].spans.size() != y.spans.size()) return false;
        for (size_t i = 0; i < y.spans.size(); ++i)
            if (comp[c].spans[i]->length != y.spans[i]->length) return false;
    }
    return true;
}

namespace {
double RawValue(const CDataSpan& sp, int k, int z, double x, double M, double s) {
    const double* p = sp.param;
    switch (sp.kind) {
    case kSpanPoints: {
        size_t j = size_t(k / z);
        return j < sp.samples.size() ? sp.samples[j] : 0.0;
    }
    case kSpanConst:
        return p[kC1];
    case kSpanSlope:
        return p[kC1] + (p[kC2] - p[kC1]) * x / (M * s);
    case kSpanSin:
        return p[kC1] + p[kA] * std::sin(x * p[kT] + kEvalTwoPi * p[kF]);
    case kSpanModulatedSin: {
        if (p[kA] == 0.0) return p[kC1];
        // At the very centre the envelope is 1 whatever w is; elsewhere w = 0 gives exp(-inf) = 0.
        double d = x - M * s / 2.0;
        double width = kEvalTwoPi * p[kW];
        double env = d == 0.0 ? 1.0 : std::exp(-(d * d) / (width * width));
        double sn = std::sin(x * p[kT] / 2.0 + kEvalPi * p[kF]);
        return p[kC1] + p[kA] * env * (sn * sn + p[kC3]);
    }
    case kSpanSinSlope:
        return p[kC1] + (p[kC2] - p[kC1]) * x / (M * s) + p[kA] * std::sin(x * p[kT] + kEvalTwoPi * p[kF]);
    default:
        return 0.0;
    }
}
}  // namespace

std::vector<double> EvaluateComponent(CDataArray& array, int component, int z) {
    z = std::clamp(z, 1, 40);
    const ComponentRange& r = ComponentInfo(component);
    const double s = kEvalTwoPi * kLineDuration / (double(kSamplesPerLine) * z);
    std::vector<double> curve;
    curve.reserve(size_t(kSamplesPerLine) * size_t(z));
    for (auto& spp : array.spans) {
        CDataSpan& sp = *spp;
        if (sp.length < 0) continue;
        if (sp.samples.size() != size_t(sp.length)) sp.samples.resize(size_t(sp.length), 0.0);
        const int M = sp.length * z;
        double x = 0.0;
        for (int k = 0; k < M; ++k) {
            double v = RawValue(sp, k, z, x, double(M), s);
            if (v > r.legalMax) v = r.legalMax;
            if (v < r.legalMin) v = r.legalMin;
            if (std::isnan(v)) v = r.legalMin;  // parameters from a damaged file must not leak NaN
            if (k % z == 0) sp.samples[size_t(k / z)] = v;
            curve.push_back(v);
            x += s;
        }
    }
    return curve;
}

void EvaluateSignalSet(SignalSet& set) {
    for (int c = 0; c < kComponents; ++c) EvaluateComponent(set[c], c, 1);
}

namespace {
bool ValidSpan(const SignalSet& set, int shown, int c) {
    return shown >= 0 && shown < kComponents && c >= 0 && size_t(c) < set[shown].spans.size();
}

// Keeps the sample vector the size the span says before it is cut or extended.
std::vector<double>& SamplesOf(CDataSpan& s) {
    if (s.samples.size() != size_t(std::max(s.length, 0))) s.samples.resize(size_t(std::max(s.length, 0)), 0.0);
    return s.samples;
}

void GrowByOne(CDataSpan& s) {
    SamplesOf(s).push_back(0.0);
    ++s.length;
}

void ShrinkByOne(CDataSpan& s) {
    SamplesOf(s).pop_back();
    --s.length;
}
}  // namespace

bool SplitSpan(SignalSet& set, int c, int cursor, int shown) {
    if (!ValidSpan(set, shown, c)) return false;
    int start = 0;
    for (int i = 0; i < c; ++i) start += set[shown].spans[size_t(i)]->length;
    bool any = false;
    for (int comp = 0; comp < kComponents; ++comp) {
        auto& spans = set[comp].spans;
        if (size_t(c) >= spans.size()) continue;
        CDataSpan& sp = *spans[size_t(c)];
        const int n = sp.length;
        if (n <= 1) continue;
        int p = n / 2;
        if (cursor > start && cursor < start + n) p = cursor - start;
        auto second = std::make_unique<CDataSpan>(sp);
        auto& all = SamplesOf(sp);
        second->length = n - p;
        second->samples.assign(all.begin() + p, all.end());
        sp.length = p;
        all.resize(size_t(p));
        spans.insert(spans.begin() + c + 1, std::move(second));
        any = true;
    }
    return any;
}

bool CombineWithPrevious(SignalSet& set, int& c) {
    if (c <= 0 || !ValidSpan(set, 0, c)) return false;
    for (int comp = 0; comp < kComponents; ++comp) {
        auto& spans = set[comp].spans;
        if (size_t(c) >= spans.size()) continue;
        CDataSpan& prev = *spans[size_t(c - 1)];
        CDataSpan& cur = *spans[size_t(c)];
        std::vector<double> joined = SamplesOf(prev);
        joined.insert(joined.end(), SamplesOf(cur).begin(), SamplesOf(cur).end());
        cur.length += prev.length;
        cur.samples = std::move(joined);
        spans.erase(spans.begin() + (c - 1));
    }
    --c;
    return true;
}

bool CombineWithNext(SignalSet& set, int c) {
    if (!ValidSpan(set, 0, c) || size_t(c) + 1 >= set[0].spans.size()) return false;
    for (int comp = 0; comp < kComponents; ++comp) {
        auto& spans = set[comp].spans;
        if (size_t(c) + 1 >= spans.size()) continue;
        CDataSpan& cur = *spans[size_t(c)];
        CDataSpan& next = *spans[size_t(c + 1)];
        SamplesOf(cur).insert(cur.samples.end(), SamplesOf(next).begin(), SamplesOf(next).end());
        cur.length += next.length;
        spans.erase(spans.begin() + (c + 1));
    }
    return true;
}

bool ChangeSpanLength(SignalSet& set, int c, bool longer, int shown) {
    if (!ValidSpan(set, shown, c) || size_t(c) + 1 >= set[shown].spans.size()) return false;
    const auto& s = set[shown].spans;
    if (longer ? s[size_t(c + 1)]->length <= 1 : s[size_t(c)]->length <= 1) return false;
    for (int comp = 0; comp < kComponents; ++comp) {
        auto& spans = set[comp].spans;
        if (size_t(c) + 1 >= spans.size()) continue;
        CDataSpan& cur = *spans[size_t(c)];
        CDataSpan& next = *spans[size_t(c + 1)];
        if (longer) {
            GrowByOne(cur);
            ShrinkByOne(next);
        } else {
            ShrinkByOne(cur);
            GrowByOne(next);
        }
    }
    return true;
}

bool MoveSpanStart(SignalSet& set, int c, bool later, int shown) {
    if (!ValidSpan(set, shown, c) || c == 0) return false;
    const auto& s = set[shown].spans;
    if (later ? s.back()->length <= 1 : s[size_t(c - 1)]->length <= 1) return false;
    for (int comp = 0; comp < kComponents; ++comp) {
        auto& spans = set[comp].spans;
        if (size_t(c) >= spans.size()) continue;
        CDataSpan& prev = *spans[size_t(c - 1)];
        CDataSpan& last = *spans.back();
        if (later) {
            GrowByOne(prev);
            ShrinkByOne(last);
        } else {
            ShrinkByOne(prev);
            GrowByOne(last);
        }
    }
    return true;
}

int ReadSignalFile(CByteSource& in, SignalSet& set) {
    uint8_t header[kFileHeaderSize];
    if (!in.Read(header, sizeof header)) return kFileCorrupt;
    uint32_t magic = uint32_t(header[0]) | uint32_t(header[1]) << 8 | uint32_t(header[2]) << 16 |
                     uint32_t(header[3]) << 24;
    if (magic != kSigMagic) return kFileCorrupt;
    SignalSet read;
    for (int c = 0; c < kComponents; ++c)
        if (!read[c].Read(in)) return kFileCorrupt;
    // Nothing repairs a signal file, and the editor relies on the shared span boundaries.
    if (!read.IsConsistent()) return kFileCorrupt;
    set = std::move(read);
    return kFileOk;
}

int LoadSignalFile(const std::string& path, SignalSet& set) {
    CFileSource in(path);
    if (!in.IsOpen()) return kFileCannotOpen;
    return ReadSignalFile(in, set);
}

int SaveSignalFile(const std::string& path, const SignalSet& set) {
    CByteSink out;
    out.PutU32(kSigMagic);
    out.PutI32(kComponents);
    out.PutZeros(kFileHeaderSize - 8);
    for (int c = 0; c < kComponents; ++c) set[c].Write(out);
    return out.WriteToFile(path) ? kFileOk : kFileCannotCreate;
}
