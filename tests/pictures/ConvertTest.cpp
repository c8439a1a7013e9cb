// Device picture conversions: exact bytes against hand-computed pairs and against a plain
// per-pixel rendition of the colour maths; bit reductions, saturation, line lengths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pictures/PictureConvert.h"

namespace {
std::vector<uint8_t> ToDevice(const CPicture& pic, bool hdtv, int format, int sat = 100, int line = 0) {
    int L = line ? line : pic.Width();
    std::vector<uint8_t> buf(DeviceBufferSize(format, L, pic.Height()), 0xA5);
    EXPECT_TRUE(PictureToDevice(pic, hdtv, format, sat, buf.data(), buf.size(), line));
    return buf;
}

CPicture Pair(uint32_t p0, uint32_t p1) {
    CPicture pic(2, 1);
    pic.At(0, 0) = p0;
    pic.At(1, 0) = p1;
    return pic;
}

// The colour maths written out plainly, one pixel pair at a time, as the reference the
// optimised conversions must match byte for byte.
namespace ref {
struct K {
    float yr, yg, yb, cbb, cbg, cbr, crr, crg, crb, rcr, gcr, gcb, bcb;
};
const K k601{0.257f, 0.504f, 0.098f, 0.439f, 0.291f, 0.148f, 0.439f, 0.368f, 0.071f, 1.596f, 0.813f, 0.391f, 2.018f};
const K k709{0.183f, 0.614f, 0.062f, 0.439f, 0.338f, 0.101f, 0.439f, 0.399f, 0.040f, 1.793f, 0.534f, 0.213f, 2.115f};

int Bits(int format, char what) {
    switch (format) {
    case 0: return what == 'Y' ? 6 : what == 'C' ? 6 : 4;
    case 1: return what == 'Y' ? 7 : what == 'C' ? 6 : 3;
    case 3: return 8;
    case 4: return what == 'Y' ? 8 : what == 'C' ? 7 : 5;
    default: return 8;
    }
}
int Reduce(float v, int n) {
    if (n >= 8) return int(v);
    int r = int(std::floor(v / float(1 << (8 - n)) + 0.5f));
    return std::min(r, (1 << n) - 1);
}
int Expand(int v, int n) {
    if (n >= 8) return v;
    if (v < 1) return 0;
    if (v >= (1 << n) - 1) return 255;
    return v * (1 << (8 - n));
}
struct YC {
    int y;
    float cb, cr;
};
void Pixel(uint32_t p, const K& k, int& y, float& cb, float& cr) {
    float R = float((p >> 16) & 255), G = float((p >> 8) & 255), B = float(p & 255);
    y = std::clamp(int(std::floor(k.yr * R + k.yg * G + k.yb * B + 0.5f)) + 16, 16, 235);
    cb = k.cbb * B - k.cbg * G - k.cbr * R;
    cr = k.crr * R - k.crg * G - k.crb * B;
}
float PairChroma(float c0, float c1, float s) {
    float v = std::floor((c0 + c1) * 0.5f + 0.5f) * s + 128.0f;
    return std::clamp(v, 16.0f, 240.0f);
}
std::vector<uint8_t> ToDevice(const CPicture& pic, bool hd, int f, int sat, int line) {
    const K& k = hd ? k709 : k601;
    int L = line ? line : pic.Width();
    std::vector<uint8_t> buf(DeviceBufferSize(f, L, pic.Height()), 0xA5);
    if (sat < 10 || sat > 100) sat = 100;
    float s = 1.0f;
    if (sat != 100) {
        int m = 0;
        for (int y = 0; y < pic.Height(); ++y)
            for (int x = 0; x + 1 < pic.Width(); x += 2) {
                int y0, y1;
                float a0, a1, b0, b1;
                Pixel(pic.At(x, y), k, y0, a0, b0);
                Pixel(pic.At(x + 1, y), k, y1, a1, b1);
                m = std::max(m, std::abs(int(PairChroma(a0, a1, 1)) - 128));
                m = std::max(m, std::abs(int(PairChroma(b0, b1, 1)) - 128));
            }
        if (m > 0 && sat * 112 < m * 100) s = float(sat * 112) / float(m * 100);
    }
    int bpp = DeviceBytesPerPair(f);
    for (int y = 0; y < pic.Height(); ++y)
        for (int x = 0; x + 1 < pic.Width(); x += 2) {
            uint32_t p0 = pic.At(x, y), p1 = pic.At(x + 1, y);
            int Y0, Y1;
            float cb0, cb1, cr0, cr1;
            Pixel(p0, k, Y0, cb0, cr0);
            Pixel(p1, k, Y1, cb1, cr1);
            float Cb = PairChroma(cb0, cb1, s), Cr = PairChroma(cr0, cr1, s);
            int A0 = 255 - int(p0 >> 24), A1 = 255 - int(p1 >> 24);
            int y0 = Reduce(float(Y0), Bits(f, 'Y')), y1 = Reduce(float(Y1), Bits(f, 'Y'));
            int cb = Reduce(Cb, Bits(f, 'C')), cr = Reduce(Cr, Bits(f, 'C'));
            int a0 = Reduce(float(A0), Bits(f, 'A')), a1 = Reduce(float(A1), Bits(f, 'A'));
            uint8_t* o = &buf[size_t(y) * size_t(L / 2) * size_t(bpp) + size_t(x / 2) * size_t(bpp)];
            auto w16 = [](uint8_t* q, unsigned v) { q[0] = uint8_t(v); q[1] = uint8_t(v >> 8); };
            auto w32 = [](uint8_t* q, unsigned v) { for (int i = 0; i < 4; ++i) q[i] = uint8_t(v >> (8 * i)); };
            switch (f) {
            case 0: {
                unsigned w0 = unsigned(y0 << 10 | a0 << 6 | cb), w1 = unsigned(y1 << 10 | a1 << 6 | cr);
                w16(o, (w0 >> 2) | ((w0 & 3) << 14));
                w16(o + 2, (w1 >> 2) | ((w1 & 3) << 14));
                break;
            }
            case 1:
                w16(o, unsigned(y0 << 9 | a0 << 6 | cb));
                w16(o + 2, unsigned(y1 << 9 | a1 << 6 | cr));
                break;
            case 3:
                w32(o, unsigned(y0 << 16 | cb << 8 | a0));
                w32(o + 4, unsigned(y1 << 16 | cr << 8 | a1));
                break;
            case 4:
                o[0] = uint8_t((a0 & 1) << 7 | cb);
                o[1] = uint8_t(y0);
                o[2] = uint8_t((a1 & 1) << 7 | cr);
                o[3] = uint8_t(y1);
                o[4] = uint8_t((a1 >> 1) << 4 | (a0 >> 1));
                break;
            default:
                w16(o, unsigned(y0 << 8 | cb));
                w16(o + 2, unsigned(y1 << 8 | cr));
            }
        }
    return buf;
}

uint32_t Rgb(int y, int cb, int cr, int a, const K& k) {
    float Yp = float(y - 16) * 1.164f, Cb = float(cb - 128), Cr = float(cr - 128);
    auto ch = [](float v) { return unsigned(std::clamp(int(std::floor(v + 0.5f)), 0, 255)); };
    unsigned R = ch(Yp + k.rcr * Cr), G = ch(Yp - k.gcr * Cr - k.gcb * Cb), B = ch(Yp + k.bcb * Cb);
    return unsigned(255 - a) << 24 | R << 16 | G << 8 | B;
}
void FromDevice(CPicture& pic, int L, const std::vector<uint8_t>& buf, bool hd, int f) {
    const K& k = hd ? k709 : k601;
    if (!L) L = pic.Width();
    int bpp = DeviceBytesPerPair(f);
    int bY = Bits(f, 'Y'), bC = Bits(f, 'C'), bA = Bits(f, 'A');
    for (int y = 0; y < pic.Height(); ++y)
        for (int x = 0; x + 1 < pic.Width(); x += 2) {
            const uint8_t* o = &buf[size_t(y) * size_t(L / 2) * size_t(bpp) + size_t(x / 2) * size_t(bpp)];
            int y0, y1, cb, cr, a0 = 255, a1 = 255;
            auto r16 = [](const uint8_t* q) { return unsigned(q[0] | q[1] << 8); };
            switch (f) {
            case 0:
            case 1: {
                unsigned w0 = r16(o), w1 = r16(o + 2);
                if (f == 0) {
                    w0 = ((w0 << 2) | (w0 >> 14)) & 0xFFFF;
                    w1 = ((w1 << 2) | (w1 >> 14)) & 0xFFFF;
                }
                int ys = f == 0 ? 10 : 9;
                y0 = int(w0 >> ys);
                y1 = int(w1 >> ys);
                a0 = int((w0 >> 6) & ((1u << bA) - 1));
                a1 = int((w1 >> 6) & ((1u << bA) - 1));
                cb = int(w0 & 63);
                cr = int(w1 & 63);
                a0 = Expand(a0, bA);
                a1 = Expand(a1, bA);
                break;
            }
            case 3:
                a0 = o[0], cb = o[1], y0 = o[2], a1 = o[4], cr = o[5], y1 = o[6];
                break;
            case 4:
                cb = o[0] & 127, y0 = o[1], cr = o[2] & 127, y1 = o[3];
                a0 = Expand((o[4] & 15) << 1 | o[0] >> 7, 5);
                a1 = Expand((o[4] >> 4) << 1 | o[2] >> 7, 5);
                break;
            default:
                cb = o[0], y0 = o[1], cr = o[2], y1 = o[3];
            }
            y0 = Expand(y0, bY), y1 = Expand(y1, bY), cb = Expand(cb, bC), cr = Expand(cr, bC);
            pic.At(x, y) = Rgb(y0, cb, cr, a0, k);
            pic.At(x + 1, y) = Rgb(y1, cb, cr, a1, k);
        }
}
}  // namespace ref

CPicture Random(int w, int h, uint32_t seed, bool randomTransparency = true) {
    std::mt19937 rng(seed);
    CPicture pic(w, h);
    for (int i = 0; i < w * h; ++i) {
        uint32_t v = rng();
        pic.Pixels()[i] = randomTransparency ? v : (v & 0xFFFFFF);
    }
    return pic;
}
}  // namespace

