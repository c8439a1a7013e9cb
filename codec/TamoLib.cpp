#include "codec/TamoLib.h"

#include "codec/FerloFileEncoder.h"
#include "codec/TamoDecoder.h"
#include "codec/TamoEncoder.h"
#include "codec/TamoTables.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

// Single pictures use the processors there are; rows code and decode independently.
int PictureThreads() {
    static const int n = std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
    return n;
}

int EncodePlanes(int type, int units, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out) {
    if (!y || !cb || !cr || !out) return 0;
    TamoEncoder enc(units, type, 0);
    enc.SetThreads(PictureThreads());
    return enc.Encode(0, y, cb, cr, out);
}

int EncodeFile(int type, int units, int studioRange, const char16_t* path, uint8_t* out) {
    if (!path || !out) return -1;
    FerloFileEncoder fe(path, type, units, studioRange != 0);
    if (!fe.Usable()) return -1;
    if (fe.FrameCount() <= 0) return -2;
    // No frame, or a budget that cannot hold even the empty picture.
    if (!fe.NextFrame() || fe.FrameSize() <= 0) return -3;
    std::memcpy(out, fe.FrameData(), size_t(fe.FrameSize()));
    return 0;
}

}  // namespace

TAMO_EXPORT int Tamo_Encode_HD(int budgetUnits, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out) {
    return EncodePlanes(tamo::kTypeHD, budgetUnits, y, cb, cr, out);
}

TAMO_EXPORT int Tamo_Encode_4K(int budgetUnits, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out) {
    return EncodePlanes(tamo::kType4K, budgetUnits, y, cb, cr, out);
}

TAMO_EXPORT int Tamo_Decode(const uint8_t* stream, int size, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    if (!y || !cb || !cr) return 1;
    TamoDecoder dec;
    dec.SetThreads(PictureThreads());
    return dec.Decode(stream, size, y, cb, cr) ? 0 : 1;
}

TAMO_EXPORT int Tamo_Decode_RGB(const uint8_t* stream, int size, uint8_t* y, uint8_t* cb, uint8_t* cr, uint8_t* rgb) {
    if (!y || !cb || !cr || !rgb) return 1;
    TamoDecoder dec;
    dec.SetThreads(PictureThreads());
    if (!dec.Decode(stream, size, y, cb, cr)) return 1;
    const tamo::Geometry& g = *tamo::GeometryOf(TamoDecoder::StreamType(stream, size));
    TamoDecoder::ToRgb(y, cb, cr, g.width, g.height, rgb);
    return 0;
}

TAMO_EXPORT int Tamo_EncodeImageFile_HD(int budgetUnits, int studioRange, const char16_t* path, uint8_t* out) {
    return EncodeFile(tamo::kTypeHD, budgetUnits, studioRange, path, out);
}

TAMO_EXPORT int Tamo_EncodeImageFile_4K(int budgetUnits, int studioRange, const char16_t* path, uint8_t* out) {
    return EncodeFile(tamo::kType4K, budgetUnits, studioRange, path, out);
}
