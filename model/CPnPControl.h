#pragma once
#include "model/CPnPBlock.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr uint32_t kPnPNoOffset = 0xFFFFFFFFu;

// One switch of the controls tree: a bit field in one byte of the controls record.
class CPnPControlNode {
public:
    CPnPControlNode(const TiXmlElement* e, int32_t depth, const PnPReadContext& ctx);
    virtual ~CPnPControlNode() = default;

    int32_t depth = 0;
    bool collapse = false;
    uint32_t offset = kPnPNoOffset;  // none: a heading without a switch
    uint8_t mask = 0;
    uint8_t value = 0;
    std::string name;
    bool on = false;

    bool HasSwitch() const { return offset != kPnPNoOffset; }
};

// "controls": on/off switches in one record, read and written whole.
class CPnPControl : public CPnPBlock {
public:
    CPnPControl(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPControl() override;

    int32_t size = 0;
    std::vector<std::unique_ptr<CPnPControlNode>> nodes;
    bool read = false;
    std::vector<uint8_t> record;

    // Completion of the read: keeps the record and sets every switch from it.
    void SetRecord(const uint8_t* data, size_t n);
    // A click on a switch: sets its state, keeping one choice of its group on.
    void Toggle(size_t index, bool newState);
    // The record to write: the bytes read with every switch's mask bits replaced.
    std::vector<uint8_t> ComposeWrite() const;

private:
    void ReadTree(const TiXmlElement* e, int32_t depth, const PnPReadContext& ctx);
    bool SameGroup(const CPnPControlNode& a, const CPnPControlNode& b) const {
        return a.offset == b.offset && a.mask == b.mask;
    }
};
