#include "signals/MultiScreenPage.h"

#include "app/ConfigStore.h"
#include "app/MainSettings.h"
#include "app/Strings.h"
#include "pictures/PictureConvert.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <memory>

namespace {
constexpr int kCmdEraseWrite = 5;
}

const char* const kTextMultiscreenQuestion = "Multiscreen settings will be written to device\n\nDo you want to continue?";

CMultiScreen& CMultiScreenPage::Document() {
    if (!m_el.document) m_el.document = std::make_unique<CMultiScreen>();
    return *m_el.document;
}

void CMultiScreenPage::CheckOverlap() {
    CMultiScreen& doc = Document();
    doc.valid = doc.built && !MultiScreenOverlap(doc, m_overlap);
}

void CMultiScreenPage::EnsureBuilt() {
    CMultiScreen& doc = Document();
    if (doc.built) return;
    MultiScreenBuild(doc, m_el, false);
    MultiScreenApplyPreferences(doc, m_store, m_ctx.effectiveModelName, true);
    m_overlap = {};
    doc.valid = doc.built;
}

int CMultiScreenPage::Load(const std::string& path) {
    CMultiScreen& doc = Document();
    const int r = MultiScreenLoad(doc, m_el, path);
    if (r != 0) m_ctx.ui->ShowMessage(FormatMessage(kStrFileError + r, {path}), MsgIcon::Stop);
    CheckOverlap();
    MultiScreenApplyPreferences(doc, m_store, m_ctx.effectiveModelName, false);
    return r;
}

int CMultiScreenPage::Save(const std::string& path) {
    EnsureBuilt();
    const int r = MultiScreenSave(Document(), m_el, path);
    if (r != 0) m_ctx.ui->ShowMessage(FormatMessage(kStrFileError + r, {path}), MsgIcon::Stop);
    return r;
}

std::string CMultiScreenPage::OverlapText() const {
    const CMultiScreen* doc = m_el.document.get();
    if (!doc || m_overlap.display < 0) return {};
    const auto& layer = *doc->displays[size_t(m_overlap.display)]->layers[size_t(m_overlap.layer)];
    std::string t = LoadString(21717);
    const std::string a = layer.elements[size_t(m_overlap.first)]->name;
    const std::string b = layer.elements[size_t(m_overlap.second)]->name;
    size_t at = t.find("%s");
    if (at != std::string::npos) t.replace(at, 2, a);
    at = t.find("%s", at == std::string::npos ? 0 : at + a.size());
    if (at != std::string::npos) t.replace(at, 2, b);
    return t;
}

std::string CMultiScreenPage::Folder() const {
    if (!m_el.path.empty()) return m_el.path;
    return m_ctx.settings ? m_ctx.settings->mscPath : std::string();
}

void CMultiScreenPage::SetLastFolder(const std::string& folder) {
    if (m_ctx.settings) m_ctx.settings->mscPath = folder;
}

CPicture CMultiScreenPage::Preview() {
    EnsureBuilt();
    return MultiScreenPreview(Document(), m_el);
}

std::vector<CMultiScreenPage::RPlan> CMultiScreenPage::Plan() const {
    std::vector<RPlan> plan;
    const int displays = m_el.document ? m_el.document->realDisplays : 0;
    for (int d = 0; d < displays; ++d) {
        const int64_t size = m_el.DisplayBackgroundSize(d);
        if (size < 1) continue;
        plan.push_back({RPlan::kBackground, d, m_el.items[size_t(m_el.displayList[size_t(d)]->item)]->address, size});
    }
    if (m_el.CoverSize() > 0) plan.push_back({RPlan::kCover, 0, m_el.coverAddress, m_el.CoverSize()});
    if (m_el.size > 0) plan.push_back({RPlan::kSettings, 0, m_el.address, m_el.size});
    return plan;
}

bool CMultiScreenPage::CheckPlan(const std::vector<RPlan>& plan, std::string& err) const {
    auto codecFor = [](int format) {
        ICompressedPictureCodec* c = CompressedPictureCodec();
        return !IsCompressedPictureFormat(format) || (c && c->Handles(format));
    };
    for (const RPlan& p : plan) {
        if (p.size > int64_t(m_ctx.bufferSize)) {
            err = "A part of the multiscreen layout (" + std::to_string(p.size) +
                  " bytes) is larger than the device transfer buffer.";
            return false;
        }
        const int format = p.kind == RPlan::kCover        ? m_el.coverFormat
                           : p.kind == RPlan::kBackground ? m_el.displayList[size_t(p.display)]->format
                                                          : 0;
        if (p.kind != RPlan::kSettings && !codecFor(format)) {
            err = std::string("The multiscreen ") + (p.kind == RPlan::kCover ? "cover" : "background") +
                  " is in compressed picture format " + std::to_string(format) +
                  ", and this program has no encoder for it yet.";
            return false;
        }
    }
    return true;
}

