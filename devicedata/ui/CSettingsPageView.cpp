#include "CSettingsPageView.h"

#include "devicedata/SettingsReport.h"
#include "devicedata/ui/CDefaultTickSlider.h"
#include "model/CPnPSettings.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

namespace {
constexpr int kNodeRole = Qt::UserRole + 1;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QLineEdit* Octet(QWidget* parent, int i) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString("settingsIp%1").arg(i));
    e->setValidator(new QIntValidator(0, 255, e));
    e->setMaxLength(3);
    e->setFixedWidth(44);
    return e;
}
}  // namespace

CSettingsPageView::CSettingsPageView(CPnPSettings* element, RDeviceContext& ctx, QWidget* parent)
    : CPageView(element, ctx, parent), m_page(ctx, element) {
    auto* top = new QHBoxLayout(this);
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName("settingsTree");
    m_tree->setColumnCount(1);
    m_tree->header()->hide();
    top->addWidget(m_tree, 3);

    m_frame = new QGroupBox("Setting", this);
    m_frame->setObjectName("settingsFrame");
    top->addWidget(m_frame, 2);
    auto* v = new QVBoxLayout(m_frame);

    m_caption = new QLabel(m_frame);
    m_caption->setObjectName("settingsCaption");
    m_caption->setWordWrap(true);
    v->addWidget(m_caption);

    m_check = new QCheckBox(m_frame);
    m_check->setObjectName("settingsCheck");
    v->addWidget(m_check);

    auto* sliderLine = new QHBoxLayout;
    m_sliderRow = new QWidget(m_frame);
    auto* sr = new QHBoxLayout(m_sliderRow);
    sr->setContentsMargins(0, 0, 0, 0);
    m_down = new QPushButton("<", m_sliderRow);
    m_down->setObjectName("settingsDown");
    m_down->setFixedWidth(28);
    m_slider = new CDefaultTickSlider(Qt::Horizontal, m_sliderRow);
    m_slider->setObjectName("settingsSlider");
    m_up = new QPushButton(">", m_sliderRow);
    m_up->setObjectName("settingsUp");
    m_up->setFixedWidth(28);
    sr->addWidget(m_down);
    sr->addWidget(m_slider, 1);
    sr->addWidget(m_up);
    sliderLine->addWidget(m_sliderRow, 1);
    m_valueText = new QLabel(m_frame);
    m_valueText->setObjectName("settingsValueText");
    m_valueText->setMinimumWidth(60);
    sliderLine->addWidget(m_valueText);
    v->addLayout(sliderLine);

    m_list = new QComboBox(m_frame);
    m_list->setObjectName("settingsList");
    v->addWidget(m_list);

    for (size_t i = 0; i < kPnPMaxFlagItems; ++i) {
        m_flagChecks[i] = new QCheckBox(m_frame);
        m_flagChecks[i]->setObjectName(QString("settingsFlagCheck%1").arg(i));
        m_flagRadios[i] = new QRadioButton(m_frame);
        m_flagRadios[i]->setObjectName(QString("settingsFlagRadio%1").arg(i));
        m_flagRadios[i]->setAutoExclusive(false);  // the page decides what is chosen
        v->addWidget(m_flagChecks[i]);
        v->addWidget(m_flagRadios[i]);
        connect(m_flagChecks[i], &QCheckBox::clicked, this, [this, i] {
            if (!m_updating) m_page.ClickFlag(int(i));
        });
        connect(m_flagRadios[i], &QRadioButton::clicked, this, [this, i] {
            if (!m_updating) m_page.ClickFlag(int(i));
        });
    }

    m_ipRow = new QWidget(m_frame);
    auto* ipl = new QHBoxLayout(m_ipRow);
    ipl->setContentsMargins(0, 0, 0, 0);
    ipl->addWidget(new QLabel("IP", m_ipRow));
    for (int i = 0; i < 4; ++i) {
        m_ip[i] = Octet(m_ipRow, i);
        ipl->addWidget(m_ip[i]);
        if (i < 3) ipl->addWidget(new QLabel(".", m_ipRow));
    }
    ipl->addStretch(1);
    v->addWidget(m_ipRow);

    m_ipoutBox = new QWidget(m_frame);
    m_ipoutBox->setObjectName("settingsIpout");
    auto* g = new QGridLayout(m_ipoutBox);
    g->setContentsMargins(0, 0, 0, 0);
    m_mode = new QComboBox(m_ipoutBox);
    m_mode->setObjectName("settingsMode");
    m_port = new QLineEdit(m_ipoutBox);
    m_port->setObjectName("settingsPort");
    m_port->setValidator(new QIntValidator(0, 65535, m_port));
    m_tos = new QLineEdit(m_ipoutBox);
    m_tos->setObjectName("settingsTos");
    m_tos->setMaxLength(2);
    m_tos->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9A-Fa-f]{0,2}"), m_tos));
    m_protocol = new QComboBox(m_ipoutBox);
    m_protocol->setObjectName("settingsProtocol");
    m_protocol->addItems({"RTP+", "RTP", "UDP"});
    m_noStuffing = new QCheckBox("No stuffings", m_ipoutBox);
    m_noStuffing->setObjectName("settingsNoStuffing");
    m_start = new QPushButton("Start", m_ipoutBox);
    m_start->setObjectName("settingsStart");
    m_start->setCheckable(true);
    m_stop = new QPushButton("Stop", m_ipoutBox);
    m_stop->setObjectName("settingsStop");
    m_stop->setCheckable(true);
    g->addWidget(new QLabel("Mode", m_ipoutBox), 0, 0);
    g->addWidget(m_mode, 0, 1, 1, 3);
    g->addWidget(new QLabel("Port", m_ipoutBox), 1, 0);
    g->addWidget(m_port, 1, 1);
    g->addWidget(new QLabel("ToS (HEX)", m_ipoutBox), 1, 2);
    g->addWidget(m_tos, 1, 3);
    g->addWidget(new QLabel("Protocol", m_ipoutBox), 2, 0);
    g->addWidget(m_protocol, 2, 1);
    g->addWidget(m_noStuffing, 2, 2, 1, 2);
    g->addWidget(m_start, 3, 1);
    g->addWidget(m_stop, 3, 2);
    v->addWidget(m_ipoutBox);

    m_colour = new QPushButton(m_frame);
    m_colour->setObjectName("settingsColour");
    m_colour->setMinimumHeight(28);
    v->addWidget(m_colour);

    m_textRow = new QWidget(m_frame);
    auto* tl = new QHBoxLayout(m_textRow);
    tl->setContentsMargins(0, 0, 0, 0);
    m_text = new QLineEdit(m_textRow);
    m_text->setObjectName("settingsText");
    tl->addWidget(m_text, 1);
    v->addWidget(m_textRow);
    m_set = new QPushButton("Set", m_frame);
    m_set->setObjectName("settingsSet");
    v->addWidget(m_set);

    auto* info = new QHBoxLayout;
    m_infoIcon = new QLabel(m_frame);
    m_infoIcon->setObjectName("settingsInfoIcon");
    m_info = new QPlainTextEdit(m_frame);
    m_info->setObjectName("settingsInfo");
    m_info->setReadOnly(true);
    m_info->setMaximumHeight(90);
    info->addWidget(m_infoIcon, 0, Qt::AlignTop);
    info->addWidget(m_info, 1);
    v->addLayout(info);
    v->addStretch(1);

    auto* buttons = new QHBoxLayout;
    m_reset = new QPushButton("Reset to default", m_frame);
    m_reset->setObjectName("settingsReset");
    m_print = new QPushButton("Print current settings", m_frame);
    m_print->setObjectName("settingsPrint");
    buttons->addWidget(m_reset);
    buttons->addWidget(m_print);
    v->addLayout(buttons);

    openFile = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    chooseColour = [this](uint32_t current, uint32_t& chosen) {
        QColor c = QColorDialog::getColor(QColor(int(current & 0xFF), int((current >> 8) & 0xFF), int((current >> 16) & 0xFF)),
                                          this);
        if (!c.isValid()) return false;
        chosen = uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
        return true;
    };

    m_page.onTreeChanged = [this] { RebuildTree(); };
    m_page.onShowValue = [this] { ShowValue(); };
    m_page.onOpenReport = [this](const std::string& path) {
        if (openFile) openFile(Q(path));
    };
    m_page.sliderPosition = [this]() -> std::optional<int32_t> {
        if (m_slider->isHidden()) return std::nullopt;
        return m_slider->value();
    };

    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CSettingsPageView::OnCurrentItemChanged);
    connect(m_check, &QCheckBox::clicked, this, [this](bool on) {
        if (!m_updating) m_page.SetChecked(on);
    });
    connect(m_slider, &QSlider::valueChanged, this, [this](int p) {
        if (!m_updating) m_page.MoveSlider(p);
    });
    connect(m_down, &QPushButton::clicked, this, [this] { m_page.StepDown(); });
    connect(m_up, &QPushButton::clicked, this, [this] { m_page.StepUp(); });
    connect(m_list, qOverload<int>(&QComboBox::activated), this, [this](int i) {
        if (!m_updating) m_page.ChooseListItem(i);
    });
    connect(m_set, &QPushButton::clicked, this, [this] {
        const CPnPSettingsNode* n = m_page.Current();
        if (!n) return;
        if (n->type == kPnPTypeIpAddr) {
            std::string f[4];
            for (int i = 0; i < 4; ++i) f[i] = m_ip[i]->text().toStdString();
            m_page.SetIpAddr(f);
        } else {
            m_page.SetTyped(m_text->text().toStdString());
        }
    });
    connect(m_text, &QLineEdit::returnPressed, m_set, &QPushButton::click);
    connect(m_colour, &QPushButton::clicked, this, [this] {
        const CPnPSettingsNode* n = m_page.Current();
        if (!n || !chooseColour) return;
        uint32_t chosen = 0;
        const auto& b = n->valueBytes;
        if (chooseColour(DeviceColourToRgb(b[0], b[1], b[2]), chosen)) m_page.ChooseColour(chosen);
    });
    connect(m_start, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_page.StopStream();
        ShowValue();  // the buttons show the node's state, not the click
    });
    connect(m_reset, &QPushButton::clicked, this, [this] { m_page.ResetToDefault(); });
    connect(m_print, &QPushButton::clicked, this, [this] { m_page.PrintReport(); });

    ShowValue();
}

