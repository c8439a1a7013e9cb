#include "devicedata/SettingsPage.h"

#include "app/DebugLog.h"
#include "app/Strings.h"
#include "devicedata/SettingsReport.h"
#include "model/CPnPBlockSettings.h"
#include "model/CPnPGroupSettings.h"
#include "pictures/PictureConvert.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

const char* const kTextResetAllQuestion = "Reset all settings to default?";
const char* const kTextValueNotInitialized = "Value not initialized and will be reset to default!";

namespace {
constexpr int kCmdRead = 3;
constexpr int kCmdWrite = 4;

bool IsDecHex(const CPnPSettingsNode& n) { return n.type == kPnPTypeDec || n.type == kPnPTypeHex; }

// Up to three digits, 0..255.
bool ParseOctet(const std::string& s, uint8_t& out) {
    if (s.empty() || s.size() > 3) return false;
    unsigned v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + unsigned(c - '0');
    }
    if (v > 255) return false;
    out = uint8_t(v);
    return true;
}
}  // namespace

CSettingsPage::CSettingsPage(RDeviceContext& ctx, CPnPSettings* element) : m_ctx(ctx), m_el(element) {
    std::error_code ec;
    reportFolder = std::filesystem::temp_directory_path(ec).string();
    if (ec) reportFolder = "/tmp";
    now = [] { return std::time(nullptr); };
}

CSettingsPage::~CSettingsPage() {
    // The failure hooks point at this page.
    if (m_ctx.ops) {
        m_ctx.ops->SetFailureHook(kOpSettingWrite, {});
        m_ctx.ops->SetFailureHook(kOpBlockWrite, {});
        m_ctx.ops->SetFailureHook(kOpBlockReset, {});
    }
}

CPnPSettingsNode* CSettingsPage::Current() const {
    int i = m_el->currentNode;
    return i >= 0 && size_t(i) < m_el->nodes.size() ? m_el->nodes[size_t(i)].get() : nullptr;
}

CPnPBlockSettings* CSettingsPage::BlockOf(const CPnPSettingsNode& node) const {
    CPnPBlockSettings* b = PnPBlockOfNode(m_el, node);
    return b && b->HasRecord() ? b : nullptr;
}

bool CSettingsPage::EthernetDown() {
    bool ethernet = m_ctx.interfaceChoice == 3 || m_ctx.interfaceChoice == 4;
    if (!ethernet || !m_ctx.notResponding || !m_ctx.notResponding()) return false;
    m_ctx.ui->ShowMessage(FormatMessage(kStrLinkError + 4), MsgIcon::Stop);
    Open();
    return true;
}

// ---- opening ----

void CSettingsPage::Open() {
    m_el->currentNode = -1;
    m_ready = false;
    m_tree.clear();
    if (onTreeChanged) onTreeChanged();
    Show();
    if (m_el->nodes.empty() || !m_ctx.ops || m_ctx.ops->Busy()) return;
    m_queue.clear();
    m_queuePos = 0;

    if (!BlockSettings()) {
        for (size_t i = 0; i < m_el->nodes.size(); ++i)
            if (m_el->nodes[i]->controlKind != kPnPCtlNone) m_queue.push_back(int(i));
        if (m_queue.empty()) return BuildTree();
        WalkQueue(
            kOpSettingsPage, int(2 * m_el->nodes.size()), 2,
            [this](int i) {
                const CPnPSettingsNode& n = *m_el->nodes[size_t(i)];
                m_ctx.engine->StartCommand(4, kCmdRead, m_el->RegisterAddress(n) + 1, m_ctx.buffer);
            },
            [this](int i) { m_el->nodes[size_t(i)]->ApplyRegisterLimits(m_ctx.buffer); },
            [this] { m_ctx.ops->AfterEnd([this] { BuildTree(); }); });
        return;
    }

    std::vector<CPnPBlockSettings*> blocks;
    if (m_el->kind == kPnPSettingsBlock) {
        blocks.push_back(static_cast<CPnPBlockSettings*>(m_el));
    } else if (m_el->kind == kPnPSettingsGroup) {
        for (auto& b : static_cast<CPnPGroupSettings*>(m_el)->blocks) blocks.push_back(b.get());
    }
    for (size_t i = 0; i < blocks.size(); ++i)
        if (blocks[i]->HasRecord()) m_queue.push_back(int(i));
    if (m_queue.empty()) return BuildTree();
    WalkQueue(
        kOpSettingsPage, int(2 * blocks.size()), 2, [this, blocks](int i) { ReadBlockInto(blocks[size_t(i)]); },
        [this, blocks](int i) {
            CPnPBlockSettings* b = blocks[size_t(i)];
            std::memcpy(b->blockImage.data(), m_ctx.buffer, std::min(b->blockImage.size(), m_ctx.bufferSize));
        },
        [this] { m_ctx.ops->AfterEnd([this] { BuildTree(); }); });
}

