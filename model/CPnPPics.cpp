#include "model/CPnPPics.h"

#include <tinyxml.h>

#include <algorithm>
#include <strings.h>

int32_t PnPBytesPerPixelPair(int32_t format) {
    switch (format) {
    case 3: return 8;
    case 4: return 5;
    case 5: return 1;
    default: return 4;
    }
}

int64_t PnPPictureBufferSize(int32_t format, int32_t lineLength, int32_t height) {
    return int64_t(lineLength / 2) * height * PnPBytesPerPixelPair(format);
}

namespace {
int32_t LoadMode(const char* t) {
    if (!t) return 0;
    if (strcasecmp(t, "crop") == 0) return 2;
    if (strcasecmp(t, "resize") == 0) return 1;
    if (strcasecmp(t, "aspect") == 0) return 5;
    return 0;
}
}  // namespace

CPnPPics::CPnPPics(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPPics(e, kPnPPictures, ctx) {}

CPnPPics::CPnPPics(const TiXmlElement* e, int32_t kindCode, const PnPReadContext& ctx) : CPnPBlock(e, kindCode, ctx) {
    // Sizes stay within what a 16-bit device coordinate can name, so buffers stay bounded.
    width = std::clamp(PnPAttrSigned(e, "width"), 4, 8192);
    height = std::clamp(PnPAttrSigned(e, "height"), 4, 8192);
    lineLength = std::clamp(PnPAttrSigned(e, "linesize"), 0, 8192);
    resizable = PnPAttrBool(e, "resizable");
    scale = PnPAttrSigned(e, "scale", "1");
    format = PnPAttrSigned(e, "newformat");
    standardDefinition = !PnPAttrBool(e, "hdtv");
    saturation = PnPAttrSigned(e, "saturation", "100");
    lumaKeyAllowed = PnPAttrBool(e, "lumakey");
    info = ReadInfo(e, ctx);
    loadMode = LoadMode(e->Attribute("mode"));
    for (auto& it : items) it->size = int32_t(BufferSize());
}

CPnPPics::~CPnPPics() = default;

CPnPPicText::CPnPPicText(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPPics(e, kPnPPictures, ctx) {
    kind = kPnPPicText;
    scale = 1;
    resizable = false;
    elementName = PnPAttrText(e, "name");
    backgroundFile = PnPFileName(PnPAttrText(e, "background"), ctx);
}

CPnPPicText::~CPnPPicText() = default;
