#include "ImageFixtures.h"

#include <cstdio>
// jpeglib.h needs FILE and size_t first.
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

namespace {
uint8_t R(uint32_t p) { return uint8_t(p); }
uint8_t G(uint32_t p) { return uint8_t(p >> 8); }
uint8_t B(uint32_t p) { return uint8_t(p >> 16); }
uint8_t A(uint32_t p) { return uint8_t(p >> 24); }
void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void Set32(Bytes& b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + size_t(i)] = uint8_t(v >> (8 * i));
}
std::vector<uint32_t> Palette(const TestImage& img, std::map<uint32_t, int>& index) {
    std::vector<uint32_t> pal;
    for (uint32_t p : img.rgba)
        if (!index.count(p & 0xFFFFFF)) {
            index[p & 0xFFFFFF] = int(pal.size());
            pal.push_back(p & 0xFFFFFF);
        }
    return pal;
}
}  // namespace

TestImage PatternImage(int w, int h, int colours, bool alpha) {
    static const uint32_t kColours[16] = {0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF, 0xFFFF00,
                                         0x804020, 0x204080, 0x408020, 0x808080, 0x102030, 0xC0B0A0, 0x3366CC, 0xCC6633};
    TestImage img;
    img.w = w;
    img.h = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t c = kColours[size_t((x * 3 + y * 5) % colours) % 16];
            uint32_t a = alpha ? uint32_t((x * 37 + y * 91) % 256) : 255u;
            img.rgba.push_back(c | a << 24);
        }
    return img;
}

Bytes MakeBmp(const TestImage& img, const BmpOptions& opt) {
    std::map<uint32_t, int> index;
    std::vector<uint32_t> pal;
    if (opt.bits <= 8) pal = Palette(img, index);
    uint32_t hs = opt.coreHeader ? 12 : (opt.bitfields && opt.bits == 32) ? 124 : 40;
    Bytes b(14, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, hs);
    if (opt.coreHeader) {
        Put16(b, uint32_t(img.w));
        Put16(b, uint32_t(img.h));
        Put16(b, 1);
        Put16(b, uint32_t(opt.bits));
    } else {
        Put32(b, uint32_t(img.w));
        Put32(b, uint32_t(opt.topDown ? -img.h : img.h));
        Put16(b, 1);
        Put16(b, uint32_t(opt.bits));
        uint32_t comp = opt.rle == 8 ? 1 : opt.rle == 4 ? 2 : opt.bitfields ? 3 : 0;
        Put32(b, comp);
        Put32(b, 0);
        Put32(b, 2835);
        Put32(b, 2835);
        Put32(b, uint32_t(pal.size()));
        Put32(b, 0);
        if (hs == 124) {
            Put32(b, 0x00FF0000);
            Put32(b, 0x0000FF00);
            Put32(b, 0x000000FF);
            Put32(b, 0xFF000000);
            while (b.size() < 14 + hs) b.push_back(0);
        } else if (opt.bitfields) {  // 565 masks after the info header
            Put32(b, 0xF800);
            Put32(b, 0x07E0);
            Put32(b, 0x001F);
        }
    }
    for (uint32_t c : pal) {
        b.push_back(uint8_t(c >> 16));
        b.push_back(uint8_t(c >> 8));
        b.push_back(uint8_t(c));
        if (!opt.coreHeader) b.push_back(0);
    }
    Set32(b, 10, uint32_t(b.size()));
    for (int r = 0; r < img.h; ++r) {
        int y = opt.topDown ? r : img.h - 1 - r;
        if (opt.rle) {
            // Runs of equal pixels, at most 255 per run, each line closed by an end of line.
            int x = 0;
            while (x < img.w) {
                int v = index[img.At(x, y) & 0xFFFFFF], n = 1;
                while (x + n < img.w && n < 254 && index[img.At(x + n, y) & 0xFFFFFF] == v) ++n;
                b.push_back(uint8_t(n));
                b.push_back(uint8_t(opt.rle == 8 ? v : (v << 4 | v)));
                x += n;
            }
            b.push_back(0);
            b.push_back(r == img.h - 1 ? 1 : 0);
            continue;
        }
        Bytes row;
        if (opt.bits <= 8) {
            row.assign(size_t((img.w * opt.bits + 7) / 8), 0);
            for (int x = 0; x < img.w; ++x) {
                int v = index[img.At(x, y) & 0xFFFFFF];
                row[size_t(x * opt.bits / 8)] |= uint8_t(v << (8 - opt.bits - (x * opt.bits) % 8));
            }
        } else {
            for (int x = 0; x < img.w; ++x) {
                uint32_t p = img.At(x, y);
                if (opt.bits == 16 && opt.bitfields)
                    Put16(row, uint32_t(R(p) >> 3) << 11 | uint32_t(G(p) >> 2) << 5 | uint32_t(B(p) >> 3));
                else if (opt.bits == 16)
                    Put16(row, uint32_t(R(p) >> 3) << 10 | uint32_t(G(p) >> 3) << 5 | uint32_t(B(p) >> 3));
                else {
                    row.push_back(B(p));
                    row.push_back(G(p));
                    row.push_back(R(p));
                    if (opt.bits == 32) row.push_back(A(p));
                }
            }
        }
        while (row.size() % 4) row.push_back(0);
        b.insert(b.end(), row.begin(), row.end());
    }
    Set32(b, 2, uint32_t(b.size()));
    return b;
}

