#pragma once
#include "model/CPnPBlock.h"

#include <string>

// "dynamic_labels": an animation area; the label document, editor and page come with the
// dynamic label code.
class CPnPDynLogo : public CPnPBlock {
public:
    CPnPDynLogo(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPDynLogo() override;

    int32_t width = 4;
    int32_t height = 4;
    int32_t format = 0;
    bool standardDefinition = true;
    int32_t saturation = 100;
    int32_t frames = 0;
    std::string info;

    int64_t FrameSize() const;
};
