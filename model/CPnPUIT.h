#pragma once
#include "model/CPnPBlock.h"
#include "signals/CUIT.h"

// "uit": the Universal Test Table at the element's address, each item one line-signal slot.
// The table document and the page come with the test signal code.
class CPnPUIT : public CPnPBlock {
public:
    static constexpr int32_t kLineBytes = 1536;
    static constexpr int32_t kFrameBytes = 890880;

    CPnPUIT(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPUIT, ctx) {
        for (auto& it : items) it->size = kLineBytes;
    }
    ~CPnPUIT() override = default;

    int32_t loaded = 0;
    int32_t singleLine = 0;
    CUIT table;  // frame, mask and windows; see signals/UITElement.h for the page commands
};
