#pragma once
#include "devicedata/DeviceContext.h"
#include "signals/MultiScreenDoc.h"

#include <string>

class CConfigStore;

// The multiscreen page without its widgets: the document kept on the element, "Load",
// "Save", the valid flag, the preview and "Write" (backgrounds, cover, settings block, each
// an erase-and-write under one operation).
class CMultiScreenPage {
public:
    CMultiScreenPage(CPnPMultiScreen& element, RDeviceContext& ctx, CConfigStore& store)
        : m_el(element), m_ctx(ctx), m_store(store) {}

    // The page was shown: builds the document unless it is built, with the stored label
    // fonts, colours and texts.
    void EnsureBuilt();
    // "Load" with the file the dialog gave: 0, 1 or 2 (the message is shown on failure).
    int Load(const std::string& path);
    // "Save": 0 or 3 (message on failure).
    int Save(const std::string& path);
    // "Write": asks 21422 unless ask is false; false when nothing was started.
    bool Write(bool ask = true);

    // One part of the write sequence.
    struct RPart {
        uint32_t address = 0;
        std::vector<uint8_t> bytes;
    };
    // The bytes the write sends, in order. False with err when the layout cannot be made.
    bool MakeParts(std::vector<RPart>& parts, std::string& err);
    // What the write sends, before anything is made: backgrounds, cover, settings block.
    struct RPlan {
        enum Kind { kBackground, kCover, kSettings } kind;
        int display;
        uint32_t address;
        int64_t size;
    };
    std::vector<RPlan> Plan() const;

    CPicture Preview();
    bool Valid() const { return m_el.document && m_el.document->valid; }
    // The first overlap of the last check (when not valid).
    const RMsOverlap& LastOverlap() const { return m_overlap; }
    std::string OverlapText() const;
    // The folder the file dialogs start in: the element's "path", else the last one used.
    std::string Folder() const;
    void SetLastFolder(const std::string& folder);
    CPnPMultiScreen& Element() { return m_el; }
    CMultiScreen& Document();

private:
    void CheckOverlap();
    bool CheckPlan(const std::vector<RPlan>& plan, std::string& err) const;
    bool RenderPart(const RPlan& p, RPart& out, std::string& err);

    CPnPMultiScreen& m_el;
    RDeviceContext& m_ctx;
    CConfigStore& m_store;
    RMsOverlap m_overlap;
};

extern const char* const kTextMultiscreenQuestion;  // 21422
