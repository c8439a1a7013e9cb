#pragma once
#include "model/CPnPBlock.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One message of the status page: raised when (record byte at offset AND mask) = value.
class CPnPStatusNode {
public:
    CPnPStatusNode(const TiXmlElement* e, const PnPReadContext& ctx);
    virtual ~CPnPStatusNode() = default;

    uint32_t offset = 0;
    uint8_t mask = 0;
    uint8_t value = 0;
    int32_t level = 0;  // 0 information, 1 warning, 2 error
    std::string name;

    bool Holds(const uint8_t* record, size_t n) const {
        return offset < n && (record[offset] & mask) == value;
    }
};

// "status": the messages the device's status record currently raises.
class CPnPStatus : public CPnPBlock {
public:
    CPnPStatus(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPStatus() override;

    int32_t size = 0;
    std::vector<std::unique_ptr<CPnPStatusNode>> nodes;
    bool read = false;  // stays false: the record is read every time

    // Indexes of the nodes whose condition holds, in order.
    std::vector<size_t> Raised(const uint8_t* record, size_t n) const;
};