TEST(Convert, WhitePairBytesInEveryFormat) {
    struct Case {
        int format;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0, {0xF8, 0x3B, 0xF8, 0x3B}},  // Y6 59, A4 15, C6 32 -> 0xEFE0 rotated right by 2
        {1, {0xE0, 0xED, 0xE0, 0xED}},  // Y7 118, A3 7, C6 32
        {2, {0x80, 0xEB, 0x80, 0xEB}},
        {3, {0xFF, 0x80, 0xEB, 0x00, 0xFF, 0x80, 0xEB, 0x00}},
        {4, {0xC0, 0xEB, 0xC0, 0xEB, 0xFF}},  // C7 64, A5 31
        {7, {0x80, 0xEB, 0x80, 0xEB}},  // unlisted codes are laid out like 2
    };
    for (bool hd : {false, true})
        for (const auto& c : cases)
            EXPECT_EQ(ToDevice(Pair(0x00FFFFFF, 0x00FFFFFF), hd, c.format), c.bytes) << "format " << c.format << " hd " << hd;
}

TEST(Convert, RedPairBytesInBothColorimetries) {
    // 601: Y = floor(65.535 + .5) + 16 = 82, Cb = floor(-37.74 + .5) + 128 = 90, Cr = 112 + 128 = 240.
    EXPECT_EQ(ToDevice(Pair(0x00FF0000, 0x00FF0000), false, 2), (std::vector<uint8_t>{0x5A, 0x52, 0xF0, 0x52}));
    // 709: Y = floor(46.665 + .5) + 16 = 63, Cb = floor(-25.755 + .5) + 128 = 102.
    EXPECT_EQ(ToDevice(Pair(0x00FF0000, 0x00FF0000), true, 2), (std::vector<uint8_t>{0x66, 0x3F, 0xF0, 0x3F}));
    // A pair shares its chroma: red beside black averages -37.74 and 0 to floor(-18.87 + .5) = -19.
    EXPECT_EQ(ToDevice(Pair(0x00FF0000, 0x00000000), false, 2), (std::vector<uint8_t>{0x6D, 0x52, 0xB8, 0x10}));
}