Bytes MakeTga(const TestImage& img, const TgaOptions& opt) {
    std::map<uint32_t, int> index;
    std::vector<uint32_t> pal;
    bool mapped = opt.type == 1 || opt.type == 9, grey = opt.type == 3 || opt.type == 11;
    if (mapped) pal = Palette(img, index);
    Bytes b = {3, uint8_t(mapped ? 1 : 0), uint8_t(opt.type)};
    Put16(b, 0);
    Put16(b, uint32_t(pal.size()));
    b.push_back(mapped ? 24 : 0);
    Put16(b, 0);
    Put16(b, 0);
    Put16(b, uint32_t(img.w));
    Put16(b, uint32_t(img.h));
    b.push_back(uint8_t(opt.depth));
    b.push_back(uint8_t(opt.alphaBits | (opt.rightToLeft ? 0x10 : 0) | (opt.topFirst ? 0x20 : 0)));
    b.insert(b.end(), {'i', 'd', '!'});
    for (uint32_t c : pal) {
        b.push_back(uint8_t(c >> 16));
        b.push_back(uint8_t(c >> 8));
        b.push_back(uint8_t(c));
    }
    std::vector<Bytes> pixels;
    for (int r = 0; r < img.h; ++r)
        for (int c = 0; c < img.w; ++c) {
            int y = opt.topFirst ? r : img.h - 1 - r, x = opt.rightToLeft ? img.w - 1 - c : c;
            uint32_t p = img.At(x, y);
            Bytes px;
            if (mapped) px.push_back(uint8_t(index[p & 0xFFFFFF]));
            else if (grey) {
                px.push_back(R(p));
                if (opt.depth == 16) px.push_back(A(p));
            } else if (opt.depth == 16 || opt.depth == 15) {
                Put16(px, uint32_t(R(p) >> 3) << 10 | uint32_t(G(p) >> 3) << 5 | uint32_t(B(p) >> 3) |
                              (A(p) >= 128 ? 0x8000u : 0u));
            } else {
                px = {B(p), G(p), R(p)};
                if (opt.depth == 32) px.push_back(A(p));
            }
            pixels.push_back(px);
        }
    if (opt.type < 9) {
        for (auto& px : pixels) b.insert(b.end(), px.begin(), px.end());
    } else {
        // Run packets for repeats, raw packets for the rest; packets may cross rows.
        size_t i = 0;
        while (i < pixels.size()) {
            size_t n = 1;
            while (i + n < pixels.size() && n < 128 && pixels[i + n] == pixels[i]) ++n;
            if (n > 1) {
                b.push_back(uint8_t(0x80 | (n - 1)));
                b.insert(b.end(), pixels[i].begin(), pixels[i].end());
            } else {
                n = 1;
                while (i + n < pixels.size() && n < 128 && pixels[i + n] != pixels[i + n - 1]) ++n;
                b.push_back(uint8_t(n - 1));
                for (size_t k = 0; k < n; ++k) b.insert(b.end(), pixels[i + k].begin(), pixels[i + k].end());
            }
            i += n;
        }
    }
    return b;
}

