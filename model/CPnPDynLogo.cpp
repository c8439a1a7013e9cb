#include "model/CPnPDynLogo.h"

#include "model/CPnPPics.h"

#include <tinyxml.h>

#include <algorithm>

CPnPDynLogo::CPnPDynLogo(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPDynamicLabels, ctx) {
    width = std::clamp(PnPAttrSigned(e, "width"), 4, 8192);
    height = std::clamp(PnPAttrSigned(e, "height"), 4, 8192);
    format = PnPAttrSigned(e, "newformat");
    standardDefinition = !PnPAttrBool(e, "hdtv");
    saturation = PnPAttrSigned(e, "saturation", "100");
    frames = std::clamp(PnPAttrSigned(e, "frames"), 0, 1024);  // show times hold 1024 entries
    info = ReadInfo(e, ctx);
    int64_t slot = (int64_t(frames) + 1) * FrameSize();
    for (auto& it : items) it->size = int32_t(std::min<int64_t>(slot, INT32_MAX));
}

CPnPDynLogo::~CPnPDynLogo() = default;

int64_t CPnPDynLogo::FrameSize() const { return PnPPictureBufferSize(format, width, height); }
