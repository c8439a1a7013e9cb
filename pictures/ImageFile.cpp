#include "pictures/ImageFile.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <fstream>

namespace {
bool LooksLikeBmp(const uint8_t* d, size_t n) {
    if (n < 18 || d[0] != 'B' || d[1] != 'M') return false;
    uint32_t hs = uint32_t(d[14]) | uint32_t(d[15]) << 8 | uint32_t(d[16]) << 16 | uint32_t(d[17]) << 24;
    return hs == 12 || hs == 16 || hs == 40 || hs == 52 || hs == 56 || hs == 64 || hs == 108 || hs == 124;
}

bool LooksLikeTga(const uint8_t* d, size_t n) {
    if (n < 18) return false;
    int cmType = d[1], type = d[2], depth = d[16];
    int w = d[12] | d[13] << 8, h = d[14] | d[15] << 8;
    if (cmType > 1 || w == 0 || h == 0) return false;
    switch (type) {
    case 1: case 9:
        return cmType == 1 && (depth == 8 || depth == 16);
    case 2: case 10:
        return depth == 15 || depth == 16 || depth == 24 || depth == 32;
    case 3: case 11:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}
}  // namespace

ImageFormat DetectImageFormat(const uint8_t* d, size_t n) {
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (n >= 8 && std::memcmp(d, kPng, 8) == 0) return ImageFormat::Png;
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return ImageFormat::Jpeg;
    if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) return ImageFormat::Gif;
    if (LooksLikeBmp(d, n)) return ImageFormat::Bmp;
    // TGA has no signature: it is what is left when its header makes sense.
    if (LooksLikeTga(d, n)) return ImageFormat::Tga;
    return ImageFormat::Unknown;
}

bool DecodeImage(const uint8_t* data, size_t size, int frame, ImageData& out, std::string* err, int64_t maxPixels) {
    out = ImageData();
    bool ok = false;
    ImageFormat f = DetectImageFormat(data, size);
    switch (f) {
    case ImageFormat::Bmp: ok = DecodeBmp(data, size, out, err, maxPixels); break;
    case ImageFormat::Tga: ok = DecodeTga(data, size, out, err, maxPixels); break;
    case ImageFormat::Png: ok = DecodePng(data, size, out, err, maxPixels); break;
    case ImageFormat::Jpeg: ok = DecodeJpeg(data, size, out, err, maxPixels); break;
    case ImageFormat::Gif: ok = DecodeGif(data, size, frame, out, err, maxPixels); break;
    case ImageFormat::Unknown:
        if (err) *err = "unknown image format";
        break;
    }
    if (!ok) {
        out = ImageData();
        return false;
    }
    out.format = f;
    return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data) {
    data.clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// ---- resampling ----

namespace {
// Catmull-Rom: the bicubic kernel with a = -0.5, interpolating (passes through the samples).
double Cubic(double x) {
    x = std::fabs(x);
    if (x < 1.0) return (1.5 * x - 2.5) * x * x + 1.0;
    if (x < 2.0) return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    return 0.0;
}

struct Contrib {
    int first = 0;
    std::vector<double> w;
};

// Weights per output sample; indices outside the source repeat the edge sample.
std::vector<Contrib> Weights(int src, int dst) {
    std::vector<Contrib> out(static_cast<size_t>(dst));
    double scale = double(dst) / double(src);
    double support = scale < 1.0 ? 2.0 / scale : 2.0;
    double fscale = scale < 1.0 ? scale : 1.0;
    for (int i = 0; i < dst; ++i) {
        double center = (i + 0.5) / scale - 0.5;
        int lo = int(std::floor(center - support)) + 1;
        int hi = int(std::floor(center + support));
        Contrib& c = out[size_t(i)];
        c.first = lo;
        double sum = 0;
        for (int j = lo; j <= hi; ++j) {
            double w = Cubic((j - center) * fscale);
            c.w.push_back(w);
            sum += w;
        }
        if (sum != 0)
            for (double& w : c.w) w /= sum;
    }
    return out;
}
}  // namespace

ImageData ResampleBicubic(const ImageData& in, int w, int h) {
    ImageData out;
    out.hasAlpha = in.hasAlpha;
    out.frameCount = in.frameCount;
    out.frameDelay = in.frameDelay;
    out.format = in.format;
    if (w <= 0 || h <= 0 || in.width <= 0 || in.height <= 0) return out;
    out.Allocate(w, h);
    auto cx = Weights(in.width, w);
    auto cy = Weights(in.height, h);
    // Two separable passes through a premultiplied float image; the pass that shrinks more
    // goes first so the intermediate stays small.
    bool horizontalFirst = int64_t(w) * in.height <= int64_t(in.width) * h;
    int tw = horizontalFirst ? w : in.width, th = horizontalFirst ? in.height : h;
    std::vector<float> tmp(size_t(tw) * size_t(th) * 4);
    auto source = [&](int x, int y, int i) -> float {
        const uint8_t* p = in.Row(y) + size_t(x) * 4;
        return i == 3 ? float(p[3]) : float(p[i]) * float(p[3]);
    };
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            const Contrib& c = horizontalFirst ? cx[size_t(x)] : cy[size_t(y)];
            float acc[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < c.w.size(); ++k) {
                int j = c.first + int(k);
                int sx = horizontalFirst ? std::clamp(j, 0, in.width - 1) : x;
                int sy = horizontalFirst ? y : std::clamp(j, 0, in.height - 1);
                float wk = float(c.w[k]);
                for (int i = 0; i < 4; ++i) acc[i] += wk * source(sx, sy, i);
            }
            std::memcpy(&tmp[(size_t(y) * size_t(tw) + size_t(x)) * 4], acc, sizeof acc);
        }
    for (int y = 0; y < h; ++y) {
        uint8_t* o = out.Row(y);
        for (int x = 0; x < w; ++x) {
            const Contrib& c = horizontalFirst ? cy[size_t(y)] : cx[size_t(x)];
            float acc[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < c.w.size(); ++k) {
                int j = c.first + int(k);
                int tx = horizontalFirst ? x : std::clamp(j, 0, tw - 1);
                int ty = horizontalFirst ? std::clamp(j, 0, th - 1) : y;
                const float* t = &tmp[(size_t(ty) * size_t(tw) + size_t(tx)) * 4];
                float wk = float(c.w[k]);
                for (int i = 0; i < 4; ++i) acc[i] += wk * t[i];
            }
            float a = acc[3];
            uint8_t* p = o + size_t(x) * 4;
            if (a <= 0.5f) {
                p[0] = p[1] = p[2] = p[3] = 0;
                continue;
            }
            for (int i = 0; i < 3; ++i) p[i] = uint8_t(std::clamp(std::lround(acc[i] / a), 0L, 255L));
            p[3] = uint8_t(std::clamp(std::lround(a), 0L, 255L));
        }
    }
    return out;
}

