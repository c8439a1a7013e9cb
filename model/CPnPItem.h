#pragma once
#include <cstdint>
#include <string>

class TiXmlElement;
struct PnPReadContext;

// One memory region of an element, with the file that holds its default or factory content.
class CPnPItem {
public:
    CPnPItem() = default;
    CPnPItem(const TiXmlElement* e, const PnPReadContext& ctx);
    virtual ~CPnPItem() = default;

    std::string name;
    uint32_t address = 0;
    int32_t size = 0;
    std::string fileName;  // resolved path, empty if none
    bool factoryMode = false;
};
