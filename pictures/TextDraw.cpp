#include "pictures/TextDraw.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

// fontconfig's configuration parser loses a small block once per process (inside
// FcInitLoadConfigAndFonts); that is not ours to fix, so the leak checker is told about it
// here, where every program that draws text picks it up.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARO_LSAN_HOOK 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(VARO_LSAN_HOOK)
#define VARO_LSAN_HOOK 1
#endif
#ifdef VARO_LSAN_HOOK
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

// ---- the font record ----

std::string CFontRecord::FaceName() const { return std::string(faceName, strnlen(faceName, sizeof faceName)); }

void CFontRecord::SetFaceName(const std::string& name) {
    std::memset(faceName, 0, sizeof faceName);
    std::memcpy(faceName, name.data(), std::min(name.size(), sizeof faceName - 1));
}

namespace {
void Put32(uint8_t* p, int32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(uint32_t(v) >> (8 * i));
}
int32_t Get32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}
}  // namespace

void CFontRecord::ToBytes(uint8_t out[kSize]) const {
    Put32(out, height);
    Put32(out + 4, width);
    Put32(out + 8, escapement);
    Put32(out + 12, orientation);
    Put32(out + 16, weight);
    const uint8_t b[8] = {italic, underline, strikeOut, charSet, outPrecision, clipPrecision, quality, pitchAndFamily};
    std::memcpy(out + 20, b, 8);
    std::memcpy(out + 28, faceName, 32);
}

CFontRecord CFontRecord::FromBytes(const uint8_t in[kSize]) {
    CFontRecord f;
    f.height = Get32(in);
    f.width = Get32(in + 4);
    f.escapement = Get32(in + 8);
    f.orientation = Get32(in + 12);
    f.weight = Get32(in + 16);
    f.italic = in[20];
    f.underline = in[21];
    f.strikeOut = in[22];
    f.charSet = in[23];
    f.outPrecision = in[24];
    f.clipPrecision = in[25];
    f.quality = in[26];
    f.pitchAndFamily = in[27];
    std::memcpy(f.faceName, in + 28, 32);
    f.faceName[31] = 0;  // a stored record without a terminator must not run off the end
    return f;
}

bool CFontRecord::operator==(const CFontRecord& o) const {
    uint8_t a[kSize], b[kSize];
    ToBytes(a);
    o.ToBytes(b);
    return std::memcmp(a, b, kSize) == 0;
}

CFontRecord PointFont(const std::string& face, int points, int weight, bool italic, int dpi) {
    CFontRecord f;
    f.SetFaceName(face);
    // Tenths of a point scaled to pixels, rounded half away from zero.
    int64_t num = int64_t(points) * 10 * dpi;
    f.height = -int32_t((num + 360) / 720);
    f.weight = weight;
    f.italic = italic ? 1 : 0;
    return f;
}

int FontPoints(const CFontRecord& font, int dpi) {
    const int64_t h = std::abs(int64_t(font.height));  // INT32_MIN has no int negation
    if (dpi <= 0) dpi = 96;
    return int(std::min<int64_t>((h * 72 + dpi / 2) / dpi, INT32_MAX));
}

// ---- font lookup ----

