#pragma once
#include "model/CPnPBlock.h"

#include <string>

// "multiscreen": its "background" children are displays and items at once; the displays,
// layers, objects, elements and the document come with the multiscreen code.
class CPnPMultiScreen : public CPnPBlock {
public:
    CPnPMultiScreen(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPMultiScreen() override;

    int32_t size = 0;  // multiscreen settings block
    int32_t width = 0;
    int32_t height = 0;
    std::string info;
    std::string path;
    int32_t displays = 0;  // "background" children read (at most two)
    bool hasCover = false;
    uint32_t coverAddress = 0;
    int32_t coverFormat = 0;

    // The cover picture: one frame per display, 0 without a "cover" child.
    int64_t CoverSize() const;

    // Item size of a display's background for its "newformat" and "scale".
    static int64_t BackgroundSize(int32_t format, int32_t scale, int32_t width, int32_t height);
};
