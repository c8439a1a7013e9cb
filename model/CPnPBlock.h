#pragma once
#include "model/CPnPItem.h"
#include "model/PnPRead.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TiXmlElement;

// Element kind codes, fixed: pages, profiles, factory restore and the main window use them.
enum PnPKind : int32_t {
    kPnPPictures = 1,
    kPnPService = 2,
    kPnPBin = 3,
    kPnPSerial = 4,
    kPnPUIT = 5,
    kPnPPicturebank = 6,
    kPnPSettings = 7,
    kPnPStatus = 8,
    kPnPControls = 9,
    kPnPPicText = 10,
    kPnPSettingsBlock = 11,
    kPnPSettingsGroup = 12,
    kPnPMultiScreen = 13,
    kPnPDynamicLabels = 14,
    kPnPPanelMapping = 15,
    kPnPPicturesCompressed = 16,
};

// Element name of a kind ("pictures" ... "pictures_compressed"), nullptr for other codes.
const char* PnPKindElementName(int kind);
// Kind of an element name (exact, case-sensitive), 0 for any other name.
int PnPKindOfElementName(const char* name);
// Class name of a kind, for listings.
const char* PnPKindClassName(int kind);

// At most this many items per element; "service" has no limit.
constexpr size_t kPnPMaxItems = 32;

// Base of every model element: the common attributes and the items.
class CPnPBlock {
public:
    CPnPBlock(const TiXmlElement* e, int32_t kind, const PnPReadContext& ctx);
    virtual ~CPnPBlock();
    CPnPBlock(const CPnPBlock&) = delete;
    CPnPBlock& operator=(const CPnPBlock&) = delete;

    int32_t kind;
    std::string name;
    std::vector<std::unique_ptr<CPnPItem>> items;
    std::string fileFilter;
    uint32_t address = 0;
    bool user = true;
    std::string group;
    int32_t groupIndex = -1;
    bool factoryMode = false;
    bool noFactory = false;

protected:
    // Kinds that read "info" keep it in a field of their own.
    static std::string ReadInfo(const TiXmlElement* e, const PnPReadContext& ctx);
};

// The filter text of an element's file dialogs from its "extensions" attribute.
std::string PnPBuildFileFilter(const char* extensions, int kind, const PnPReadContext& ctx);
