#include "model/CPnPMultiScreen.h"

#include "signals/CMultiScreen.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <strings.h>

namespace {
RMsField ReadField(const TiXmlElement* e, const char* n) {
    char a[64], b[64], c[64];
    std::snprintf(a, sizeof a, "%s_offset_bytes", n);
    std::snprintf(b, sizeof b, "%s_offset_bits", n);
    std::snprintf(c, sizeof c, "%s_size", n);
    return RMsField::Make(PnPAttrSigned(e, a), PnPAttrSigned(e, b), PnPAttrSigned(e, c));
}

// A default that hangs off the display size, as text for the attribute helpers.
std::string Num(int64_t v) { return std::to_string(v); }

int32_t Side(const TiXmlElement* e, const char* name, const char* def) {
    return std::clamp(PnPAttrSigned(e, name, def), 0, CPnPMultiScreen::kMaxSide);
}
}  // namespace

int32_t CPnPMultiScreen::TypeOf(const std::string& type,
                                const std::vector<std::unique_ptr<CPnPMultiScreenObject>>& objects,
                                int32_t& objectIndex) {
    objectIndex = -1;
    if (type == "window") return kMsWindow;
    if (type == "volume") return kMsVolume;
    if (type == "box") return kMsBox;
    if (type == "label") return kMsLabel;
    for (size_t i = 0; i < objects.size(); ++i)
        if (!type.empty() && objects[i]->name == type) {
            objectIndex = int32_t(i);
            return kMsObject;
        }
    return kMsUnknown;
}

CPnPMultiScreenElement::CPnPMultiScreenElement(const TiXmlElement* e, const PnPReadContext& ctx, int32_t W,
                                               int32_t H, bool inObject,
                                               const std::vector<std::unique_ptr<CPnPMultiScreenObject>>& objects) {
    if (inObject) W = H = 0;
    name = PnPLocalised(e, "name", ctx);
    typeName = PnPAttrText(e, "type");
    type = CPnPMultiScreen::TypeOf(typeName, objects, objectIndex);
    fileName = PnPFileName(PnPAttrText(e, "filename"), ctx);
    id = PnPAttrSigned(e, "id");
    parent = PnPAttrSigned(e, "parent");
    static const char* const pa[4] = {"parent_area_left", "parent_area_top", "parent_area_right", "parent_area_bottom"};
    hasParentArea = true;
    for (int i = 0; i < 4; ++i) {
        hasParentArea = hasParentArea && e->Attribute(pa[i]) != nullptr;
        parentArea[i] = PnPAttrSigned(e, pa[i]);
    }
    style = PnPAttrSigned(e, "style");
    group = PnPAttrSigned(e, "group");
    const bool z = inObject;
    area[0] = PnPAttrSigned(e, "area_left", z ? "0" : "8");
    area[1] = PnPAttrSigned(e, "area_top", z ? "0" : "8");
    area[2] = PnPAttrSigned(e, "area_right", z ? "0" : Num(int64_t(W) - 16).c_str());
    area[3] = PnPAttrSigned(e, "area_bottom", z ? "0" : Num(int64_t(H) - 16).c_str());
    areaStepX = PnPAttrSigned(e, "area_step_x", "1");
    areaStepY = PnPAttrSigned(e, "area_step_y", "1");
    defaultX = PnPAttrSigned(e, "default_x");
    defaultY = PnPAttrSigned(e, "default_y");
    displayAffinity = PnPAttrUnsigned(e, "display_affinity", "0xFFFFFFFF");
    defaultDisplay = PnPAttrSigned(e, "default_display", "1");
    overlap = PnPAttrBool(e, "overlap");
    fields.push_back(ReadField(e, "pos_x"));
    fields.push_back(ReadField(e, "pos_y"));

    const std::string w24 = z ? "0" : Num(int64_t(W) - 24), h24 = z ? "0" : Num(int64_t(H) - 24);
    switch (type) {
    case kMsWindow:
    case kMsObject:
        stepWidth = PnPAttrSigned(e, "step_width");
        stepHeight = PnPAttrSigned(e, "step_height");
        minWidth = PnPAttrSigned(e, "min_width");
        minHeight = PnPAttrSigned(e, "min_height");
        maxWidth = PnPAttrSigned(e, "max_width", w24.c_str());
        maxHeight = PnPAttrSigned(e, "max_height", h24.c_str());
        defaultWidth = PnPAttrSigned(e, "default_width");
        defaultHeight = PnPAttrSigned(e, "default_height");
        scaleWidth = PnPAttrSigned(e, "scale_width", Num(W).c_str());
        scaleHeight = PnPAttrSigned(e, "scale_height", Num(H).c_str());
        fields.push_back(ReadField(e, "scale_x"));
        fields.push_back(ReadField(e, "scale_y"));
        break;
    case kMsVolume:
        sizeStep = PnPAttrSigned(e, "size_step");
        widthStep = PnPAttrSigned(e, "width_step");
        minSize = PnPAttrSigned(e, "min_size");
        minWidth = PnPAttrSigned(e, "min_width");
        maxSize = PnPAttrSigned(e, "max_size", w24.c_str());
        // The across limit defaults from the display height, as the devices' files expect.
        maxWidth = PnPAttrSigned(e, "max_width", h24.c_str());
        vSize = PnPAttrSigned(e, "v_size");
        defaultWidth = PnPAttrSigned(e, "default_width");
        defaultSize = PnPAttrSigned(e, "default_size");
        pictureHorizontal = PnPFileName(PnPAttrText(e, "picture_horizontal"), ctx);
        pictureVertical = PnPFileName(PnPAttrText(e, "picture_vertical"), ctx);
        for (const char* f : {"ch_width", "ch_height", "ch_dist", "scale", "type"}) fields.push_back(ReadField(e, f));
        break;
    case kMsBox:
        width = Side(e, "width", "0");
        height = Side(e, "height", "0");
        break;
    case kMsLabel: {
        width = Side(e, "width", "0");
        height = Side(e, "height", "0");
        text = PnPAttrText(e, "text");
        x = PnPAttrSigned(e, "x");
        y = PnPAttrSigned(e, "y");
        const char* al = e->Attribute("align");
        align = al && strcasecmp(al, "left") == 0    ? TextAlign::Left
                : al && strcasecmp(al, "right") == 0 ? TextAlign::Right
                                                     : TextAlign::Centre;
        colour = PnPAttrUnsigned(e, "color");
        const char* face = e->Attribute("font");
        fontFace = face ? face : "MS Sans Serif";
        fontSize = std::clamp(PnPAttrSigned(e, "fontsize", "10"), 1, 1000);
        const char* fw = e->Attribute("fontweight");
        fontWeight = fw && strcasecmp(fw, "bold") == 0 ? 700 : 400;
        font = PointFont(fontFace, fontSize, fontWeight);
        background = PnPFileName(PnPAttrText(e, "background"), ctx);
        break;
    }
    default: break;
    }
}

