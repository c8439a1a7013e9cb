// Arbitrary bytes into Tamo_Decode: as they are, and with the header and row indices made
// valid so the block decoder sees the rest. Nothing may read outside the input.
#include "codec/TamoLib.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {
struct Planes4K {
    std::vector<uint8_t> y = std::vector<uint8_t>(3840 * 2160);
    std::vector<uint8_t> cb = std::vector<uint8_t>(1920 * 1080);
    std::vector<uint8_t> cr = std::vector<uint8_t>(1920 * 1080);
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Planes4K planes;
    Tamo_Decode(data, int(size), planes.y.data(), planes.cb.data(), planes.cr.data());

    // The bytes as the data of row 0 of a stream whose other rows are empty.
    {
        const size_t words = (size + 3) / 4;
        if (words + 1 <= 0xFFFF) {
            const int type = size && (data[0] & 0x80) ? 2 : 1;
            const int rows = type == 1 ? 68 : 135;
            std::vector<uint8_t> s(32 + 4 + words * 4 + size_t(rows - 1) * 4, 0);
            std::memcpy(s.data(), "Tamo", 4);
            s[4] = uint8_t(type);
            s[34] = uint8_t((words + 1) >> 8);
            s[35] = uint8_t(words + 1);
            if (size) std::memcpy(s.data() + 36, data, size);
            for (int r = 1; r < rows; ++r) {
                uint8_t* h = s.data() + 36 + words * 4 + size_t(r - 1) * 4;
                h[0] = uint8_t(r);
                h[3] = 1;
            }
            // Also cut short inside row 0, where the reader must supply zero bits.
            int cut = int(36 + size / 2);
            Tamo_Decode(s.data(), cut, planes.y.data(), planes.cb.data(), planes.cr.data());
            std::unique_ptr<uint8_t[]> exact(new uint8_t[s.size()]);
            std::memcpy(exact.get(), s.data(), s.size());
            Tamo_Decode(exact.get(), int(s.size()), planes.y.data(), planes.cb.data(), planes.cr.data());
        }
    }

    if (size < 33) return 0;
    // An exact-size copy with a usable header and the row indices where the decoder looks.
    std::unique_ptr<uint8_t[]> s(new uint8_t[size]);
    std::memcpy(s.get(), data, size);
    std::memcpy(s.get(), "Tamo", 4);
    s[4] = uint8_t(1 + (data[4] & 1));
    const int rows = s[4] == 1 ? 68 : 135;
    size_t pos = 32;
    for (int r = 0; r < rows && pos + 4 <= size; ++r) {
        s[pos] = uint8_t(r);
        size_t n = (size_t(s[pos + 2]) << 8) | s[pos + 3];
        if (n == 0) break;
        pos += 4 * n;
    }
    Tamo_Decode(s.get(), int(size), planes.y.data(), planes.cb.data(), planes.cr.data());
    return 0;
}
