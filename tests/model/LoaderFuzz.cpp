// Fuzz target: the model loader on any document, then the element operations that read what
// the loader built (block decoding, switch trees, status conditions, the JSON listing).
#include "model/CPnPControl.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPModel.h"
#include "model/CPnPStatus.h"
#include "model/ModelJson.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CPnPModel m;
    m.SetProgramFolder("/nonexistent-varo-fuzz");
    std::string text(reinterpret_cast<const char*>(data), size);
    int r = m.LoadFromText(text);
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
