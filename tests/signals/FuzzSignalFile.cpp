// Signal files from any bytes: the loader must answer 0 or 2 and never touch memory it should not.
// Besides the raw input, the input is also applied as patches to a valid file so that the fuzzer
// reaches the spans and samples rather than stopping at the magic.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "signals/ByteStream.h"
#include "signals/SignalSet.h"

namespace {
std::vector<uint8_t> ValidFile() {
    SignalSet set;
    for (int c = 0; c < kComponents; ++c) {
        set[c].spans.clear();
        for (int n : {2, 300, 400}) set[c].spans.push_back(std::make_unique<CDataSpan>(c + 1, n));
    }
    CByteSink out;
    out.PutU32(kSigMagic);
    out.PutI32(3);
    out.PutZeros(248);
    for (int c = 0; c < kComponents; ++c) set[c].Write(out);
    return out.Bytes();
}

void Load(const uint8_t* data, size_t size) {
    SignalSet set;
    CMemorySource in(data, size);
    int r = ReadSignalFile(in, set);
    if (r != kFileOk && r != kFileCorrupt) __builtin_trap();
    if (r == kFileOk) {
        if (!set.IsConsistent()) __builtin_trap();
        EvaluateSignalSet(set);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Load(data, size);
    static const std::vector<uint8_t> base = ValidFile();
    if (size < 2) return 0;
    // First two bytes: where to cut the file (in 1/65536 of its length); then (offset, byte)
    // patches of 4 bytes each: 3 offset bytes and the value.
    std::vector<uint8_t> f = base;
    size_t cut = size_t(data[0] | data[1] << 8);
    if (cut != 0xFFFF) f.resize(f.size() * cut / 0xFFFF);
    for (size_t i = 2; i + 4 <= size; i += 4) {
        size_t off = size_t(data[i] | data[i + 1] << 8 | data[i + 2] << 16);
        if (!f.empty()) f[off % f.size()] = data[i + 3];
    }
    Load(f.data(), f.size());
    return 0;
}
