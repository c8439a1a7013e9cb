// What a decoder may allocate for a file: never more than its data can hold or than the
// largest picture an element takes. Files that claim more are refused (21303) before the
// picture memory is allocated, which this binary watches through its own operator new.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ImageFixtures.h"
#include "pictures/CPicture.h"
#include "pictures/ImageFile.h"

namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};

// The largest single allocation made while loading the file from memory.
size_t LargestAllocation(const Bytes& file, int* result) {
    CPicture pic;
    g_largest = 0;
    g_watching = true;
    *result = pic.LoadFromMemory(file.data(), file.size(), true, CPicture::kLoadNone, 0, 0);
    g_watching = false;
    return g_largest;
}

void Put16Le(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32Be(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// A 32-bit run-length TGA of w x h with `packets` run packets of 128 pixels each.
Bytes RleTga(int w, int h, size_t packets) {
    Bytes b(18, 0);
    b[2] = 10;
    Put16Le(b, 12, uint32_t(w));
    Put16Le(b, 14, uint32_t(h));
    b[16] = 32;
    b[17] = 8;
    for (size_t i = 0; i < packets; ++i) b.insert(b.end(), {0xFF, 0x10, 0x20, 0x30, 0xFF});
    return b;
}

// A small PNG whose header claims w x h: its image data stays that of the small one.
Bytes PngClaiming(uint32_t w, uint32_t h, int colorType) {
    Bytes b = MakePng(PatternImage(16, 16, 4), colorType);
    Put32Be(b, 16, w);
    Put32Be(b, 20, h);
    Put32Be(b, 29, uint32_t(crc32(0, b.data() + 12, 17)));  // IHDR type and data
    return b;
}

// A baseline JPEG whose frame header claims w x h.
Bytes JpegClaiming(uint16_t w, uint16_t h) {
    Bytes b = MakeJpeg(PatternImage(16, 16, 4), 80);
    for (size_t i = 2; i + 9 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == 0xC0) {
            b[i + 5] = uint8_t(h >> 8);
            b[i + 6] = uint8_t(h);
            b[i + 7] = uint8_t(w >> 8);
            b[i + 8] = uint8_t(w);
            break;
        }
    return b;
}

// A GIF whose logical screen is w x h around one 2 x 2 frame.
Bytes GifScreen(uint16_t w, uint16_t h) {
    Bytes b = MakeGif(2, 2, {0xFF0000, 0x00FF00}, {GifFrame{0, 0, 2, 2, {0, 1, 1, 0}, 0}});
    Put16Le(b, 6, w);
    Put16Le(b, 8, h);
    return b;
}

// An 8-bit RLE BMP of w x h that ends its data at once (every pixel palette entry 0).
Bytes EmptyRleBmp(int w, int h) {
    Bytes b = MakeBmp(PatternImage(2, 1, 2), {8, false, 8});
    uint32_t off = uint32_t(b[10]) | uint32_t(b[11]) << 8;
    b.resize(off);
    for (int i = 0; i < 4; ++i) {
        b[18 + size_t(i)] = uint8_t(uint32_t(w) >> (8 * i));
        b[22 + size_t(i)] = uint8_t(uint32_t(h) >> (8 * i));
    }
    b.insert(b.end(), {0, 1});
    return b;
}
}  // namespace

void* operator new(size_t n) {
    if (g_watching) {
        size_t seen = g_largest;
        while (n > seen && !g_largest.compare_exchange_weak(seen, n)) {
        }
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

TEST(ImageBudget, FilesClaimingMoreThanTheyHoldAreRefusedBeforeAllocating) {
    constexpr size_t kSmall = size_t(1) << 20;  // far below any picture these files claim
    struct Case {
        const char* what;
        Bytes file;
    } cases[] = {
        // 80 KB of runs cannot make 4096 x 2048 pixels (16 K packets of 128 at most).
        {"RLE TGA, runs for a quarter of its size", RleTga(4096, 2048, 16 * 1024)},
        {"RLE TGA, 512 KB claiming 8192 x 8192", RleTga(8192, 8192, 105000)},
        {"RGBA PNG with the data of 16 x 16 claiming 4096 x 4096", PngClaiming(4096, 4096, 6)},
        {"grey PNG claiming 8192 x 8192", PngClaiming(8192, 8192, 0)},
        {"baseline JPEG with the data of 16 x 16 claiming 8000 x 4000", JpegClaiming(8000, 4000)},
        {"GIF screen of 8192 x 8192", GifScreen(8192, 8192)},
        {"RLE BMP of 8192 x 8192", EmptyRleBmp(8192, 8192)},
        {"RLE BMP wider than any element", EmptyRleBmp(9000, 2)},
    };
    for (const auto& c : cases) {
        int result = -1;
        size_t largest = LargestAllocation(c.file, &result);
        EXPECT_EQ(result, CPicture::kLoadInvalid) << c.what;
        EXPECT_LT(largest, kSmall) << c.what;
    }
}

TEST(ImageBudget, FilesAtTheirFormatsLimitStillLoad) {
    struct Case {
        const char* what;
        Bytes file;
        int w, h;
    } cases[] = {
        // 1024 x 1024 is exactly 8192 packets of 128 pixels.
        {"RLE TGA as tight as runs go", RleTga(1024, 1024, 8192), 1024, 1024},
        // A flat grey picture deflates to about a thousandth of its rows.
        {"flat PNG", MakePng(PatternImage(2048, 1024, 1), 0), 2048, 1024},
        {"flat JPEG", MakeJpeg(PatternImage(2048, 1024, 1), 10, true), 2048, 1024},
        {"GIF screen larger than its frame", GifScreen(1920, 1080), 1920, 1080},
    };
    for (const auto& c : cases) {
        CPicture pic;
        ASSERT_EQ(pic.LoadFromMemory(c.file.data(), c.file.size(), true, CPicture::kLoadNone, 0, 0),
                  CPicture::kLoadOk)
            << c.what << " (" << c.file.size() << " bytes)";
        EXPECT_EQ(pic.Width(), c.w) << c.what;
        EXPECT_EQ(pic.Height(), c.h) << c.what;
    }
    // One packet short of the tight TGA is no longer enough.
    Bytes shortTga = RleTga(1024, 1024, 8191);
    CPicture pic;
    EXPECT_EQ(pic.LoadFromMemory(shortTga.data(), shortTga.size(), true, CPicture::kLoadNone, 0, 0),
              CPicture::kLoadInvalid);
}
