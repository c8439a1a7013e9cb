#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "signals/SignalSet.h"

class CPicture;

// Device frame of a test table: 768 x 580 pixels of 4:2:2 data, 4 bytes per pixel pair.
constexpr int kFrameWidth = 768;
constexpr int kFrameLines = 580;
constexpr int kActiveLines = 576;
constexpr int kFrameLineBytes = 1536;
constexpr int kFrameSize = kFrameLineBytes * kFrameLines;  // 890880
constexpr int kActiveFirstPixel = 9;
constexpr int kActiveOffset = 2 * kActiveFirstPixel;       // byte 18 of a line
constexpr int kMaskRowBytes = 128;
constexpr int kMaskSize = kMaskRowBytes * kActiveLines;    // 73728
constexpr uint32_t kBlackPair = 0x10801080;                // bytes 0x80 0x10 0x80 0x10
constexpr uint32_t kUitMagic = 0x1A544955;                 // "UIT" 0x1A
// A table holds at most one window per active line.
constexpr int kMaxWindows = kActiveLines;

// A band of consecutive lines sharing one signal set.
struct RVUITWindow {
    int32_t start = 0;
    int32_t count = 0;
    SignalSet signals;
};

// The Universal Test Table document: frame, window mask and windows (in order of start line).
class CUIT {
public:
    CUIT();
    virtual ~CUIT() = default;

    // The blank table: black frame, mask all set, one window over all lines with const 0 spans.
    void Reset();

    bool MaskBit(int row, int k) const;
    void SetMaskBit(int row, int k, bool on);
    uint8_t* FrameLine(int line) { return frame.data() + size_t(line) * kFrameLineBytes; }
    const uint8_t* FrameLine(int line) const { return frame.data() + size_t(line) * kFrameLineBytes; }

    // One window over all 576 lines: what a line-signal slot holds.
    bool IsSingleLine() const;

    // Signal set of the window [start, start + count) read from the frame's middle line, one
    // points-list span per run of equal mask bits.
    SignalSet SignalsFromFrame(int start, int count) const;
    // Puts the window's samples into the frame's pixels under the mask.
    void WriteWindow(const RVUITWindow& window);
    void WriteAllWindows();

    // Steps after the picture is in the frame: mask from the transparency of a 702 x 576 picture
    // (0xTTRRGGBB, row-major), windows as runs of signal lines. Returns the number of windows.
    int MaskAndWindowsFromPixels(const uint32_t* pixels);

    // Building from a picture ("Create Test Table"): the image file is scaled to 702 x 576 with
    // its transparency, drawn over black into the frame, and its transparent areas (0xF0 and
    // more) become the mask and the windows. Returns the picture loader's result (0, 1 or 3);
    // on failure the table is unchanged. No window at all is the caller's warning to show.
    int BuildFromPicture(const std::string& path);
    // The same from a picture already loaded at 702 x 576 (other sizes are clipped or padded
    // with opaque pixels at the bottom and right).
    void BuildFromScaledPicture(const CPicture& pic);
    // The frame as a 768 x 580 picture through the BT.601 conversion (previews).
    bool FrameToPicture(CPicture& out) const;

    // Device reads. A table read replaces the frame and drops the windows (the device holds no
    // signal sets; the mask stays). A slot read makes the line signal of that one line.
    void SetFrameFromDevice(const uint8_t* data, size_t size);
    void SetFromLineSignal(const uint8_t* line, size_t size);

    // ".uit" files: Load gives 0, 1 or 2 (the table is unchanged unless 0), Save 0 or 3.
    int Load(const std::string& path);
    int Save(const std::string& path) const;
    int Read(CByteSource& in);

    std::vector<uint8_t> frame;  // kFrameSize bytes
    std::vector<uint8_t> mask;   // kMaskSize bytes
    std::vector<RVUITWindow> windows;
};

// round() of test table writing: x + 1 truncated when the fraction is 0.5 or more, else x
// truncated; kept within a byte.
uint8_t RoundToByte(double x);
