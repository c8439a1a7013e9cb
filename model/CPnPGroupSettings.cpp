#include "model/CPnPGroupSettings.h"

#include "app/DebugLog.h"

#include <tinyxml.h>

#include <algorithm>
#include <string>

CPnPGroupSettings::CPnPGroupSettings(const TiXmlElement* e, const PnPReadContext& ctx)
    : CPnPSettings(e, kPnPSettingsGroup, ctx) {
    size_t total = 0;  // nodes held by the blocks so far
    int32_t index = 0;
    for (const TiXmlElement* b = e->FirstChildElement("settings_block"); b;
         b = b->NextSiblingElement("settings_block"), ++index) {
        auto tmpl = std::make_unique<CPnPBlockSettings>(b, ctx);
        tmpl->templateIndex = index;
        if (tmpl->macroTo < tmpl->macroFrom) {
            total += tmpl->nodes.size();
            blocks.push_back(std::move(tmpl));
            continue;
        }
        int64_t count = int64_t(tmpl->macroTo) - tmpl->macroFrom + 1;
        // Each block of a series holds its own copy of the template's nodes: a broken
        // "macro_to" must not make the loader build millions of them.
        size_t perBlock = tmpl->nodes.size() ? tmpl->nodes.size() : 1;
        int64_t room = total < kPnPMaxGroupNodes ? int64_t((kPnPMaxGroupNodes - total) / perBlock) : 0;
        int64_t allowed = std::min<int64_t>(kPnPMaxSeriesBlocks, room);
        if (count > allowed) {
            DebugLog("CPnPGroupSettings(): series %d..%d of [%s] cut to %d blocks", tmpl->macroFrom, tmpl->macroTo,
                     tmpl->name.c_str(), int(allowed));
            count = allowed;
        }
        for (int64_t i = 0; i < count; ++i) {
            const std::string n = std::to_string(int64_t(tmpl->macroFrom) + i);
            auto blk = std::make_unique<CPnPBlockSettings>(b, ctx);
            blk->templateIndex = index;
            blk->address = tmpl->address;
            tmpl->address += uint32_t(tmpl->size);
            blk->name = PnPReplaceAll(blk->name, "%MACRO%", n);
            blk->group = PnPReplaceAll(blk->group, "%MACRO%", n);
            for (auto& node : blk->nodes) {
                node->name = PnPReplaceAll(node->name, "%MACRO%", n);
                node->info = PnPReplaceAll(node->info, "%MACRO%", n);
            }
            total += blk->nodes.size();
            blocks.push_back(std::move(blk));
        }
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        for (auto& node : blocks[i]->nodes) {
            node->blockIndex = int32_t(i);
            nodes.push_back(std::make_unique<CPnPSettingsNode>(*node));
        }
    }
}

CPnPGroupSettings::~CPnPGroupSettings() = default;

CPnPBlockSettings* CPnPGroupSettings::BlockOf(const CPnPSettingsNode& node) const {
    if (node.blockIndex < 0 || size_t(node.blockIndex) >= blocks.size()) return nullptr;
    return blocks[size_t(node.blockIndex)].get();
}

CPnPBlockSettings* PnPBlockOfNode(CPnPSettings* element, const CPnPSettingsNode& node) {
    if (!element) return nullptr;
    if (element->kind == kPnPSettingsBlock) return static_cast<CPnPBlockSettings*>(element);
    if (element->kind == kPnPSettingsGroup) return static_cast<CPnPGroupSettings*>(element)->BlockOf(node);
    return nullptr;
}