void CSettingsPage::WalkQueue(int kind, int total, int stepPerItem, std::function<void(int)> start,
                              std::function<void(int)> answered, std::function<void()> last) {
    m_ctx.ops->Begin(kind, total, -1, [this, stepPerItem, start, answered, last](int) {
        answered(m_queue[m_queuePos]);
        m_ctx.ops->step += stepPerItem;
        if (++m_queuePos < m_queue.size()) {
            start(m_queue[m_queuePos]);
            return true;
        }
        last();
        return false;
    });
    start(m_queue[m_queuePos]);
}

void CSettingsPage::ReadBlockInto(CPnPBlockSettings* b) {
    size_t size = std::min(b->blockImage.size(), m_ctx.bufferSize);
    m_ctx.engine->StartCommand(int(size), kCmdRead, b->address, m_ctx.buffer);
}

void CSettingsPage::BuildTree() {
    struct Item {
        int node, parent;
        std::vector<int> children;
        bool alive = true, expanded = false;
    };
    std::vector<Item> items;
    std::vector<int> lastAtDepth;  // the most recent item of each depth in the current branch
    size_t branchStart = 0;
    const auto& nodes = m_el->nodes;

    auto finishBranch = [&] {
        // Bottom-up: in pre-order every child comes after its parent.
        for (size_t k = items.size(); k-- > branchStart;) {
            Item& it = items[k];
            if (!it.alive || !it.children.empty() || nodes[size_t(it.node)]->controlKind != kPnPCtlNone) continue;
            it.alive = false;
            if (it.parent >= 0) {
                auto& sib = items[size_t(it.parent)].children;
                sib.erase(std::remove(sib.begin(), sib.end(), int(k)), sib.end());
            }
        }
        for (size_t k = branchStart; k < items.size(); ++k)
            if (items[k].alive && !items[k].children.empty() && !nodes[size_t(items[k].node)]->collapse)
                items[k].expanded = true;
        branchStart = items.size();
    };

    for (size_t i = 0; i < nodes.size(); ++i) {
        const CPnPSettingsNode& n = *nodes[i];
        if (!n.enabled) continue;
        int d = std::max(n.depth, 0);
        // A node whose parent was left out (its limits disabled it) hangs off its nearest
        // remaining ancestor; without one it starts a branch of its own.
        int parent = -1;
        for (int up = d - 1; up >= 0 && parent < 0; --up)
            if (size_t(up) < lastAtDepth.size()) parent = lastAtDepth[size_t(up)];
        if (d == 0 || parent < 0) {
            finishBranch();
            lastAtDepth.assign(1, -1);
            parent = -1;
        }
        int idx = int(items.size());
        items.push_back({int(i), parent, {}});
        if (parent >= 0) items[size_t(parent)].children.push_back(idx);
        int slot = parent < 0 ? 0 : d;
        if (lastAtDepth.size() <= size_t(slot)) lastAtDepth.resize(size_t(slot) + 1, -1);
        lastAtDepth[size_t(slot)] = idx;
        lastAtDepth.resize(size_t(slot) + 1);
    }
    finishBranch();

    // Renumber the surviving items in pre-order.
    std::vector<int> newIndex(items.size(), -1);
    m_tree.clear();
    std::function<void(int, int)> add = [&](int k, int parent) {
        int idx = int(m_tree.size());
        newIndex[size_t(k)] = idx;
        m_tree.push_back({items[size_t(k)].node, parent, {}, items[size_t(k)].expanded});
        if (parent >= 0) m_tree[size_t(parent)].children.push_back(idx);
        for (int c : items[size_t(k)].children) add(c, idx);
    };
    for (size_t k = 0; k < items.size(); ++k)
        if (items[k].alive && items[k].parent < 0) add(int(k), -1);

    m_ready = true;
    if (onTreeChanged) onTreeChanged();
    Show();
}

// ---- selection ----

bool CSettingsPage::Select(int index) { return SelectNode(index, true); }

bool CSettingsPage::ReadNode(int index) { return SelectNode(index, false); }

