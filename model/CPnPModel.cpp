#include "model/CPnPModel.h"

#include "model/CPnPBin.h"
#include "model/CPnPButtonMapping.h"
#include "model/CPnPControl.h"
#include "model/CPnPDynLogo.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPMultiScreen.h"
#include "model/CPnPPicbank.h"
#include "model/CPnPPics.h"
#include "model/CPnPPicsCompressed.h"
#include "model/CPnPSerial.h"
#include "model/CPnPService.h"
#include "model/CPnPStatus.h"
#include "model/CPnPUIT.h"

#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

CPnPModel::~CPnPModel() { Clear(); }

void CPnPModel::Clear() {
    pages.clear();
    groupNames.clear();
    groupSizes.clear();
    elements.clear();
    timeSync = false;
}

std::unique_ptr<CPnPBlock> PnPCreateElement(const TiXmlElement* e, int kind, const PnPReadContext& ctx) {
    switch (kind) {
    case kPnPPictures: return std::make_unique<CPnPPics>(e, ctx);
    case kPnPService: return std::make_unique<CPnPService>(e, ctx);
    case kPnPBin: return std::make_unique<CPnPBin>(e, ctx);
    case kPnPSerial: return std::make_unique<CPnPSerial>(e, ctx);
    case kPnPUIT: return std::make_unique<CPnPUIT>(e, ctx);
    case kPnPPicturebank: return std::make_unique<CPnPPicbank>(e, ctx);
    case kPnPSettings: return std::make_unique<CPnPSettings>(e, kPnPSettings, ctx);
    case kPnPStatus: return std::make_unique<CPnPStatus>(e, ctx);
    case kPnPControls: return std::make_unique<CPnPControl>(e, ctx);
    case kPnPPicText: return std::make_unique<CPnPPicText>(e, ctx);
    case kPnPSettingsBlock: return std::make_unique<CPnPBlockSettings>(e, ctx);
    case kPnPSettingsGroup: return std::make_unique<CPnPGroupSettings>(e, ctx);
    case kPnPMultiScreen: return std::make_unique<CPnPMultiScreen>(e, ctx);
    case kPnPDynamicLabels: return std::make_unique<CPnPDynLogo>(e, ctx);
    case kPnPPanelMapping: return std::make_unique<CPnPButtonMapping>(e, ctx);
    case kPnPPicturesCompressed: return std::make_unique<CPnPPicsCompressed>(e, ctx);
    default: return nullptr;
    }
}

namespace {
// Real model files nest a few levels; the XML parser and the element readers recurse once per
// level, so a document nested deeper than this is refused before it can exhaust the stack.
constexpr int kMaxNesting = kPnPMaxNesting;
// Far beyond any model file; a larger file is not read into memory.
constexpr long kMaxModelFileBytes = 64L << 20;

// The XML parser's own idea of white space, names and markup (single-byte text).
bool XmlSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '\n' || c == '\r'; }
bool XmlNameStart(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 127 || std::isalpha(u) || c == '_';
}
bool XmlNameChar(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 127 || std::isalnum(u) || c == '_' || c == '-' || c == '.' || c == ':';
}
bool StartsWith(const char* p, const char* s, bool anyCase = false) {
    for (; *s; ++p, ++s) {
        if (!*p) return false;
        if (anyCase ? std::tolower(static_cast<unsigned char>(*p)) != std::tolower(static_cast<unsigned char>(*s))
                    : *p != *s)
            return false;
    }
    return true;
}

// Steps over an attribute (name = value) the way the parser reads one; nullptr where the
// parser would give up, since nothing after that point is ever parsed.
const char* SkipAttribute(const char* p) {
    if (!XmlNameStart(*p)) return nullptr;
    while (*p && XmlNameChar(*p)) ++p;
    while (*p && XmlSpace(*p)) ++p;
    if (*p != '=') return nullptr;
    ++p;
    while (*p && XmlSpace(*p)) ++p;
    if (*p == '"' || *p == '\'') {
        const char* q = std::strchr(p + 1, *p);
        return q ? q + 1 : nullptr;
    }
    while (*p && !XmlSpace(*p) && *p != '/' && *p != '>') {
        if (*p == '"' || *p == '\'') return nullptr;
        ++p;
    }
    return p;
}

const char* SkipPast(const char* p, const char* end) {
    const char* q = std::strstr(p, end);
    return q ? q + std::strlen(end) : nullptr;
}

