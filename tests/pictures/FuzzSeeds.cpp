// Writes small valid files of each image format as starting points for the fuzz targets:
// fuzz-seeds/<format>/<n>, and the same behind the control bytes of the loader and raw targets. Made at build time so no binary fixture is kept in the tree.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ImageFixtures.h"
#include "pictures/CPicture.h"
#include "pictures/PictureConvert.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::filesystem::path root(argv[1]);
    auto put = [&](const char* fmt, int n, const Bytes& b) {
        std::filesystem::create_directories(root / fmt);
        WriteFile((root / fmt / std::to_string(n)).string(), b);
    };
    TestImage img = PatternImage(9, 5, 16, true), few = PatternImage(9, 5, 2);
    int n = 0;
    for (BmpOptions o : {BmpOptions{1}, BmpOptions{4}, BmpOptions{8}, BmpOptions{16}, BmpOptions{16, false, 0, true},
                         BmpOptions{24, true}, BmpOptions{32, false, 0, true}, BmpOptions{8, false, 8},
                         BmpOptions{4, false, 4}, BmpOptions{8, false, 0, false, true}})
        put("bmp", n++, MakeBmp(o.bits <= 8 ? PatternImage(9, 5, o.bits == 1 ? 2 : 16) : img, o));
    n = 0;
    for (TgaOptions o : {TgaOptions{1, 8}, TgaOptions{2, 24}, TgaOptions{2, 32, true, false, 8}, TgaOptions{2, 16},
                         TgaOptions{3, 8}, TgaOptions{9, 8}, TgaOptions{10, 32, false, true, 8}, TgaOptions{11, 8}})
        put("tga", n++, MakeTga(o.type == 3 || o.type == 11 ? few : PatternImage(9, 5, 16, o.depth == 32), o));
    std::vector<uint32_t> pal = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    put("gif", 0, MakeGif(4, 2, pal, {GifFrame{0, 0, 4, 2, {0, 1, 2, 3, 3, 2, 1, 0}, 5}}));
    put("gif", 1, MakeGif(4, 2, pal, {GifFrame{0, 0, 4, 2, std::vector<uint8_t>(8, 1), 5, 3, 2},
                                      GifFrame{1, 1, 2, 1, {2, 3}, 9, 3, 3}}));
    n = 0;
    for (int t : {0, 2, 3, 4, 6}) put("png", n++, MakePng(t == 0 || t == 4 ? few : img, t));
    put("jpeg", 0, MakeJpeg(img, 80));
    put("jpeg", 1, MakeJpeg(few, 50, true));

    // The whole loader: two bytes of load mode and size in front of a file of each format.
    n = 0;
    for (const char* fmt : {"bmp", "tga", "gif", "png", "jpeg"})
        for (const auto& e : std::filesystem::directory_iterator(root / fmt)) {
            std::ifstream f(e.path(), std::ios::binary);
            Bytes file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            Bytes b = {uint8_t(0x80 | (n % 6)), uint8_t(n % 3 ? 0x23 : 0)};
            b.insert(b.end(), file.begin(), file.end());
            put("any", n++, b);
        }
    // Raw device files: format, line length and height, then the bytes of a picture in it.
    n = 0;
    for (int format : {0, 1, 2, 3, 4}) {
        const int lineLength = 10, height = 5;
        CPicture pic(lineLength, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < lineLength; ++x) pic.At(x, y) = img.At(x % img.w, y % img.h);
        Bytes raw(DeviceBufferSize(format, lineLength, height));
        PictureToDevice(pic, format & 1, format, 100, raw.data(), raw.size(), 0);
        Bytes b = {uint8_t(format | (format & 1 ? 0x80 : 0)), uint8_t(lineLength), uint8_t(height)};
        b.insert(b.end(), raw.begin(), raw.end());
        put("raw", n++, b);
    }
    return 0;
}