TEST(Convert, Format0RotatedWordDecodes) {
    // Stored 0x3FF0 is 0xFFC0 rotated right by 2: Y 63, A 15, C 0, each expanded to 255, 255, 0.
    CPicture pic(2, 1);
    std::vector<uint8_t> buf = {0xF0, 0x3F, 0xF0, 0x3F};
    ASSERT_TRUE(DeviceToPicture(pic, 0, buf.data(), buf.size(), false, 0));
    // Y' = 239 * 1.164 = 278.196; R = 278.196 - 204.288 -> 74, G clamps to 255, B = 19.892 -> 20.
    EXPECT_EQ(pic.At(0, 0), 0x004AFF14u);
    EXPECT_EQ(pic.At(1, 0), 0x004AFF14u);
}

TEST(Convert, ExpansionMatchesFullPrecisionValues) {
    // A reduced value must decode exactly like the 8-bit value it expands to (format 3 keeps 8 bits).
    struct Case {
        int bits6, full;
    } cases[] = {{63, 255}, {1, 4}, {0, 0}, {32, 128}, {62, 248}};
    for (const auto& c : cases) {
        // Format 1: chroma has 6 bits. Luma 7 bits 100 -> 200.
        uint16_t w = uint16_t(100 << 9 | 7 << 6 | c.bits6);
        std::vector<uint8_t> f1 = {uint8_t(w), uint8_t(w >> 8), uint8_t(w), uint8_t(w >> 8)};
        std::vector<uint8_t> f3 = {255, uint8_t(c.full), 200, 0, 255, uint8_t(c.full), 200, 0};
        CPicture a(2, 1), b(2, 1);
        ASSERT_TRUE(DeviceToPicture(a, 0, f1.data(), f1.size(), true, 1));
        ASSERT_TRUE(DeviceToPicture(b, 0, f3.data(), f3.size(), true, 3));
        EXPECT_EQ(a.At(0, 0), b.At(0, 0)) << c.bits6;
    }
    // Opacity: format 0's 4-bit 1 is 16 (transparency 239), 15 is 255.
    for (auto [a4, trans] : {std::pair{1u, 239u}, {15u, 0u}, {0u, 255u}, {8u, 127u}}) {
        unsigned w = 40u << 10 | a4 << 6 | 32u;
        unsigned s = (w >> 2) | ((w & 3) << 14);
        std::vector<uint8_t> f0 = {uint8_t(s), uint8_t(s >> 8), uint8_t(s), uint8_t(s >> 8)};
        CPicture p(2, 1);
        ASSERT_TRUE(DeviceToPicture(p, 0, f0.data(), f0.size(), false, 0));
        EXPECT_EQ(p.At(0, 0) >> 24, trans) << a4;
    }
}

