// Makes the factory data files that the sample models name (logos, line signals, fonts,
// calibration tables) in the program folder at build time, so no binaries live in the tree.
// Usage: varo_factorydata OUTPUT_FOLDER
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

bool Save(const std::filesystem::path& p, const Bytes& b) {
    std::filesystem::create_directories(p.parent_path());
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

struct Yca {
    int y, cb, cr, a;  // studio range, a = opacity 0..255
};

// A station logo: an opaque rounded badge with a light ring, transparent outside.
Yca LogoPixel(int x, int y, int w, int h) {
    double nx = (x - w / 2.0) / (w / 2.0), ny = (y - h / 2.0) / (h / 2.0);
    double r = std::pow(std::pow(std::fabs(nx), 4) + std::pow(std::fabs(ny), 4), 0.25);
    if (r > 1.0) return {16, 128, 128, 0};
    if (r > 0.86) return {200, 128, 128, 255};
    bool stripe = ((x / 8) + (y / 8)) % 2 == 0;
    return {stripe ? 81 : 60, 90, 240, 230};
}

// Format 4: five bytes per pair, Cb and Cr 7 bits, opacity 5 bits.
Bytes Format4(int w, int h) {
    Bytes b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            Yca p0 = LogoPixel(x, y, w, h), p1 = LogoPixel(x + 1, y, w, h);
            int a0 = p0.a >> 3, a1 = p1.a >> 3;
            b.push_back(uint8_t(((a0 & 1) << 7) | (p0.cb >> 1)));
            b.push_back(uint8_t(p0.y));
            b.push_back(uint8_t(((a1 & 1) << 7) | (p1.cr >> 1)));
            b.push_back(uint8_t(p1.y));
            b.push_back(uint8_t(((a1 >> 1) << 4) | (a0 >> 1)));
        }
    return b;
}

// Format 1: two 16-bit words (Y << 9) | (A << 6) | C, 7/6/3 bits.
Bytes Format1(int w, int h) {
    Bytes b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            Yca p[2] = {LogoPixel(x, y, w, h), LogoPixel(x + 1, y, w, h)};
            for (int k = 0; k < 2; ++k) {
                int c = k == 0 ? p[k].cb : p[k].cr;
                uint16_t word = uint16_t(((p[k].y >> 1) << 9) | ((p[k].a >> 5) << 6) | (c >> 2));
                b.push_back(uint8_t(word));
                b.push_back(uint8_t(word >> 8));
            }
        }
    return b;
}

// One test line of the 768-pixel table layout: Dr, Y0, Db, Y1 per pair, signal from pixel 9.
Bytes Line(int kind) {
    Bytes b(1536);
    for (int pair = 0; pair < 384; ++pair) {
        int y = 16, cb = 128, cr = 128;
        int k = pair * 2 - 9;
        if (k >= 0 && k < 702) {
            if (kind == 0) {
                // 75% colour bars: white, yellow, cyan, green, magenta, red, blue, black.
                static const int bars[8][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                                               {84, 184, 198}, {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};
                const int* c = bars[k * 8 / 702];
                y = c[0], cb = c[1], cr = c[2];
            } else {
                // Multiburst: six packets of rising frequency around mid grey.
                int packet = k * 6 / 702;
                double f = 0.05 + 0.08 * packet;
                y = 126 + int(std::lround(90 * std::sin(f * k)));
            }
        }
        b[size_t(pair) * 4 + 0] = uint8_t(cr);
        b[size_t(pair) * 4 + 1] = uint8_t(y);
        b[size_t(pair) * 4 + 2] = uint8_t(cb);
        b[size_t(pair) * 4 + 3] = uint8_t(y);
    }
    return b;
}

// 256 glyph cells of 16 rows by 32 pixels, 1 bit per pixel: a blocky test font.
Bytes Font() {
    Bytes b(16384);
    for (int g = 0; g < 256; ++g)
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 4; ++col) {
                uint8_t bits = 0;
                if (g >= 32 && row >= 2 && row < 14) bits = uint8_t(((g * 37 + row * 11 + col * 5) & 0xFF) | 0x18);
                b[size_t(g) * 64 + size_t(row) * 4 + size_t(col)] = bits;
            }
    return b;
}

// A caption bar as the black and white versions of a 24-bit BMP pair (name.bmp, name_W.bmp),
// which the picture loader turns into colour with opacity: an opaque orange accent on the
// left, a dark blue bar that fades out towards the right, soft top and bottom edges.
Bytes CaptionBmp(int w, int h, bool overWhite) {
    const int row = (w * 3 + 3) / 4 * 4;
    Bytes b(54 + size_t(row) * size_t(h), 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, uint32_t(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    b[26] = 1;
    b[28] = 24;
    put32(34, uint32_t(b.size() - 54));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double r, g, bl, a;
            if (x >= 6 && x < 14) {
                r = 240, g = 140, bl = 20, a = 1.0;
            } else {
                const double t = double(x) / (w - 1);
                r = 10 + 20 * t, g = 30 + 40 * t, bl = 90 + 60 * t;
                a = x < 6 ? 0.0 : 0.85 * std::min(1.0, (1.0 - t) * 4.0);
            }
            const double edge = std::min({1.0, (y + 0.5) / 3.0, (h - y - 0.5) / 3.0});
            a *= edge;
            const double back = overWhite ? 255.0 * (1.0 - a) : 0.0;
            uint8_t* px = &b[54 + size_t(h - 1 - y) * size_t(row) + size_t(x) * 3];
            px[0] = uint8_t(std::lround(bl * a + back));
            px[1] = uint8_t(std::lround(g * a + back));
            px[2] = uint8_t(std::lround(r * a + back));
        }
    }
    return b;
}