bool CSettingsPage::SelectNode(int index, bool rootRule) {
    if (!m_ready || !Idle() || index < 0 || size_t(index) >= m_el->nodes.size()) return false;
    CPnPSettingsNode& n = *m_el->nodes[size_t(index)];
    m_el->currentNode = index;
    // The root shows only its caption and the page-wide buttons.
    if ((rootRule && index == 0) || n.controlKind == kPnPCtlNone || n.controlKind == kPnPCtlAddressed) {
        Show();
        return true;
    }
    COperations& ops = *m_ctx.ops;
    if (!BlockSettings()) {
        ops.Begin(kOpSettingRead, 1, -1, [this, &n](int) {
            n.value = m_ctx.buffer[0];
            AfterRead(n);
            return false;
        });
        m_ctx.engine->StartCommand(1, kCmdRead, m_el->RegisterAddress(n), m_ctx.buffer);
        return true;
    }
    CPnPBlockSettings* b = BlockOf(n);
    if (!b) {
        Show();
        return true;
    }
    ops.Begin(kOpBlockRead, 0, -1, [this, &n, b](int) {
        std::memcpy(b->blockImage.data(), m_ctx.buffer, std::min(b->blockImage.size(), m_ctx.bufferSize));
        n.Decode(b->blockImage);
        if (IsDecHex(n)) n.value = int32_t(n.TypedNumber(n.valueBytes));
        AfterRead(n);
        return false;
    });
    ReadBlockInto(b);
    return true;
}

void CSettingsPage::AfterRead(CPnPSettingsNode& n) {
    Show();
    if (!n.NeedsReset()) return;
    if (!resetInvalid) return;
    m_ctx.ui->ShowMessage(kTextValueNotInitialized, MsgIcon::Exclamation);
    int index = m_el->currentNode;
    m_ctx.ops->AfterEnd([this, &n, index] {
        if (m_el->currentNode != index) return;
        SetValue(n.def, n.type != kPnPTypeNumeric ? n.defaultBytes.data() : nullptr);
    });
}

// ---- writing ----

void CSettingsPage::Remember(CPnPSettingsNode& n) { m_undo.nodes.emplace_back(&n, n); }

void CSettingsPage::RestoreUndo() {
    for (auto& [node, saved] : m_undo.nodes) {
        node->value = saved.value;
        node->valueBytes = saved.valueBytes;
    }
    if (m_undo.block) m_undo.block->blockImage = m_undo.image;
    m_undo = {};
    Show();
}

void CSettingsPage::WriteBlock(CPnPBlockSettings* b, int kind, COperations::Step done) {
    b->Seal();
    size_t size = std::min(b->blockImage.size(), m_ctx.bufferSize);
    std::memcpy(m_ctx.buffer, b->blockImage.data(), size);
    m_ctx.ops->SetFailureHook(kind, [this] { RestoreUndo(); });
    m_ctx.ops->Begin(kind, int(size), -1, std::move(done));
    m_ctx.engine->StartCommand(int(size), kCmdWrite, b->address, m_ctx.buffer);
}

void CSettingsPage::SetValue(int32_t value, const uint8_t* bytes) {
    CPnPSettingsNode* n = Current();
    if (!n || !Idle()) return;
    if (n->controlKind == kPnPCtlNone || n->controlKind == kPnPCtlAddressed) return;
    if (EthernetDown()) return;
    if (n->controlKind != kPnPCtlTyped) bytes = nullptr;
    // A group's own nodes belong to no block: nothing to write them to.
    if (BlockSettings() && !BlockOf(*n)) return;
    if (!n->IsChanged(value, bytes)) {
        Show();  // puts a control the operator moved back on the value
        return;
    }
    DebugLog("setting new value: %d", value);
    m_undo = {};
    Remember(*n);
    auto done = [this](int) {
        m_undo = {};
        FollowSlider();
        return false;
    };
    if (!BlockSettings()) {
        n->value = value;
        if (bytes) std::memcpy(n->valueBytes.data(), bytes, size_t(std::clamp(n->size, 0, int32_t(kPnPMaxNodeBytes))));
        Show();
        m_ctx.buffer[0] = uint8_t(value);
        m_ctx.ops->SetFailureHook(kOpSettingWrite, [this] { RestoreUndo(); });
        m_ctx.ops->Begin(kOpSettingWrite, 1, -1, done);
        m_ctx.engine->StartCommand(1, kCmdWrite, m_el->RegisterAddress(*n), m_ctx.buffer);
        return;
    }
    CPnPBlockSettings* b = BlockOf(*n);
    m_undo.block = b;
    m_undo.image = b->blockImage;
    n->Encode(b->blockImage, value, bytes);
    Show();
    WriteBlock(b, kOpBlockWrite, done);
}

