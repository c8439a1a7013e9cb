// Fuzz target: the model loader on any document, then the element operations that read what
// the loader built (block decoding, switch trees, status conditions, the JSON listing). The
// seeds include documents nested past the limit with end-of-element look-alikes at every level.
#include "model/CPnPControl.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPModel.h"
#include "model/CPnPStatus.h"
#include "model/ModelJson.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {
// Depth of the parsed document, walked without recursion.
int ParsedDepth(const TiXmlNode* root) {
    int deepest = 0;
    std::vector<std::pair<const TiXmlNode*, int>> todo{{root, 0}};
    while (!todo.empty()) {
        auto [node, depth] = todo.back();
        todo.pop_back();
        deepest = std::max(deepest, depth);
        for (const TiXmlElement* c = node->FirstChildElement(); c; c = c->NextSiblingElement())
            todo.push_back({c, depth + 1});
    }
    return deepest;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CPnPModel m;
    m.SetProgramFolder("/nonexistent-varo-fuzz");
    std::string text(reinterpret_cast<const char*>(data), size);
    int r = m.LoadFromText(text);
    if (r != kPnPNoModel) {
        // What the loader let the parser see must really be within the nesting limit: the
        // parser's own tree (complete or up to its error) says how deep it went.
        TiXmlDocument doc;
        const char* p = text.c_str();
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) p += 3;
        doc.Parse(p, nullptr, TIXML_ENCODING_LEGACY);
        if (ParsedDepth(&doc) > kPnPMaxNesting) __builtin_trap();
    }
    if (r != kPnPLoaded) return 0;
    std::vector<uint8_t> record(data, data + std::min<size_t>(size, 64));
    for (auto& e : m.elements) {
        switch (e->kind) {
        case kPnPSettingsBlock: {
            auto& b = static_cast<CPnPBlockSettings&>(*e);
            for (size_t i = 0; i < b.blockImage.size(); ++i) b.blockImage[i] = uint8_t(i * 31 + size);
            b.DecodeAll();
            for (auto& n : b.nodes) {
                if (n->controlKind == kPnPCtlNone) continue;
                n->Encode(b.blockImage, n->StepUp(), n->valueBytes.data());
                (void)n->DisplayText(n->SliderToValue(n->SliderRange() / 2));
                for (size_t f = 0; f < n->flagItems.size(); ++f) (void)n->SetExclusiveFlagItem(f);
            }
            b.Seal();
            break;
        }
        case kPnPSettingsGroup: {
            auto& g = static_cast<CPnPGroupSettings&>(*e);
            for (auto& n : g.nodes)
                if (auto* blk = g.BlockOf(*n)) n->Decode(blk->blockImage);
            break;
        }
        case kPnPControls: {
            auto& c = static_cast<CPnPControl&>(*e);
            c.SetRecord(record.data(), record.size());
            for (size_t i = 0; i < c.nodes.size(); ++i) c.Toggle(i, (i & 1) != 0);
            (void)c.ComposeWrite();
            break;
        }
        case kPnPStatus:
            (void)static_cast<CPnPStatus&>(*e).Raised(record.data(), record.size());
            break;
        default:
            break;
        }
    }
    for (auto* p : m.pages) (void)m.PageTitle(p);
    (void)PnPModelToJson(m, "fuzz.xml", r);
    return 0;
}
