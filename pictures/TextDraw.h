#pragma once
#include <cstdint>
#include <string>

#include "pictures/CPicture.h"

// Text drawing into a CPicture with FreeType; faces are found through fontconfig, so the
// names stored by operators' files ("MS Sans Serif", "Arial") resolve to installed fonts.

// The 60-byte logical font record, laid out as stored in preferences and multiscreen files:
// five 32-bit little-endian integers, eight bytes, a 32-byte face name.
struct CFontRecord {
    int32_t height = 0;       // < 0: character height in pixels; > 0: cell height; 0: default
    int32_t width = 0;        // average character width, 0 = natural (not used for drawing)
    int32_t escapement = 0;   // tenths of a degree (not used for drawing)
    int32_t orientation = 0;
    int32_t weight = 0;       // 0 = normal (400); 700 = bold
    uint8_t italic = 0;
    uint8_t underline = 0;
    uint8_t strikeOut = 0;
    uint8_t charSet = 0;
    uint8_t outPrecision = 0;
    uint8_t clipPrecision = 0;
    uint8_t quality = 0;
    uint8_t pitchAndFamily = 0;
    char faceName[32] = {};

    std::string FaceName() const;
    void SetFaceName(const std::string& name);  // cut to 31 characters

    static constexpr size_t kSize = 60;
    void ToBytes(uint8_t out[kSize]) const;
    static CFontRecord FromBytes(const uint8_t in[kSize]);
    bool operator==(const CFontRecord& o) const;
};
static_assert(sizeof(CFontRecord) == CFontRecord::kSize, "the font record must keep its 60-byte layout");

// A point font as the configuration program makes it: height = -(points x dpi / 72), rounded.
CFontRecord PointFont(const std::string& face, int points, int weight = 400, bool italic = false, int dpi = 96);
// The size in points of a font record (the height converted back at dpi), always positive.
int FontPoints(const CFontRecord& font, int dpi = 96);

enum class TextAlign { Left, Centre, Right };

struct TextExtent {
    int width = 0;    // advance of the whole text in pixels
    int ascent = 0;   // above the baseline
    int descent = 0;  // below the baseline
};

// The font file fontconfig chooses for a record (empty when none is installed).
std::string ResolveFontFile(const CFontRecord& font, int* faceIndex = nullptr);

// Size of a text (UTF-8; bytes that are not UTF-8 are taken as Latin-1). False when no font.
bool MeasureText(const std::string& text, const CFontRecord& font, TextExtent& extent);

// Draws the text in colour (0x00BBGGRR) with its baseline at y, anchored at x: the left end,
// the right end or the middle by align. Coverage of the glyphs becomes opacity: over a
// transparent pixel the text colour appears with opacity = coverage; over an opaque one the
// colour is mixed in by coverage. False when no font could be loaded.
bool DrawText(CPicture& pic, const std::string& text, const CFontRecord& font, uint32_t colour, int x, int y,
              TextAlign align = TextAlign::Left);