TEST(Convert, SaturationCapsOnlyStrongChroma) {
    // (219, 128, 128) in BT.601: Cr = floor(0.439 * 91 + .5) = 40, Cb = -13: strongest excursion 40.
    CPicture weak = Pair(0x00DB8080, 0x00DB8080);
    auto full = ToDevice(weak, false, 3, 100);
    EXPECT_EQ(full[5], 168);
    EXPECT_EQ(ToDevice(weak, false, 3, 50), full);  // 50 x 112 = 5600 is not below 4000
    EXPECT_NE(ToDevice(weak, false, 3, 35), full);  // 3920 < 4000: factor 0.98
    EXPECT_FLOAT_EQ(SaturationFactor(weak, false, 35), 3920.0f / 4000.0f);

    CPicture red = Pair(0x00FF0000, 0x00FF0000);  // excursion 112
    auto red100 = ToDevice(red, false, 2, 100);
    for (int s : {5, 9, 101, 120, -3}) EXPECT_EQ(ToDevice(red, false, 2, s), red100) << s;
    // 50%: factor 0.5; Cb = -38 x .5 + 128 = 109, Cr = 112 x .5 + 128 = 184.
    EXPECT_EQ(ToDevice(red, false, 2, 50), (std::vector<uint8_t>{0x6D, 0x52, 0xB8, 0x52}));
    // 10% is honoured: 112 x 0.1 + 128 = 139.2, truncated.
    EXPECT_EQ(ToDevice(red, false, 2, 10)[2], 139);
}

