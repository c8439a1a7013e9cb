#include "model/CPnPBlock.h"

#include "model/FileTypes.h"

#include <tinyxml.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {
struct KindInfo {
    const char* element;
    const char* cls;
};
const KindInfo kKinds[17] = {
    {nullptr, nullptr},
    {"pictures", "CPnPPics"},
    {"service", "CPnPService"},
    {"bin", "CPnPBin"},
    {"serial", "CPnPSerial"},
    {"uit", "CPnPUIT"},
    {"picturebank", "CPnPPicbank"},
    {"settings", "CPnPSettings"},
    {"status", "CPnPStatus"},
    {"controls", "CPnPControl"},
    {"pictext", "CPnPPicText"},
    {"settings_block", "CPnPBlockSettings"},
    {"settings_group", "CPnPGroupSettings"},
    {"multiscreen", "CPnPMultiScreen"},
    {"dynamic_labels", "CPnPDynLogo"},
    {"panel_mapping", "CPnPButtonMapping"},
    {"pictures_compressed", "CPnPPicsCompressed"},
};

std::string Lower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string TypeEntry(int type, const PnPReadContext& ctx) {
    std::string ext = FileTypeExtension(type);
    return ctx.Text(20101 + type) + " (*" + ext + ")|*" + ext + "|";
}
}  // namespace

const char* PnPKindElementName(int kind) { return kind >= 1 && kind <= 16 ? kKinds[kind].element : nullptr; }

const char* PnPKindClassName(int kind) { return kind >= 1 && kind <= 16 ? kKinds[kind].cls : "CPnPBlock"; }

int PnPKindOfElementName(const char* name) {
    if (!name) return 0;
    for (int k = 1; k <= 16; ++k)
        if (std::strcmp(kKinds[k].element, name) == 0) return k;
    return 0;
}

std::string PnPBuildFileFilter(const char* extensions, int kind, const PnPReadContext& ctx) {
    const std::string picturePattern = std::string("*") + kPicturePattern;
    std::vector<std::string> patterns;
    if (kind == kPnPPictures || kind == kPnPPicText || kind == kPnPPicturesCompressed) patterns.push_back(picturePattern);
    if (extensions) {
        std::string list = extensions;
        size_t start = 0;
        while (start <= list.size()) {
            size_t comma = list.find(',', start);
            if (comma == std::string::npos) comma = list.size();
            std::string entry = Lower(Trim(list.substr(start, comma - start)));
            if (!entry.empty() && std::string(kPicturePattern).find(entry) == std::string::npos)
                patterns.push_back("*." + entry);
            start = comma + 1;
        }
    }
    std::string filter;
    if (patterns.size() > 1) {
        filter = ctx.Text(20150) + " |";
        bool first = true;
        for (const auto& p : patterns) {
            if (p == "*.*") continue;
            if (!first) filter += ";";
            filter += p;
            first = false;
        }
        filter += "|";
    }
    for (const auto& p : patterns) {
        std::string ext = Lower(p.substr(p.rfind('.')));
        if (std::string(kPicturePattern).find(ext) != std::string::npos) {
            filter += TypeEntry(kFileTypePictures, ctx);
            continue;
        }
        int type = -1;
        for (int i = 0; i < kFileTypeCount; ++i)
            if (ext == FileTypeExtension(i)) {
                type = i;
                break;
            }
        if (type >= 0) {
            filter += TypeEntry(type, ctx);
        } else {
            // "%s files" filled with the extension.
            std::string fmt = ctx.Text(20121);
            filter += PnPReplaceAll(fmt, "%s", ext) + "|" + p + "|";
        }
    }
    // The dialogs' filter buffer holds 1024 characters.
    if (filter.size() > 1023) filter.resize(1023);
    return filter;
}

CPnPItem::CPnPItem(const TiXmlElement* e, const PnPReadContext& ctx) {
    name = PnPLocalised(e, "name", ctx);
    address = PnPAttrUnsigned(e, "address");
    size = PnPAttrSigned(e, "size");
    fileName = PnPFileName(PnPAttrText(e, "filename"), ctx);
    factoryMode = PnPAttrBool(e, "factory_mode");
}

CPnPBlock::CPnPBlock(const TiXmlElement* e, int32_t kindCode, const PnPReadContext& ctx) : kind(kindCode) {
    name = PnPLocalised(e, "name", ctx);
    for (const TiXmlElement* it = e->FirstChildElement("item"); it; it = it->NextSiblingElement("item")) {
        if (kind != kPnPService && items.size() >= kPnPMaxItems) break;
        items.push_back(std::make_unique<CPnPItem>(it, ctx));
    }
    fileFilter = PnPBuildFileFilter(e->Attribute("extensions"), kind, ctx);
    address = PnPAttrUnsigned(e, "address");
    user = PnPAttrBool(e, "user", "1");
    group = PnPLocalised(e, "group", ctx);
    factoryMode = PnPAttrBool(e, "factory_mode");
    noFactory = PnPAttrBool(e, "no_factory");
}

CPnPBlock::~CPnPBlock() = default;

std::string CPnPBlock::ReadInfo(const TiXmlElement* e, const PnPReadContext& ctx) {
    return PnPLocalisedInfo(e, "info", ctx);
}