void CSettingsPage::FollowSlider() {
    CPnPSettingsNode* n = Current();
    if (!n || n->controlKind != kPnPCtlSlider || !sliderPosition) return;
    std::optional<int32_t> pos = sliderPosition();
    if (!pos || *pos == n->ValueToSlider(n->value)) return;
    int index = m_el->currentNode;
    int32_t v = n->SliderToValue(*pos);
    m_ctx.ops->AfterEnd([this, index, v] {
        if (m_el->currentNode == index) SetValue(v);
    });
}

void CSettingsPage::SetChecked(bool on) { SetValue(on ? 1 : 0); }

void CSettingsPage::ChooseListItem(int i) {
    CPnPSettingsNode* n = Current();
    if (n && i >= 0 && size_t(i) < n->listItems.size()) SetValue(n->listItems[size_t(i)].value);
}

void CSettingsPage::ClickFlag(int i) {
    CPnPSettingsNode* n = Current();
    if (!n || i < 0 || size_t(i) >= n->flagItems.size()) return;
    if (n->flagItems[size_t(i)].exclusive) {
        if (!n->FlagItemChecked(size_t(i))) SetValue(n->SetExclusiveFlagItem(size_t(i)));
    } else {
        SetValue(n->SetFlagItem(size_t(i)));
    }
}

void CSettingsPage::MoveSlider(int32_t p) {
    if (CPnPSettingsNode* n = Current()) SetValue(n->SliderToValue(p));
}

void CSettingsPage::StepDown() {
    if (CPnPSettingsNode* n = Current()) SetValue(n->StepDown());
}

void CSettingsPage::StepUp() {
    if (CPnPSettingsNode* n = Current()) SetValue(n->StepUp());
}

void CSettingsPage::SetTyped(const std::string& text) {
    CPnPSettingsNode* n = Current();
    if (!n || n->controlKind != kPnPCtlTyped || n->min == n->max) return;
    CPnPSettingsNode::Bytes out{};
    switch (n->type) {
    case kPnPTypeDec: n->ParseDec(text, out); break;
    case kPnPTypeHex: n->ParseHex(text, out); break;
    case kPnPTypeAscii:
    case kPnPTypeAsciiz: n->ParseText(text, out); break;
    default: return;
    }
    int32_t v = IsDecHex(*n) ? int32_t(n->TypedNumber(out)) : n->value;
    SetValue(v, out.data());
}

void CSettingsPage::SetIpAddr(const std::string fields[4]) {
    CPnPSettingsNode* n = Current();
    if (!n || n->type != kPnPTypeIpAddr) return;
    CPnPSettingsNode::Bytes out{};
    n->ParseIpAddr(fields, out);
    SetValue(n->value, out.data());
}

void CSettingsPage::ChooseColour(uint32_t rgb) {
    CPnPSettingsNode* n = Current();
    if (!n || n->type != kPnPTypeColor) return;
    const auto& b = n->valueBytes;
    CPnPSettingsNode::Bytes out{};
    if (!n->ChooseColour(rgb, DeviceColourToRgb(b[0], b[1], b[2]), &ColourToDevice, out)) return;
    SetValue(n->value, out.data());
}

bool CSettingsPage::StartStream(const std::string ip[4], const std::string& port, int modeIndex, int protocolIndex,
                                bool noStuffing, const std::string& tos) {
    CPnPSettingsNode* n = Current();
    if (!n || n->type != kPnPTypeIpOut || !Idle()) return false;
    PnPStreamOutput f = CPnPSettingsNode::DecodeStreamOutput(n->valueBytes.data());
    for (int i = 0; i < 4; ++i)
        if (!ParseOctet(ip[i], f.ip[i])) return false;
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long p = std::stoul(port);
    if (p < 1 || p > 65535) return false;
    f.port = uint16_t(p);
    if (modeIndex >= 0 && size_t(modeIndex) < n->listItems.size()) f.mode = uint16_t(n->listItems[size_t(modeIndex)].value);
    if (protocolIndex >= 0 && protocolIndex <= 2) f.protocol = uint8_t(protocolIndex);
    f.noStuffing = noStuffing;
    unsigned t = 0;
    for (size_t i = 0; i < tos.size() && i < 2; ++i) {
        char c = tos[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) break;
        t = t * 16 + unsigned(d);
    }
    f.tos = uint8_t(t);
    CPnPSettingsNode::Bytes out{};
    CPnPSettingsNode::BuildStreamStart(n->valueBytes, f, out);
    SetValue(n->value, out.data());
    return true;
}

