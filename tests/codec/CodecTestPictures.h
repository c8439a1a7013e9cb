#pragma once
// Pictures for codec tests and benchmarks: planes of a picture type, the natural pictures of
// the shared bench folder (read with libpng), synthetic ones, and PSNR.
#include "codec/TamoTables.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace codectest {

struct Planes {
    int type = 0;
    int width = 0;
    int height = 0;       // display lines
    int codedHeight = 0;  // lines in the planes
    std::vector<uint8_t> y, cb, cr;

    explicit Planes(int t = tamo::kTypeHD) : type(t) {
        const tamo::Geometry* g = tamo::GeometryOf(t);
        width = g->width;
        height = g->height;
        codedHeight = g->codedHeight;
        y.assign(size_t(width) * codedHeight, 0);
        cb.assign(size_t(width / 2) * (codedHeight / 2), 128);
        cr.assign(cb.size(), 128);
    }
    uint8_t& Y(int x, int l) { return y[size_t(l) * width + x]; }
    uint8_t& Cb(int x, int l) { return cb[size_t(l) * (width / 2) + x]; }
    uint8_t& Cr(int x, int l) { return cr[size_t(l) * (width / 2) + x]; }
};

// 8-bit RGB, 3 bytes per pixel. Empty when the file cannot be read.
inline std::vector<uint8_t> LoadPngRgb(const std::string& path, int& w, int& h) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return {};
    img.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&img);
        return {};
    }
    w = int(img.width);
    h = int(img.height);
    return rgb;
}

inline uint8_t Clamp8(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

// Full-range conversion, chroma averaged over 2 x 2; the picture is scaled to the type's size by
// nearest neighbour and its last line repeated into the coded lines below the display.
inline Planes FromRgb(const std::vector<uint8_t>& rgb, int w, int h, int type) {
    Planes p(type);
    std::vector<double> cbFull(size_t(p.width) * p.codedHeight), crFull(cbFull.size());
    for (int l = 0; l < p.codedHeight; ++l) {
        int sl = std::min(l, p.height - 1) * h / p.height;
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* s = &rgb[(size_t(sl) * w + size_t(x) * w / p.width) * 3];
            double r = s[0], g = s[1], b = s[2];
            p.Y(x, l) = Clamp8(0.299 * r + 0.587 * g + 0.114 * b);
            cbFull[size_t(l) * p.width + x] = 128 - 0.168736 * r - 0.331264 * g + 0.5 * b;
            crFull[size_t(l) * p.width + x] = 128 + 0.5 * r - 0.418688 * g - 0.081312 * b;
        }
    }
    for (int l = 0; l < p.codedHeight / 2; ++l)
        for (int x = 0; x < p.width / 2; ++x) {
            auto avg = [&](const std::vector<double>& f) {
                size_t i = size_t(2 * l) * p.width + 2 * x;
                return (f[i] + f[i + 1] + f[i + p.width] + f[i + p.width + 1]) / 4;
            };
            p.Cb(x, l) = Clamp8(avg(cbFull));
            p.Cr(x, l) = Clamp8(avg(crFull));
        }
    return p;
}

inline std::string BenchPicturePath(const std::string& name) {
    const char* src = std::getenv("VARO_SOURCE_DIR");
    std::string base = src ? std::string(src) + "/../shared/bench/" : std::string("/work/shared/bench/");
    std::FILE* f = std::fopen((base + name).c_str(), "rb");
    if (!f) base = "/work/shared/bench/";
    else std::fclose(f);
    return base + name;
}

// A bench picture as planes of the type; `ok` false when it cannot be read.
inline Planes BenchPicture(const std::string& name, int type, bool& ok) {
    int w = 0, h = 0;
    auto rgb = LoadPngRgb(BenchPicturePath(name), w, h);
    ok = !rgb.empty();
    return ok ? FromRgb(rgb, w, h, type) : Planes(type);
}

inline uint32_t NextRandom(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

enum class Synthetic { Flat, Gradient, Noise, Edges };

inline Planes MakeSynthetic(Synthetic kind, int type, uint32_t seed = 1) {
    Planes p(type);
    for (int l = 0; l < p.codedHeight; ++l)
        for (int x = 0; x < p.width; ++x) {
            uint8_t v = 128;
            switch (kind) {
            case Synthetic::Flat: v = 128; break;
            case Synthetic::Gradient: v = uint8_t((x * 255 / (p.width - 1) + l * 255 / (p.codedHeight - 1)) / 2); break;
            case Synthetic::Noise: v = uint8_t(NextRandom(seed)); break;
            case Synthetic::Edges: v = ((x / 37 + l / 29) % 2) ? 230 : 20; break;
            }
            p.Y(x, l) = v;
        }
    for (int l = 0; l < p.codedHeight / 2; ++l)
        for (int x = 0; x < p.width / 2; ++x) {
            switch (kind) {
            case Synthetic::Flat: break;
            case Synthetic::Gradient: p.Cb(x, l) = uint8_t(x * 255 / (p.width / 2 - 1)); p.Cr(x, l) = uint8_t(l * 255 / (p.codedHeight / 2 - 1)); break;
            case Synthetic::Noise: p.Cb(x, l) = uint8_t(NextRandom(seed)); p.Cr(x, l) = uint8_t(NextRandom(seed)); break;
            case Synthetic::Edges: p.Cb(x, l) = ((x / 11) % 2) ? 90 : 170; p.Cr(x, l) = ((l / 13) % 2) ? 60 : 200; break;
            }
        }
    return p;
}

// PSNR in dB of one plane over its first `lines` lines.
inline double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width, int lines) {
    double se = 0;
    size_t n = size_t(width) * lines;
    for (size_t i = 0; i < n; ++i) {
        double d = double(a[i]) - double(b[i]);
        se += d * d;
    }
    if (se == 0) return 99.0;
    return 10 * std::log10(255.0 * 255.0 * double(n) / se);
}

}  // namespace codectest
