// PNG reading through libpng, from memory.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "pictures/ImageFile.h"

namespace {
struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void ReadFn(png_structp png, png_bytep out, png_size_t len) {
    auto* s = static_cast<Source*>(png_get_io_ptr(png));
    if (len > s->size - s->pos) png_error(png, "truncated");
    std::memcpy(out, s->data + s->pos, len);
    s->pos += len;
}

void ErrorFn(png_structp png, png_const_charp msg) {
    auto* err = static_cast<std::string*>(png_get_error_ptr(png));
    if (err) *err = msg;
    png_longjmp(png, 1);
}
void WarnFn(png_structp, png_const_charp) {}

// Bytes of compressed image data in the file: the IDAT chunks' lengths, walked without libpng.
uint64_t CompressedImageBytes(const uint8_t* d, size_t n) {
    uint64_t total = 0;
    for (size_t pos = 8; pos + 8 <= n;) {
        uint64_t len = uint64_t(d[pos]) << 24 | uint64_t(d[pos + 1]) << 16 | uint64_t(d[pos + 2]) << 8 | d[pos + 3];
        if (std::memcmp(d + pos + 4, "IDAT", 4) == 0) total += std::min<uint64_t>(len, n - pos - 8);
        if (std::memcmp(d + pos + 4, "IEND", 4) == 0) break;
        pos += size_t(std::min<uint64_t>(len + 12, n - pos));
    }
    return total;
}

// Deflate turns one bit into at most 1032 bytes (a 258-byte match in two one-bit codes).
constexpr uint64_t kDeflateMaxRatio = 1032;
}  // namespace

bool DecodePng(const uint8_t* data, size_t size, ImageData& out, std::string* err, int64_t maxPixels) {
    out = ImageData();
    std::string msg;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &msg, ErrorFn, WarnFn);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    Source src{data, size, 0};
    // Everything that must survive the longjmp lives outside this scope's automatic variables
    // that could be changed after setjmp.
    ImageData* result = &out;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        *result = ImageData();
        if (err) *err = msg.empty() ? "PNG decoding failed" : msg;
        return false;
    }
    png_set_read_fn(png, &src, ReadFn);
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    png_set_chunk_malloc_max(png, 64u << 20);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    int colorType = png_get_color_type(png, info);
    if (int64_t(w) * int64_t(h) > maxPixels) png_error(png, "PNG size out of range");
    // Even without interlacing every row is a filter byte and its packed samples; data that
    // cannot inflate to that much is refused before the picture is allocated.
    uint64_t rowBytes = (uint64_t(w) * png_get_channels(png, info) * png_get_bit_depth(png, info) + 7) / 8;
    if (uint64_t(h) * (1 + rowBytes) > kDeflateMaxRatio * CompressedImageBytes(data, size) + 64)
        png_error(png, "PNG image data too short for its size");
    bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);  // palette to RGB, grey below 8 bits to 8, tRNS to alpha
    png_set_strip_16(png);
    if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    if (!alpha) png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) png_error(png, "unexpected PNG row layout");
    result->Allocate(int(w), int(h));
    result->hasAlpha = alpha;
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = result->Row(int(y));
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}
