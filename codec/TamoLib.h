#pragma once
// The exports of libtamo.so: plain C functions, the caller owns every buffer.
#include <cstdint>

#if defined(TAMO_BUILDING_LIBRARY)
#define TAMO_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define TAMO_EXPORT extern "C"
#endif

// Encodes Y (1920 x 1088), Cb, Cr (960 x 544) into `out` (at least units * 512 bytes); returns
// the stream size in bytes (0 when the budget cannot hold even the empty picture).
TAMO_EXPORT int Tamo_Encode_HD(int budgetUnits, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out);
// The same for 3840 x 2160 (chroma 1920 x 1080).
TAMO_EXPORT int Tamo_Encode_4K(int budgetUnits, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out);
// 0 success, 1 failure.
TAMO_EXPORT int Tamo_Decode(const uint8_t* stream, int size, uint8_t* y, uint8_t* cb, uint8_t* cr);
// Decodes into the work planes and converts to RGB (width x display height x 3 bytes).
TAMO_EXPORT int Tamo_Decode_RGB(const uint8_t* stream, int size, uint8_t* y, uint8_t* cb, uint8_t* cr, uint8_t* rgb);
// Encodes the first frame of an image or video file (path zero-terminated UTF-16) through
// ffprobe and ffmpeg. 0 success, -1 file not usable, -2 no frames, -3 encoding failed.
TAMO_EXPORT int Tamo_EncodeImageFile_HD(int budgetUnits, int studioRange, const char16_t* path, uint8_t* out);
TAMO_EXPORT int Tamo_EncodeImageFile_4K(int budgetUnits, int studioRange, const char16_t* path, uint8_t* out);