void CSettingsPageView::Activate() { m_page.Open(); }

void CSettingsPageView::SetIdle(bool idle) {
    m_idle = idle;
    UpdateEnabled();
}

void CSettingsPageView::UpdateEnabled() {
    const bool busy = !m_idle;
    // A slider moved on while its value is written is followed up when the write ends, so it
    // stays usable during that write; everything else waits.
    bool follow = false;
    if (busy && m_ctx.ops) follow = m_ctx.ops->Kind() == kOpSettingWrite || m_ctx.ops->Kind() == kOpBlockWrite;
    m_tree->setEnabled(!busy);
    m_frame->setEnabled(!busy || follow);
    for (QWidget* w : m_frame->findChildren<QWidget*>()) w->setEnabled(!follow || w == m_sliderRow || w == m_slider);
    ShowValue();  // what the current node itself enables
}

QTreeWidgetItem* CSettingsPageView::ItemOfNode(int node) const {
    return node >= 0 && size_t(node) < m_itemOfNode.size() ? m_itemOfNode[size_t(node)] : nullptr;
}

void CSettingsPageView::RebuildTree() {
    m_updating = true;
    m_tree->clear();
    m_itemOfNode.assign(m_page.Element()->nodes.size(), nullptr);
    const auto& tree = m_page.Tree();
    std::vector<QTreeWidgetItem*> items;
    for (const auto& t : tree) {
        QTreeWidgetItem* item = t.parent >= 0 ? new QTreeWidgetItem(items[size_t(t.parent)]) : new QTreeWidgetItem(m_tree);
        item->setText(0, Q(m_page.Element()->nodes[size_t(t.node)]->name));
        item->setData(0, kNodeRole, t.node);
        items.push_back(item);
        m_itemOfNode[size_t(t.node)] = item;
    }
    for (size_t i = 0; i < tree.size(); ++i)
        if (tree[i].expanded) items[i]->setExpanded(true);
    if (!items.empty()) m_tree->scrollToItem(items.front());
    m_tree->setCurrentItem(nullptr);
    m_updating = false;
}

