#pragma once
#include "model/CPnPBlock.h"

#include <string>

// "panel_mapping": the control panel's buttons and the device's mapping record. The buttons,
// the mapping table and the page come with the button mapping code.
class CPnPButtonMapping : public CPnPBlock {
public:
    CPnPButtonMapping(const TiXmlElement* e, const PnPReadContext& ctx)
        : CPnPBlock(e, kPnPPanelMapping, ctx), size(PnPAttrUnsigned(e, "size", "-1")), info(ReadInfo(e, ctx)) {}
    ~CPnPButtonMapping() override = default;

    uint32_t size = 0xFFFFFFFFu;  // record length, CRC included
    std::string info;
};
