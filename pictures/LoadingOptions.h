#pragma once
#include <cstdint>

#include "pictures/CPicture.h"

// The loading options applied to a picture after it is loaded and before it is converted:
// dithering, vertical filtering and the luma key with its drop shadow.

// The pseudo-random source of dithering: draws of 0..32767, the same sequence for a seed.
class CDitherRandom {
public:
    explicit CDitherRandom(uint32_t seed = 1) : m_state(seed) {}
    int Next() {
        m_state = m_state * 214013u + 2531011u;
        return int((m_state >> 16) & 0x7FFF);
    }

private:
    uint32_t m_state;
};

// Lowers about three colour bytes in four by 5 to 10 (never below 0); transparency untouched.
void DitherPicture(CPicture& pic, CDitherRandom& rng);

// Vertical filter weight W(d) = floor(21846 * sqrt(|d| / 255)), d in -255..255.
int VerticalFilterWeight(int d);
// Softens strong steps between rows (all four bytes of each pixel); the first and last rows
// stay as they are.
void VerticalFilter(CPicture& pic);

// Luma key settings as the pictures page keeps them.
struct LumaKeyOptions {
    int transparencyIndex = 0;  // 0..9: transparency added is index x 16
    int shadowType = 0;         // 0 none, 1 bottom-right, 2 bottom-left, 3 top-right, 4 top-left
    int shadowSize = 0;         // 0..4 pixels per step
    int shadowColour = 0;       // 0 black, 1 grey, 2 light
};
// Keys out the colour of the top-left pixel with softened edges, adds the transparency and,
// when asked, lays the result over a drop shadow. Out-of-range choices are clamped.
void LumaKey(CPicture& pic, const LumaKeyOptions& opt);

// Steps 2 and 3 of loading a picture element: dithering, then vertical filtering.
void ApplyLoadingOptions(CPicture& pic, bool dither, bool verticalFilter, CDitherRandom& rng);