ImageData CropPadColumns(const ImageData& in, int x0, int w, const uint8_t pad[4]) {
    ImageData out;
    out.hasAlpha = in.hasAlpha;
    out.frameCount = in.frameCount;
    out.frameDelay = in.frameDelay;
    out.format = in.format;
    if (w <= 0 || in.height <= 0) return out;
    out.Allocate(w, in.height);
    for (int y = 0; y < in.height; ++y) {
        uint8_t* o = out.Row(y);
        const uint8_t* r = in.Row(y);
        for (int x = 0; x < w; ++x) {
            int sx = x0 + x;
            if (sx >= 0 && sx < in.width)
                std::memcpy(o + size_t(x) * 4, r + size_t(sx) * 4, 4);
            else
                std::memcpy(o + size_t(x) * 4, pad, 4);
        }
    }
    return out;
}

// ---- saving ----

namespace {
struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
}  // namespace

bool SavePngFile(const std::string& path, int w, int h, const uint8_t* rgba, bool withAlpha) {
    if (w <= 0 || h <= 0) return false;
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<uint8_t> row(size_t(w) * (withAlpha ? 4 : 3));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f.get());
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, withAlpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = rgba + size_t(y) * size_t(w) * 4;
        uint8_t* d = row.data();
        for (int x = 0; x < w; ++x, s += 4) {
            *d++ = s[0];
            *d++ = s[1];
            *d++ = s[2];
            if (withAlpha) *d++ = s[3];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fflush(f.get()) == 0 && !std::ferror(f.get());
}

bool SaveBmpFile(const std::string& path, int w, int h, const uint8_t* rgba) {
    if (w <= 0 || h <= 0) return false;
    size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
    uint64_t imageSize = uint64_t(stride) * uint64_t(h);
    if (imageSize + 54 > 0xFFFFFFFFull) return false;
    uint8_t hdr[54] = {};
    auto put32 = [&](int off, uint32_t v) {
        for (int i = 0; i < 4; ++i) hdr[off + i] = uint8_t(v >> (8 * i));
    };
    hdr[0] = 'B';
    hdr[1] = 'M';
    put32(2, uint32_t(54 + imageSize));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));  // positive: bottom-up, what every reader takes
    hdr[26] = 1;
    hdr[28] = 24;
    put32(34, uint32_t(imageSize));
    put32(38, 2835);  // 72 dpi
    put32(42, 2835);
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    if (std::fwrite(hdr, 1, sizeof hdr, f.get()) != sizeof hdr) return false;
    std::vector<uint8_t> row(stride, 0);
    for (int y = h - 1; y >= 0; --y) {
        const uint8_t* s = rgba + size_t(y) * size_t(w) * 4;
        for (int x = 0; x < w; ++x) {
            row[size_t(x) * 3 + 0] = s[size_t(x) * 4 + 2];
            row[size_t(x) * 3 + 1] = s[size_t(x) * 4 + 1];
            row[size_t(x) * 3 + 2] = s[size_t(x) * 4 + 0];
        }
        if (std::fwrite(row.data(), 1, stride, f.get()) != stride) return false;
    }
    return std::fflush(f.get()) == 0;
}
