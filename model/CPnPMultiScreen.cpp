#include "model/CPnPMultiScreen.h"

#include <tinyxml.h>

#include <algorithm>

CPnPMultiScreen::CPnPMultiScreen(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPMultiScreen, ctx) {
    size = PnPAttrSigned(e, "size");
    width = std::clamp(PnPAttrSigned(e, "width"), 0, 8192);
    height = std::clamp(PnPAttrSigned(e, "height"), 0, 8192);
    info = ReadInfo(e, ctx);
    std::string p = PnPAttrText(e, "path");
    path = p.empty() ? p : PnPFileName(p, ctx);
    for (const TiXmlElement* b = e->FirstChildElement("background"); b && displays < 2;
         b = b->NextSiblingElement("background"), ++displays) {
        auto item = std::make_unique<CPnPItem>(b, ctx);
        int64_t s = BackgroundSize(PnPAttrSigned(b, "newformat"), PnPAttrSigned(b, "scale", "1"), width, height);
        item->size = int32_t(std::min<int64_t>(s, INT32_MAX));
        items.push_back(std::move(item));
    }
    if (const TiXmlElement* c = e->FirstChildElement("cover")) {
        hasCover = true;
        coverAddress = PnPAttrUnsigned(c, "address");
        coverFormat = PnPAttrSigned(c, "newformat");
    }
}

CPnPMultiScreen::~CPnPMultiScreen() = default;

int64_t CPnPMultiScreen::CoverSize() const {
    if (!hasCover) return 0;
    int64_t d;
    if (coverFormat == 5)
        d = 0x94000;
    else if (coverFormat == 6)
        d = 600064;
    else
        d = int64_t(coverFormat == 3 ? 8 : coverFormat == 4 ? 5 : 4) * (width / 2) * height;
    return d * displays;
}

int64_t CPnPMultiScreen::BackgroundSize(int32_t format, int32_t scale, int32_t w, int32_t h) {
    if (scale == 0) return 0;
    int64_t u = format == 3 ? 8 : format == 4 ? 5 : format == 5 ? 1 : 4;
    int64_t s = u * (w / 2) * h;
    for (int32_t i = 1; i < scale && s > 0; ++i) s /= 4;
    return s;
}
