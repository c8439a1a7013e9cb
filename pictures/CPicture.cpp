#include "pictures/CPicture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "pictures/ImageFile.h"

namespace {
constexpr int64_t kMaxPicturePixels = int64_t(1) << 28;

inline uint32_t Trans(uint32_t p) { return p >> 24; }
inline uint32_t Chan(uint32_t p, int shift) { return (p >> shift) & 0xFF; }

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The companion's name as it exists on disk: exact first, then without regard to case, the
// way the files were named on the systems they come from.
std::string FindFileNoCase(const std::filesystem::path& p) {
    std::error_code ec;
    if (std::filesystem::exists(p, ec)) return p.string();
    std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
    std::string want = Lower(p.filename().string());
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        if (Lower(e.path().filename().string()) == want) return e.path().string();
    }
    return {};
}
}  // namespace

CPicture::CPicture(int width, int height) { Create(width, height); }

CPicture::CPicture(const CPicture& o) : m_frameCount(o.m_frameCount), m_frameDelay(o.m_frameDelay) {
    if (Create(o.m_width, o.m_height) && !Empty())
        std::memcpy(m_pixels.get(), o.m_pixels.get(), size_t(m_width) * size_t(m_height) * 4);
}

CPicture& CPicture::operator=(const CPicture& o) {
    if (this != &o) {
        CPicture tmp(o);
        *this = std::move(tmp);
    }
    return *this;
}

CPicture::CPicture(CPicture&& o) noexcept
    : m_width(o.m_width), m_height(o.m_height), m_pixels(std::move(o.m_pixels)), m_frameCount(o.m_frameCount),
      m_frameDelay(o.m_frameDelay) {
    o.m_width = o.m_height = 0;
}

CPicture& CPicture::operator=(CPicture&& o) noexcept {
    if (this != &o) {
        m_width = o.m_width;
        m_height = o.m_height;
        m_pixels = std::move(o.m_pixels);
        m_frameCount = o.m_frameCount;
        m_frameDelay = o.m_frameDelay;
        o.m_width = o.m_height = 0;
    }
    return *this;
}

CPicture::~CPicture() = default;

bool CPicture::Create(int width, int height) {
    m_pixels.reset();
    m_width = m_height = 0;
    if (width < 0 || height < 0 || int64_t(width) * height > kMaxPicturePixels) return false;
    if (width == 0 || height == 0) return true;
    m_pixels.reset(new (std::nothrow) uint32_t[size_t(width) * size_t(height)]());
    if (!m_pixels) return false;
    m_width = width;
    m_height = height;
    return true;
}

void CPicture::Clear() {
    Create(0, 0);
    m_frameCount = m_frameDelay = 0;
}

// ---- loading ----

int CPicture::LoadFromMemory(const uint8_t* data, size_t size, bool wantAlpha, int mode, int width, int height,
                             int frame) {
    bool isBmp;
    return LoadImpl(data, size, wantAlpha, mode, width, height, frame, &isBmp);
}

