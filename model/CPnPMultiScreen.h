#pragma once
#include "model/CPnPBlock.h"
#include "pictures/TextDraw.h"

#include <memory>
#include <string>
#include <vector>

class CMultiScreen;

// Where one value of the multiscreen settings block goes, packed in one word:
// bits 0-15 byte offset, bits 16-18 bit offset, bits 24-31 size in bits.
struct RMsField {
    uint32_t word = 0;

    uint32_t ByteOffset() const { return word & 0xFFFFu; }
    uint32_t BitOffset() const { return (word >> 16) & 7u; }
    uint32_t Size() const { return word >> 24; }
    static RMsField Make(int32_t byteOffset, int32_t bitOffset, int32_t size) {
        return {(uint32_t(byteOffset) & 0xFFFFu) | ((uint32_t(bitOffset) & 7u) << 16) | ((uint32_t(size) & 0xFFu) << 24)};
    }
};

// Element types; objects are type 4 with the object's index.
enum : int32_t {
    kMsUnknown = 0,
    kMsWindow = 1,
    kMsVolume = 2,
    kMsBox = 3,
    kMsObject = 4,
    kMsLabel = 5,
};

// Descriptor slots of an element, in reading order: pos_x, pos_y, then either
// ch_width, ch_height, ch_dist, scale, type (volume) or scale_x, scale_y (window, object).
enum : int {
    kFieldPosX = 0,
    kFieldPosY = 1,
    kFieldChWidth = 2,
    kFieldChHeight = 3,
    kFieldChDist = 4,
    kFieldScale = 5,
    kFieldType = 6,
    kFieldScaleX = 2,
    kFieldScaleY = 3,
};

class CPnPMultiScreenObject;

// One element of a layer or of an object, every attribute as read.
class CPnPMultiScreenElement {
public:
    // frameW/frameH: the display size, or 0 for the elements of an object (their defaults
    // that hang off the display are 0 then).
    CPnPMultiScreenElement(const TiXmlElement* e, const PnPReadContext& ctx, int32_t frameW, int32_t frameH,
                           bool inObject, const std::vector<std::unique_ptr<CPnPMultiScreenObject>>& objects);
    virtual ~CPnPMultiScreenElement();

    std::string name;
    std::string typeName;
    int32_t type = kMsUnknown;
    int32_t objectIndex = -1;
    std::string fileName;
    int32_t id = 0;
    int32_t parent = 0;
    bool hasParentArea = false;
    int32_t parentArea[4] = {};  // left, top, right, bottom
    int32_t style = 0;
    int32_t group = 0;
    int32_t area[4] = {};  // left, top, right, bottom
    int32_t areaStepX = 1, areaStepY = 1;
    int32_t defaultX = 0, defaultY = 0;
    uint32_t displayAffinity = 0xFFFFFFFFu;
    int32_t defaultDisplay = 1;
    bool overlap = false;
    std::vector<RMsField> fields;

    // window and object
    int32_t stepWidth = 0, stepHeight = 0, minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
    int32_t defaultWidth = 0, defaultHeight = 0, scaleWidth = 0, scaleHeight = 0;
    // volume (minWidth, maxWidth and defaultWidth shared with the above)
    int32_t sizeStep = 0, widthStep = 0, minSize = 0, maxSize = 0, vSize = 0, defaultSize = 0;
    std::string pictureHorizontal, pictureVertical;
    // box and label
    int32_t width = 0, height = 0;
    // label
    std::string text;
    int32_t x = 0, y = 0;
    TextAlign align = TextAlign::Centre;
    uint32_t colour = 0;
    std::string fontFace;
    int32_t fontSize = 10;
    int32_t fontWeight = 400;
    CFontRecord font;
    std::string background;

