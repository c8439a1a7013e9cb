#include "signals/CUIT.h"

#include <cmath>
#include <cstring>

#include "signals/ByteStream.h"

CUIT::CUIT() : frame(kFrameSize, 0), mask(kMaskSize, 0) {}

namespace {
void FillBlack(std::vector<uint8_t>& frame) {
    for (size_t i = 0; i + 3 < frame.size(); i += 4) {
        frame[i] = 0x80;
        frame[i + 1] = 0x10;
        frame[i + 2] = 0x80;
        frame[i + 3] = 0x10;
    }
}
}  // namespace

void CUIT::Reset() {
    windows.clear();
    FillBlack(frame);
    std::memset(mask.data(), 0xFF, mask.size());
    RVUITWindow w;
    w.start = 0;
    w.count = kActiveLines;
    for (int c = 0; c < kComponents; ++c) {
        CDataArray& a = w.signals[c];
        a.spans.clear();
        a.spans.push_back(std::make_unique<CDataSpan>(kSpanConst, kSamplesPerLine));
        a.spans.back()->param[kC1] = 0.0;
    }
    windows.push_back(std::move(w));
}

bool CUIT::MaskBit(int row, int k) const {
    if (row < 0 || row >= kActiveLines || k < 0 || k >= kSamplesPerLine) return false;
    return (mask[size_t(row) * kMaskRowBytes + size_t(k / 8)] >> (k % 8)) & 1;
}

void CUIT::SetMaskBit(int row, int k, bool on) {
    if (row < 0 || row >= kActiveLines || k < 0 || k >= kSamplesPerLine) return;
    uint8_t& b = mask[size_t(row) * kMaskRowBytes + size_t(k / 8)];
    if (on)
        b = uint8_t(b | (1u << (k % 8)));
    else
        b = uint8_t(b & ~(1u << (k % 8)));
}

bool CUIT::IsSingleLine() const {
    return windows.size() == 1 && windows[0].start == 0 && windows[0].count == kActiveLines;
}

SignalSet CUIT::SignalsFromFrame(int start, int count) const {
    int m = start + count / 2;
    if (m < 0) m = 0;
    if (m >= kActiveLines) m = kActiveLines - 1;
    // Runs of equal mask bits on the middle line; both set and clear runs become spans.
    std::vector<int> runs;
    int runStart = 0;
    for (int k = 1; k < kSamplesPerLine; ++k) {
        if (MaskBit(m, k) != MaskBit(m, k - 1)) {
            runs.push_back(k - runStart);
            runStart = k;
        }
    }
    runs.push_back(kSamplesPerLine - runStart);

    const uint8_t* act = FrameLine(m) + kActiveOffset;
    SignalSet set;
    for (int c = 0; c < kComponents; ++c) {
        CDataArray& a = set[c];
        a = CDataArray(1);
        a.spans.clear();
        int e = 0;
        for (int len : runs) {
            auto sp = std::make_unique<CDataSpan>(kSpanPoints, len);
            for (int j = 0; j < len; ++j, ++e) {
                double v;
                if (c == 0)
                    v = act[2 * e + 1];
                else if (c == 1)
                    v = double(act[4 * (e / 2)]) - 128.0;
                else
                    v = double(act[4 * (e / 2) + 2]) - 128.0;
                sp->samples[size_t(j)] = v;
            }
            a.spans.push_back(std::move(sp));
        }
    }
    return set;
}

uint8_t RoundToByte(double x) {
    if (std::isnan(x)) return 0;
    double r = std::fmod(x, 1.0) >= 0.5 ? std::trunc(x + 1.0) : std::trunc(x);
    // Values beyond a byte (only from unevaluated points read from a file) are held at the ends
    // rather than wrapped.
    if (r < 0.0) return 0;
    if (r > 255.0) return 255;
    return uint8_t(r);
}

void CUIT::WriteWindow(const RVUITWindow& w) {
    int first = w.start < 0 ? 0 : w.start;
    long long endLong = (long long)w.start + w.count;
    int end = endLong > kActiveLines ? kActiveLines : int(endLong);
    for (int c = 0; c < kComponents; ++c) {
        int k = 0;
        for (const auto& sp : w.signals[c].spans) {
            for (int j = 0; j < sp->length && k < kSamplesPerLine; ++j, ++k) {
                if ((c == 1 && k % 2 != 0) || (c == 2 && k % 2 == 0)) continue;
                double v = size_t(j) < sp->samples.size() ? sp->samples[size_t(j)] : 0.0;
                uint8_t b = c == 0 ? RoundToByte(v) : RoundToByte(128.0 + v);
                size_t off = size_t(kActiveOffset) + (c == 0 ? size_t(2 * k + 1) : size_t(2 * k));
                for (int L = first; L < end; ++L)
                    if (MaskBit(L, k)) FrameLine(L)[off] = b;
            }
        }
    }
}

void CUIT::WriteAllWindows() {
    for (const auto& w : windows) WriteWindow(w);
}