CPnPMultiScreenElement::~CPnPMultiScreenElement() = default;

int32_t CPnPMultiScreenElement::MinW() const {
    return type == kMsBox || type == kMsLabel ? width : minWidth;
}
int32_t CPnPMultiScreenElement::MaxW() const {
    return type == kMsBox || type == kMsLabel ? width : maxWidth;
}
int32_t CPnPMultiScreenElement::MinH() const {
    return type == kMsBox || type == kMsLabel ? height : type == kMsVolume ? minSize : minHeight;
}
int32_t CPnPMultiScreenElement::MaxH() const {
    return type == kMsBox || type == kMsLabel ? height : type == kMsVolume ? maxSize : maxHeight;
}
int32_t CPnPMultiScreenElement::StepW() const {
    return type == kMsBox || type == kMsLabel ? 1 : type == kMsVolume ? widthStep : stepWidth;
}
int32_t CPnPMultiScreenElement::StepH() const {
    return type == kMsBox || type == kMsLabel ? 1 : type == kMsVolume ? sizeStep : stepHeight;
}
int32_t CPnPMultiScreenElement::InitialWidth() const {
    return type == kMsBox || type == kMsLabel ? width : defaultWidth;
}
int32_t CPnPMultiScreenElement::InitialHeight() const {
    return type == kMsBox || type == kMsLabel ? height : type == kMsVolume ? defaultSize : defaultHeight;
}

CPnPMultiScreenObject::CPnPMultiScreenObject(const TiXmlElement* e, const PnPReadContext& ctx) {
    name = PnPLocalised(e, "name", ctx);
    type = PnPAttrText(e, "type");
    width = Side(e, "width", "960");
    height = Side(e, "height", "540");
    fileName = PnPFileName(PnPAttrText(e, "filename"), ctx);
}

CPnPMultiScreenObject::~CPnPMultiScreenObject() = default;
CPnPMultiScreenLayer::~CPnPMultiScreenLayer() = default;

CPnPMultiScreenDisplay::CPnPMultiScreenDisplay(const TiXmlElement* e, const PnPReadContext& ctx) {
    name = PnPLocalised(e, "name", ctx);
    format = PnPAttrSigned(e, "newformat");
    standardDefinition = !PnPAttrBool(e, "hdtv");
    saturation = PnPAttrSigned(e, "saturation", "100");
    scale = PnPAttrSigned(e, "scale", "1");
    tolLeft = PnPAttrSigned(e, "tollerance_left", "2");
    tolTop = PnPAttrSigned(e, "tollerance_top", "2");
    tolRight = PnPAttrSigned(e, "tollerance_right", "4");
    tolBottom = PnPAttrSigned(e, "tollerance_bottom", "6");
}

CPnPMultiScreenDisplay::~CPnPMultiScreenDisplay() = default;

