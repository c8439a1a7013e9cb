#pragma once
#include "model/CPnPBlock.h"
#include "pictures/CPicture.h"
#include "pictures/TextDraw.h"

#include <string>
#include <vector>

class CConfigStore;
class CDitherRandom;

// Bytes of one pixel pair in a device picture format ("newformat").
int32_t PnPBytesPerPixelPair(int32_t format);
// Device buffer size for a line length and height in a format.
int64_t PnPPictureBufferSize(int32_t format, int32_t lineLength, int32_t height);

// The first word of a resizable element's buffer when it holds one of the odd shapes.
constexpr uint16_t kPnPShapeHalfWidth = 0x0102;    // width / 2 x 2 height
constexpr uint16_t kPnPShapeDoubleWidth = 0x0201;  // 2 width x height / 2

// Largest device buffer an element may ask for: one slot goes through the 16 MB data buffer.
constexpr int64_t kPnPMaxPictureBuffer = 0x1000000;

// What a load of a picture file ended with; the page turns it into the operator's message.
struct PnPPicsLoad {
    enum Result { kLoaded, kImageError, kWrongSize, kUnusable } result = kLoaded;
    int imageResult = 0;  // kImageError: 1 cannot open, 3 invalid (messages 21301 / 21303)
    std::string message;  // the text to show; empty when loaded
};

// "pictures": picture slots of one size and format, with the working picture the page shows
// and the device buffer a slot write sends.
class CPnPPics : public CPnPBlock {
public:
    CPnPPics(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPPics() override;

    // Loads an image file (fitted, optioned, halved scale - 1 times and converted) or a raw
    // device picture file. On any failure the element keeps what it had.
    virtual PnPPicsLoad LoadFromFile(const std::string& path, bool dither, bool verticalFilter, CDitherRandom& rng);
    // PNG and BMP by the extension (upscaled by two with scale 2 or more), anything else the
    // raw device buffer. 0 on success, else the picture or raw writer's result (message 21300 + it).
    virtual int SaveToFile(const std::string& path) const;
    // The working picture into the device buffer, with the shape marker of an odd shape.
    virtual bool Convert();
    // A slot's bytes into the device buffer and the working picture, the shape from the marker.
    virtual bool FromDeviceBuffer(const uint8_t* data, size_t size);
    // Loading and reading mean compressing or decompressing (formats 5 and 6): long work the
    // page runs off the window's thread.
    bool LongConversion() const { return format == 5 || format == 6; }

    // Non-empty when the model gives this element a size nothing can be allocated for: then
    // the element never loads and the page says why.
    const std::string& SizeProblem() const { return m_sizeProblem; }
    bool Usable() const { return m_sizeProblem.empty(); }

    int32_t EffectiveLineLength() const { return lineLength ? lineLength : width; }
    int64_t BufferSize() const { return PnPPictureBufferSize(format, EffectiveLineLength(), height); }
    // The size an image file must have (before halving).
    int32_t RequiredWidth() const { return width * scale; }
    int32_t RequiredHeight() const { return height * scale; }
    // The picture is one of the resizable element's other shapes.
    bool OddShape(const CPicture& pic) const { return resizable && (pic.Width() != width || pic.Height() != height); }

    int32_t width = 4;
    int32_t height = 4;
    int32_t lineLength = 0;  // 0: the width
    bool resizable = false;
    int32_t scale = 1;
    int32_t format = 0;
    bool standardDefinition = true;
    int32_t saturation = 100;
    bool lumaKeyAllowed = false;
    std::string info;
    bool loaded = false;
    int32_t loadMode = 0;
    CPicture picture;                   // the working picture
    std::vector<uint8_t> deviceBuffer;  // BufferSize() bytes once the element is usable

protected:
    CPnPPics(const TiXmlElement* e, int32_t kind, const PnPReadContext& ctx);
    // Steps of an image load up to the conversion; false with out.message set on failure.
    bool LoadImage(const std::string& path, bool dither, bool verticalFilter, CDitherRandom& rng, CPicture& pic,
                   PnPPicsLoad& out) const;
    // Sets the size problem from width, height, scale and line length.
    void CheckSizes();
    // Convert a picture into buf by the rule of its shape.
    bool ConvertInto(const CPicture& pic, std::vector<uint8_t>& buf) const;

    std::string m_sizeProblem;
};

// "pictext": a text label drawn onto a fixed background picture.
class CPnPPicText : public CPnPPics {
public:
    CPnPPicText(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPPicText() override;

    // As for pictures; a loaded picture also becomes the background.
    PnPPicsLoad LoadFromFile(const std::string& path, bool dither, bool verticalFilter, CDitherRandom& rng) override;
    // The label over the background into the working picture and the device buffer; false
    // without a background (or without any font to draw with).
    bool DrawLabel();

    // Preferences in `PnP_Preferences`: the font in use as its 60-byte record under
    // "struct_<model>_<element>", the colour under "int_<model>_1". Missing ones give the defaults.
    void LoadPreferences(const CConfigStore& store, const std::string& modelName);
    void StorePreferences(CConfigStore& store, const std::string& modelName) const;
    static std::string FontKey(const std::string& modelName, const std::string& elementName);
    static std::string ColourKey(const std::string& modelName);

    int32_t x = 0;
    int32_t y = 0;
    TextAlign alignment = TextAlign::Centre;
    std::string elementName;
    std::string backgroundFile;
    CPicture background;
    bool hasBackground = false;
    uint32_t defaultColour = 0;  // 0x00BBGGRR
    CFontRecord defaultFont;
    uint32_t colour = 0;
    CFontRecord font;
    std::string text;
};