void CSettingsPageView::OnCurrentItemChanged(QTreeWidgetItem* now, QTreeWidgetItem* before) {
    if (m_updating || !now) return;
    if (!m_page.Select(now->data(0, kNodeRole).toInt())) {
        // Busy or not ready: the selection stays where it was.
        m_updating = true;
        m_tree->setCurrentItem(before);
        m_updating = false;
    }
}

void CSettingsPageView::OnStart() {
    const CPnPSettingsNode* n = m_page.Current();
    if (!n) return;
    std::string ip[4];
    for (int i = 0; i < 4; ++i) ip[i] = m_ip[i]->text().toStdString();
    m_page.StartStream(ip, m_port->text().toStdString(), m_mode->currentIndex(), m_protocol->currentIndex(),
                       m_noStuffing->isChecked(), m_tos->text().toStdString());
    ShowValue();
}

void CSettingsPageView::ShowValue() {
    m_updating = true;
    const RSettingsControls c = m_page.Controls();
    const CPnPSettingsNode* n = m_page.Current();
    const bool idle = m_idle;

    m_caption->setVisible(c.caption);
    m_caption->setText(Q(c.captionText));
    m_check->setVisible(c.checkBox);
    m_sliderRow->setVisible(c.slider);
    m_slider->setVisible(c.slider);  // sliderPosition() asks the slider itself
    m_valueText->setVisible(c.valueText);
    m_list->setVisible(c.list);
    m_list->setEnabled(idle && c.listEnabled);
    for (int i = 0; i < int(kPnPMaxFlagItems); ++i) {
        bool shown = i < c.flagCount;
        m_flagChecks[i]->setVisible(shown && !c.flagRadio[i]);
        m_flagRadios[i]->setVisible(shown && c.flagRadio[i]);
    }
    m_ipRow->setVisible(c.ipAddress);
    m_ipoutBox->setVisible(c.ipout);
    m_colour->setVisible(c.colour);
    m_textRow->setVisible(c.text);
    m_text->setEnabled(idle && c.textEnabled);
    m_set->setVisible(c.set);
    m_set->setEnabled(idle && c.setEnabled);
    m_info->setVisible(c.info);
    m_info->setPlainText(Q(c.infoText));
    m_infoIcon->setVisible(c.info && c.infoIcon != 0);
    if (c.infoIcon != 0) {
        QStyle::StandardPixmap sp = c.infoIcon == 2 ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
        m_infoIcon->setPixmap(style()->standardIcon(sp).pixmap(32, 32));
    }
    m_reset->setVisible(c.reset);
    m_print->setVisible(c.print);

    if (n && m_page.CurrentIndex() != 0) {
        if (c.checkBox) {
            m_check->setText(Q(n->name));
            m_check->setChecked(n->value != 0);
        }
        if (n->controlKind == kPnPCtlSlider) {
            int step = std::max(n->step, 1);
            m_slider->setRange(0, n->SliderRange());
            m_slider->setSingleStep(step);
            m_slider->setPageStep(step);
            m_slider->SetDefaultTick(n->ValueToSlider(n->def));
            m_slider->setValue(n->ValueToSlider(n->value));
            m_valueText->setText(Q(n->DisplayText(n->value)));
        }
        if (c.list) {
            m_list->clear();
            for (const auto& item : n->listItems) m_list->addItem(Q(item.name));
            m_list->setCurrentIndex(CSettingsPage::ChosenListItem(*n));
        }
        for (int i = 0; i < c.flagCount; ++i) {
            QAbstractButton* b = c.flagRadio[i] ? static_cast<QAbstractButton*>(m_flagRadios[i]) : m_flagChecks[i];
            b->setText(Q(n->flagItems[size_t(i)].name));
            b->setChecked(n->FlagItemChecked(size_t(i)));
        }
        if (c.text) m_text->setText(Q(CSettingsPage::TypedText(*n)));
        if (n->type == kPnPTypeIpAddr && c.ipAddress) {
            std::string text = CPnPSettingsNode::IpAddrText(n->valueBytes.data());
            for (int i = 0; i < 4; ++i) m_ip[i]->setText(text.empty() ? QString() : QString::number(n->valueBytes[size_t(i)]));
            for (auto* e : m_ip) e->setEnabled(idle);
        }
        if (c.colour) {
            const auto& b = n->valueBytes;
            uint32_t rgb = DeviceColourToRgb(b[0], b[1], b[2]);
            m_colour->setStyleSheet(QString("background-color: rgb(%1,%2,%3)").arg(rgb & 0xFF).arg((rgb >> 8) & 0xFF).arg((rgb >> 16) & 0xFF));
        }
        if (c.ipout) {
            PnPStreamOutput s = CPnPSettingsNode::DecodeStreamOutput(n->valueBytes.data());
            m_mode->clear();
            int mode = -1;
            for (size_t i = 0; i < n->listItems.size(); ++i) {
                m_mode->addItem(Q(n->listItems[i].name), n->listItems[i].value);
                if (n->listItems[i].value == s.mode) mode = int(i);
            }
            m_mode->setCurrentIndex(mode);
            bool zero = !s.ip[0] && !s.ip[1] && !s.ip[2] && !s.ip[3];
            for (int i = 0; i < 4; ++i) m_ip[i]->setText(zero ? QString() : QString::number(s.ip[i]));
            m_port->setText(s.port ? QString::number(s.port) : QString());
            m_protocol->setCurrentIndex(s.protocol <= 2 ? s.protocol : -1);
            m_noStuffing->setChecked(s.noStuffing);
            char tos[4];
            std::snprintf(tos, sizeof tos, "%02X", s.tos);
            m_tos->setText(s.tos ? QString(tos) : QString());
            bool fields = idle && !s.running;
            for (auto* e : m_ip) e->setEnabled(fields);
            for (QWidget* w : {static_cast<QWidget*>(m_mode), static_cast<QWidget*>(m_port), static_cast<QWidget*>(m_tos),
                               static_cast<QWidget*>(m_protocol), static_cast<QWidget*>(m_noStuffing),
                               static_cast<QWidget*>(m_start)})
                w->setEnabled(fields);
            m_start->setChecked(s.running);
            m_stop->setEnabled(idle && s.running);
            m_stop->setChecked(!s.running);
        }
    }
    m_updating = false;
}

void RegisterSettingsPages() {
    for (int kind : {int(kPnPSettings), int(kPnPSettingsBlock), int(kPnPSettingsGroup)}) {
        RegisterPageFactory(kind, [](CPnPBlock* e, RDeviceContext& ctx, QWidget* parent) -> CPageView* {
            auto* s = dynamic_cast<CPnPSettings*>(e);
            return s ? new CSettingsPageView(s, ctx, parent) : nullptr;
        });
    }
}