TEST(Convert, ColourToDevice) {
    EXPECT_EQ(ColourToDevice(0x00FFFFFF, 100), 0x8080EBu);
    EXPECT_EQ(ColourToDevice(0x000000FF, 100), 0xF0663Fu);  // red in the low byte: 709 Y 63, Cb 102, Cr 240
    EXPECT_EQ(ColourToDevice(0x000000FF, 120), 0xF0663Fu);
    // 50% of red: m = 112, factor 0.5: Cb = -26 x .5 + 128 = 115, Cr = 184.
    EXPECT_EQ(ColourToDevice(0x000000FF, 50), 0xB8733Fu);
    EXPECT_EQ(ColourToDevice(0x00808080, 10) & 0xFFFF00, 0x808000u);  // grey has no chroma to cap
}

TEST(Convert, FullyTransparentPixelHasNoOpacity) {
    CPicture p = Pair(0xFF123456, 0xFF654321);
    struct Case {
        int format;
        std::vector<size_t> byteIdx;
        std::vector<uint8_t> mask;
    } cases[] = {
        {0, {0, 2}, {0xF0, 0xF0}},        // A bits sit at 6..9 of the word, 4..7 once rotated
        {1, {0, 1, 2, 3}, {0xC0, 0x01, 0xC0, 0x01}},
        {3, {0, 4}, {0xFF, 0xFF}},
        {4, {0, 2, 4}, {0x80, 0x80, 0xFF}},
    };
    for (const auto& c : cases) {
        auto b = ToDevice(p, false, c.format);
        for (size_t i = 0; i < c.byteIdx.size(); ++i) EXPECT_EQ(b[c.byteIdx[i]] & c.mask[i], 0) << c.format;
        CPicture back(2, 1);
        ASSERT_TRUE(DeviceToPicture(back, 0, b.data(), b.size(), false, c.format));
        EXPECT_EQ(back.At(0, 0) >> 24, 255u) << c.format;
        EXPECT_EQ(back.At(1, 0) >> 24, 255u) << c.format;
    }
    // Format 2 stores no opacity and reads back opaque.
    auto b2 = ToDevice(p, false, 2);
    CPicture back(2, 1);
    ASSERT_TRUE(DeviceToPicture(back, 0, b2.data(), b2.size(), false, 2));
    EXPECT_EQ(back.At(0, 0) >> 24, 0u);
}