namespace {
int GifWrite(GifFileType* g, const GifByteType* data, int len) {
    auto* out = static_cast<Bytes*>(g->UserData);
    out->insert(out->end(), data, data + len);
    return len;
}
}  // namespace

Bytes MakeGif(int w, int h, const std::vector<uint32_t>& palette, const std::vector<GifFrame>& frames) {
    Bytes out;
    int err = 0;
    GifFileType* g = EGifOpen(&out, GifWrite, &err);
    if (!g) throw std::runtime_error("EGifOpen");
    int size = 2;
    while (size < int(palette.size())) size *= 2;
    std::vector<GifColorType> cols(size_t(size), GifColorType{0, 0, 0});
    for (size_t i = 0; i < palette.size(); ++i)
        cols[i] = GifColorType{uint8_t(palette[i] >> 16), uint8_t(palette[i] >> 8), uint8_t(palette[i])};
    ColorMapObject* map = GifMakeMapObject(size, cols.data());
    EGifSetGifVersion(g, true);
    EGifPutScreenDesc(g, w, h, 8, 0, map);
    for (const auto& f : frames) {
        GraphicsControlBlock gcb{f.disposal, false, f.delay, f.transparent};
        GifByteType ext[4];
        size_t n = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, int(n), ext);
        EGifPutImageDesc(g, f.left, f.top, f.w, f.h, false, nullptr);
        std::vector<GifPixelType> line(size_t(f.w));
        for (int y = 0; y < f.h; ++y) {
            std::copy(f.indices.begin() + y * f.w, f.indices.begin() + (y + 1) * f.w, line.begin());
            EGifPutLine(g, line.data(), f.w);
        }
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    return out;
}

Bytes MakeJpeg(const TestImage& img, int quality, bool grey) {
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = JDIMENSION(img.w);
    c.image_height = JDIMENSION(img.h);
    c.input_components = grey ? 1 : 3;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(size_t(img.w) * 3);
    while (c.next_scanline < c.image_height) {
        int y = int(c.next_scanline);
        for (int x = 0; x < img.w; ++x) {
            uint32_t p = img.At(x, y);
            if (grey) row[size_t(x)] = R(p);
            else {
                row[size_t(x) * 3] = R(p);
                row[size_t(x) * 3 + 1] = G(p);
                row[size_t(x) * 3 + 2] = B(p);
            }
        }
        JSAMPROW rp = row.data();
        jpeg_write_scanlines(&c, &rp, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(mem, mem + size);
    jpeg_destroy_compress(&c);
    free(mem);
    return out;
}

namespace {
void PngWrite(png_structp png, png_bytep data, png_size_t len) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + len);
}
void PngFlush(png_structp) {}
}  // namespace

Bytes MakePng(const TestImage& img, int colorType) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("png write");
    }
    png_set_write_fn(png, &out, PngWrite, PngFlush);
    png_set_IHDR(png, info, png_uint_32(img.w), png_uint_32(img.h), 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::map<uint32_t, int> index;
    std::vector<png_color> pal;
    if (colorType == 3) {
        for (uint32_t c : Palette(img, index)) pal.push_back(png_color{R(c), G(c), B(c)});
        png_set_PLTE(png, info, pal.data(), int(pal.size()));
    }
    png_write_info(png, info);
    int ch = colorType == 0 ? 1 : colorType == 2 ? 3 : colorType == 3 ? 1 : colorType == 4 ? 2 : 4;
    std::vector<uint8_t> row(size_t(img.w * ch));
    for (int y = 0; y < img.h; ++y) {
        for (int x = 0; x < img.w; ++x) {
            uint32_t p = img.At(x, y);
            uint8_t* o = &row[size_t(x * ch)];
            switch (colorType) {
            case 0: o[0] = R(p); break;
            case 2: o[0] = R(p), o[1] = G(p), o[2] = B(p); break;
            case 3: o[0] = uint8_t(index[p & 0xFFFFFF]); break;
            case 4: o[0] = R(p), o[1] = A(p); break;
            default: o[0] = R(p), o[1] = G(p), o[2] = B(p), o[3] = A(p);
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}
