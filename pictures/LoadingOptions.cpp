#include "pictures/LoadingOptions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

void DitherPicture(CPicture& pic, CDitherRandom& rng) {
    auto* bytes = reinterpret_cast<uint8_t*>(pic.Pixels());
    size_t n = size_t(pic.Width()) * size_t(pic.Height()) * 4;
    // Pixels are 0xTTRRGGBB in memory order B, G, R, T on this (little-endian) machine.
    for (size_t i = 0; i < n; ++i) {
        if (i % 4 == 3) continue;
        int r1 = rng.Next();
        if (r1 < 8191) continue;
        int v = bytes[i] + rng.Next() / 6553 - 10;
        if (v >= 0 && v <= 255) bytes[i] = uint8_t(v);
    }
}

namespace {
const std::array<int, 511>& WeightTable() {
    static const std::array<int, 511> table = [] {
        std::array<int, 511> t{};
        for (int d = -255; d <= 255; ++d) t[size_t(d + 255)] = int(std::floor(21846.0 * std::sqrt(std::abs(d) / 255.0)));
        return t;
    }();
    return table;
}
}  // namespace

int VerticalFilterWeight(int d) { return WeightTable()[size_t(std::clamp(d, -255, 255) + 255)]; }

void VerticalFilter(CPicture& pic) {
    int w = pic.Width(), h = pic.Height();
    if (h < 3 || w <= 0) return;
    const auto& W = WeightTable();
    size_t rowBytes = size_t(w) * 4;
    // Each output uses the unfiltered rows above and below: keep the previous original row.
    std::vector<uint8_t> prev(rowBytes), cur(rowBytes);
    std::memcpy(prev.data(), pic.Row(0), rowBytes);
    for (int y = 1; y < h - 1; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(pic.Row(y));
        const auto* next = reinterpret_cast<const uint8_t*>(pic.Row(y + 1));
        std::memcpy(cur.data(), row, rowBytes);
        for (size_t i = 0; i < rowBytes; ++i) {
            int p = prev[i], c = cur[i], n = next[i];
            int e = W[size_t(p - c + 255)], f = W[size_t(n - c + 255)];
            row[i] = uint8_t((uint32_t(n * f) + uint32_t(65536 - f - e) * uint32_t(c) + uint32_t(p * e)) >> 16);
        }
        prev.swap(cur);
    }
}

void LumaKey(CPicture& pic, const LumaKeyOptions& opt) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    static const int kDx[5] = {0, -1, +1, -1, +1}, kDy[5] = {0, -1, -1, +1, +1};
    static const uint32_t kShadow[3] = {0x000000, 0x7F7F7F, 0xA0A0A0};
    int t = std::clamp(opt.transparencyIndex, 0, 9) * 16;
    int type = std::clamp(opt.shadowType, 0, 4), size = std::clamp(opt.shadowSize, 0, 4);
    uint32_t shadowRgb = kShadow[std::clamp(opt.shadowColour, 0, 2)];

    CPicture keyed(pic);
    uint32_t key = keyed.At(0, 0) & 0xFFFFFF;
    size_t n = size_t(w) * size_t(h);
    std::vector<int> mask(n), m1(n);
    for (size_t i = 0; i < n; ++i) mask[i] = (keyed.Pixels()[i] & 0xFFFFFF) == key ? 255 : 0;
    // 3 x 3 box sum / 9, with everything outside the picture counting as keyed.
    auto soften = [&](const std::vector<int>& in, std::vector<int>& out) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        int xx = x + dx, yy = y + dy;
                        sum += (xx < 0 || yy < 0 || xx >= w || yy >= h) ? 255 : in[size_t(yy) * size_t(w) + size_t(xx)];
                    }
                out[size_t(y) * size_t(w) + size_t(x)] = sum / 9;
            }
    };
    soften(mask, m1);
    for (int& v : m1) {
        if (v >= 1 && v <= 127) v = 2 * v;
        else if (v >= 128 && v <= 254) v = 255;
    }
    soften(m1, mask);
    for (size_t i = 0; i < n; ++i) {
        uint32_t tr = uint32_t(std::min(255, t + mask[i]));
        keyed.Pixels()[i] = (keyed.Pixels()[i] & 0xFFFFFF) | tr << 24;
    }
    if (type == 0) {
        pic = std::move(keyed);
        return;
    }
    int ox = size * kDx[type], oy = size * kDy[type];
    CPicture shadow(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sx = x + ox, sy = y + oy;
            if (sx >= 0 && sy >= 0 && sx < w && sy < h) {
                uint32_t tr = std::min(255u, uint32_t(t) + (keyed.At(sx, sy) >> 24));
                shadow.At(x, y) = shadowRgb | tr << 24;
            } else {
                shadow.At(x, y) = 0xFFFFFFFFu;
            }
        }
    shadow.SetFrameInfo(pic.FrameCount(), pic.FrameDelay());
    shadow.BlendRect(keyed, 0, 0, 0, 0, w, h);
    pic = std::move(shadow);
}

void ApplyLoadingOptions(CPicture& pic, bool dither, bool verticalFilter, CDitherRandom& rng) {
    if (dither) DitherPicture(pic, rng);
    if (verticalFilter) VerticalFilter(pic);
}
