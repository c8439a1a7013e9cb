#include "model/CPnPPics.h"

#include "app/ConfigStore.h"
#include "app/Strings.h"
#include "model/FileTypes.h"
#include "pictures/ImageFile.h"
#include "pictures/LoadingOptions.h"
#include "pictures/PictureConvert.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

int32_t PnPBytesPerPixelPair(int32_t format) {
    switch (format) {
    case 3: return 8;
    case 4: return 5;
    case 5: return 1;
    default: return 4;
    }
}

int64_t PnPPictureBufferSize(int32_t format, int32_t lineLength, int32_t height) {
    return int64_t(lineLength / 2) * height * PnPBytesPerPixelPair(format);
}

namespace {
int32_t LoadMode(const char* t) {
    if (!t) return 0;
    if (strcasecmp(t, "crop") == 0) return 2;
    if (strcasecmp(t, "resize") == 0) return 1;
    if (strcasecmp(t, "aspect") == 0) return 5;
    return 0;
}

// Messages 21350 and 21351 hold printf-style "%d"s; a translation is not trusted with a
// format string, so the numbers go in one by one.
std::string FillNumbers(const std::string& text, std::initializer_list<int> numbers) {
    std::string out;
    auto n = numbers.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 'd' && n != numbers.end()) {
            out += std::to_string(*n++);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string LowerExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (auto& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

PnPPicsLoad ImageFailure(int r, const std::string& path) {
    PnPPicsLoad out;
    out.result = PnPPicsLoad::kImageError;
    out.imageResult = r;
    out.message = FormatMessage(kStrImageError + r, {path});
    return out;
}
}  // namespace

CPnPPics::CPnPPics(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPPics(e, kPnPPictures, ctx) {}

CPnPPics::CPnPPics(const TiXmlElement* e, int32_t kindCode, const PnPReadContext& ctx) : CPnPBlock(e, kindCode, ctx) {
    // Sizes stay within what a 16-bit device coordinate can name, so buffers stay bounded.
    width = std::clamp(PnPAttrSigned(e, "width"), 4, 8192);
    height = std::clamp(PnPAttrSigned(e, "height"), 4, 8192);
    lineLength = std::clamp(PnPAttrSigned(e, "linesize"), 0, 8192);
    resizable = PnPAttrBool(e, "resizable");
    // Halving scale - 1 times: a scale below 1 would halve a negative number of times.
    scale = std::max(PnPAttrSigned(e, "scale", "1"), 1);
    format = PnPAttrSigned(e, "newformat");
    standardDefinition = !PnPAttrBool(e, "hdtv");
    saturation = PnPAttrSigned(e, "saturation", "100");
    lumaKeyAllowed = PnPAttrBool(e, "lumakey");
    info = ReadInfo(e, ctx);
    loadMode = LoadMode(e->Attribute("mode"));
    for (auto& it : items) it->size = int32_t(BufferSize());

    CheckSizes();
}

CPnPPics::~CPnPPics() = default;

// A hostile model must not make the page allocate gigabytes: the image to load and the
// device buffer are bounded before anything is allocated for them.
void CPnPPics::CheckSizes() {
    char why[200] = {};
    const int64_t w = int64_t(width) * scale, h = int64_t(height) * scale;
    if (w > kMaxImageSide || h > kMaxImageSide || w * h > kDefaultMaxImagePixels)
        std::snprintf(why, sizeof why, "This element's pictures (%d x %d at scale %d) are larger than any picture can be.",
                      int(width), int(height), int(scale));
    else if (BufferSize() > kPnPMaxPictureBuffer)
        std::snprintf(why, sizeof why, "This element's device pictures (%lld bytes) do not fit the 16 MB data buffer.",
                      static_cast<long long>(BufferSize()));
    else if (lineLength && lineLength < width)
        std::snprintf(why, sizeof why, "This element's line length (%d) is shorter than its width (%d).",
                      int(lineLength), int(width));
    m_sizeProblem = why;
}

bool CPnPPics::LoadImage(const std::string& path, bool dither, bool verticalFilter, CDitherRandom& rng, CPicture& pic,
                         PnPPicsLoad& out) const {
    const int W = RequiredWidth(), H = RequiredHeight();
    const int mode = resizable && loadMode != 0 ? CPicture::kLoadFit : loadMode;
    if (int r = pic.Load(path, true, mode, W, H, -1)) {
        out = ImageFailure(r, path);
        return false;
    }
    if (mode == CPicture::kLoadNone) {
        const int pw = pic.Width(), ph = pic.Height();
        const bool exact = pw == W && ph == H;
        const bool other = resizable && ((pw == 2 * W && ph == H / 2) || (pw == W / 2 && ph == 2 * H));
        if (!exact && !other) {
            out.result = PnPPicsLoad::kWrongSize;
            out.message = resizable ? FillNumbers(LoadString(21351), {W, H, 2 * W, H / 2, W / 2, 2 * H})
                                    : FillNumbers(LoadString(21350), {W, H});
            return false;
        }
    }
    ApplyLoadingOptions(pic, dither, verticalFilter, rng);
    for (int i = 1; i < scale; ++i) pic.DownscaleByTwo();
    return true;
}

bool CPnPPics::ConvertInto(const CPicture& pic, std::vector<uint8_t>& buf) const {
    if (!Usable() || pic.Empty()) return false;
    // Bytes beyond the picture's rows stay as the device buffer had them.
    buf = deviceBuffer;
    buf.resize(size_t(BufferSize()), 0);
    const bool odd = OddShape(pic);
    const int line = odd ? pic.Width() : EffectiveLineLength();
    if (!PictureToDevice(pic, !standardDefinition, format, saturation, buf.data(), buf.size(), line)) return false;
    if (odd && buf.size() >= 2) {
        const uint16_t marker = pic.Width() == width / 2 ? kPnPShapeHalfWidth : kPnPShapeDoubleWidth;
        buf[0] = uint8_t(marker & 0xFF);
        buf[1] = uint8_t(marker >> 8);
    }
    return true;
}

bool CPnPPics::Convert() {
    std::vector<uint8_t> buf;
    if (!ConvertInto(picture, buf)) return false;
    deviceBuffer = std::move(buf);
    return true;
}

PnPPicsLoad CPnPPics::LoadFromFile(const std::string& path, bool dither, bool verticalFilter, CDitherRandom& rng) {
    PnPPicsLoad out;
    if (!Usable()) {
        out.result = PnPPicsLoad::kUnusable;
        out.message = m_sizeProblem;
        return out;
    }
    if (FileTypeOfPath(path, true) == kFileTypePictures) {
        CPicture pic;
        if (!LoadImage(path, dither, verticalFilter, rng, pic, out)) return out;
        std::vector<uint8_t> buf;
        if (!ConvertInto(pic, buf)) {
            out.result = PnPPicsLoad::kUnusable;
            out.message = "Pictures of device format " + std::to_string(format) + " cannot be made here.";
            return out;
        }
        picture = std::move(pic);
        deviceBuffer = std::move(buf);
        loaded = true;
        return out;
    }
    // A raw device picture file: the buffer's bytes as a slot holds them.
    std::vector<uint8_t> buf(static_cast<size_t>(BufferSize()));
    if (int r = ReadRawPictureFile(format, path, buf.data(), buf.size(), EffectiveLineLength(), height))
        return ImageFailure(r == 1 ? 1 : 3, path);
    if (!FromDeviceBuffer(buf.data(), buf.size())) return ImageFailure(3, path);
    return out;
}

bool CPnPPics::FromDeviceBuffer(const uint8_t* data, size_t size) {
    if (!Usable() || !data || size < size_t(BufferSize())) return false;
    int w = width, h = height;
    bool odd = false;
    if (resizable && size >= 2) {
        const uint16_t word = uint16_t((data[0] | (data[1] << 8)) & 0x03F3);
        if (word == kPnPShapeHalfWidth) {
            w = width / 2;
            h = 2 * height;
            odd = true;
        } else if (word == kPnPShapeDoubleWidth) {
            w = 2 * width;
            h = height / 2;
            odd = true;
        }
    }
    CPicture pic;
    if (!pic.Create(w, h)) return false;
    if (!DeviceToPicture(pic, odd ? 0 : EffectiveLineLength(), data, size, !standardDefinition, format)) return false;
    picture = std::move(pic);
    deviceBuffer.assign(data, data + BufferSize());
    loaded = true;
    return true;
}

int CPnPPics::SaveToFile(const std::string& path) const {
    if (!loaded) return 1;
    const std::string ext = LowerExtension(path);
    if (ext == ".png" || ext == ".bmp") {
        CPicture copy(picture);
        if (scale >= 2) copy.UpscaleByTwo();
        return ext == ".png" ? copy.SavePNG(path) : copy.SaveBMP(path);
    }
    return WriteRawPictureFile(format, path, deviceBuffer.data(), deviceBuffer.size(), EffectiveLineLength(), height);
}

// ---------------------------------------------------------------------------------------

CPnPPicText::CPnPPicText(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPPics(e, kPnPPictures, ctx) {
    kind = kPnPPicText;
    // Labels are drawn at the element's own size: the bounds again, without the scale.
    scale = 1;
    resizable = false;
    CheckSizes();
    x = PnPAttrSigned(e, "x", "0");
    y = PnPAttrSigned(e, "y", "0");
    const char* align = e->Attribute("align");
    if (align && strcasecmp(align, "left") == 0) alignment = TextAlign::Left;
    else if (align && strcasecmp(align, "right") == 0) alignment = TextAlign::Right;
    else alignment = TextAlign::Centre;
    elementName = PnPAttrText(e, "name");
    defaultColour = PnPAttrUnsigned(e, "color", "0") & 0x00FFFFFFu;
    const char* face = e->Attribute("font");
    defaultFont = PointFont(face ? face : "MS Sans Serif", std::clamp(PnPAttrSigned(e, "fontsize", "10"), 1, 1000));
    colour = defaultColour;
    font = defaultFont;

    const std::string bg = PnPAttrText(e, "background");
    if (!bg.empty()) backgroundFile = PnPFileName(bg, ctx);
    if (!backgroundFile.empty() && Usable()) {
        CPicture pic;
        if (pic.Load(backgroundFile, true, CPicture::kLoadResize, width, height) == CPicture::kLoadOk &&
            pic.Width() == width && pic.Height() == height) {
            background = pic;
            hasBackground = true;
            picture = std::move(pic);
            if (Convert()) loaded = true;
        }
    }
}

CPnPPicText::~CPnPPicText() = default;

PnPPicsLoad CPnPPicText::LoadFromFile(const std::string& path, bool dither, bool verticalFilter, CDitherRandom& rng) {
    PnPPicsLoad out = CPnPPics::LoadFromFile(path, dither, verticalFilter, rng);
    if (out.result == PnPPicsLoad::kLoaded) {
        background = picture;
        hasBackground = background.Width() == width && background.Height() == height;
    }
    return out;
}

bool CPnPPicText::DrawLabel() {
    if (!hasBackground || !Usable()) return false;
    CPictureBMP canvas(background);
    if (!text.empty() && !DrawText(canvas, text, font, colour, x, y, alignment)) return false;
    std::vector<uint8_t> buf = deviceBuffer;
    buf.resize(size_t(BufferSize()), 0);
    // Rows of the element's line length, like every other conversion of the slot: rows of the
    // picture width would come out sheared on a device whose line is longer.
    if (!PictureToDevice(canvas, !standardDefinition, format, saturation, buf.data(), buf.size(), EffectiveLineLength()))
        return false;
    picture = canvas;
    deviceBuffer = std::move(buf);
    loaded = true;
    return true;
}

std::string CPnPPicText::FontKey(const std::string& modelName, const std::string& elementName) {
    return "struct_" + modelName + "_" + elementName;
}

std::string CPnPPicText::ColourKey(const std::string& modelName) { return "int_" + modelName + "_1"; }

void CPnPPicText::LoadPreferences(const CConfigStore& store, const std::string& modelName) {
    uint8_t raw[CFontRecord::kSize];
    font = store.ReadStruct("PnP_Preferences", FontKey(modelName, elementName), raw, sizeof raw)
               ? CFontRecord::FromBytes(raw)
               : defaultFont;
    std::string value;
    colour = store.Lookup("PnP_Preferences", ColourKey(modelName), value)
                 ? uint32_t(store.ReadInt("PnP_Preferences", ColourKey(modelName), 0)) & 0x00FFFFFFu
                 : defaultColour;
}

void CPnPPicText::StorePreferences(CConfigStore& store, const std::string& modelName) const {
    uint8_t raw[CFontRecord::kSize];
    font.ToBytes(raw);
    store.WriteStruct("PnP_Preferences", FontKey(modelName, elementName), raw, sizeof raw);
    store.WriteInt("PnP_Preferences", ColourKey(modelName), int(colour));
}