// The deepest element nesting the parser reaches in the document, walked without recursion
// and split into markup and content exactly as the parser splits it, so "/>" or "</" inside
// attribute values, text, comments, CDATA or declarations counts for nothing. Stops where
// the parser would stop, and once the depth passes limit.
int DeepestNesting(const char* p, int limit) {
    int depth = 0, deepest = 0;
    while (p && *p && deepest <= limit) {
        while (*p && XmlSpace(*p)) ++p;
        if (!*p) break;
        if (*p != '<') {
            if (depth == 0) break;  // text outside the root ends the document
            p = std::strchr(p, '<');
            continue;
        }
        if (p[1] == '/') {
            // Inside an element: its end tag (a wrong one stops the parser). Outside: unknown markup.
            if (depth > 0) --depth;
            p = SkipPast(p, ">");
        } else if (StartsWith(p, "<?xml", true)) {
            p += 5;
            while (p && *p && *p != '>') {
                while (*p && XmlSpace(*p)) ++p;
                if (StartsWith(p, "version", true) || StartsWith(p, "encoding", true) ||
                    StartsWith(p, "standalone", true)) {
                    p = SkipAttribute(p);
                } else {
                    while (*p && *p != '>' && !XmlSpace(*p)) ++p;
                }
            }
            if (p && *p == '>') ++p;
            else p = nullptr;
        } else if (StartsWith(p, "<!--")) {
            p = SkipPast(p + 4, "-->");
        } else if (StartsWith(p, "<![CDATA[")) {
            p = SkipPast(p + 9, "]]>");
        } else if (XmlNameStart(p[1])) {
            deepest = std::max(deepest, ++depth);
            p += 1;
            while (*p && XmlNameChar(*p)) ++p;
            for (;;) {
                while (*p && XmlSpace(*p)) ++p;
                if (!*p) {
                    p = nullptr;
                } else if (*p == '/') {
                    // An empty element: its level is left at once.
                    --depth;
                    p = p[1] == '>' ? p + 2 : nullptr;
                } else if (*p == '>') {
                    ++p;
                } else {
                    p = SkipAttribute(p);
                    if (p) continue;
                }
                break;
            }
        } else {
            p = SkipPast(p, ">");  // "<!DOCTYPE ...>" and other markup the parser keeps as unknown
        }
    }
    return deepest;
}
}  // namespace

int CPnPModel::Load(const std::string& path) {
    Clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return kPnPCannotOpen;
    std::string text;
    long length = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
    if (length < 0 || length > kMaxModelFileBytes || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return kPnPCannotOpen;
    }
    text.resize(size_t(length));
    size_t got = length ? std::fread(text.data(), 1, size_t(length), f) : 0;
    std::fclose(f);
    if (got != size_t(length)) return kPnPCannotOpen;
    return LoadFromText(text);
}

int CPnPModel::LoadFromText(const std::string& xml) {
    Clear();
    // Model files are single-byte text; the legacy encoding keeps bytes above 127 as they are.
    // A UTF-8 byte order mark (a file saved by a text editor) is skipped, not an error.
    const char* text = xml.c_str();
    if (xml.compare(0, 3, "\xEF\xBB\xBF") == 0) text += 3;
    // Well-formed, perhaps, but no model file nests like this: refused as corrupt.
    if (DeepestNesting(text, kMaxNesting) > kMaxNesting) return kPnPNoModel;
    TiXmlDocument doc;
    doc.Parse(text, nullptr, TIXML_ENCODING_LEGACY);
    if (doc.Error()) return kPnPCannotOpen;
    return LoadDocument(doc);
}

int CPnPModel::LoadDocument(TiXmlDocument& doc) {
    const TiXmlElement* root = doc.FirstChildElement();
    if (!root) return kPnPNoModel;
    const TiXmlElement* pnp = root->FirstChildElement("pnp");
    if (!pnp) return kPnPNoModel;
    timeSync = PnPAttrBool(pnp, "timesync");

    for (const TiXmlElement* e = pnp->FirstChildElement(); e; e = e->NextSiblingElement()) {
        int kind = PnPKindOfElementName(e->Value());
        if (kind == 0) continue;
        auto element = PnPCreateElement(e, kind, m_ctx);
        bool accept = true;
        switch (kind) {
        case kPnPPictures:
        case kPnPService:
        case kPnPBin:
        case kPnPPicText:
        case kPnPDynamicLabels:
        case kPnPPicturesCompressed:
            accept = !element->items.empty();
            break;
        case kPnPSerial:
        case kPnPUIT:
        case kPnPPicturebank:
        case kPnPSettings:
        case kPnPStatus:
        case kPnPControls:
            accept = FindFirst(kind) == nullptr;
            break;
        default:
            break;
        }
        if (accept) elements.push_back(std::move(element));
    }
    BuildPages();
    return kPnPLoaded;
}

void CPnPModel::BuildPages() {
    pages.clear();
    groupNames.clear();
    groupSizes.clear();
    for (auto& up : elements) {
        CPnPBlock* e = up.get();
        if (e->kind == kPnPService || !e->user) continue;
        size_t g = 0;
        while (g < groupNames.size() && groupNames[g] != e->group) ++g;
        if (g == groupNames.size()) {
            groupNames.push_back(e->group);
            groupSizes.push_back(0);
        }
        ++groupSizes[g];
        e->groupIndex = int32_t(g);
        pages.push_back(e);
    }
    // Nobody named a group: every page becomes a group of its own.
    if (groupNames.size() == 1 && groupNames[0].empty()) {
        groupNames.clear();
        groupSizes.clear();
        for (size_t i = 0; i < pages.size(); ++i) {
            groupNames.push_back(pages[i]->name);
            groupSizes.push_back(1);
            pages[i]->groupIndex = int32_t(i);
        }
    }
}

CPnPBlock* CPnPModel::FindFirst(int32_t kind) const {
    for (auto& e : elements)
        if (e->kind == kind) return e.get();
    return nullptr;
}

std::string CPnPModel::PageTitle(const CPnPBlock* element) const {
    if (!element) return {};
    int32_t g = element->groupIndex;
    if (g < 0 || size_t(g) >= groupNames.size() || groupSizes[size_t(g)] == 1) return element->name;
    return groupNames[size_t(g)] + " - " + element->name;
}
