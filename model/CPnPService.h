#pragma once
#include "model/CPnPBlock.h"

// "service": memory regions with files that only factory restore writes; never a page.
class CPnPService : public CPnPBlock {
public:
    CPnPService(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPService, ctx) {}
    ~CPnPService() override = default;
};
