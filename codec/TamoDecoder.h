#pragma once
#include "codec/CBitstream.h"
#include "codec/TamoTransform.h"

#include <cstdint>

namespace tamo {
// One macroblock row being decoded.
struct RowContext {
    CBitstream* bits;
    int columns;
    uint8_t* y;   // first luma line of the row
    uint8_t* cb;  // first chroma lines of the row
    uint8_t* cr;
    int yStride;
    int cStride;
    int pred[3];
};
bool DecodeRowPortable(RowContext& rc);
bool DecodeRowAvx2(RowContext& rc);
}  // namespace tamo

// Decodes a stream into Y, Cb, Cr planes (width x coded height luma, half that each way for
// chroma). Never reads outside the bytes it is given.
class TamoDecoder {
public:
    explicit TamoDecoder(tamo::TransformImpl impl = tamo::BestTransform()) : m_impl(impl) {}
    virtual ~TamoDecoder() = default;

    // True on success. The planes are touched only once the header has been accepted.
    bool Decode(const uint8_t* stream, int size, uint8_t* y, uint8_t* cb, uint8_t* cr);
    // Threads decoding rows side by side (rows are independent); 1 by default.
    void SetThreads(int threads) { m_threads = threads < 1 ? 1 : threads; }

    // Picture type of a stream whose header is acceptable, else 0.
    static int StreamType(const uint8_t* stream, int size);

    // 3 bytes (R, G, B) per pixel, width x height, from 4:2:0 planes with strides width, width/2.
    static void ToRgb(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int height,
                      uint8_t* rgb);

private:
    tamo::TransformImpl m_impl;
    int m_threads = 1;
};