std::vector<std::unique_ptr<CPnPMultiScreenElement>> CPnPMultiScreen::ReadElements(const TiXmlElement* parent,
                                                                                   const PnPReadContext& ctx,
                                                                                   bool inObject, size_t& total,
                                                                                   int64_t& pixels) {
    std::vector<std::unique_ptr<CPnPMultiScreenElement>> out;
    for (const TiXmlElement* c = parent->FirstChildElement("element"); c && error.empty();
         c = c->NextSiblingElement("element")) {
        if (++total > kMaxElements) {
            error = "The multiscreen layout has more than " + std::to_string(kMaxElements) + " elements.";
            break;
        }
        auto el = std::make_unique<CPnPMultiScreenElement>(c, ctx, width, height, inObject, objects);
        if (el->type == kMsUnknown || el->id == 0) continue;
        if (el->type == kMsLabel) {
            // A label keeps a picture of its size and a rendered one.
            pixels += 2 * int64_t(el->width) * el->height;
            if (pixels > kMaxPartPixels) {
                error = "The labels of the multiscreen layout are too large.";
                break;
            }
        }
        out.push_back(std::move(el));
    }
    return out;
}

CPnPMultiScreen::CPnPMultiScreen(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPMultiScreen, ctx) {
    size = PnPAttrSigned(e, "size");
    width = std::clamp(PnPAttrSigned(e, "width"), 0, kMaxSide);
    height = std::clamp(PnPAttrSigned(e, "height"), 0, kMaxSide);
    info = ReadInfo(e, ctx);
    std::string p = PnPAttrText(e, "path");
    path = p.empty() ? p : PnPFileName(p, ctx);
    for (const TiXmlElement* b = e->FirstChildElement("background"); b && displays < 2;
         b = b->NextSiblingElement("background"), ++displays) {
        auto d = std::make_unique<CPnPMultiScreenDisplay>(b, ctx);
        auto item = std::make_unique<CPnPItem>(b, ctx);
        int64_t s = BackgroundSize(d->format, d->scale, width, height);
        item->size = int32_t(std::min<int64_t>(s, INT32_MAX));
        d->item = int32_t(items.size());
        items.push_back(std::move(item));
        displayList.push_back(std::move(d));
    }
    if (const TiXmlElement* c = e->FirstChildElement("cover")) {
        hasCover = true;
        coverAddress = PnPAttrUnsigned(c, "address");
        coverFormat = PnPAttrSigned(c, "newformat");
    }
    if (size < 0) size = 0;
    if (int64_t(width) * height > kMaxDisplayPixels) {
        error = "The multiscreen display size " + std::to_string(width) + " x " + std::to_string(height) +
                " is larger than supported.";
        return;
    }
    if (size > 0x1000000) {
        // It has to go through the 16 MB data buffer in one write.
        error = "The multiscreen settings block size " + std::to_string(size) + " is larger than supported.";
        return;
    }
    size_t total = 0;
    int64_t pixels = 0;
    for (const TiXmlElement* o = e->FirstChildElement("object"); o && error.empty(); o = o->NextSiblingElement("object")) {
        if (objects.size() >= kMaxObjects) {
            error = "The multiscreen layout has more than " + std::to_string(kMaxObjects) + " objects.";
            break;
        }
        auto obj = std::make_unique<CPnPMultiScreenObject>(o, ctx);
        pixels += int64_t(obj->width) * obj->height;
        if (pixels > kMaxPartPixels) {
            error = "The objects of the multiscreen layout are too large.";
            break;
        }
        obj->elements = ReadElements(o, ctx, true, total, pixels);
        objects.push_back(std::move(obj));
    }
    for (const TiXmlElement* l = e->FirstChildElement("layer"); l && error.empty(); l = l->NextSiblingElement("layer")) {
        if (layers.size() >= kMaxLayers) {
            error = "The multiscreen layout has more than " + std::to_string(kMaxLayers) + " layers.";
            break;
        }
        auto layer = std::make_unique<CPnPMultiScreenLayer>();
        layer->name = PnPLocalised(l, "name", ctx);
        layer->elements = ReadElements(l, ctx, false, total, pixels);
        layers.push_back(std::move(layer));
    }
    if (!error.empty()) {
        // Nothing half-read stays behind; sizes and addresses still show what the model asked for.
        objects.clear();
        layers.clear();
    }
}

CPnPMultiScreen::~CPnPMultiScreen() = default;

int64_t CPnPMultiScreen::CoverSize() const {
    if (!hasCover) return 0;
    int64_t d;
    if (coverFormat == 5)
        d = 0x94000;
    else if (coverFormat == 6)
        d = 600064;
    else
        d = int64_t(coverFormat == 3 ? 8 : coverFormat == 4 ? 5 : 4) * (width / 2) * height;
    return d * displays;
}

int64_t CPnPMultiScreen::DisplayBackgroundSize(int d) const {
    if (d < 0 || size_t(d) >= displayList.size()) return 0;
    const auto& disp = *displayList[size_t(d)];
    return BackgroundSize(disp.format, disp.scale, width, height);
}

int64_t CPnPMultiScreen::BackgroundSize(int32_t format, int32_t scale, int32_t w, int32_t h) {
    if (scale == 0) return 0;
    int64_t u = format == 3 ? 8 : format == 4 ? 5 : format == 5 ? 1 : 4;
    int64_t s = u * (w / 2) * h;
    for (int32_t i = 1; i < scale && s > 0; ++i) s /= 4;
    return s;
}