TEST(Convert, MatchesPlainArithmeticExactly) {
    // Random pictures (odd widths, line lengths beyond the width, random transparency) in every
    // format, both colorimetries and several saturations: the same bytes as the plain version,
    // and nothing written beyond the picture width.
    int n = 0;
    for (int format : {0, 1, 2, 3, 4, 9})
        for (bool hd : {false, true})
            for (int sat : {100, 60, 10})
                for (auto [w, h, L] : {std::tuple{37, 5, 0}, {16, 3, 22}, {9, 4, 14}, {2, 1, 0}}) {
                    CPicture pic = Random(w, h, uint32_t(++n));
                    EXPECT_EQ(ToDevice(pic, hd, format, sat, L), ref::ToDevice(pic, hd, format, sat, L))
                        << "format " << format << " hd " << hd << " sat " << sat << " w " << w;
                }
}

TEST(Convert, SweepOfColoursMatchesPlainArithmetic) {
    // Every colour on a grid of step 3 (636056 colours), each paired with a random partner.
    std::vector<uint32_t> colours;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 3) colours.push_back(uint32_t(r << 16 | g << 8 | b));
    CPicture pic(1024, int((colours.size() + 511) / 512));
    std::mt19937 rng(7);
    for (size_t i = 0; i < size_t(pic.Width()) * size_t(pic.Height()); ++i)
        pic.Pixels()[i] = (i % 2 == 0 && i / 2 < colours.size()) ? colours[i / 2] : (rng() & 0xFFFFFF);
    for (bool hd : {false, true}) EXPECT_TRUE(ToDevice(pic, hd, 3) == ref::ToDevice(pic, hd, 3, 100, 0)) << hd;
}

TEST(Convert, DeviceToPictureMatchesPlainArithmetic) {
    std::mt19937 rng(11);
    for (int format : {0, 1, 2, 3, 4, 8})
        for (bool hd : {false, true})
            for (auto [w, h, L] : {std::tuple{38, 4, 0}, {15, 3, 20}, {8, 2, 12}}) {
                int line = L ? L : w;
                std::vector<uint8_t> buf(DeviceBufferSize(format, line, h));
                for (auto& b : buf) b = uint8_t(rng());
                CPicture a(w, h), b(w, h);
                a.Fill(0x12345678);
                b.Fill(0x12345678);
                ASSERT_TRUE(DeviceToPicture(a, L, buf.data(), buf.size(), hd, format));
                ref::FromDevice(b, L, buf, hd, format);
                EXPECT_EQ(std::memcmp(a.Pixels(), b.Pixels(), size_t(w * h) * 4), 0) << format << " " << hd << " " << w;
            }
    // Every 8-bit Y, Cb, Cr combination on a grid, through format 3.
    CPicture pic(512, 256);
    std::vector<uint8_t> buf(DeviceBufferSize(3, 512, 256));
    for (size_t i = 0; i < buf.size() / 8; ++i) {
        buf[8 * i] = uint8_t(i * 7);
        buf[8 * i + 1] = uint8_t(i);
        buf[8 * i + 2] = uint8_t(i >> 8);
        buf[8 * i + 5] = uint8_t((i >> 8) * 3 + i);
        buf[8 * i + 6] = uint8_t(i >> 4);
    }
    CPicture want(512, 256);
    for (bool hd : {false, true}) {
        ASSERT_TRUE(DeviceToPicture(pic, 0, buf.data(), buf.size(), hd, 3));
        ref::FromDevice(want, 0, buf, hd, 3);
        EXPECT_EQ(std::memcmp(pic.Pixels(), want.Pixels(), size_t(512 * 256) * 4), 0) << hd;
    }
}

