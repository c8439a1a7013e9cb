#pragma once
#include "devicedata/DeviceContext.h"
#include "devicedata/LocalJob.h"
#include "devicedata/SlotTransfer.h"
#include "pictures/LoadingOptions.h"
#include "pictures/TextDraw.h"

#include <functional>
#include <string>
#include <vector>

class CConfigStore;
class CPicture;
class CPnPPics;
class CPnPPicText;
struct CMainSettings;

// The loading options as the page's check boxes and lists hold them.
struct PicturesOptions {
    bool dither = false;
    bool verticalFilter = false;
    bool lumaKey = false;  // only counts for an element that offers it
    LumaKeyOptions luma;

    // The window keeps them as the `Main` keys Dither, Filter, Shadow, ShadowType, ShadowPxiels,
    // ShadowTransp and ShadowDepth.
    static PicturesOptions FromSettings(const CMainSettings& s);
    void ToSettings(CMainSettings& s) const;
};

// Preview background choices (strings 21501-21503).
enum PreviewBackground { kPreviewBlack = 0, kPreviewWhite = 1, kPreviewCheckered = 2 };

// The pictures page ("pictures" and "pictext" elements) without its widgets: Load, Save, the
// slot Read and Write, the preview and the text label with its preferences.
class CPicturesPage {
public:
    // store: where the text label keeps its preferences (null: they are neither read nor kept).
    CPicturesPage(CPnPPics& element, RDeviceContext& ctx, CConfigStore* store = nullptr);

    // "Load" of the file the dialog gave, with the options; failures are shown and change nothing.
    // Compressed formats load off the window's thread inside an operation: then the call only
    // starts it, and done runs once the element has its new picture (or kept its old one).
    bool Load(const std::string& path, const PicturesOptions& options, std::function<void()> done = {});
    // "Save" (pictures elements only); failures are shown.
    bool Save(const std::string& path);
    // "Read" of item i; done runs after the bytes reached the element (before the operation ends;
    // for compressed formats after the decompression that follows the read).
    bool Read(int item, std::function<void()> done = {});
    // "Write" of the device buffer into item i after the question.
    bool Write(int item, bool ask = true);

    bool CanSave() const;
    bool CanWrite() const;
    bool LumaKeyOffered() const;
    bool IsTextLabel() const { return m_text != nullptr; }
    bool CanEditLabel() const;
    std::vector<std::string> ItemNames() const;
    // The save dialog's filter: PNG, BMP, then logo or slide files and binary files as the
    // element's own filter offers them.
    std::string SaveFilter() const;

    // Text label: each change redraws and (font, colour) keeps the preferences.
    bool SetLabelText(const std::string& text);
    bool SetLabelFont(const CFontRecord& font);
    bool SetLabelColour(uint32_t colour);
    bool RestoreLabelDefaults();

    // The preview: its size for the element, and the working picture over the background.
    static void PreviewSize(int width, int height, int& pw, int& ph);
    void RenderPreview(CPicture& out, int background) const;

    CPnPPics& Element() { return m_el; }
    const CPnPPics& Element() const { return m_el; }
    CPnPPicText* TextLabel() { return m_text; }

private:
    bool Redraw(bool keepPreferences);

    CPnPPics& m_el;
    CPnPPicText* m_text;
    RDeviceContext& m_ctx;
    CConfigStore* m_store;
    CSlotTransfer m_slots;
    CDitherRandom m_rng;
    CLocalJob m_job;  // last: it stops and joins its work before the rest goes
};