int CPicture::LoadImpl(const uint8_t* data, size_t size, bool wantAlpha, int mode, int W, int H, int frame,
                       bool* isBmp) {
    Clear();
    *isBmp = false;
    ImageData img;
    if (!DecodeImage(data, size, frame, img)) return kLoadInvalid;
    *isBmp = img.format == ImageFormat::Bmp;
    int frameCount = img.frameCount, frameDelay = img.frameDelay * 10;
    bool sized = W > 0 && H > 0;

    if (sized && (img.width != W || img.height != H)) {
        if (mode == kLoadResize) {
            if (int64_t(W) * H > kDefaultMaxImagePixels) return kLoadInvalid;
            img = ResampleBicubic(img, W, H);
        } else if (mode == kLoadAspect) {
            int64_t w = int64_t(H) * img.width / img.height;
            if (w < 1) w = 1;
            if (w * H > kDefaultMaxImagePixels) return kLoadInvalid;
            img = ResampleBicubic(img, int(w), H);
            static const uint8_t kBlack[4] = {0, 0, 0, 255};
            if (w < W) img = CropPadColumns(img, -int((W - w) / 2), W, kBlack);
            else if (w > W) img = CropPadColumns(img, int((w - W) / 2), W, kBlack);
        }
        if (img.rgba.empty()) return kLoadInvalid;
    }

    int pw = img.width, ph = img.height;
    bool fillFirst = false;
    if (sized && mode == kLoadCrop) {
        pw = W;
        ph = H;
        fillFirst = true;
    } else if (sized && mode == kLoadClip) {
        pw = std::min(W, img.width);
        ph = std::min(H, img.height);
    } else if (sized && mode == kLoadFit) {
        const int shapes[3][2] = {{W, H}, {2 * W, H / 2}, {W / 2, 2 * H}};
        int chosen = -1;
        for (int i = 0; i < 3 && chosen < 0; ++i)
            if (img.width <= shapes[i][0] && img.height <= shapes[i][1]) chosen = i;
        if (chosen < 0) {
            if (img.width <= 2 * W) chosen = 1;
            else if (img.height <= 2 * H) chosen = 2;
            else chosen = 0;
        }
        pw = shapes[chosen][0];
        ph = shapes[chosen][1];
        fillFirst = true;
    }
    if (!Create(pw, ph)) return kLoadInvalid;
    if (fillFirst) Fill(0xFF000000u);
    int cw = std::min(pw, img.width), chh = std::min(ph, img.height);
    bool alpha = wantAlpha && img.hasAlpha;
    for (int y = 0; y < chh; ++y) {
        const uint8_t* s = img.Row(y);
        uint32_t* d = Row(y);
        for (int x = 0; x < cw; ++x, s += 4) {
            uint32_t t = alpha ? 255u - s[3] : 0u;
            d[x] = t << 24 | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
        }
    }
    SetFrameInfo(frameCount, frameDelay);
    return kLoadOk;
}

int CPicture::Load(const std::string& path, bool wantAlpha, int mode, int width, int height, int frame) {
    Clear();
    std::vector<uint8_t> data;
    if (!ReadWholeFile(path, data)) return kLoadCannotOpen;
    bool isBmp = false;
    int r = LoadImpl(data.data(), data.size(), wantAlpha, mode, width, height, frame, &isBmp);
    if (r != kLoadOk || !wantAlpha || !isBmp) return r;

    // Black-and-white pair: the same logo drawn on black and on white gives back its opacity.
    std::filesystem::path p(path);
    std::string stem = p.stem().string(), ext = p.extension().string();
    bool loadedIsWhite = stem.size() >= 2 && stem[stem.size() - 2] == '_' && (stem.back() == 'W' || stem.back() == 'w');
    std::string otherStem = loadedIsWhite ? stem.substr(0, stem.size() - 2) : stem + "_W";
    std::string other = FindFileNoCase(p.parent_path() / (otherStem + ext));
    if (other.empty()) return r;
    CPicture companion;
    if (companion.Load(other, false, mode, width, height, -1) != kLoadOk) return r;
    if (companion.m_width != m_width || companion.m_height != m_height) return r;
    const CPicture& black = loadedIsWhite ? companion : *this;
    const CPicture& white = loadedIsWhite ? *this : companion;
    size_t n = size_t(m_width) * size_t(m_height);
    std::unique_ptr<uint32_t[]> result(new uint32_t[n]);
    for (size_t i = 0; i < n; ++i) {
        uint32_t k = black.m_pixels[i], w = white.m_pixels[i];
        int ks = int(Chan(k, 0) + Chan(k, 8) + Chan(k, 16)), ws = int(Chan(w, 0) + Chan(w, 8) + Chan(w, 16));
        int d = std::min(255, (ks - ws + 765) / 3);
        if (d == 0) {
            result[i] = 0xFF000000u;
            continue;
        }
        uint32_t px = uint32_t(255 - d) << 24;
        for (int shift = 0; shift <= 16; shift += 8) {
            int c = (int(Chan(k, shift)) + int(Chan(w, shift)) + d - 255) * 127 / d;
            // A pair that does not match (white darker than black) would wrap here; clamp it.
            px |= uint32_t(std::clamp(c, 0, 255)) << shift;
        }
        result[i] = px;
    }
    m_pixels = std::move(result);
    return r;
}

// ---- saving ----

