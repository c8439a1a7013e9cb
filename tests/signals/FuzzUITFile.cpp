// Test table files from any bytes: the loader answers 0 or 2, and a loaded table can be written
// into its frame and saved to memory without touching anything outside.
#include <cstdint>
#include <cstring>
#include <vector>

#include "signals/ByteStream.h"
#include "signals/CUIT.h"

namespace {
std::vector<uint8_t> ValidFile() {
    // Two windows, so the whole frame and mask are stored; patches near the end hit the windows.
    CByteSink out;
    out.PutU32(kUitMagic);
    out.PutU32(2);
    out.PutU32(0);
    out.PutZeros(244);
    out.PutZeros(kFrameSize + kMaskSize);
    for (int w = 0; w < 2; ++w) {
        out.PutI32(w * 100);
        out.PutI32(50);
        for (int c = 0; c < kComponents; ++c) {
            CDataArray a;
            a.spans.clear();
            for (int n : {1, 351, 350}) a.spans.push_back(std::make_unique<CDataSpan>(kSpanPoints, n));
            a.Write(out);
        }
    }
    return out.Bytes();
}

void Load(const uint8_t* data, size_t size) {
    static CUIT table;  // reused: the frame is large and the loader must cope with any previous state
    CMemorySource in(data, size);
    int r = table.Read(in);
    if (r != kFileOk && r != kFileCorrupt) __builtin_trap();
    if (r == kFileOk) {
        for (auto& w : table.windows)
            for (int c = 0; c < kComponents; ++c) EvaluateComponent(w.signals[c], c, 1);
        table.WriteAllWindows();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Load(data, size);
    static const std::vector<uint8_t> base = ValidFile();
    if (size < 2) return 0;
    // Cut and patch a valid file; patch offsets count back from its end, where the windows are.
    std::vector<uint8_t> f = base;
    size_t cut = size_t(data[0] | data[1] << 8);
    if (cut != 0xFFFF) f.resize(256 + kFrameSize + kMaskSize + (f.size() - 256 - kFrameSize - kMaskSize) * cut / 0xFFFF);
    for (size_t i = 2; i + 4 <= size; i += 4) {
        size_t off = size_t(data[i] | data[i + 1] << 8 | data[i + 2] << 16);
        if (data[i + 2] & 0x80) {
            if (f.size() > 256 + size_t(kFrameSize + kMaskSize))
                f[f.size() - 1 - off % (f.size() - 256 - kFrameSize - kMaskSize)] = data[i + 3];
        } else {
            f[off % 256] = data[i + 3];  // the header
        }
    }
    Load(f.data(), f.size());
    return 0;
}
