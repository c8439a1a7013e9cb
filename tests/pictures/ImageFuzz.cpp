// Fuzz target of one image reader (chosen by FUZZ_FORMAT at build time): the decoder straight
// on the input, then whatever decodes goes through resampling and a device conversion.
// FUZZ_FORMAT 6 is the whole picture loader (format told from the content, then fitted to
// a size by a load mode); 7 the raw device picture reader and its conversion to a picture.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pictures/CPicture.h"
#include "pictures/ImageFile.h"
#include "pictures/PictureConvert.h"

namespace {
#if FUZZ_FORMAT <= 5
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
#endif

// Through a device format and back, the way every page sends and shows a picture.
void RoundTrip(CPicture& pic) {
    uint8_t buf[6 / 2 * 4 * 5];
    PictureToDevice(pic, true, 4, 50, buf, sizeof buf, 0);
    DeviceToPicture(pic, 0, buf, sizeof buf, true, 4);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if FUZZ_FORMAT == 6
    // The first two bytes choose the load mode and the size to fit to; the rest is the file.
    if (size < 2) return 0;
    const int mode = data[0] % 6, w = data[1] & 0x0F, h = data[1] >> 4;
    CPicture pic;
    int r = pic.LoadFromMemory(data + 2, size - 2, (data[0] & 0x80) != 0, mode, w * 3, h * 2, int(data[0] >> 3 & 3) - 1);
    if (r != CPicture::kLoadOk) {
        if (!pic.Empty()) __builtin_trap();  // a refused file leaves nothing behind
        return 0;
    }
    if (w && h && mode != CPicture::kLoadNone && mode != CPicture::kLoadClip && mode != CPicture::kLoadFit &&
        (pic.Width() != w * 3 || pic.Height() != h * 2))
        __builtin_trap();
    if (pic.Width() >= 6 && pic.Height() >= 4) {
        CPicture part(6, 4);
        part.CopyRect(pic, 0, 0, 0, 0, 6, 4);
        RoundTrip(part);
    }
    return 0;
#elif FUZZ_FORMAT == 7
    // A raw device file: the first bytes choose the format, the line length and the height,
    // the rest is the file's content as the reader finds it on disk.
    if (size < 3) return 0;
    static int fd = memfd_create("varo-raw-fuzz", 0);
    if (fd < 0) return 0;
    const int format = data[0] % 8, lineLength = data[1] % 64, height = data[2] % 32;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data + 3, size - 3, 0) != ssize_t(size - 3)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // The buffer is what the page gives: sized by the format, which may be short of the file.
    std::vector<uint8_t> buf(DeviceBufferSize(format, lineLength, height));
    int r = ReadRawPictureFile(format, path, buf.data(), buf.size(), lineLength, height);
    if (r != 0 || IsCompressedPictureFormat(format)) return 0;
    CPicture pic(lineLength & ~1, height);
    DeviceToPicture(pic, lineLength, buf.data(), buf.size(), (data[0] & 0x80) != 0, format);
    if (!pic.Empty()) RoundTrip(pic);
    return 0;
#else
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
    RoundTrip(pic);
    return 0;
#endif
}
