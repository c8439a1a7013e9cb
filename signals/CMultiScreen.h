#pragma once
// The multiscreen working document: displays, their layers and elements, with the state the
// operator edits. Plain object trees; the operations on them are in signals/MultiScreenDoc.h.
// Header-only on purpose: the model element owns a document without linking the code that
// builds it.
#include "pictures/CPicture.h"
#include "pictures/TextDraw.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

struct RMsRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

class CScreenElement {
public:
    virtual ~CScreenElement() = default;

    // From the model element.
    std::string name;
    int32_t id = 0;
    int32_t parent = 0;
    int32_t group = 0;
    int32_t style = 0;
    int32_t objectIndex = -1;
    RMsRect parentArea;
    bool hasParentArea = false;
    bool isWindow = false;  // window or object
    int32_t type = 0;       // model element type (0 for the background)
    RMsRect area;
    int32_t areaStepX = 1, areaStepY = 1;
    int32_t minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
    int32_t stepWidth = 1, stepHeight = 1;
    bool isVolume = false;
    bool overlapAllowed = false;
    int32_t vSize = 0;

    // Own state.
    bool visible = false;
    int32_t x = 0, y = 0, width = 0, height = 0;
    CPicture picture;
    // Labels: text anchor in the label, alignment, colour 0x00BBGGRR and font, with the
    // model's values as defaults, and the picture with the text drawn.
    bool isLabel = false;
    std::string text;
    int32_t anchorX = 0, anchorY = 0;
    TextAlign align = TextAlign::Centre;
    uint32_t colour = 0;
    CFontRecord font;
    std::string defaultText;
    uint32_t defaultColour = 0;
    CFontRecord defaultFont;
    CPicture rendered;
    bool renderedValid = false;
    // Volumes: the meter pictures.
    std::string pictureHorizontal, pictureVertical;
};

class CScreenLayer {
public:
    virtual ~CScreenLayer() = default;

    bool background = false;
    RMsRect rect;
    std::string name;
    std::vector<std::unique_ptr<CScreenElement>> elements;
    bool hasLabels = false;
};

class CScreenDisplay {
public:
    virtual ~CScreenDisplay() = default;

    std::string name;
    std::vector<std::unique_ptr<CScreenLayer>> layers;
    int32_t tolLeft = 0, tolTop = 0, tolRight = 0, tolBottom = 0;
    bool objectDisplay = false;
    int32_t objectIndex = -1;
    CPicture picture;  // object displays: the object's picture
};

class CMultiScreen {
public:
    CMultiScreen() = default;
    CMultiScreen(CMultiScreen&&) = default;
    CMultiScreen& operator=(CMultiScreen&&) = default;
    virtual ~CMultiScreen() = default;

    int32_t width = 0, height = 0;
    // Real displays first, then one object display per model object.
    std::vector<std::unique_ptr<CScreenDisplay>> displays;
    int32_t realDisplays = 0;
    bool built = false;
    bool valid = false;
    // Meter pictures loaded at an element's size, kept between renderings.
    std::map<std::tuple<std::string, int, int>, CPicture> pictureCache;
};