namespace {
std::mutex g_fontMutex;

struct Resolved {
    std::string file;
    int index = 0;
    bool embolden = false;
    bool oblique = false;
};

Resolved Resolve(const CFontRecord& font) {
    std::lock_guard<std::mutex> lock(g_fontMutex);
    Resolved r;
    if (!FcInit()) return r;
    FcPattern* pat = FcPatternCreate();
    std::string face = font.FaceName();
    if (!face.empty()) FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
    int weight = font.weight > 0 ? std::clamp(int(font.weight), 1, 1000) : 400;
    FcPatternAddInteger(pat, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pat, FC_SLANT, font.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res;
    FcPattern* match = FcFontMatch(nullptr, pat, &res);
    if (match) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
            r.file = reinterpret_cast<const char*>(file);
        FcPatternGetInteger(match, FC_INDEX, 0, &r.index);
        FcBool b = FcFalse;
        if (FcPatternGetBool(match, FC_EMBOLDEN, 0, &b) == FcResultMatch) r.embolden = b;
        int slant = FC_SLANT_ROMAN;
        FcPatternGetInteger(match, FC_SLANT, 0, &slant);
        r.oblique = font.italic && slant == FC_SLANT_ROMAN;
        int got = FC_WEIGHT_REGULAR;
        FcPatternGetInteger(match, FC_WEIGHT, 0, &got);
        if (weight >= 600 && got < FC_WEIGHT_DEMIBOLD) r.embolden = true;
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pat);
    return r;
}

// Decodes UTF-8; a byte that does not start a valid sequence stands for itself (Latin-1).
std::vector<uint32_t> Codepoints(const std::string& s) {
    std::vector<uint32_t> out;
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len > 0 && i + size_t(len) <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            auto d = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((d >> 6) != 2) ok = false;
            cp = cp << 6 | (d & 0x3F);
        }
        if (ok && len > 1 && (cp < (len == 2 ? 0x80u : len == 3 ? 0x800u : 0x10000u) || cp > 0x10FFFF)) ok = false;
        if (!ok) {
            out.push_back(c);
            ++i;
        } else {
            out.push_back(cp);
            i += size_t(len);
        }
    }
    return out;
}

// One face set to the record's size; released with the library.
class Face {
public:
    explicit Face(const CFontRecord& font) {
        m_res = Resolve(font);
        if (m_res.file.empty() || FT_Init_FreeType(&m_lib) != 0) return;
        if (FT_New_Face(m_lib, m_res.file.c_str(), m_res.index, &m_face) != 0) {
            m_face = nullptr;
            return;
        }
        // 64-bit: a stored record may hold any height, INT32_MIN included.
        int64_t px;
        if (font.height < 0) {
            px = -int64_t(font.height);
        } else if (font.height > 0) {
            // Cell height: ascent plus descent make up the height asked for.
            int cell = m_face->ascender - m_face->descender;
            px = cell > 0 ? std::llround(double(font.height) * m_face->units_per_EM / cell) : font.height;
        } else {
            px = 13;  // the usual default: 10 points at 96 dpi
        }
        px = std::clamp<int64_t>(px, 1, 2000);
        if (FT_Set_Pixel_Sizes(m_face, 0, FT_UInt(px)) != 0) {
            FT_Done_Face(m_face);
            m_face = nullptr;
            return;
        }
        if (m_res.oblique) {
            FT_Matrix shear = {0x10000, 0x0366A, 0, 0x10000};  // about 12 degrees
            FT_Set_Transform(m_face, &shear, nullptr);
        }
    }
    ~Face() {
        if (m_face) FT_Done_Face(m_face);
        if (m_lib) FT_Done_FreeType(m_lib);
    }
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    bool Ok() const { return m_face != nullptr; }
    FT_Face Get() const { return m_face; }
    bool Embolden() const { return m_res.embolden; }

