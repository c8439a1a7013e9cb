#pragma once
#include "model/CPnPBlockSettings.h"

// A numbered series is cut off here: one record per input or channel never comes near it,
// and a broken "macro_to" must not make the loader build millions of blocks.
constexpr int32_t kPnPMaxSeriesBlocks = 256;
// Nodes a group may collect over all its blocks.
constexpr size_t kPnPMaxGroupNodes = 200000;

// Several settings records; a block template with macro_from..macro_to becomes a series.
class CPnPGroupSettings : public CPnPSettings {
public:
    CPnPGroupSettings(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPGroupSettings() override;

    std::vector<std::unique_ptr<CPnPBlockSettings>> blocks;

    // The block whose image holds a node of the group (nullptr for nodes without a block).
    CPnPBlockSettings* BlockOf(const CPnPSettingsNode& node) const;
};

// The block of a node of kind 11 or 12 settings; nullptr otherwise.
CPnPBlockSettings* PnPBlockOfNode(CPnPSettings* element, const CPnPSettingsNode& node);
