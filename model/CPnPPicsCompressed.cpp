#include "model/CPnPPicsCompressed.h"

#include "app/Strings.h"
#include "model/FileTypes.h"
#include "pictures/CompressedPicture.h"
#include "pictures/LoadingOptions.h"

#include <tinyxml.h>

#include <cstdio>
#include <strings.h>

namespace {
std::string Lower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Extension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return Lower(path.substr(dot));
}

PnPPicsLoad OpenFailure(const std::string& path) {
    PnPPicsLoad out;
    out.result = PnPPicsLoad::kImageError;
    out.imageResult = 1;
    out.message = FormatMessage(kStrImageError + 1, {path});
    return out;
}

CompressedCodec CodecOf(int32_t codec) { return codec == 0 ? CompressedCodec::Dnxhd : CompressedCodec::System; }
}  // namespace

CPnPPicsCompressed::CPnPPicsCompressed(const TiXmlElement* e, const PnPReadContext& ctx)
    : CPnPPics(e, kPnPPicturesCompressed, ctx) {
    // Only the size, codec, info and load mode come from the model; the rest is what the
    // compressed routes use: full-HD BT.709 frames, no shapes, no scale, no luma key.
    codec = PnPAttrSigned(e, "format");
    format = codec == 0 ? 5 : codec == 1 ? 6 : -1;
    lineLength = 0;
    resizable = false;
    scale = 1;
    standardDefinition = false;
    saturation = 100;
    lumaKeyAllowed = false;
    for (auto& it : items) it->size = SlotSize();

    char why[200] = {};
    if (SlotSize() == 0)
        std::snprintf(why, sizeof why, "This element's codec (format %d) is not known: 0 is DNxHD, 1 the system codec.",
                      int(codec));
    else if (width != kCompressedFrameWidth || height != kCompressedFrameHeight)
        std::snprintf(why, sizeof why, "Compressed pictures are 1920 x 1080; this element's are %d x %d.", int(width),
                      int(height));
    m_sizeProblem = why;
}

CPnPPicsCompressed::~CPnPPicsCompressed() = default;

int32_t CPnPPicsCompressed::SlotSize() const {
    return codec == 0 ? kPnPDnxhdSlotSize : codec == 1 ? kPnPCodecSlotSize : 0;
}

bool CPnPPicsCompressed::Compress(std::string* error) {
    if (!Usable() || picture.Empty()) return false;
    std::vector<uint8_t> buf(size_t(SlotSize()), 0);
    std::string why;
    if (!CompressPicture(picture, CodecOf(codec), DnxhdRange::Tv, buf.data(), buf.size(), why)) {
        if (error) *error = why;
        return false;
    }
    deviceBuffer = std::move(buf);
    return true;
}

bool CPnPPicsCompressed::Decompress(std::string* error) {
    if (!Usable() || deviceBuffer.size() < size_t(SlotSize()) || picture.Width() != width ||
        picture.Height() != height)
        return false;
    std::string why;
    const bool ok = DecompressFrame(deviceBuffer.data(), deviceBuffer.size(), CodecOf(codec), picture, 0, why);
    if (!ok && error) *error = why;
    return ok;
}

bool CPnPPicsCompressed::Convert() { return Compress(); }

PnPPicsLoad CPnPPicsCompressed::LoadFromFile(const std::string& path, bool dither, bool verticalFilter,
                                             CDitherRandom& rng) {
    PnPPicsLoad out;
    if (!Usable()) {
        out.result = PnPPicsLoad::kUnusable;
        out.message = m_sizeProblem;
        return out;
    }
    // Worked on copies: a failure leaves the element as it was.
    CPnPPicsCompressed& self = *this;
    CPicture keepPicture = picture;
    std::vector<uint8_t> keepBuffer = deviceBuffer;
    const bool keepLoaded = loaded;
    auto restore = [&] {
        self.picture = std::move(keepPicture);
        self.deviceBuffer = std::move(keepBuffer);
        self.loaded = keepLoaded;
    };

    if (FileTypeOfPath(path, true) == kFileTypePictures) {
        CPicture pic;
        if (int r = pic.Load(path, false, loadMode, width, height, -1)) {
            out.result = PnPPicsLoad::kImageError;
            out.imageResult = r;
            out.message = FormatMessage(kStrImageError + r, {path});
            return out;
        }
        if (pic.Width() != width || pic.Height() != height) {
            std::string text = LoadString(21350);
            for (int n : {int(width), int(height)})
                if (auto at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(n));
            out.result = PnPPicsLoad::kWrongSize;
            out.message = text;
            return out;
        }
        ApplyLoadingOptions(pic, dither, verticalFilter, rng);
        picture = std::move(pic);
        if (!Compress()) {
            restore();
            return OpenFailure(path);
        }
        loaded = true;
        return out;
    }
    std::vector<uint8_t> buf(static_cast<size_t>(SlotSize()));
    if (ReadRawPictureFile(format, path, buf.data(), buf.size(), width, height) != 0) return OpenFailure(path);
    if (!FromDeviceBuffer(buf.data(), buf.size())) {
        restore();
        return OpenFailure(path);
    }
    return out;
}

bool CPnPPicsCompressed::FromDeviceBuffer(const uint8_t* data, size_t size) {
    if (!Usable() || !data || size < size_t(SlotSize())) return false;
    deviceBuffer.assign(data, data + SlotSize());
    if (picture.Width() != width || picture.Height() != height) picture.Create(width, height);
    picture.Fill(0x00000000u);
    loaded = Decompress();
    return loaded;
}

int CPnPPicsCompressed::SaveToFile(const std::string& path) const {
    if (!loaded) return 1;
    const std::string ext = Extension(path);
    if (ext == ".png") return picture.SavePNG(path);
    if (ext == ".bmp") return picture.SaveBMP(path);
    return WriteRawPictureFile(format, path, deviceBuffer.data(), deviceBuffer.size(), width, height);
}
