// Reader of TGA files: colour-mapped, true-colour and grey images, plain (1, 2, 3) and
// run-length encoded (9, 10, 11), either origin, with alpha.
#include <algorithm>
#include <cstring>

#include "pictures/ImageFile.h"

namespace {
bool Fail(std::string* err, const char* what) {
    if (err) *err = what;
    return false;
}

// One colour value of 15, 16, 24 or 32 bits to RGBA.
void Colour(const uint8_t* p, int depth, uint8_t o[4]) {
    switch (depth) {
    case 15:
    case 16: {
        unsigned v = unsigned(p[0]) | unsigned(p[1]) << 8;
        unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        o[0] = uint8_t((r * 255 + 15) / 31);
        o[1] = uint8_t((g * 255 + 15) / 31);
        o[2] = uint8_t((b * 255 + 15) / 31);
        o[3] = (v & 0x8000) ? 255 : 0;
        break;
    }
    case 24:
        o[0] = p[2];
        o[1] = p[1];
        o[2] = p[0];
        o[3] = 255;
        break;
    default:
        o[0] = p[2];
        o[1] = p[1];
        o[2] = p[0];
        o[3] = p[3];
        break;
    }
}
}  // namespace

bool DecodeTga(const uint8_t* d, size_t n, ImageData& out, std::string* err, int64_t maxPixels) {
    out = ImageData();
    if (n < 18) return Fail(err, "TGA header truncated");
    int idLen = d[0], cmType = d[1], type = d[2];
    int cmFirst = d[3] | d[4] << 8, cmLen = d[5] | d[6] << 8, cmDepth = d[7];
    int w = d[12] | d[13] << 8, h = d[14] | d[15] << 8, depth = d[16], desc = d[17];
    int alphaBits = desc & 15;
    bool rightToLeft = desc & 0x10, topFirst = desc & 0x20;
    bool mapped = type == 1 || type == 9, grey = type == 3 || type == 11, rle = type >= 9;
    if (!(type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11))
        return Fail(err, "unsupported TGA image type");
    if (cmType > 1 || (mapped && cmType != 1)) return Fail(err, "bad TGA colour map");
    if (mapped ? !(depth == 8 || depth == 16)
               : grey ? !(depth == 8 || depth == 16) : !(depth == 15 || depth == 16 || depth == 24 || depth == 32))
        return Fail(err, "unsupported TGA pixel depth");
    if (w == 0 || h == 0 || w > kMaxImageSide || h > kMaxImageSide || int64_t(w) * h > maxPixels)
        return Fail(err, "TGA size out of range");

    size_t pos = 18 + size_t(idLen);
    std::vector<uint8_t> map;  // RGBA entries
    if (cmType == 1) {
        if (!(cmDepth == 15 || cmDepth == 16 || cmDepth == 24 || cmDepth == 32)) return Fail(err, "bad TGA colour map");
        size_t eb = size_t(cmDepth + 7) / 8;
        if (pos + size_t(cmLen) * eb > n) return Fail(err, "TGA colour map truncated");
        map.resize(size_t(cmLen) * 4);
        for (int i = 0; i < cmLen; ++i) Colour(d + pos + size_t(i) * eb, cmDepth, &map[size_t(i) * 4]);
        pos += size_t(cmLen) * eb;
    }
    if (pos > n) return Fail(err, "TGA data truncated");
    size_t bpp = size_t(depth + 7) / 8;
    size_t avail = n - pos;
    uint64_t count = uint64_t(w) * uint64_t(h);
    if (!rle && avail < count * bpp) return Fail(err, "TGA data truncated");
    // A packet is a header byte and at least one pixel value and stands for at most 128 pixels.
    if (rle && uint64_t(avail / (1 + bpp)) * 128 < count) return Fail(err, "TGA data truncated");

    // Unpack into the file's pixel order, then place rows and columns by the origin bits.
    // Plain data is that already.
    std::vector<uint8_t> raw;
    const uint8_t* pixels = d + pos;
    if (rle) {
        raw.resize(size_t(count) * bpp);
        pixels = raw.data();
        const uint8_t* s = d + pos;
        size_t i = 0, o = 0;
        while (o < raw.size()) {
            if (i >= avail) return Fail(err, "TGA RLE data truncated");
            uint8_t hdr = s[i++];
            size_t k = size_t(hdr & 0x7F) + 1;
            size_t bytes = std::min(k * bpp, raw.size() - o);
            if (hdr & 0x80) {
                if (i + bpp > avail) return Fail(err, "TGA RLE data truncated");
                for (size_t b = 0; b < bytes; ++b) raw[o + b] = s[i + b % bpp];
                i += bpp;
            } else {
                if (i + k * bpp > avail) return Fail(err, "TGA RLE data truncated");
                std::memcpy(&raw[o], s + i, bytes);
                i += k * bpp;
            }
            o += bytes;
        }
    }

    out.Allocate(w, h);
    bool anyAlpha = false;
    bool alphaChannel = (depth == 32 && !mapped) || (depth == 16 && (grey || alphaBits > 0)) ||
                        (mapped && (cmDepth == 32 || (cmDepth == 16 && alphaBits > 0)));
    for (int r = 0; r < h; ++r) {
        uint8_t* orow = out.Row(topFirst ? r : h - 1 - r);
        for (int c = 0; c < w; ++c) {
            const uint8_t* p = pixels + (size_t(r) * size_t(w) + size_t(c)) * bpp;
            uint8_t* o = orow + size_t(rightToLeft ? w - 1 - c : c) * 4;
            if (mapped) {
                int idx = (depth == 8 ? p[0] : (p[0] | p[1] << 8)) - cmFirst;
                if (idx >= 0 && idx < cmLen) std::memcpy(o, &map[size_t(idx) * 4], 4);
                else o[0] = o[1] = o[2] = 0, o[3] = 255;
                if (!(cmDepth == 32 || (cmDepth == 16 && alphaBits > 0))) o[3] = 255;
            } else if (grey) {
                o[0] = o[1] = o[2] = p[0];
                o[3] = depth == 16 ? p[1] : 255;
            } else {
                Colour(p, depth, o);
                if (!(depth == 32 || (depth == 16 && alphaBits > 0))) o[3] = 255;
            }
            if (o[3] != 0) anyAlpha = true;
        }
    }
    // Many writers leave the attribute bits zero; an all-zero alpha channel means "none".
    out.hasAlpha = alphaChannel && anyAlpha;
    if (!out.hasAlpha)
        for (size_t i = 3; i < out.rgba.size(); i += 4) out.rgba[i] = 255;
    return true;
}
