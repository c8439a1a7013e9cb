#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The image-file layer: decodes BMP, TGA, JPEG, PNG and GIF files into 8-bit RGBA, resamples,
// crops, pads and saves PNG and BMP. Everything works on memory so the readers can be fuzzed.

enum class ImageFormat { Unknown, Bmp, Tga, Jpeg, Png, Gif };

// A decoded image: rows top first, 4 bytes per pixel in the order R, G, B, A.
struct ImageData {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;       // false: every A is 255
    std::vector<uint8_t> rgba;
    int frameCount = 0;          // GIF: frames in the file; others 0
    int frameDelay = 0;          // GIF: the selected frame's delay in 1/100 s; others 0
    ImageFormat format = ImageFormat::Unknown;

    void Allocate(int w, int h) {
        width = w;
        height = h;
        rgba.assign(size_t(w) * size_t(h) * 4, 0);
    }
    uint8_t* Row(int y) { return rgba.data() + size_t(y) * size_t(width) * 4; }
    const uint8_t* Row(int y) const { return rgba.data() + size_t(y) * size_t(width) * 4; }
};

// No element takes a picture wider or higher than 8192 (the model elements' limit), nor one
// larger than 8K-class: a decoder refuses anything bigger before allocating for it. Decoders
// of formats whose compression has a ratio limit also refuse sizes the data cannot hold.
constexpr int kMaxImageSide = 8192;
constexpr int64_t kDefaultMaxImagePixels = int64_t(8192) * 4320;

// The format is told from the content, never from a file name.
ImageFormat DetectImageFormat(const uint8_t* data, size_t size);

// Decodes a file held in memory. frame: the GIF frame to decode, -1 for the default (first)
// frame; ignored for other formats. On failure returns false, out is left empty and err says why.
bool DecodeImage(const uint8_t* data, size_t size, int frame, ImageData& out, std::string* err = nullptr,
                 int64_t maxPixels = kDefaultMaxImagePixels);

// The individual readers (same contract as DecodeImage).
bool DecodeBmp(const uint8_t* data, size_t size, ImageData& out, std::string* err, int64_t maxPixels);
bool DecodeTga(const uint8_t* data, size_t size, ImageData& out, std::string* err, int64_t maxPixels);
bool DecodePng(const uint8_t* data, size_t size, ImageData& out, std::string* err, int64_t maxPixels);
bool DecodeJpeg(const uint8_t* data, size_t size, ImageData& out, std::string* err, int64_t maxPixels);
bool DecodeGif(const uint8_t* data, size_t size, int frame, ImageData& out, std::string* err, int64_t maxPixels);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data);

// Bicubic resampling (Catmull-Rom kernel, widened when shrinking) with edge pixels repeated.
// Colour is weighted by alpha so transparent pixels do not bleed their colour into edges.
ImageData ResampleBicubic(const ImageData& in, int w, int h);

// Copies columns [x0, x0 + w) of in (clipped) into a w-wide image padded with the colour
// (RGBA bytes); a negative x0 pads on the left.
ImageData CropPadColumns(const ImageData& in, int x0, int w, const uint8_t padRgba[4]);

// Saving. rgba rows top first. PNG: 32-bit with alpha when withAlpha, else 24-bit. BMP: 24-bit.
bool SavePngFile(const std::string& path, int w, int h, const uint8_t* rgba, bool withAlpha);
bool SaveBmpFile(const std::string& path, int w, int h, const uint8_t* rgba);
