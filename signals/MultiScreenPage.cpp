#include "signals/MultiScreenPage.h"

#include "app/ConfigStore.h"
#include "app/MainSettings.h"
#include "app/Strings.h"

#include <cstring>
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

bool CMultiScreenPage::MakeParts(std::vector<RPart>& parts, std::string& err) {
    parts.clear();
    if (!m_el.error.empty()) {
        err = m_el.error;
        return false;
    }
    EnsureBuilt();
    CMultiScreen& doc = Document();
    for (int d = 0; d < doc.realDisplays; ++d) {
        if (m_el.DisplayBackgroundSize(d) < 1) continue;
        RPart p;
        CPicture halved;
        if (!MultiScreenBackgroundBytes(doc, m_el, d, halved, p.bytes, err)) return false;
        const int item = m_el.displayList[size_t(d)]->item;
        p.address = m_el.items[size_t(item)]->address;
        parts.push_back(std::move(p));
    }
    if (m_el.CoverSize() > 0) {
        RPart p;
        CPicture cover;
        MultiScreenCoverPicture(doc, m_el, cover);
        if (!MultiScreenCoverBytes(cover, m_el, p.bytes, err)) return false;
        p.address = m_el.coverAddress;
        parts.push_back(std::move(p));
    }
    if (m_el.size > 0) parts.push_back({m_el.address, MultiScreenEncodeSettings(doc, m_el)});
    for (const RPart& p : parts)
        if (p.bytes.size() > m_ctx.bufferSize) {
            err = "A part of the multiscreen layout (" + std::to_string(p.bytes.size()) +
                  " bytes) is larger than the device transfer buffer.";
            parts.clear();
            return false;
        }
    return true;
}

bool CMultiScreenPage::Write(bool ask) {
    COperations& ops = *m_ctx.ops;
    if (ops.Busy()) return false;
    if (ask && !m_ctx.ui->AskYesNo(LoadString(21422), MsgIcon::Question, false)) return false;
    auto parts = std::make_shared<std::vector<RPart>>();
    std::string err;
    if (!MakeParts(*parts, err)) {
        m_ctx.ui->ShowMessage(err, MsgIcon::Stop);
        return false;
    }
    if (parts->empty()) return false;
    int64_t total = 0;
    for (const RPart& p : *parts) total += int64_t(p.bytes.size());
    if (total > INT32_MAX) total = INT32_MAX;

    // Each completion sends the next part; the last one ends the operation without a message.
    // The step stays the operation's own across its commands, so it keeps the parts alive.
    RDeviceContext* ctx = &m_ctx;
    auto index = std::make_shared<size_t>(0);
    auto start = [ctx, parts, index] {
        const RPart& p = (*parts)[*index];
        std::memcpy(ctx->buffer, p.bytes.data(), p.bytes.size());
        ctx->engine->StartCommand(int(p.bytes.size()), kCmdEraseWrite, p.address, ctx->buffer);
    };
    ops.Begin(kOpMultiscreenWrite, int(total), -1, [ctx, parts, index, start](int) {
        ctx->ops->counter1 += int((*parts)[*index].bytes.size());
        if (++*index >= parts->size()) return false;
        start();
        return true;
    });
    ops.counter1 = 0;
    start();
    return true;
}
