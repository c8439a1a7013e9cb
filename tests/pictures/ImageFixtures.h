#pragma once
// Small image files made by the tests themselves: BMP and TGA written byte by byte, GIF,
// JPEG and PNG through their libraries.
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// RGBA pixels, rows top first.
struct TestImage {
    int w = 0, h = 0;
    std::vector<uint32_t> rgba;  // 0xAABBGGRR as read from bytes R, G, B, A
    uint32_t At(int x, int y) const { return rgba[size_t(y * w + x)]; }
};

// A w x h image of at most `colours` distinct opaque colours (for palette formats).
TestImage PatternImage(int w, int h, int colours, bool alpha = false);

struct BmpOptions {
    int bits = 24;          // 1, 4, 8, 16, 24, 32
    bool topDown = false;
    int rle = 0;            // 0, 4 or 8
    bool bitfields = false; // 16: 565 masks; 32: masks with alpha in a v5 header
    bool coreHeader = false;
};
Bytes MakeBmp(const TestImage& img, const BmpOptions& opt);

struct TgaOptions {
    int type = 2;  // 1, 2, 3, 9, 10, 11
    int depth = 24;
    bool topFirst = false;
    bool rightToLeft = false;
    int alphaBits = 0;
};
Bytes MakeTga(const TestImage& img, const TgaOptions& opt);

struct GifFrame {
    int left = 0, top = 0, w = 0, h = 0;
    std::vector<uint8_t> indices;
    int delay = 0;         // 1/100 s
    int transparent = -1;  // index or -1
    int disposal = 0;
};
// Global palette of up to 256 colours 0xRRGGBB.
Bytes MakeGif(int w, int h, const std::vector<uint32_t>& palette, const std::vector<GifFrame>& frames);

Bytes MakeJpeg(const TestImage& img, int quality = 95, bool grey = false);
// colorType: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA (8-bit channels).
Bytes MakePng(const TestImage& img, int colorType);

void WriteFile(const std::string& path, const Bytes& data);
