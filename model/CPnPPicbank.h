#pragma once
#include "model/CPnPBlock.h"

// "picturebank": 72 DV images at "data" plus a directory at "map". The bank document and the
// page come with the image bank code.
class CPnPPicbank : public CPnPBlock {
public:
    CPnPPicbank(const TiXmlElement* e, const PnPReadContext& ctx)
        : CPnPBlock(e, kPnPPicturebank, ctx), dataAddress(PnPAttrUnsigned(e, "data")), mapAddress(PnPAttrUnsigned(e, "map")) {}
    ~CPnPPicbank() override = default;

    uint32_t dataAddress = 0;
    uint32_t mapAddress = 0;

    static constexpr uint32_t kBlockSize = 0x20000;  // block 0 the DV template, image b in block b + 1
    static constexpr int kImages = 72;
    static constexpr uint32_t kMapSize = 136;
};