    bool IsWindow() const { return type == kMsWindow || type == kMsObject; }
    // Limits the document copies: minimum and maximum size and the size steps.
    int32_t MinW() const;
    int32_t MaxW() const;
    int32_t MinH() const;
    int32_t MaxH() const;
    int32_t StepW() const;
    int32_t StepH() const;
    // The initial size.
    int32_t InitialWidth() const;
    int32_t InitialHeight() const;
    RMsField Field(int slot) const { return size_t(slot) < fields.size() ? fields[size_t(slot)] : RMsField{}; }
};

// A composite that elements of type "object" place on a display.
class CPnPMultiScreenObject {
public:
    CPnPMultiScreenObject(const TiXmlElement* e, const PnPReadContext& ctx);
    virtual ~CPnPMultiScreenObject();

    std::string name;
    std::string type;
    int32_t width = 960, height = 540;
    std::string fileName;
    std::vector<std::unique_ptr<CPnPMultiScreenElement>> elements;
};

class CPnPMultiScreenLayer {
public:
    virtual ~CPnPMultiScreenLayer();
    std::string name;
    std::vector<std::unique_ptr<CPnPMultiScreenElement>> elements;
};

// One display ("background" child); it is also an item of the element.
class CPnPMultiScreenDisplay {
public:
    CPnPMultiScreenDisplay(const TiXmlElement* e, const PnPReadContext& ctx);
    virtual ~CPnPMultiScreenDisplay();

    std::string name;
    int32_t format = 0;
    bool standardDefinition = true;  // "hdtv" 0
    int32_t saturation = 100;
    int32_t scale = 1;
    int32_t tolLeft = 2, tolTop = 2, tolRight = 4, tolBottom = 6;
    int32_t item = -1;  // index into the element's items

    bool Hdtv() const { return !standardDefinition; }
};

// "multiscreen": displays, cover, objects and layers; the working document hangs off it.
class CPnPMultiScreen : public CPnPBlock {
public:
    // Bounds on what a model file may ask for, checked before anything is allocated.
    static constexpr int32_t kMaxSide = 8192;
    static constexpr int64_t kMaxDisplayPixels = int64_t(8192) * 4320;
    static constexpr size_t kMaxObjects = 64;
    static constexpr size_t kMaxLayers = 64;
    static constexpr size_t kMaxElements = 4096;  // over all layers and objects
    // Labels and objects each hold pictures of their own size; their total area is capped.
    static constexpr int64_t kMaxPartPixels = int64_t(64) << 20;

    CPnPMultiScreen(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPMultiScreen() override;

    int32_t size = 0;  // multiscreen settings block
    int32_t width = 0;
    int32_t height = 0;
    std::string info;
    std::string path;
    int32_t displays = 0;  // "background" children read (at most two)
    bool hasCover = false;
    uint32_t coverAddress = 0;
    int32_t coverFormat = 0;
    std::vector<std::unique_ptr<CPnPMultiScreenDisplay>> displayList;
    std::vector<std::unique_ptr<CPnPMultiScreenObject>> objects;
    std::vector<std::unique_ptr<CPnPMultiScreenLayer>> layers;
    // Why the layout cannot be used (empty: it can): a model asking for more than we allow.
    std::string error;

    // The working document (built by the page); owned here.
    std::unique_ptr<CMultiScreen> document;

    // The cover picture: one frame per display, 0 without a "cover" child.
    int64_t CoverSize() const;
    // Background item size of display d (0: none).
    int64_t DisplayBackgroundSize(int d) const;

    // Item size of a display's background for its "newformat" and "scale".
    static int64_t BackgroundSize(int32_t format, int32_t scale, int32_t width, int32_t height);
    // Type code of a type text (0 unknown); objects give 4 and their index.
    static int32_t TypeOf(const std::string& type, const std::vector<std::unique_ptr<CPnPMultiScreenObject>>& objects,
                          int32_t& objectIndex);

private:
    std::vector<std::unique_ptr<CPnPMultiScreenElement>> ReadElements(const TiXmlElement* parent,
                                                                      const PnPReadContext& ctx, bool inObject,
                                                                      size_t& total, int64_t& pixels);
};
