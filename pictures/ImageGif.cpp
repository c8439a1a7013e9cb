// GIF reading through giflib's record-level calls, so every frame size is checked before
// anything is allocated for it. The selected frame is composed over the frames before it
// (with their disposal), as a viewer would show it.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "pictures/ImageFile.h"

namespace {
struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int ReadFn(GifFileType* gif, GifByteType* buf, int len) {
    auto* s = static_cast<Source*>(gif->UserData);
    size_t n = std::min(size_t(len < 0 ? 0 : len), s->size - s->pos);
    std::memcpy(buf, s->data + s->pos, n);
    s->pos += n;
    return int(n);
}

struct GifCloser {
    void operator()(GifFileType* g) const {
        int e;
        DGifCloseFile(g, &e);
    }
};

bool Fail(std::string* err, const char* what) {
    if (err) *err = what;
    return false;
}
}  // namespace

bool DecodeGif(const uint8_t* data, size_t size, int frame, ImageData& out, std::string* err, int64_t maxPixels) {
    out = ImageData();
    if (frame < 0) frame = 0;
    Source src{data, size, 0};
    int e = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&src, ReadFn, &e));
    if (!gif) return Fail(err, "not a GIF file");
    int cw = gif->SWidth, ch = gif->SHeight;

    std::vector<uint8_t> canvas, saved, line;
    int frames = 0;
    int delay = 0, pendingDelay = 0, pendingTransparent = -1, pendingDisposal = 0;
    bool done = false;  // the selected frame is on the canvas
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            // A missing trailer after complete images is common and harmless.
            if (frames > 0) break;
            return Fail(err, "GIF data truncated");
        }
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* ext;
            if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) return Fail(err, "GIF extension corrupt");
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                pendingDisposal = (ext[1] >> 2) & 7;
                pendingDelay = ext[2] | ext[3] << 8;
                pendingTransparent = (ext[1] & 1) ? ext[4] : -1;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) return Fail(err, "GIF extension corrupt");
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return Fail(err, "GIF image descriptor corrupt");
        const GifImageDesc& im = gif->Image;
        int index = frames++;
        int transparent = pendingTransparent, disposal = pendingDisposal, frameDelay = pendingDelay;
        pendingTransparent = -1;
        pendingDisposal = 0;
        pendingDelay = 0;
        if (done || index > frame) {
            // Only counting from here on: skip the compressed data without decoding it.
            int codeSize;
            GifByteType* block;
            if (DGifGetCode(gif.get(), &codeSize, &block) == GIF_ERROR) return Fail(err, "GIF data corrupt");
            while (block) {
                if (DGifGetCodeNext(gif.get(), &block) == GIF_ERROR) return Fail(err, "GIF data corrupt");
            }
            continue;
        }
        if (im.Width <= 0 || im.Height <= 0 || im.Width > kMaxImageSide || im.Height > kMaxImageSide ||
            int64_t(im.Width) * im.Height > maxPixels)
            return Fail(err, "GIF frame size out of range");
        if (canvas.empty()) {
            if (cw <= 0 || ch <= 0) {
                cw = im.Left + im.Width;
                ch = im.Top + im.Height;
            }
            if (cw <= 0 || ch <= 0 || cw > kMaxImageSide || ch > kMaxImageSide || int64_t(cw) * ch > maxPixels)
                return Fail(err, "GIF size out of range");
            canvas.assign(size_t(cw) * size_t(ch) * 4, 0);  // transparent until a frame covers it
        }
        const ColorMapObject* map = im.ColorMap ? im.ColorMap : gif->SColorMap;
        if (!map || !map->Colors) return Fail(err, "GIF without colour map");
        if (disposal == 3) saved = canvas;
        line.resize(size_t(im.Width));
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        int passes = im.Interlace ? 4 : 1;
        for (int p = 0; p < passes; ++p) {
            int y0 = im.Interlace ? kStart[p] : 0, step = im.Interlace ? kStep[p] : 1;
            for (int y = y0; y < im.Height; y += step) {
                if (DGifGetLine(gif.get(), line.data(), im.Width) == GIF_ERROR) return Fail(err, "GIF data truncated");
                int cy = im.Top + y;
                if (cy < 0 || cy >= ch) continue;
                for (int x = 0; x < im.Width; ++x) {
                    int cx = im.Left + x;
                    int v = line[size_t(x)];
                    if (cx < 0 || cx >= cw || v == transparent) continue;
                    uint8_t* o = &canvas[(size_t(cy) * size_t(cw) + size_t(cx)) * 4];
                    if (v < map->ColorCount) {
                        o[0] = map->Colors[v].Red;
                        o[1] = map->Colors[v].Green;
                        o[2] = map->Colors[v].Blue;
                    } else {
                        o[0] = o[1] = o[2] = 0;
                    }
                    o[3] = 255;
                }
            }
        }
        if (index == frame) {
            done = true;
            delay = frameDelay;
        } else if (disposal == 2) {
            for (int y = std::max(0, int(im.Top)); y < std::min(ch, im.Top + im.Height); ++y)
                for (int x = std::max(0, int(im.Left)); x < std::min(cw, im.Left + im.Width); ++x)
                    std::memset(&canvas[(size_t(y) * size_t(cw) + size_t(x)) * 4], 0, 4);
        } else if (disposal == 3 && !saved.empty()) {
            canvas.swap(saved);
        }
    }
    if (!done) return Fail(err, "GIF frame not in the file");
    out.width = cw;
    out.height = ch;
    out.rgba.swap(canvas);
    out.hasAlpha = false;
    for (size_t i = 3; i < out.rgba.size(); i += 4)
        if (out.rgba[i] != 255) {
            out.hasAlpha = true;
            break;
        }
    out.frameCount = frames;
    out.frameDelay = delay;
    return true;
}
