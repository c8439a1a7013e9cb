#pragma once
// Compressed full-HD frames: DNxHD made and read by ffmpeg, and our own codec through
// libtamo.so. A picture taller than one frame is a stack of 1080-line frames, frame k in the
// slot bytes from k x slot size on.
#include "pictures/CPicture.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr int kCompressedFrameWidth = 1920;
constexpr int kCompressedFrameHeight = 1080;
constexpr size_t kDnxhdFrameBytes = 0x94000;   // 606208
constexpr size_t kCodecFrameBytes = 600064;    // 1172 x 512
constexpr int kCodecBudgetUnits = 1171;        // the stream; the last unit holds the tail check
constexpr size_t kCodecCheckOffset1 = 28;      // inside the stream header's zero area
constexpr size_t kCodecCheckOffset2 = kCodecFrameBytes - 4;

// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial 0xFFFFFFFF, MSB first, no final XOR.
uint32_t Crc32Mpeg2(const uint8_t* data, size_t size, uint32_t crc = 0xFFFFFFFFu);
// The check value of a system codec slot: the CRC over the slot with both check fields zero.
uint32_t CodecSlotCheck(const uint8_t* slot);
// Stores the check value little-endian at both check fields.
void SealCodecSlot(uint8_t* slot);

// The two codecs of the compressed slots and the two ranges of the DNxHD route.
enum class CompressedCodec { Dnxhd = 0, System = 1 };
enum class DnxhdRange { Pc, Tv };  // "pictures" newformat 5: full range; compressed element: studio

// Asked about every 50 ms while ffmpeg runs (and between frames); true stops the work.
using CompressStop = std::function<bool()>;

size_t CompressedFrameBytes(CompressedCodec codec);
// Frames of a picture the routes take: width 1920 and a whole number of 1080-line frames (else 0).
int CompressedFrameCount(const CPicture& pic);

// ffmpeg from the program folder when it is there, else the first one on PATH; "" when none.
std::string FfmpegPath();

// Every frame of pic into out (frames x frame bytes). On failure error says why (the caller
// shows 21301 with its path) and out may be partly written.
bool CompressPicture(const CPicture& pic, CompressedCodec codec, DnxhdRange range, uint8_t* out, size_t outSize,
                     std::string& error, const CompressStop& stop = {});
// One frame from in into the 1080 rows of pic starting at row 1080 x frame (pic is 1920 wide
// and tall enough). A stream that does not decode leaves pic as it was.
bool DecompressFrame(const uint8_t* in, size_t inSize, CompressedCodec codec, CPicture& pic, int frame,
                     std::string& error, const CompressStop& stop = {});

// The codec behind formats 5 and 6 of "pictures" elements (DNxHD in full range). Registered
// when this file is linked in; InstallCompressedPictureCodec() says so explicitly.
void InstallCompressedPictureCodec();

// Routes called on this thread without a stop of their own (the "pictures" formats through
// the conversion seam) ask this one while it lives.
class CCompressStopScope {
public:
    explicit CCompressStopScope(const CompressStop& stop);
    ~CCompressStopScope();
    CCompressStopScope(const CCompressStopScope&) = delete;
    CCompressStopScope& operator=(const CCompressStopScope&) = delete;

private:
    const CompressStop* m_previous;
};