void CSettingsPage::StopStream() {
    CPnPSettingsNode* n = Current();
    if (!n || n->type != kPnPTypeIpOut) return;
    CPnPSettingsNode::Bytes out{};
    CPnPSettingsNode::BuildStreamStop(n->valueBytes, out);
    SetValue(n->value, out.data());
}

// ---- reset ----

void CSettingsPage::ResetToDefault() {
    CPnPSettingsNode* n = Current();
    if (!n || !Idle()) return;
    bool all = m_el->currentNode == 0 || (n->depth == 0 && n->controlKind == kPnPCtlNone);
    if (!all) {
        if (n->controlKind == kPnPCtlNone || n->controlKind == kPnPCtlAddressed) return;
        SetValue(n->def, n->controlKind == kPnPCtlTyped ? n->defaultBytes.data() : nullptr);
        return;
    }
    if (EthernetDown()) return;
    if (!m_ctx.ui->AskYesNo(kTextResetAllQuestion, MsgIcon::Question, true)) return;
    ResetAllNow();
}

void CSettingsPage::ResetAll(int nodeIndex) {
    if (!m_ready || !Idle() || nodeIndex < 0 || size_t(nodeIndex) >= m_el->nodes.size()) return;
    m_el->currentNode = nodeIndex;
    if (EthernetDown()) return;
    ResetAllNow();
}

void CSettingsPage::ResetAllNow() {
    if (!BlockSettings()) {
        m_queue.clear();
        m_queuePos = 0;
        for (size_t i = 0; i < m_el->nodes.size(); ++i) {
            const CPnPSettingsNode& n = *m_el->nodes[i];
            if (n.HasAddress() && n.enabled && n.controlKind != kPnPCtlNone && n.controlKind != kPnPCtlAddressed)
                m_queue.push_back(int(i));
        }
        if (m_queue.empty()) return;
        WalkQueue(
            kOpResetDefault, int(m_el->nodes.size()), 1,
            [this](int i) {
                const CPnPSettingsNode& n = *m_el->nodes[size_t(i)];
                m_ctx.buffer[0] = uint8_t(n.def);
                m_ctx.engine->StartCommand(1, kCmdWrite, m_el->RegisterAddress(n), m_ctx.buffer);
            },
            [this](int i) { m_el->nodes[size_t(i)]->value = m_el->nodes[size_t(i)]->def; },
            [this] {
                m_ctx.ops->WriteComplete();
                Show();
            });
        return;
    }
    CPnPSettingsNode* sel = Current();
    CPnPBlockSettings* b = sel ? BlockOf(*sel) : nullptr;
    if (!b) return;
    m_undo = {};
    m_undo.block = b;
    m_undo.image = b->blockImage;
    for (auto& up : m_el->nodes) {
        CPnPSettingsNode& n = *up;
        if (n.controlKind == kPnPCtlNone || n.controlKind == kPnPCtlAddressed || BlockOf(n) != b) continue;
        Remember(n);
        n.Encode(b->blockImage, n.def, n.controlKind == kPnPCtlTyped ? n.defaultBytes.data() : nullptr);
    }
    WriteBlock(b, kOpBlockReset, [this](int) {
        m_undo = {};
        m_ctx.ops->WriteComplete();
        Show();
        return false;
    });
}

// ---- report ----