TEST(Convert, RoundTripWithinQuantisation) {
    // Pairs of equal pixels (4:2:2 shares chroma), opaque to transparent. Opacity of n bits
    // rounds to the nearest step, but its top code reads back as 255, so the top step spans
    // 1.5 steps: 23 for 4 bits, 47 for 3, 11 for 5.
    struct Case {
        int format, rgbTol, transTol;
    } cases[] = {{0, 9, 23}, {1, 7, 47}, {2, 3, 0}, {3, 3, 0}, {4, 4, 11}};
    std::mt19937 rng(3);
    CPicture pic(64, 32);
    for (int i = 0; i < 64 * 32; i += 2) pic.Pixels()[i] = pic.Pixels()[i + 1] = rng();
    for (const auto& c : cases)
        for (bool hd : {false, true}) {
            auto buf = ToDevice(pic, hd, c.format);
            CPicture back(64, 32);
            ASSERT_TRUE(DeviceToPicture(back, 0, buf.data(), buf.size(), hd, c.format));
            int worst = 0, worstT = 0;
            for (int i = 0; i < 64 * 32; ++i) {
                uint32_t a = pic.Pixels()[i], b = back.Pixels()[i];
                for (int s = 0; s < 24; s += 8) worst = std::max(worst, std::abs(int((a >> s) & 255) - int((b >> s) & 255)));
                if (c.format != 2) worstT = std::max(worstT, std::abs(int(a >> 24) - int(b >> 24)));
            }
            EXPECT_LE(worst, c.rgbTol) << c.format << " " << hd;
            EXPECT_LE(worstT, c.transTol) << c.format << " " << hd;
        }
}

TEST(Convert, LineLengthRowsAndChecks) {
    CPicture pic = Random(6, 3, 5);
    // Format 4 with line length 10: rows 25 bytes apart, bytes 15..24 of each row untouched.
    std::vector<uint8_t> buf(DeviceBufferSize(4, 10, 3), 0xA5);
    ASSERT_EQ(buf.size(), 75u);
    ASSERT_TRUE(PictureToDevice(pic, false, 4, 100, buf.data(), buf.size(), 10));
    for (int y = 0; y < 3; ++y)
        for (int i = 15; i < 25; ++i) EXPECT_EQ(buf[size_t(y * 25 + i)], 0xA5);
    CPicture row1(6, 1);
    row1.CopyRect(pic, 0, 0, 0, 1, 6, 1);
    EXPECT_TRUE(std::equal(buf.begin() + 25, buf.begin() + 40, ToDevice(row1, false, 4).begin()));

    // Refused without touching anything: buffer too small, line shorter than the picture.
    std::vector<uint8_t> small(DeviceBufferSize(2, 6, 3) - 1, 0x11);
    EXPECT_FALSE(PictureToDevice(pic, false, 2, 100, small.data(), small.size(), 0));
    EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](uint8_t b) { return b == 0x11; }));
    EXPECT_FALSE(PictureToDevice(pic, false, 2, 100, buf.data(), buf.size(), 4));
    CPicture out(6, 3);
    EXPECT_FALSE(DeviceToPicture(out, 0, small.data(), small.size(), false, 2));
}

TEST(Convert, CompressedFormatsGoThroughTheCodecSeam) {
    CPicture pic = Random(4, 2, 9);
    std::vector<uint8_t> buf(600064);
    SetCompressedPictureCodec(nullptr);
    EXPECT_FALSE(PictureToDevice(pic, true, 5, 100, buf.data(), buf.size(), 0));
    EXPECT_FALSE(PictureToDevice(pic, true, 6, 100, buf.data(), buf.size(), 0));

    struct Recorder : ICompressedPictureCodec {
        int calls = 0, lastFormat = -1;
        bool Handles(int f) const override { return f == 6; }
        bool PictureToDevice(const CPicture&, bool, int f, int, uint8_t*, size_t, int) override {
            ++calls;
            lastFormat = f;
            return true;
        }
        bool DeviceToPicture(CPicture&, int, const uint8_t*, size_t, bool, int f) override {
            ++calls;
            lastFormat = f;
            return true;
        }
    } codec;
    SetCompressedPictureCodec(&codec);
    EXPECT_TRUE(PictureToDevice(pic, true, 6, 100, buf.data(), buf.size(), 0));
    EXPECT_TRUE(DeviceToPicture(pic, 0, buf.data(), buf.size(), true, 6));
    EXPECT_FALSE(PictureToDevice(pic, true, 5, 100, buf.data(), buf.size(), 0));
    EXPECT_EQ(codec.calls, 2);
    EXPECT_EQ(codec.lastFormat, 6);
    SetCompressedPictureCodec(nullptr);
}

