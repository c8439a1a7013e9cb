// Fuzz target of one image reader (chosen by FUZZ_FORMAT at build time): the decoder straight
// on the input, then whatever decodes goes through resampling and a device conversion.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pictures/CPicture.h"
#include "pictures/ImageFile.h"
#include "pictures/PictureConvert.h"

namespace {
constexpr int64_t kFuzzMaxPixels = int64_t(1) << 20;  // keeps each input quick

bool Decode(const uint8_t* data, size_t size, ImageData& out) {
    std::string err;
#if FUZZ_FORMAT == 1
    return DecodeBmp(data, size, out, &err, kFuzzMaxPixels);
#elif FUZZ_FORMAT == 2
    return DecodeTga(data, size, out, &err, kFuzzMaxPixels);
#elif FUZZ_FORMAT == 3
    return DecodeGif(data, size, size > 0 ? int(data[size - 1] % 3) - 1 : -1, out, &err, kFuzzMaxPixels);
#elif FUZZ_FORMAT == 4
    return DecodePng(data, size, out, &err, kFuzzMaxPixels);
#else
    return DecodeJpeg(data, size, out, &err, kFuzzMaxPixels);
#endif
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImageData img;
    if (!Decode(data, size, img)) return 0;
    if (img.rgba.size() != size_t(img.width) * size_t(img.height) * 4) __builtin_trap();
    ImageData small = ResampleBicubic(img, 6, 4);
    CPicture pic(small.width, small.height);
    for (int y = 0; y < small.height; ++y)
        for (int x = 0; x < small.width; ++x) {
            const uint8_t* p = small.Row(y) + x * 4;
            pic.At(x, y) = uint32_t(255 - p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
    uint8_t buf[6 / 2 * 4 * 5];
    PictureToDevice(pic, true, 4, 50, buf, sizeof buf, 0);
    DeviceToPicture(pic, 0, buf, sizeof buf, true, 4);
    return 0;
}