    // Calls fn(glyph slot, pen x in 26.6) for each character; returns the advance in 26.6.
    template <class Fn>
    long Layout(const std::vector<uint32_t>& text, bool render, Fn fn) {
        long pen = 0;
        FT_UInt prev = 0;
        bool kern = FT_HAS_KERNING(m_face);
        for (uint32_t cp : text) {
            FT_UInt gi = FT_Get_Char_Index(m_face, cp);
            if (kern && prev && gi) {
                FT_Vector k;
                if (FT_Get_Kerning(m_face, prev, gi, FT_KERNING_DEFAULT, &k) == 0) pen += k.x;
            }
            if (FT_Load_Glyph(m_face, gi, FT_LOAD_DEFAULT) != 0) continue;
            if (m_res.embolden) FT_GlyphSlot_Embolden(m_face->glyph);
            if (render && FT_Render_Glyph(m_face->glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
            fn(m_face->glyph, pen);
            pen += m_face->glyph->advance.x;
            prev = gi;
        }
        return pen;
    }

private:
    Resolved m_res;
    FT_Library m_lib = nullptr;
    FT_Face m_face = nullptr;
};

// Lays colour c with opacity a (0..255) over pixel p (0xTTRRGGBB).
uint32_t Over(uint32_t p, uint32_t rgb, uint32_t a) {
    if (a == 0) return p;
    uint32_t da = 255 - (p >> 24);
    uint32_t rest = da * (255 - a);                 // destination share, scaled by 255
    uint32_t oa = a * 255 + rest;                   // resulting opacity, scaled by 255
    uint32_t out = uint32_t(255 - (oa + 127) / 255) << 24;
    for (int s = 0; s <= 16; s += 8) {
        uint32_t cs = (rgb >> s) & 255, cd = (p >> s) & 255;
        uint32_t v = (cs * a * 255 + cd * rest + oa / 2) / oa;
        out |= std::min(v, 255u) << s;
    }
    return out;
}
}  // namespace

std::string ResolveFontFile(const CFontRecord& font, int* faceIndex) {
    Resolved r = Resolve(font);
    if (faceIndex) *faceIndex = r.index;
    return r.file;
}

bool MeasureText(const std::string& text, const CFontRecord& font, TextExtent& extent) {
    extent = TextExtent();
    Face face(font);
    if (!face.Ok()) return false;
    long pen = face.Layout(Codepoints(text), false, [](FT_GlyphSlot, long) {});
    extent.width = int((pen + 32) >> 6);
    extent.ascent = int((face.Get()->size->metrics.ascender + 63) >> 6);
    extent.descent = int((-face.Get()->size->metrics.descender + 63) >> 6);
    return true;
}

bool DrawText(CPicture& pic, const std::string& text, const CFontRecord& font, uint32_t colour, int x, int y,
              TextAlign align) {
    Face face(font);
    if (!face.Ok()) return false;
    std::vector<uint32_t> cps = Codepoints(text);
    long advance = face.Layout(cps, false, [](FT_GlyphSlot, long) {});
    int width = int((advance + 32) >> 6);
    int left = align == TextAlign::Left ? x : align == TextAlign::Right ? x - width : x - width / 2;
    uint32_t rgb = (colour & 0xFF) << 16 | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
    int W = pic.Width(), H = pic.Height();
    face.Layout(cps, true, [&](FT_GlyphSlot g, long pen) {
        const FT_Bitmap& bm = g->bitmap;
        if (bm.pixel_mode != FT_PIXEL_MODE_GRAY) return;
        int gx = left + int((pen + 32) >> 6) + g->bitmap_left, gy = y - g->bitmap_top;
        for (unsigned r = 0; r < bm.rows; ++r) {
            int py = gy + int(r);
            if (py < 0 || py >= H) continue;
            const unsigned char* src = bm.buffer + int64_t(r) * bm.pitch;
            uint32_t* row = pic.Row(py);
            for (unsigned c = 0; c < bm.width; ++c) {
                int px = gx + int(c);
                if (px < 0 || px >= W) continue;
                unsigned cov = bm.num_grays == 256 ? src[c] : src[c] * 255u / std::max(1u, bm.num_grays - 1u);
                row[px] = Over(row[px], rgb, cov);
            }
        }
    });
    // Underline and strike-out as solid bars across the text's advance.
    FT_Face f = face.Get();
    auto bar = [&](int top, int thickness) {
        for (int py = top; py < top + std::max(1, thickness); ++py) {
            if (py < 0 || py >= H) continue;
            for (int px = std::max(0, left); px < std::min(W, left + width); ++px) pic.At(px, py) = Over(pic.At(px, py), rgb, 255);
        }
    };
    int thick = int(std::lround(double(f->underline_thickness) * f->size->metrics.y_ppem / std::max<int>(1, f->units_per_EM)));
    if (font.underline) {
        int pos = int(std::lround(-double(f->underline_position) * f->size->metrics.y_ppem / std::max<int>(1, f->units_per_EM)));
        bar(y + pos - thick / 2, thick);
    }
    if (font.strikeOut) bar(y - int(f->size->metrics.y_ppem) * 3 / 10, thick);
    return true;
}
