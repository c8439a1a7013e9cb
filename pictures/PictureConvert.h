#pragma once
#include <cstddef>
#include <cstdint>

#include "pictures/CPicture.h"

// Conversion between CPicture and device picture buffers: packed YCbCr 4:2:2 with a per-pixel
// opacity, in rows of a fixed line length. Format codes ("newformat"):
//   0  16-bit words, Y 6 / A 4 / C 6 bits, rotated right by 2
//   1  16-bit words, Y 7 / A 3 / C 6 bits
//   2  16-bit words (Y << 8) | C, no opacity (also every code not listed here)
//   3  32-bit words (Y << 16) | (C << 8) | A
//   4  5 bytes per pixel pair, Y 8 / C 7 / A 5 bits
//   5, 6  compressed frames: handled by a registered ICompressedPictureCodec
// Colorimetry: hdtv false = BT.601 coefficients, true = BT.709.

// Bytes per pixel pair of a format.
int DeviceBytesPerPair(int format);
// Size of a device buffer for a line length and height (line length / 2 pairs per row).
size_t DeviceBufferSize(int format, int lineLength, int height);

// Formats 5 and 6 are compressed pictures; their codec plugs in here.
class ICompressedPictureCodec {
public:
    virtual ~ICompressedPictureCodec() = default;
    virtual bool Handles(int format) const = 0;
    virtual bool PictureToDevice(const CPicture& pic, bool hdtv, int format, int saturation, uint8_t* buf,
                                 size_t bufSize, int lineLength) = 0;
    virtual bool DeviceToPicture(CPicture& pic, int lineLength, const uint8_t* buf, size_t bufSize, bool hdtv,
                                 int format) = 0;
};
// The codec for formats 5 and 6 (nullptr: none; those formats then fail). Not owned.
void SetCompressedPictureCodec(ICompressedPictureCodec* codec);
ICompressedPictureCodec* CompressedPictureCodec();
inline bool IsCompressedPictureFormat(int format) { return format == 5 || format == 6; }

// The saturation factor for a picture: 1 unless saturation (10..99) caps its strongest chroma.
float SaturationFactor(const CPicture& pic, bool hdtv, int saturation);

// Picture to device layout. lineLength 0 means the picture width. Pixels of a row beyond the
// picture width are left as they are. Returns false, touching nothing, when the buffer is too
// small for lineLength x height, the line length is shorter than the width, or a compressed
// format has no codec. An odd last column has no pair partner and is not converted.
bool PictureToDevice(const CPicture& pic, bool hdtv, int format, int saturation, uint8_t* buf, size_t bufSize,
                     int lineLength = 0);
// Device layout to picture; the picture already has the wanted size. Same checks as above.
bool DeviceToPicture(CPicture& pic, int lineLength, const uint8_t* buf, size_t bufSize, bool hdtv, int format);

// A colour 0x00BBGGRR to 0x00CrCbYY, BT.709, 8 bits.
uint32_t ColourToDevice(uint32_t colour, int saturation);

// BT.709 at 8 bits with saturation factor 1 into separate planes, the layout the codec frames
// take: luma of every pixel, Cb and Cr of each pixel pair of the even rows only (the odd rows'
// chroma is dropped). rows rows of width pixels from px on (width even, rows counted from an
// even row); luma rows are width bytes, chroma rows width / 2. The same values as format 2.
void RowsToPlanes709(const uint32_t* px, int width, int rows, uint8_t* y, uint8_t* cb, uint8_t* cr);
// The inverse: row i of width pixels from luma row i and chroma row i / 2, opaque.
void PlanesToRows709(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int rows, uint32_t* px);
