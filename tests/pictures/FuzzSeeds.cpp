// Writes small valid files of each image format as starting points for the fuzz targets:
// fuzz-seeds/<format>/<n>. Made at build time so no binary fixture is kept in the tree.
#include <filesystem>
#include <string>

#include "ImageFixtures.h"

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
    return 0;
}
