#include "model/CPnPStatus.h"

#include <tinyxml.h>

#include <algorithm>

CPnPStatusNode::CPnPStatusNode(const TiXmlElement* e, const PnPReadContext& ctx) {
    offset = PnPAttrUnsigned(e, "offset");
    mask = uint8_t(PnPAttrSigned(e, "mask"));
    value = uint8_t(PnPAttrSigned(e, "value"));
    level = std::clamp(PnPAttrSigned(e, "level"), 0, 2);
    name = PnPLocalised(e, "name", ctx);
}

CPnPStatus::CPnPStatus(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPStatus, ctx) {
    size = PnPAttrSigned(e, "size");
    for (const TiXmlElement* i = e->FirstChildElement("info"); i; i = i->NextSiblingElement("info"))
        nodes.push_back(std::make_unique<CPnPStatusNode>(i, ctx));
}

CPnPStatus::~CPnPStatus() = default;

std::vector<size_t> CPnPStatus::Raised(const uint8_t* record, size_t n) const {
    std::vector<size_t> out;
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i]->Holds(record, n)) out.push_back(i);
    return out;
}