int CPicture::SavePNG(const std::string& path) const {
    if (Empty()) return 1;
    size_t n = size_t(m_width) * size_t(m_height);
    std::vector<uint8_t> rgba(n * 4);
    bool anyTransparent = false;
    for (size_t i = 0; i < n; ++i) {
        uint32_t p = m_pixels[i];
        rgba[4 * i] = uint8_t(p >> 16);
        rgba[4 * i + 1] = uint8_t(p >> 8);
        rgba[4 * i + 2] = uint8_t(p);
        rgba[4 * i + 3] = uint8_t(255 - Trans(p));
        if (Trans(p)) anyTransparent = true;
    }
    return SavePngFile(path, m_width, m_height, rgba.data(), anyTransparent) ? 0 : 1;
}

int CPicture::SaveBMP(const std::string& path) const {
    if (Empty()) return 1;
    size_t n = size_t(m_width) * size_t(m_height);
    std::vector<uint8_t> rgba(n * 4);
    for (size_t i = 0; i < n; ++i) {
        uint32_t p = m_pixels[i];
        rgba[4 * i] = uint8_t(p >> 16);
        rgba[4 * i + 1] = uint8_t(p >> 8);
        rgba[4 * i + 2] = uint8_t(p);
        rgba[4 * i + 3] = 255;
    }
    return SaveBmpFile(path, m_width, m_height, rgba.data()) ? 0 : 1;
}

// ---- pixel operations ----

void CPicture::DownscaleByTwo() {
    int w = m_width / 2, h = m_height / 2;
    CPicture out(w, h);
    for (int y = 0; y < h; ++y) {
        const uint32_t* a = Row(2 * y);
        const uint32_t* b = Row(2 * y + 1);
        uint32_t* o = out.Row(y);
        for (int x = 0; x < w; ++x) {
            uint32_t p = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                uint32_t s = Chan(a[2 * x], shift) + Chan(a[2 * x + 1], shift) + Chan(b[2 * x], shift) +
                             Chan(b[2 * x + 1], shift);
                p |= (s / 4) << shift;
            }
            o[x] = p;
        }
    }
    out.SetFrameInfo(m_frameCount, m_frameDelay);
    *this = std::move(out);
}

void CPicture::UpscaleByTwo() {
    if (int64_t(m_width) * m_height * 4 > kMaxPicturePixels) return;
    CPicture out(m_width * 2, m_height * 2);
    for (int y = 0; y < out.m_height; ++y) {
        const uint32_t* s = Row(y / 2);
        uint32_t* o = out.Row(y);
        for (int x = 0; x < out.m_width; ++x) o[x] = s[x / 2];
    }
    out.SetFrameInfo(m_frameCount, m_frameDelay);
    *this = std::move(out);
}

void CPicture::Fill(uint32_t colour, int mode, int x, int y, int w, int h) {
    if (w < 0 || h < 0) {
        x = y = 0;
        w = m_width;
        h = m_height;
    }
    int x0 = std::max(0, x), y0 = std::max(0, y);
    int x1 = int(std::min<int64_t>(m_width, int64_t(x) + w)), y1 = int(std::min<int64_t>(m_height, int64_t(y) + h));
    uint32_t o = Trans(colour);
    for (int yy = y0; yy < y1; ++yy) {
        uint32_t* r = Row(yy);
        for (int xx = x0; xx < x1; ++xx) {
            if (mode == 0) {
                r[xx] = colour;
                continue;
            }
            uint32_t p = r[xx], pt = Trans(p);
            uint32_t t = std::min(o, 255 - pt);
            uint32_t np = std::min(o, pt) << 24;
            for (int s = 0; s <= 16; s += 8) np |= ((Chan(colour, s) * (255 - o) + t * Chan(p, s)) / 255) << s;
            r[xx] = np;
        }
    }
}

namespace {
// Clips a w x h block copied from (sx, sy) of a picture sw x sh to (dx, dy) of one dw x dh.
bool ClipBlock(int dw, int dh, int sw, int sh, int& dx, int& dy, int& sx, int& sy, int& w, int& h) {
    if (dx < 0) { sx -= dx; w += dx; dx = 0; }
    if (dy < 0) { sy -= dy; h += dy; dy = 0; }
    if (sx < 0) { dx -= sx; w += sx; sx = 0; }
    if (sy < 0) { dy -= sy; h += sy; sy = 0; }
    w = int(std::min<int64_t>({int64_t(w), int64_t(dw) - dx, int64_t(sw) - sx}));
    h = int(std::min<int64_t>({int64_t(h), int64_t(dh) - dy, int64_t(sh) - sy}));
    return w > 0 && h > 0;
}
}  // namespace

