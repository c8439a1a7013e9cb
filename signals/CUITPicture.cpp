// The parts of the test table that go through pictures.
#include <algorithm>
#include <cstring>

#include "pictures/CPicture.h"
#include "pictures/PictureConvert.h"
#include "signals/CUIT.h"

namespace {
constexpr bool kBT601 = false;  // hdtv flag of the conversions: the frame is standard definition
constexpr int kFormatPlain = 2;  // bytes Cb, Y0, Cr, Y1, no opacity
}  // namespace

int CUIT::BuildFromPicture(const std::string& path) {
    CPicture pic;
    int r = pic.Load(path, true, CPicture::kLoadResize, kSamplesPerLine, kActiveLines);
    if (r != CPicture::kLoadOk) return r;
    BuildFromScaledPicture(pic);
    return CPicture::kLoadOk;
}

void CUIT::BuildFromScaledPicture(const CPicture& src) {
    // Exactly 702 x 576 whatever came in; what the source lacks is opaque black.
    CPicture pic(kSamplesPerLine, kActiveLines);
    pic.CopyRect(src, 0, 0, 0, 0, std::min(src.Width(), kSamplesPerLine), std::min(src.Height(), kActiveLines));

    windows.clear();
    CPicture full(kFrameWidth, kFrameLines);
    full.Fill(0x00000000);
    // Drawn over black: signal areas stay black, half-transparent edges darken as on screen.
    full.BlendRect(pic, kActiveFirstPixel, 0, 0, 0, kSamplesPerLine, kActiveLines);
    PictureToDevice(full, kBT601, kFormatPlain, 100, frame.data(), frame.size(), kFrameWidth);
    MaskAndWindowsFromPixels(pic.Pixels());
}

bool CUIT::FrameToPicture(CPicture& out) const {
    if (!out.Create(kFrameWidth, kFrameLines)) return false;
    return DeviceToPicture(out, kFrameWidth, frame.data(), frame.size(), kBT601, kFormatPlain);
}

void CUIT::SetFrameFromDevice(const uint8_t* data, size_t size) {
    std::memcpy(frame.data(), data, std::min(size, frame.size()));
    windows.clear();
}

void CUIT::SetFromLineSignal(const uint8_t* line, size_t size) {
    Reset();
    std::memcpy(frame.data(), line, std::min(size, size_t(kFrameLineBytes)));
    for (int L = 1; L < kFrameLines; ++L) std::memcpy(FrameLine(L), frame.data(), kFrameLineBytes);
    windows[0].signals = SignalsFromFrame(0, kActiveLines);
}
