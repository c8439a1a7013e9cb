#include "model/CPnPControl.h"

#include <tinyxml.h>

CPnPControlNode::CPnPControlNode(const TiXmlElement* e, int32_t d, const PnPReadContext& ctx) : depth(d) {
    collapse = PnPAttrBool(e, "collapse");
    offset = PnPAttrUnsigned(e, "offset", "-1");
    mask = uint8_t(PnPAttrSigned(e, "mask"));
    value = uint8_t(PnPAttrSigned(e, "value"));
    name = PnPLocalised(e, "name", ctx);
}

CPnPControl::CPnPControl(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPControls, ctx) {
    size = PnPAttrSigned(e, "size");
    ReadTree(e, 0, ctx);
}

CPnPControl::~CPnPControl() = default;

void CPnPControl::ReadTree(const TiXmlElement* e, int32_t depth, const PnPReadContext& ctx) {
    for (const TiXmlElement* c = e->FirstChildElement("control"); c; c = c->NextSiblingElement("control")) {
        nodes.push_back(std::make_unique<CPnPControlNode>(c, depth, ctx));
        ReadTree(c, depth + 1, ctx);
    }
}

void CPnPControl::SetRecord(const uint8_t* data, size_t n) {
    read = true;
    record.assign(data, data + n);
    for (auto& node : nodes) {
        // A switch beyond the record is not evaluated: it stays off.
        node->on = node->HasSwitch() && node->offset < record.size() &&
                   (record[node->offset] & node->mask) == node->value;
    }
}

void CPnPControl::Toggle(size_t index, bool newState) {
    if (index >= nodes.size() || !nodes[index]->HasSwitch()) return;
    CPnPControlNode& n = *nodes[index];
    n.on = newState;
    if (newState) {
        for (auto& o : nodes)
            if (o.get() != &n && SameGroup(*o, n)) o->on = false;
    } else {
        for (auto& o : nodes)
            if (o.get() != &n && SameGroup(*o, n)) {
                o->on = true;
                break;
            }
    }
}

std::vector<uint8_t> CPnPControl::ComposeWrite() const {
    std::vector<uint8_t> out = record;
    out.resize(size > 0 ? size_t(size) : 0, 0);
    for (const auto& n : nodes)
        if (n->HasSwitch() && n->offset < out.size()) out[n->offset] &= uint8_t(~n->mask);
    for (const auto& n : nodes)
        if (n->HasSwitch() && n->on && n->offset < out.size()) out[n->offset] |= n->value;
    return out;
}