int CUIT::MaskAndWindowsFromPixels(const uint32_t* pixels) {
    std::memset(mask.data(), 0, mask.size());
    std::vector<bool> signalLine(kActiveLines, false);
    for (int r = 0; r < kActiveLines; ++r) {
        for (int k = 0; k < kSamplesPerLine; ++k) {
            if ((pixels[size_t(r) * kSamplesPerLine + size_t(k)] >> 24) >= 0xF0) {
                SetMaskBit(r, k, true);
                signalLine[size_t(r)] = true;
            }
        }
    }
    windows.clear();
    int r = 0;
    while (r < kActiveLines) {
        if (!signalLine[size_t(r)]) {
            ++r;
            continue;
        }
        int start = r;
        while (r < kActiveLines && signalLine[size_t(r)]) ++r;
        RVUITWindow w;
        w.start = start;
        w.count = r - start;
        w.signals = SignalsFromFrame(w.start, w.count);
        windows.push_back(std::move(w));
    }
    return int(windows.size());
}

namespace {
// A Dr or Db array whose spans do not follow Y's becomes one points-list span per Y span, every
// sample the first stored sample (0.0 when the stored array has none).
void RepairChroma(CDataArray& a, const CDataArray& y) {
    bool same = a.spans.size() == y.spans.size();
    for (size_t i = 0; same && i < y.spans.size(); ++i) same = a.spans[i]->length == y.spans[i]->length;
    if (same) return;
    double fill = 0.0;
    for (const auto& s : a.spans) {
        if (s->length >= 1 && !s->samples.empty()) {
            fill = s->samples[0];
            break;
        }
    }
    CDataArray fixed;
    fixed.spans.clear();
    for (const auto& ys : y.spans) {
        auto s = std::make_unique<CDataSpan>(kSpanPoints, ys->length);
        s->samples.assign(size_t(ys->length), fill);
        fixed.spans.push_back(std::move(s));
    }
    a = std::move(fixed);
}
}  // namespace

int CUIT::Read(CByteSource& in) {
    uint32_t magic, count, flag;
    if (!in.ReadU32(magic) || magic != kUitMagic) return kFileCorrupt;
    if (!in.ReadU32(count) || !in.ReadU32(flag)) return kFileCorrupt;
    uint8_t rest[kFileHeaderSize - 12];
    if (!in.Read(rest, sizeof rest)) return kFileCorrupt;
    if (count > uint32_t(kMaxWindows)) return kFileCorrupt;

    std::vector<uint8_t> newFrame(kFrameSize), newMask(kMaskSize);
    if (flag != 0) {
        if (!in.Read(newFrame.data(), kFrameLineBytes)) return kFileCorrupt;
        for (int L = 1; L < kFrameLines; ++L)
            std::memcpy(newFrame.data() + size_t(L) * kFrameLineBytes, newFrame.data(), kFrameLineBytes);
        std::memset(newMask.data(), 0xFF, newMask.size());
    } else {
        if (!in.Read(newFrame.data(), newFrame.size()) || !in.Read(newMask.data(), newMask.size()))
            return kFileCorrupt;
    }

    std::vector<RVUITWindow> newWindows;
    newWindows.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        RVUITWindow w;
        if (!in.ReadI32(w.start) || !in.ReadI32(w.count)) return kFileCorrupt;
        if (w.start < 0 || w.start >= kActiveLines || w.count < 1 || w.count > kActiveLines - w.start)
            return kFileCorrupt;
        for (int c = 0; c < kComponents; ++c)
            if (!w.signals[c].Read(in)) return kFileCorrupt;
        // Y defines the span boundaries; it has to cover the line exactly.
        const CDataArray& y = w.signals[0];
        if (y.spans.empty() || y.TotalLength() != kSamplesPerLine) return kFileCorrupt;
        RepairChroma(w.signals[1], y);
        RepairChroma(w.signals[2], y);
        newWindows.push_back(std::move(w));
    }
    frame.swap(newFrame);
    mask.swap(newMask);
    windows.swap(newWindows);
    return kFileOk;
}

int CUIT::Load(const std::string& path) {
    CFileSource in(path);
    if (!in.IsOpen()) return kFileCannotOpen;
    return Read(in);
}

int CUIT::Save(const std::string& path) const {
    const bool single = IsSingleLine();
    CByteSink out;
    out.PutU32(kUitMagic);
    out.PutU32(uint32_t(windows.size()));
    out.PutU32(single ? 1 : 0);
    out.PutZeros(kFileHeaderSize - 12);
    if (single) {
        out.Put(frame.data(), kFrameLineBytes);
    } else {
        out.Put(frame.data(), frame.size());
        out.Put(mask.data(), mask.size());
    }
    for (const auto& w : windows) {
        out.PutI32(w.start);
        out.PutI32(w.count);
        for (int c = 0; c < kComponents; ++c) w.signals[c].Write(out);
    }
    return out.WriteToFile(path) ? kFileOk : kFileCannotCreate;
}
