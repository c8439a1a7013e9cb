#pragma once
#include "model/CPnPBlock.h"

#include <string>

constexpr int32_t kPnPDnxhdSlotSize = 0x94000;
constexpr int32_t kPnPCodecSlotSize = 600064;

// "pictures_compressed": full-HD slots in DNxHD (format 0) or the system codec (format 1).
// The routes and the page come with the compressed pictures code.
class CPnPPicsCompressed : public CPnPBlock {
public:
    CPnPPicsCompressed(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPPicsCompressed() override;

    int32_t width = 4;
    int32_t height = 4;
    int32_t codec = 0;
    std::string info;

    // One slot: 606208 bytes (DNxHD), 600064 bytes (system codec), 0 for other codes.
    int32_t SlotSize() const;
};