void CSettingsPage::PrintReport() {
    if (m_el->nodes.empty() || !Idle()) return;
    if (BlockSettings()) {
        for (auto& up : m_el->nodes) {
            CPnPSettingsNode& n = *up;
            if (n.controlKind == kPnPCtlNone || n.controlKind == kPnPCtlAddressed) continue;
            if (CPnPBlockSettings* b = BlockOf(n)) n.Decode(b->blockImage);
            // The report prints typed numbers from their bytes, even for nodes never shown.
            if (IsDecHex(n)) n.value = int32_t(n.TypedNumber(n.valueBytes));
        }
        FinishReport();
        return;
    }
    m_queue.clear();
    m_queuePos = 0;
    for (size_t i = 0; i < m_el->nodes.size(); ++i) {
        const CPnPSettingsNode& n = *m_el->nodes[i];
        if (n.HasAddress() && n.enabled && n.controlKind != kPnPCtlNone && n.controlKind != kPnPCtlAddressed)
            m_queue.push_back(int(i));
    }
    if (m_queue.empty()) return FinishReport();
    WalkQueue(
        kOpReport, int(2 * m_el->nodes.size()), 2,
        [this](int i) {
            m_ctx.engine->StartCommand(1, kCmdRead, m_el->RegisterAddress(*m_el->nodes[size_t(i)]), m_ctx.buffer);
        },
        [this](int i) { m_el->nodes[size_t(i)]->value = m_ctx.buffer[0]; },
        [this] { m_ctx.ops->AfterEnd([this] { FinishReport(); }); });
}

void CSettingsPage::FinishReport() {
    m_reportText = SettingsReportText(*m_el);
    std::time_t t = now ? now() : std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    if (!reportToFile) return Show();
    bool written = false;
    m_reportPath = WriteSettingsReport(reportFolder, SettingsReportFileName(local), m_reportText, &written);
    if (!written) DebugLog("settings report: cannot create %s", m_reportPath.c_str());
    if (onOpenReport) onOpenReport(m_reportPath);
    Show();
}

// ---- what the controls show ----

RSettingsControls CSettingsPage::Controls() const {
    RSettingsControls c;
    const CPnPSettingsNode* n = Current();
    if (!n) return c;
    c.reset = n->depth == 0 || (n->controlKind != kPnPCtlNone && n->controlKind != kPnPCtlAddressed);
    c.print = n->depth == 0;
    if (m_el->currentNode == 0) {
        c.caption = true;
        c.captionText = n->name;
        c.reset = c.print = true;
        return c;
    }
    int k = n->controlKind;
    c.caption = k >= kPnPCtlSlider && k <= kPnPCtlTyped;
    if (c.caption) c.captionText = n->name;
    c.checkBox = k == kPnPCtlCheckBox;
    c.slider = k == kPnPCtlSlider && n->min != n->max;
    c.valueText = k == kPnPCtlSlider;
    c.list = k == kPnPCtlList;
    c.listEnabled = c.list && n->listItems.size() > 1;
    if (k == kPnPCtlFlags) {
        c.flagCount = int(std::min(n->flagItems.size(), kPnPMaxFlagItems));
        for (int i = 0; i < c.flagCount; ++i) c.flagRadio[i] = n->flagItems[size_t(i)].exclusive;
    }
    if (k == kPnPCtlTyped) {
        c.ipAddress = n->type == kPnPTypeIpOut || n->type == kPnPTypeIpAddr;
        c.ipout = n->type == kPnPTypeIpOut;
        c.colour = n->type == kPnPTypeColor;
        bool text = n->type == kPnPTypeDec || n->type == kPnPTypeHex || n->type == kPnPTypeAscii || n->type == kPnPTypeAsciiz;
        c.text = text;
        c.textEnabled = text && n->min != n->max;
        c.set = text || n->type == kPnPTypeIpAddr;
        c.setEnabled = n->type == kPnPTypeIpAddr || c.textEnabled;
    }
    c.info = !n->info.empty();
    c.infoText = n->info;
    c.infoIcon = n->infoIcon;
    return c;
}

std::string CSettingsPage::TypedText(const CPnPSettingsNode& n) {
    char buf[32];
    switch (n.type) {
    case kPnPTypeDec:
        std::snprintf(buf, sizeof buf, "%d", int32_t(n.TypedNumber(n.valueBytes)));
        return buf;
    case kPnPTypeHex:
        std::snprintf(buf, sizeof buf, "%X", n.TypedNumber(n.valueBytes));
        return buf;
    case kPnPTypeAscii:
    case kPnPTypeAsciiz: {
        size_t limit = size_t(std::clamp(n.size, 0, int32_t(kPnPMaxNodeBytes))), len = 0;
        while (len < limit && n.valueBytes[len]) ++len;
        return std::string(reinterpret_cast<const char*>(n.valueBytes.data()), len);
    }
    case kPnPTypeIpAddr: return CPnPSettingsNode::IpAddrText(n.valueBytes.data());
    default: return {};
    }
}

int CSettingsPage::ChosenListItem(const CPnPSettingsNode& n) {
    for (size_t i = 0; i < n.listItems.size(); ++i)
        if (n.listItems[i].value == n.value) return int(i);
    return -1;
}
