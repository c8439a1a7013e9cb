// Draws the programs' menu icons at the usual hicolor sizes as PNG files, so no binaries live
// in the tree: VaroConfig is a monitor with an overlay logo in its corner, Lanora a network of
// three linked nodes.  Usage: varo_makeicons OUTDIR
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {
struct Canvas {
    int size;
    std::vector<uint32_t> px;  // 0xAARRGGBB
    explicit Canvas(int s) : size(s), px(size_t(s) * size_t(s), 0) {}

    // Coverage of a pixel by a shape, sampled 4 x 4, blended over what is there.
    template <class Inside>
    void Fill(uint32_t argb, Inside inside) {
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                int hits = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx)
                        hits += inside((x + (sx + 0.5) / 4.0) / size, (y + (sy + 0.5) / 4.0) / size) ? 1 : 0;
                if (hits) Blend(px[size_t(y) * size_t(size) + size_t(x)], argb, hits / 16.0);
            }
    }
    static void Blend(uint32_t& dst, uint32_t src, double cover) {
        const double sa = ((src >> 24) & 0xFF) / 255.0 * cover, da = ((dst >> 24) & 0xFF) / 255.0;
        const double oa = sa + da * (1 - sa);
        uint32_t out = uint32_t(std::lround(oa * 255)) << 24;
        for (int shift : {16, 8, 0}) {
            const double s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
            const double c = oa > 0 ? (s * sa + d * da * (1 - sa)) / oa : 0;
            out |= uint32_t(std::lround(c)) << shift;
        }
        dst = out;
    }
    bool Save(const std::string& path) const {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            std::fclose(f);
            return false;
        }
        png_init_io(png, f);
        png_set_IHDR(png, info, png_uint_32(size), png_uint_32(size), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<uint8_t> row(size_t(size) * 4);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const uint32_t p = px[size_t(y) * size_t(size) + size_t(x)];
                row[size_t(x) * 4 + 0] = uint8_t(p >> 16);
                row[size_t(x) * 4 + 1] = uint8_t(p >> 8);
                row[size_t(x) * 4 + 2] = uint8_t(p);
                row[size_t(x) * 4 + 3] = uint8_t(p >> 24);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        return std::fclose(f) == 0;
    }
};

auto RoundRect(double x0, double y0, double x1, double y1, double r) {
    return [=](double x, double y) {
        const double cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
        return x >= x0 && x <= x1 && y >= y0 && y <= y1 && (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    };
}
auto Disc(double cx, double cy, double r) {
    return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}
auto Line(double ax, double ay, double bx, double by, double w) {
    return [=](double x, double y) {
        const double dx = bx - ax, dy = by - ay;
        const double t = std::clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        const double px = ax + t * dx - x, py = ay + t * dy - y;
        return px * px + py * py <= w * w / 4;
    };
}

Canvas VaroConfig(int s) {
    Canvas c(s);
    c.Fill(0xFF2B3A4A, RoundRect(0.06, 0.12, 0.94, 0.78, 0.08));  // the monitor
    c.Fill(0xFF3C7BD9, RoundRect(0.12, 0.18, 0.88, 0.72, 0.03));  // its picture
    c.Fill(0xFFF2F2F2, RoundRect(0.58, 0.24, 0.82, 0.38, 0.02));  // the overlaid logo
    c.Fill(0xFFE8B923, RoundRect(0.18, 0.58, 0.70, 0.66, 0.015));  // a caption bar
    c.Fill(0xFF2B3A4A, RoundRect(0.40, 0.78, 0.60, 0.88, 0.0));    // stand
    c.Fill(0xFF2B3A4A, RoundRect(0.26, 0.86, 0.74, 0.92, 0.03));
    return c;
}

Canvas Lanora(int s) {
    Canvas c(s);
    c.Fill(0xFF1F6F4A, RoundRect(0.04, 0.04, 0.96, 0.96, 0.18));
    const double w = 0.07;
    c.Fill(0xFFE6F2EA, Line(0.50, 0.26, 0.26, 0.72, w));
    c.Fill(0xFFE6F2EA, Line(0.50, 0.26, 0.74, 0.72, w));
    c.Fill(0xFFE6F2EA, Line(0.26, 0.72, 0.74, 0.72, w));
    for (auto [x, y] : {std::pair{0.50, 0.26}, {0.26, 0.72}, {0.74, 0.72}}) {
        c.Fill(0xFFFFFFFF, Disc(x, y, 0.13));
        c.Fill(0xFF2FA36B, Disc(x, y, 0.08));
    }
    return c;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: varo_makeicons OUTDIR\n");
        return 64;
    }
    const std::string out = argv[1];
    for (int s : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string dir = out + "/" + std::to_string(s) + "x" + std::to_string(s) + "/apps";
        std::filesystem::create_directories(dir);
        if (!VaroConfig(s).Save(dir + "/varoconfig.png") || !Lanora(s).Save(dir + "/lanora.png")) {
            std::fprintf(stderr, "varo_makeicons: cannot write %s\n", dir.c_str());
            return 73;
        }
    }
    return 0;
}
