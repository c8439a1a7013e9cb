#include "pictures/PicturesPage.h"

#include "app/ConfigStore.h"
#include "app/MainSettings.h"
#include "app/Strings.h"
#include "model/CPnPPics.h"
#include "model/FileTypes.h"
#include "pictures/CPicture.h"
#include "pictures/CompressedPicture.h"

#include <algorithm>
#include <memory>

namespace {
// Progress of one compression or decompression: steps while ffmpeg runs, never quite full
// until it ends.
constexpr int kWorkTotal = 100;

// The stop the routes ask while they work: each question also moves the bar on.
CompressStop StopAndStep(const CLocalJob::Progress& progress, int& value) {
    return [&progress, &value] {
        if (value < kWorkTotal - 1) ++value;
        return progress(value);
    };
}
}  // namespace

PicturesOptions PicturesOptions::FromSettings(const CMainSettings& s) {
    PicturesOptions o;
    o.dither = s.dither != 0;
    o.verticalFilter = s.filter != 0;
    o.lumaKey = s.shadow != 0;
    o.luma.shadowType = std::clamp(s.shadowType, 0, 4);
    o.luma.shadowSize = std::clamp(s.shadowPixels, 0, 4);
    o.luma.transparencyIndex = std::clamp(s.shadowTransp, 0, 9);
    o.luma.shadowColour = std::clamp(s.shadowDepth, 0, 2);
    return o;
}

void PicturesOptions::ToSettings(CMainSettings& s) const {
    s.dither = dither;
    s.filter = verticalFilter;
    s.shadow = lumaKey;
    s.shadowType = luma.shadowType;
    s.shadowPixels = luma.shadowSize;
    s.shadowTransp = luma.transparencyIndex;
    s.shadowDepth = luma.shadowColour;
}

CPicturesPage::CPicturesPage(CPnPPics& element, RDeviceContext& ctx, CConfigStore* store)
    : m_el(element), m_text(dynamic_cast<CPnPPicText*>(&element)), m_ctx(ctx), m_store(store), m_slots(ctx),
      m_job(ctx) {
    if (m_text && m_store) {
        m_text->LoadPreferences(*m_store, m_ctx.effectiveModelName);
        if (m_text->hasBackground) m_text->DrawLabel();
    }
}

bool CPicturesPage::Load(const std::string& path, const PicturesOptions& options, std::function<void()> done) {
    if (m_el.LongConversion()) {
        // The element is left alone by the window while the operation runs.
        auto out = std::make_shared<PnPPicsLoad>();
        return m_job.Start(
            kWorkTotal,
            [this, path, options, out](const CLocalJob::Progress& progress) {
                int value = 0;
                const CompressStop stop = StopAndStep(progress, value);
                CCompressStopScope scope(stop);
                *out = m_el.LoadFromFile(path, options.dither, options.verticalFilter, m_rng);
                return out->result == PnPPicsLoad::kLoaded;
            },
            [this, out, done = std::move(done)](bool) {
                if (out->result != PnPPicsLoad::kLoaded) m_ctx.ui->ShowMessage(out->message, MsgIcon::Stop);
                if (done) done();
            });
    }
    const PnPPicsLoad r = m_el.LoadFromFile(path, options.dither, options.verticalFilter, m_rng);
    if (r.result != PnPPicsLoad::kLoaded) {
        m_ctx.ui->ShowMessage(r.message, MsgIcon::Stop);
        if (done) done();
        return false;
    }
    if (LumaKeyOffered() && options.lumaKey && !m_el.picture.Empty()) {
        // Keyed on a copy: should the conversion fail the element keeps the plain picture.
        CPicture before = m_el.picture;
        LumaKey(m_el.picture, options.luma);
        if (!m_el.Convert()) m_el.picture = std::move(before);
    }
    if (done) done();
    return true;
}

bool CPicturesPage::Save(const std::string& path) {
    if (!CanSave()) return false;
    if (m_el.SaveToFile(path) != 0) {
        m_ctx.ui->ShowMessage(FormatMessage(kStrImageError + 1, {path}), MsgIcon::Stop);
        return false;
    }
    return true;
}

bool CPicturesPage::Read(int item, std::function<void()> done) {
    if (!m_el.Usable() || item < 0 || size_t(item) >= m_el.items.size()) return false;
    const CPnPItem& it = *m_el.items[size_t(item)];
    // A text label keeps its background: the slot's picture already carries a label.
    return m_slots.Read(it.address, uint32_t(it.size), [this, name = it.name, done = std::move(done)](const uint8_t* d,
                                                                                                     uint32_t n) {
        if (!m_el.LongConversion()) {
            m_el.FromDeviceBuffer(d, n);
            if (done) done();
            return;
        }
        // Decompressing is an operation of its own, after the read has ended.
        auto bytes = std::make_shared<std::vector<uint8_t>>(d, d + n);
        m_ctx.ops->AfterEnd([this, bytes, name, done] {
            m_job.Start(
                kWorkTotal,
                [this, bytes](const CLocalJob::Progress& progress) {
                    int value = 0;
                    const CompressStop stop = StopAndStep(progress, value);
                    CCompressStopScope scope(stop);
                    return m_el.FromDeviceBuffer(bytes->data(), bytes->size());
                },
                [this, name, done](bool ok) {
                    if (!ok)
                        m_ctx.ui->ShowMessage("The picture in slot \"" + name + "\" does not decode.",
                                              MsgIcon::Exclamation);
                    if (done) done();
                });
        });
    });
}

