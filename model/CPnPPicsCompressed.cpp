#include "model/CPnPPicsCompressed.h"

#include <tinyxml.h>

#include <algorithm>

CPnPPicsCompressed::CPnPPicsCompressed(const TiXmlElement* e, const PnPReadContext& ctx)
    : CPnPBlock(e, kPnPPicturesCompressed, ctx) {
    width = std::max(PnPAttrSigned(e, "width"), 4);
    height = std::max(PnPAttrSigned(e, "height"), 4);
    codec = PnPAttrSigned(e, "format");
    info = ReadInfo(e, ctx);
    for (auto& it : items) it->size = SlotSize();
}

CPnPPicsCompressed::~CPnPPicsCompressed() = default;

int32_t CPnPPicsCompressed::SlotSize() const {
    return codec == 0 ? kPnPDnxhdSlotSize : codec == 1 ? kPnPCodecSlotSize : 0;
}
