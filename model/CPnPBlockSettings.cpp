#include "model/CPnPBlockSettings.h"

#include "app/DebugLog.h"

#include <tinyxml.h>

CPnPBlockSettings::CPnPBlockSettings(const TiXmlElement* e, const PnPReadContext& ctx)
    : CPnPSettings(e, kPnPSettingsBlock, ctx) {
    size = int32_t(PnPAttrUnsigned(e, "size", "-1"));
    if (size > kPnPMaxBlockSize) {
        DebugLog("CPnPBlockSettings(): size %d of [%s] too large, no record", size, name.c_str());
        size = -1;
    }
    if (size > 0) blockImage.assign(size_t(size), 0);
    macroFrom = int32_t(PnPAttrUnsigned(e, "macro_from", "0"));
    macroTo = int32_t(PnPAttrUnsigned(e, "macro_to", "-1"));
    AssignControlKinds();
}

CPnPBlockSettings::~CPnPBlockSettings() = default;

void CPnPBlockSettings::AssignControlKinds() {
    for (auto& n : nodes) {
        if (n->controlKind != kPnPCtlAddressed) continue;
        if (n->type == kPnPTypeNumeric && n->size != 1 && n->size != 2 && n->size != 4)
            n->controlKind = kPnPCtlNone;
        else if (size > 0 && n->FitsIn(size_t(size)))
            n->controlKind = n->QualifiedControlKind();
        else
            n->controlKind = kPnPCtlNone;
    }
}

void CPnPBlockSettings::DecodeAll() {
    for (auto& n : nodes)
        if (n->controlKind != kPnPCtlNone) n->Decode(blockImage);
}