namespace {
// Format 2 bytes (Cb Y0 Cr Y1 per pair) split into planes the way the codec frames take them.
void SplitFormat2(const std::vector<uint8_t>& packed, int w, int h, std::vector<uint8_t>& y, std::vector<uint8_t>& cb,
                  std::vector<uint8_t>& cr) {
    y.assign(size_t(w) * h, 0);
    cb.assign(size_t(w / 2) * ((h + 1) / 2), 0);
    cr = cb;
    for (int line = 0; line < h; ++line)
        for (int i = 0; i < w / 2; ++i) {
            const uint8_t* p = &packed[(size_t(line) * (w / 2) + i) * 4];
            y[size_t(line) * w + 2 * i] = p[1];
            y[size_t(line) * w + 2 * i + 1] = p[3];
            if (line & 1) continue;
            cb[size_t(line / 2) * (w / 2) + i] = p[0];
            cr[size_t(line / 2) * (w / 2) + i] = p[2];
        }
}
}  // namespace

TEST(Convert, PlanesMatchFormat2OfEvenRows) {
    // Widths that leave every kind of tail after the 32-pixel vector groups; odd row counts;
    // the colour sweep of step 3 for the extremes. Odd rows' chroma never shows.
    std::vector<CPicture> pics;
    for (auto [w, h] : {std::pair{1920, 6}, {70, 5}, {38, 3}, {6, 1}, {2, 2}}) pics.push_back(Random(w, h, uint32_t(w + h)));
    CPicture sweep(1024, 1040);
    size_t n = 0;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 3, ++n) sweep.Pixels()[n] = uint32_t(r << 16 | g << 8 | b);
    pics.push_back(sweep);
    for (const CPicture& pic : pics) {
        const int w = pic.Width(), h = pic.Height();
        std::vector<uint8_t> packed(DeviceBufferSize(2, w, h));
        ASSERT_TRUE(PictureToDevice(pic, true, 2, 100, packed.data(), packed.size()));
        std::vector<uint8_t> wy, wcb, wcr;
        SplitFormat2(packed, w, h, wy, wcb, wcr);
        std::vector<uint8_t> y(wy.size(), 0xEE), cb(wcb.size(), 0xEE), cr(wcb.size(), 0xEE);
        RowsToPlanes709(pic.Row(0), w, h, y.data(), cb.data(), cr.data());
        EXPECT_EQ(y, wy) << w << "x" << h;
        EXPECT_EQ(cb, wcb) << w << "x" << h;
        EXPECT_EQ(cr, wcr) << w << "x" << h;

        // Back: each row with the chroma of row / 2 gives what format 2 of those values gives.
        std::vector<uint8_t> repacked(packed.size());
        for (int line = 0; line < h; ++line)
            for (int i = 0; i < w / 2; ++i) {
                uint8_t* p = &repacked[(size_t(line) * (w / 2) + i) * 4];
                p[0] = wcb[size_t(line / 2) * (w / 2) + i];
                p[1] = wy[size_t(line) * w + 2 * i];
                p[2] = wcr[size_t(line / 2) * (w / 2) + i];
                p[3] = wy[size_t(line) * w + 2 * i + 1];
            }
        CPicture want(w, h), got(w, h);
        got.Fill(0x12345678);
        ASSERT_TRUE(DeviceToPicture(want, 0, repacked.data(), repacked.size(), true, 2));
        PlanesToRows709(wy.data(), wcb.data(), wcr.data(), w, h, got.Row(0));
        EXPECT_EQ(std::memcmp(want.Pixels(), got.Pixels(), size_t(w) * h * 4), 0) << w << "x" << h;
    }
}
