#include "devicedata/BinPage.h"

#include "app/Strings.h"
#include "model/CPnPBin.h"

#include <algorithm>
#include <cstdio>

std::string BinSizeMessage(int32_t size) {
    char text[96];
    std::snprintf(text, sizeof text, "Unsupported file size!\n\nFile size should be exactly %d bytes.", int(size));
    return text;
}

bool CBinPage::Load(const std::string& path) {
    switch (m_el.LoadFile(path)) {
    case kPnPBinLoaded: return true;
    case kPnPBinWrongSize: m_ctx.ui->ShowMessage(BinSizeMessage(m_el.size), MsgIcon::Stop); return false;
    default: m_ctx.ui->ShowMessage(FormatMessage(kStrFileError + 1, {path}), MsgIcon::Stop); return false;
    }
}

bool CBinPage::CanWrite() const { return m_el.loaded && !m_el.items.empty(); }

bool CBinPage::Write(int item, bool ask) {
    if (!CanWrite() || item < 0 || size_t(item) >= m_el.items.size()) return false;
    const CPnPItem& it = *m_el.items[size_t(item)];
    const uint32_t n = std::min<uint32_t>(uint32_t(it.size), uint32_t(m_el.data.size()));
    return m_slots.Write(it.address, m_el.data.data(), n, ask);
}

std::vector<std::string> CBinPage::ItemNames() const {
    std::vector<std::string> names;
    for (const auto& it : m_el.items) names.push_back(it->name);
    return names;
}