bool CMultiScreenPage::RenderPart(const RPlan& p, RPart& out, std::string& err) {
    CMultiScreen& doc = Document();
    out.address = p.address;
    switch (p.kind) {
    case RPlan::kBackground: {
        CPicture halved;
        return MultiScreenBackgroundBytes(doc, m_el, p.display, halved, out.bytes, err);
    }
    case RPlan::kCover: {
        CPicture cover;
        MultiScreenCoverPicture(doc, m_el, cover);
        return MultiScreenCoverBytes(cover, m_el, out.bytes, err);
    }
    default:
        out.bytes = MultiScreenEncodeSettings(doc, m_el);
        return true;
    }
}

bool CMultiScreenPage::MakeParts(std::vector<RPart>& parts, std::string& err) {
    parts.clear();
    if (!m_el.error.empty()) {
        err = m_el.error;
        return false;
    }
    EnsureBuilt();
    const std::vector<RPlan> plan = Plan();
    if (!CheckPlan(plan, err)) return false;
    for (const RPlan& p : plan) {
        RPart part;
        if (!RenderPart(p, part, err)) {
            parts.clear();
            return false;
        }
        parts.push_back(std::move(part));
    }
    return true;
}

bool CMultiScreenPage::Write(bool ask) {
    COperations& ops = *m_ctx.ops;
    if (ops.Busy()) return false;
    if (ask && !m_ctx.ui->AskYesNo(LoadString(21422), MsgIcon::Question, false)) return false;
    std::string err = m_el.error;
    if (err.empty()) EnsureBuilt();
    const std::vector<RPlan> plan = err.empty() ? Plan() : std::vector<RPlan>{};
    if (!err.empty() || !CheckPlan(plan, err)) {
        m_ctx.ui->ShowMessage(err, MsgIcon::Stop);
        return false;
    }
    if (plan.empty()) return false;
    int64_t total = 0;
    for (const RPlan& p : plan) total += p.size;
    if (total > INT32_MAX) total = INT32_MAX;

    // The first part is made now; the others are made off this thread while it is sent, so the
    // link is not kept waiting for the rendering. Nothing else touches the document while the
    // operation runs (the page's controls are disabled).
    struct Sequence {
        std::vector<RPart> parts;
        std::future<std::string> rest;
        size_t index = 0;
    };
    auto seq = std::make_shared<Sequence>();
    seq->parts.resize(plan.size());
    if (!RenderPart(plan[0], seq->parts[0], err)) {
        m_ctx.ui->ShowMessage(err, MsgIcon::Stop);
        return false;
    }
    seq->rest = std::async(std::launch::async, [this, plan, s = seq.get()] {
        // Below the link's worker: a part is needed only once the one before it is sent, and a
        // core taken from the link (or from a simulated device beside it) costs more than that.
        setpriority(PRIO_PROCESS, id_t(gettid()), 10);
        std::string e;
        for (size_t i = 1; i < plan.size(); ++i)
            if (!RenderPart(plan[i], s->parts[i], e)) return e;
        return std::string();
    });
    RDeviceContext* ctx = &m_ctx;
    auto start = [ctx, seq] {
        const RPart& p = seq->parts[seq->index];
        std::memcpy(ctx->buffer, p.bytes.data(), p.bytes.size());
        ctx->engine->StartCommand(int(p.bytes.size()), kCmdEraseWrite, p.address, ctx->buffer);
    };
    ops.Begin(kOpMultiscreenWrite, int(total), -1, [ctx, seq, start](int) {
        ctx->ops->counter1 += int(seq->parts[seq->index].bytes.size());
        if (++seq->index >= seq->parts.size()) return false;
        if (seq->rest.valid()) {
            const std::string e = seq->rest.get();
            if (!e.empty()) {
                ctx->ui->ShowMessage(e, MsgIcon::Stop);
                return false;
            }
        }
        start();
        return true;
    });
    ops.counter1 = 0;
    start();
    return true;
}