void CPicture::CopyRect(const CPicture& src, int dx, int dy, int sx, int sy, int w, int h) {
    if (!ClipBlock(m_width, m_height, src.m_width, src.m_height, dx, dy, sx, sy, w, h)) return;
    for (int y = 0; y < h; ++y) std::memmove(Row(dy + y) + dx, src.Row(sy + y) + sx, size_t(w) * 4);
}

void CPicture::BlendRect(const CPicture& src, int dx, int dy, int sx, int sy, int w, int h) {
    if (!ClipBlock(m_width, m_height, src.m_width, src.m_height, dx, dy, sx, sy, w, h)) return;
    for (int y = 0; y < h; ++y) {
        const uint32_t* s = src.Row(sy + y) + sx;
        uint32_t* d = Row(dy + y) + dx;
        for (int x = 0; x < w; ++x) {
            uint32_t sp = s[x], o = Trans(sp);
            if (o >= 240) continue;
            uint32_t dp = d[x], dt = Trans(dp);
            uint32_t t = std::min(o, 255 - dt);
            uint32_t np = std::min(o, dt) << 24;
            for (int sh = 0; sh <= 16; sh += 8) np |= ((Chan(sp, sh) * (255 - o) + t * Chan(dp, sh)) / 255) << sh;
            d[x] = np;
        }
    }
}

void CPicture::ScaledCopy(const CPicture& src, int x, int y, int w, int h, bool swapAxes) {
    if (src.Empty() || w <= 0 || h <= 0) return;
    // Steps are accumulated in floating point; the source index is clamped so rounding can
    // never step outside the source. Rows and columns past the destination end the loops.
    double colStep = swapAxes ? double(src.m_height) / w : double(src.m_width) / w;
    double rowStep = swapAxes ? double(src.m_width) / h : double(src.m_height) / h;
    double fi = 0;
    for (int i = 0; i < h; ++i, fi += rowStep) {
        int64_t dy = int64_t(y) + i;
        if (dy >= m_height) break;
        if (dy < 0) continue;
        uint32_t* d = Row(int(dy));
        double fj = 0;
        for (int j = 0; j < w; ++j, fj += colStep) {
            int64_t dx = int64_t(x) + j;
            if (dx >= m_width) break;
            if (dx < 0) continue;
            int a = int(std::floor(fi)), b = int(std::floor(fj));
            int sx = swapAxes ? a : b, sy = swapAxes ? b : a;
            sx = std::clamp(sx, 0, src.m_width - 1);
            sy = std::clamp(sy, 0, src.m_height - 1);
            d[dx] = src.At(sx, sy);
        }
    }
}

void CPicture::Checkerboard() {
    for (int y = 0; y < m_height; ++y) {
        uint32_t* r = Row(y);
        for (int x = 0; x < m_width; ++x) r[x] = ((x / 8) % 2 == (y / 8) % 2) ? 0x00FFFFFFu : 0x00A0A0A0u;
    }
}

void CPicture::InvertTransparency() {
    size_t n = size_t(m_width) * size_t(m_height);
    for (size_t i = 0; i < n; ++i) m_pixels[i] ^= 0xFF000000u;
}

// ---- raw device picture files ----

size_t RawPictureFileSize(int format, int lineLength, int height) {
    if (lineLength < 0 || height < 0) return 0;
    size_t pairs = size_t(lineLength / 2) * size_t(height);
    switch (format) {
    case 3: return pairs * 8;
    case 4: return pairs * 5;
    case 5: return 0x94000;
    case 6: return 600064;
    default: return pairs * 4;
    }
}

int ReadRawPictureFile(int format, const std::string& path, uint8_t* buf, size_t bufSize, int lineLength, int height) {
    size_t n = RawPictureFileSize(format, lineLength, height);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 1;
    size_t got = n <= bufSize ? std::fread(buf, 1, n, f) : 0;
    std::fclose(f);
    return got == n && n <= bufSize ? 0 : 3;
}

int WriteRawPictureFile(int format, const std::string& path, const uint8_t* buf, size_t bufSize, int lineLength,
                        int height) {
    size_t n = RawPictureFileSize(format, lineLength, height);
    if (n > bufSize) return 1;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 1;
    bool ok = std::fwrite(buf, 1, n, f) == n;
    ok = (std::fclose(f) == 0) && ok;
    return ok ? 0 : 1;
}