// A 24-bit bottom-up BMP of w x h from a colour function (r, g, b).
template <class F>
Bytes Bmp24(int w, int h, F colour) {
    const int row = (w * 3 + 3) / 4 * 4;
    Bytes b(54 + size_t(row) * size_t(h), 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, uint32_t(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    b[26] = 1;
    b[28] = 24;
    put32(34, uint32_t(b.size() - 54));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int r, g, bl;
            colour(x, y, r, g, bl);
            uint8_t* px = &b[54 + size_t(h - 1 - y) * size_t(row) + size_t(x) * 3];
            px[0] = uint8_t(bl);
            px[1] = uint8_t(g);
            px[2] = uint8_t(r);
        }
    return b;
}

// A multiscreen display background in format 2 (Cb Y0 Cr Y1 per pixel pair) at half size:
// a dark gradient with a faint grid, tinted per display.
Bytes MultiscreenBackground(int w, int h, int display) {
    Bytes b;
    b.reserve(size_t(w) * size_t(h) * 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            const bool grid = y % 30 == 0 || x % 30 == 0;
            const int luma = grid ? 64 : 28 + 24 * y / h;
            b.push_back(uint8_t(display == 0 ? 150 : 118));
            b.push_back(uint8_t(luma));
            b.push_back(uint8_t(display == 0 ? 118 : 142));
            b.push_back(uint8_t(luma));
        }
    return b;
}

// An audio meter: green, then yellow, then red towards the loud end, with dark segment gaps.
void MeterColour(int along, int length, bool gap, int& r, int& g, int& bl) {
    const int t = along * 100 / std::max(length, 1);
    if (gap) {
        r = g = bl = 20;
    } else if (t < 70) {
        r = 40, g = 200, bl = 60;
    } else if (t < 88) {
        r = 230, g = 210, bl = 40;
    } else {
        r = 230, g = 40, bl = 30;
    }
}

Bytes Ramp(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 64;
    }
    std::filesystem::path out = argv[1];
    bool ok = true;
    ok &= Save(out / "HD-OVL" / "logo1.raw", Format4(256, 128));
    ok &= Save(out / "HD-OVL" / "bars.lin", Line(0));
    ok &= Save(out / "HD-OVL" / "multiburst.lin", Line(1));
    ok &= Save(out / "HD-OVL" / "font.bin", Font());
    ok &= Save(out / "HD-OVL" / "calib.bin", Ramp(256, 0x40));
    ok &= Save(out / "HD-OVL" / "caption.bmp", CaptionBmp(512, 64, false));
    ok &= Save(out / "HD-OVL" / "caption_W.bmp", CaptionBmp(512, 64, true));
    ok &= Save(out / "HD-OVL" / "options.bin", Ramp(64, 0x01));
    ok &= Save(out / "HD-OVL" / "ms_display1.raw", MultiscreenBackground(960, 540, 0));
    ok &= Save(out / "HD-OVL" / "ms_display2.raw", MultiscreenBackground(960, 540, 1));
    ok &= Save(out / "HD-OVL" / "ms_meter_h.bmp", Bmp24(240, 16, [](int x, int y, int& r, int& g, int& b) {
                   MeterColour(x, 240, x % 8 == 7 || y == 0 || y == 15, r, g, b);
               }));
    ok &= Save(out / "HD-OVL" / "ms_meter_v.bmp", Bmp24(16, 240, [](int x, int y, int& r, int& g, int& b) {
                   MeterColour(239 - y, 240, y % 8 == 0 || x == 0 || x == 15, r, g, b);
               }));
    ok &= Save(out / "HD-OVL" / "ms_title.bmp", Bmp24(320, 40, [](int x, int y, int& r, int& g, int& b) {
                   const bool accent = x < 6;
                   r = accent ? 240 : 16 + y / 4, g = accent ? 140 : 24 + y / 4, b = accent ? 20 : 60 + y;
               }));
    ok &= Save(out / "HD-OVL" / "ms_stereo.bmp", Bmp24(64, 240, [](int x, int y, int& r, int& g, int& b) {
                   const bool edge = x < 2 || x > 61 || y < 2 || y > 237;
                   r = g = b = edge ? 200 : 10;
               }));
    ok &= Save(out / "SD-OVL" / "logo1.raw", Format1(128, 64));
    ok &= Save(out / "SD-OVL" / "calib.bin", Ramp(256, 0x20));
    ok &= Save(out / "VOL" / "logo.raw", Format1(96, 48));
    if (!ok) {
        std::fprintf(stderr, "varo_factorydata: cannot write into %s\n", argv[1]);
        return 73;
    }
    return 0;
}