bool CPicturesPage::Write(int item, bool ask) {
    if (!CanWrite() || item < 0 || size_t(item) >= m_el.items.size()) return false;
    const CPnPItem& it = *m_el.items[size_t(item)];
    const uint32_t n = std::min<uint32_t>(uint32_t(it.size), uint32_t(m_el.deviceBuffer.size()));
    return m_slots.Write(it.address, m_el.deviceBuffer.data(), n, ask);
}

bool CPicturesPage::CanSave() const { return m_el.loaded; }
bool CPicturesPage::CanWrite() const { return m_el.loaded && !m_el.items.empty() && !m_el.deviceBuffer.empty(); }
bool CPicturesPage::LumaKeyOffered() const { return m_el.kind == kPnPPictures && m_el.lumaKeyAllowed; }
bool CPicturesPage::CanEditLabel() const { return m_text && m_text->hasBackground; }

std::vector<std::string> CPicturesPage::ItemNames() const {
    std::vector<std::string> names;
    for (const auto& it : m_el.items) names.push_back(it->name);
    return names;
}

std::string CPicturesPage::SaveFilter() const {
    auto entry = [](int type) {
        const std::string ext = FileTypeExtension(type);
        return FileTypeBuiltinText(20101 + type) + " (*" + ext + ")|*" + ext + "|";
    };
    constexpr int kPng = 21, kBmp = 3, kLogo = 4, kSlide = 5, kBinary = 11;
    std::string f = entry(kPng) + entry(kBmp);
    if (m_el.fileFilter.find(".lbl") != std::string::npos) f += entry(kLogo);
    else if (m_el.fileFilter.find(".sld") != std::string::npos) f += entry(kSlide);
    // A compressed slot is always saved as its bytes too.
    if (m_el.fileFilter.find(".bin") != std::string::npos || m_el.kind == kPnPPicturesCompressed) f += entry(kBinary);
    return f;
}

bool CPicturesPage::Redraw(bool keepPreferences) {
    if (!m_text) return false;
    if (keepPreferences && m_store) m_text->StorePreferences(*m_store, m_ctx.effectiveModelName);
    return m_text->hasBackground && m_text->DrawLabel();
}

bool CPicturesPage::SetLabelText(const std::string& text) {
    if (!m_text) return false;
    m_text->text = text;
    return Redraw(false);
}

bool CPicturesPage::SetLabelFont(const CFontRecord& font) {
    if (!m_text) return false;
    m_text->font = font;
    return Redraw(true);
}

bool CPicturesPage::SetLabelColour(uint32_t colour) {
    if (!m_text) return false;
    m_text->colour = colour & 0x00FFFFFFu;
    return Redraw(true);
}

bool CPicturesPage::RestoreLabelDefaults() {
    if (!m_text) return false;
    m_text->font = m_text->defaultFont;
    m_text->colour = m_text->defaultColour;
    return Redraw(true);
}

void CPicturesPage::PreviewSize(int width, int height, int& pw, int& ph) {
    int w = std::max(width, 1), h = std::max(height, 1);
    if (w / h >= 2 || h / w >= 2) w = h = std::max(w, h);
    auto halve = [&] {
        while (w > 360 || h > 360) {
            w /= 2;
            h /= 2;
        }
    };
    halve();
    if (w < h * 16 / 9) {
        w = h * 16 / 9;
        halve();
    }
    pw = std::max(w, 1);
    ph = std::max(h, 1);
}

void CPicturesPage::RenderPreview(CPicture& out, int background) const {
    int pw, ph;
    PreviewSize(m_el.width, m_el.height, pw, ph);
    if (out.Width() != pw || out.Height() != ph) out.Create(pw, ph);
    if (background == kPreviewBlack) out.Fill(0x00000000);
    else if (background == kPreviewWhite) out.Fill(0x00FFFFFF);
    else out.Checkerboard();
    const CPicture& pic = m_el.picture;
    if (pic.Empty()) return;
    if (pic.Width() == pw && pic.Height() == ph) {
        out.BlendRect(pic, 0, 0, 0, 0, pw, ph);
        return;
    }
    CPicture small(pic);
    while ((small.Width() > pw || small.Height() > ph) && small.Width() > 32 && small.Height() > 32)
        small.DownscaleByTwo();
    out.BlendRect(small, (pw - small.Width()) / 2, (ph - small.Height()) / 2, 0, 0, small.Width(), small.Height());
}
