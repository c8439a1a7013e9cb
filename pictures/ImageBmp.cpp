// Reader of BMP files: core, info and v4/v5 headers; 1, 4, 8, 16, 24 and 32 bits; RLE4, RLE8
// and bit-field masks; bottom-up and top-down rows.
#include <algorithm>
#include <cstring>

#include "pictures/ImageFile.h"

namespace {
uint32_t U16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

bool Fail(std::string* err, const char* what) {
    if (err) *err = what;
    return false;
}

// One channel of a bit-field mask: where it sits and how to widen it to 8 bits.
struct Field {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    explicit Field(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        max = m >> shift;
        // Masks with holes are taken as their lowest contiguous run.
        uint32_t run = 0;
        while (run < 32 && ((max >> run) & 1)) ++run;
        max = run >= 32 ? 0xFFFFFFFFu : (1u << run) - 1;
    }
    uint8_t Get(uint32_t v, uint8_t absent) const {
        if (!mask) return absent;
        uint32_t x = (v >> shift) & max;
        return uint8_t((uint64_t(x) * 255 + max / 2) / max);
    }
};
}  // namespace

bool DecodeBmp(const uint8_t* d, size_t n, ImageData& out, std::string* err, int64_t maxPixels) {
    out = ImageData();
    if (n < 14 + 12 || d[0] != 'B' || d[1] != 'M') return Fail(err, "not a BMP file");
    uint32_t offBits = U32(d + 10);
    uint32_t hs = U32(d + 14);
    if (hs < 12 || hs > n - 14) return Fail(err, "BMP header truncated");
    int64_t w, h;
    int bits;
    uint32_t comp = 0, clrUsed = 0;
    bool core = hs == 12;
    const uint8_t* ih = d + 14;
    if (core) {
        w = U16(ih + 4);
        h = int16_t(U16(ih + 6));
        bits = int(U16(ih + 10));
    } else {
        if (hs < 16) return Fail(err, "BMP header truncated");
        w = int32_t(U32(ih + 4));
        h = int32_t(U32(ih + 8));
        bits = int(U16(ih + 14));
        if (hs >= 20) comp = U32(ih + 16);
        if (hs >= 36) clrUsed = U32(ih + 32);
    }
    bool topDown = h < 0;
    if (topDown) h = -h;
    if (w <= 0 || h <= 0 || w > kMaxImageSide || h > kMaxImageSide || w * h > maxPixels)
        return Fail(err, "BMP size out of range");
    if (hs == 64 && comp == 3) comp = 1000;  // OS/2 v2: 3 is Huffman 1D, not bit fields
    bool rle = comp == 1 || comp == 2;
    if (!(comp == 0 || (comp == 1 && bits == 8) || (comp == 2 && bits == 4) ||
          ((comp == 3 || comp == 6) && (bits == 16 || bits == 32))))
        return Fail(err, "unsupported BMP compression");
    if (!(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32))
        return Fail(err, "unsupported BMP bit depth");
    if (rle && topDown) return Fail(err, "top-down RLE BMP");

    // Bit-field masks: inside v2+ headers, or right after an info header.
    size_t pos = 14 + hs;
    uint32_t masks[4] = {0, 0, 0, 0};
    bool haveAlphaMask = false;
    if (bits == 16 || bits == 32) {
        if (comp == 3 || comp == 6) {
            int count = comp == 6 ? 4 : 3;
            const uint8_t* m;
            if (hs >= 52) {
                // The masks the header holds: three in a 52-byte one (no alpha), four from 56.
                m = ih + 40;
                count = hs >= 56 ? 4 : 3;
            } else {
                if (pos + size_t(count) * 4 > n) return Fail(err, "BMP masks truncated");
                m = d + pos;
                pos += size_t(count) * 4;
            }
            for (int i = 0; i < count; ++i) masks[i] = U32(m + 4 * i);
            haveAlphaMask = count == 4 && masks[3] != 0;
        } else if (bits == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        } else {
            masks[0] = 0xFF0000;
            masks[1] = 0xFF00;
            masks[2] = 0xFF;
            masks[3] = 0xFF000000;  // used only when some alpha byte is non-zero, see below
        }
    }

    // Palette.
    uint8_t pal[256][4];
    std::memset(pal, 0, sizeof pal);
    int palCount = 0;
    if (bits <= 8) {
        size_t entry = core ? 3 : 4;
        uint32_t want = clrUsed ? clrUsed : (1u << bits);
        if (want > (1u << bits)) want = 1u << bits;
        size_t avail = pos < n ? (n - pos) / entry : 0;
        if (offBits > pos && offBits <= n) avail = std::min(avail, (offBits - pos) / entry);
        palCount = int(std::min<size_t>(want, avail));
        if (palCount == 0) return Fail(err, "BMP palette missing");
        for (int i = 0; i < palCount; ++i) {
            const uint8_t* e = d + pos + size_t(i) * entry;
            pal[i][0] = e[2];
            pal[i][1] = e[1];
            pal[i][2] = e[0];
        }
        pos += size_t(palCount) * entry;
    }
    if (offBits >= 14 + 12 && offBits < n) pos = offBits;
    else if (offBits != 0) return Fail(err, "BMP pixel data missing");
    if (pos >= n) return Fail(err, "BMP pixel data missing");
    const uint8_t* px = d + pos;
    size_t avail = n - pos;

    int W = int(w), H = int(h);
    if (rle) {
        // Decode runs into an index image first; unset pixels take palette entry 0.
        std::vector<uint8_t> idx(size_t(W) * size_t(H), 0);
        size_t i = 0;
        int x = 0, y = 0;  // y counts from the bottom
        bool done = false;
        auto put = [&](uint8_t v) {
            if (x < W && y < H) idx[size_t(y) * size_t(W) + size_t(x)] = v;
            ++x;
        };
        while (!done) {
            if (i + 2 > avail) return Fail(err, "BMP RLE data truncated");
            uint8_t c = px[i], v = px[i + 1];
            i += 2;
            if (c > 0) {
                for (int k = 0; k < c; ++k) {
                    if (bits == 8) put(v);
                    else put(k & 1 ? (v & 15) : (v >> 4));
                }
            } else if (v == 0) {
                x = 0;
                ++y;
            } else if (v == 1) {
                done = true;
            } else if (v == 2) {
                if (i + 2 > avail) return Fail(err, "BMP RLE data truncated");
                x += px[i];
                y += px[i + 1];
                i += 2;
            } else {
                size_t bytes = bits == 8 ? v : (size_t(v) + 1) / 2;
                size_t padded = (bytes + 1) & ~size_t(1);
                if (i + bytes > avail) return Fail(err, "BMP RLE data truncated");
                for (int k = 0; k < v; ++k) {
                    if (bits == 8) put(px[i + size_t(k)]);
                    else put(k & 1 ? (px[i + size_t(k) / 2] & 15) : (px[i + size_t(k) / 2] >> 4));
                }
                i += std::min(padded, avail - i);
            }
            if (y >= H) done = true;
        }
        out.Allocate(W, H);
        for (int r = 0; r < H; ++r) {
            uint8_t* o = out.Row(H - 1 - r);
            const uint8_t* s = &idx[size_t(r) * size_t(W)];
            for (int c2 = 0; c2 < W; ++c2) {
                const uint8_t* p = pal[s[c2] < palCount ? s[c2] : 0];
                o[4 * c2] = p[0];
                o[4 * c2 + 1] = p[1];
                o[4 * c2 + 2] = p[2];
                o[4 * c2 + 3] = 255;
            }
        }
        return true;
    }

    size_t stride = ((size_t(W) * size_t(bits) + 31) / 32) * 4;
    // The last row needs only its own bytes; writers disagree about padding the very end.
    size_t lastRow = (size_t(W) * size_t(bits) + 7) / 8;
    if (size_t(H - 1) * stride + lastRow > avail) return Fail(err, "BMP pixel data truncated");
    out.Allocate(W, H);
    Field fr(masks[0]), fg(masks[1]), fb(masks[2]), fa(masks[3]);
    bool anyAlpha = false;
    for (int r = 0; r < H; ++r) {
        const uint8_t* s = px + size_t(r) * stride;
        uint8_t* o = out.Row(topDown ? r : H - 1 - r);
        for (int x = 0; x < W; ++x, o += 4) {
            switch (bits) {
            case 1: case 4: case 8: {
                int shift = 8 - bits - int((size_t(x) * size_t(bits)) % 8);
                int v = (s[size_t(x) * size_t(bits) / 8] >> shift) & ((1 << bits) - 1);
                const uint8_t* p = pal[v < palCount ? v : 0];
                o[0] = p[0];
                o[1] = p[1];
                o[2] = p[2];
                o[3] = 255;
                break;
            }
            case 24:
                o[0] = s[3 * x + 2];
                o[1] = s[3 * x + 1];
                o[2] = s[3 * x];
                o[3] = 255;
                break;
            default: {
                uint32_t v = bits == 16 ? U16(s + 2 * x) : U32(s + 4 * x);
                o[0] = fr.Get(v, 0);
                o[1] = fg.Get(v, 0);
                o[2] = fb.Get(v, 0);
                o[3] = fa.Get(v, 255);
                if (fa.mask && o[3] != 0) anyAlpha = true;
            }
            }
        }
    }
    if (bits == 16 || bits == 32) {
        if (haveAlphaMask) {
            out.hasAlpha = true;
        } else if (bits == 32 && comp == 0 && anyAlpha) {
            // A plain 32-bit BMP's fourth byte is normally unused (zero); when it holds
            // something the writer meant alpha.
            out.hasAlpha = true;
        } else {
            for (size_t i = 3; i < out.rgba.size(); i += 4) out.rgba[i] = 255;
        }
    }
    return true;
}
