#pragma once
#include "model/CPnPSettings.h"

// Largest record a settings block may describe; a larger "size" means no record at all, so a
// broken or hostile file cannot make the loader allocate without bound.
constexpr int32_t kPnPMaxBlockSize = 0x10000;

// One fixed-size settings record, sealed with a CRC in its last two bytes.
class CPnPBlockSettings : public CPnPSettings {
public:
    CPnPBlockSettings(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPBlockSettings() override;

    int32_t size = -1;                // CRC included; -1: no record
    std::vector<uint8_t> blockImage;  // size bytes, zero at load
    int32_t macroFrom = 0;
    int32_t macroTo = -1;
    // In a group: which "settings_block" child of the group the block was made from.
    int32_t templateIndex = -1;

    bool HasRecord() const { return size > 0 && blockImage.size() == size_t(size); }
    // Decode every editable node from the image / seal the image before a write.
    void DecodeAll();
    void Seal() { PnPSealBlock(blockImage); }
    // Gives each addressed node its final control kind (done at load).
    void AssignControlKinds();
};
