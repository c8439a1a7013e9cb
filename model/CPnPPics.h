#pragma once
#include "model/CPnPBlock.h"

#include <string>

// Bytes of one pixel pair in a device picture format ("newformat").
int32_t PnPBytesPerPixelPair(int32_t format);
// Device buffer size for a line length and height in a format.
int64_t PnPPictureBufferSize(int32_t format, int32_t lineLength, int32_t height);

// "pictures": picture slots of one size and format. The model attributes that size the slots
// are read here; the working picture, conversions and the page come with the pictures code.
class CPnPPics : public CPnPBlock {
public:
    CPnPPics(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPPics() override;

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
    int32_t loadMode = 0;

    int32_t EffectiveLineLength() const { return lineLength ? lineLength : width; }
    int64_t BufferSize() const { return PnPPictureBufferSize(format, EffectiveLineLength(), height); }

protected:
    CPnPPics(const TiXmlElement* e, int32_t kind, const PnPReadContext& ctx);
};

// "pictext": a text label drawn onto a fixed background; its own attributes (position,
// alignment, font, colour, background) come with the pictures code.
class CPnPPicText : public CPnPPics {
public:
    CPnPPicText(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPPicText() override;

    std::string elementName;
    std::string backgroundFile;
};
