#include "CPicturesView.h"

#include "CColorButton.h"
#include "CPicCtrl.h"
#include "app/ConfigStore.h"
#include "app/MainSettings.h"
#include "app/Strings.h"
#include "model/CPnPPics.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

// "Text files (*.txt)|*.txt|" becomes "Text files (*.txt);;...".
QString DialogFilter(const std::string& filter) {
    QStringList out;
    const QStringList parts = Q(filter).split('|', Qt::SkipEmptyParts);
    for (int i = 0; i + 1 < parts.size(); i += 2) out << parts[i].trimmed();
    return out.join(";;");
}

QComboBox* List(QWidget* parent, const char* name, const QStringList& items, int current) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setCurrentIndex(std::clamp(current, 0, int(items.size()) - 1));
    return c;
}

QStringList Strings(int first, int last) {
    QStringList l;
    for (int id = first; id <= last; ++id) l << Q(LoadString(id));
    return l;
}
}  // namespace

QFont FontRecordToQFont(const CFontRecord& f) {
    QFont q(Q(f.FaceName()));
    q.setPointSize(std::max(1, FontPoints(f)));
    q.setBold(f.weight >= 600);
    q.setItalic(f.italic != 0);
    return q;
}

CFontRecord QFontToFontRecord(const QFont& q) {
    int points = q.pointSize();
    if (points <= 0) points = std::max(1, q.pixelSize() * 72 / 96);
    return PointFont(q.family().toStdString(), points, q.bold() ? 700 : 400, q.italic());
}

CPicturesView::CPicturesView(CPnPPics* element, RDeviceContext& ctx, QWidget* parent)
    : CPageView(element, ctx, parent), m_page(*element, ctx, &AppStore()) {
    const CMainSettings defaults;
    const CMainSettings& st = ctx.settings ? *ctx.settings : defaults;
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    layout->addLayout(left);
    layout->addLayout(right, 1);

    auto* file = new QGroupBox("File", this);
    auto* fl = new QHBoxLayout(file);
    m_load = new QPushButton("Load", file);
    m_load->setObjectName("picturesLoad");
    m_save = new QPushButton("Save", file);
    m_save->setObjectName("picturesSave");
    fl->addWidget(m_load);
    fl->addWidget(m_save);
    left->addWidget(file);

    auto* opts = new QGroupBox("Loading options", this);
    auto* ol = new QGridLayout(opts);
    m_dither = new QCheckBox("Dithering", opts);
    m_dither->setObjectName("picturesDither");
    m_dither->setChecked(st.dither);
    m_filter = new QCheckBox("Vertical filtering", opts);
    m_filter->setObjectName("picturesFilter");
    m_filter->setChecked(st.filter);
    ol->addWidget(m_dither, 0, 0, 1, 2);
    ol->addWidget(m_filter, 1, 0, 1, 2);
    if (m_page.LumaKeyOffered()) {
        m_lumaKey = new QCheckBox("Luma key", opts);
        m_lumaKey->setObjectName("picturesLumaKey");
        m_lumaKey->setChecked(st.shadow);
        QStringList percents;
        for (int i = 0; i < 10; ++i) percents << QString("%1%").arg(i * 10);
        m_transp = List(opts, "picturesTransparency", percents, st.shadowTransp);
        m_shadowType = List(opts, "picturesShadowType", Strings(21504, 21508), st.shadowType);
        m_shadowSize = List(opts, "picturesShadowSize", {"0", "1", "2", "3", "4"}, st.shadowPixels);
        m_shadowColour = List(opts, "picturesShadowColor", Strings(21509, 21511), st.shadowDepth);
        ol->addWidget(m_lumaKey, 2, 0, 1, 2);
        ol->addWidget(new QLabel("Transparency", opts), 3, 0);
        ol->addWidget(m_transp, 3, 1);
        ol->addWidget(m_shadowType, 4, 0, 1, 2);
        ol->addWidget(new QLabel("Size", opts), 5, 0);
        ol->addWidget(m_shadowSize, 5, 1);
        ol->addWidget(new QLabel("Color", opts), 6, 0);
        ol->addWidget(m_shadowColour, 6, 1);
        connect(m_lumaKey, &QCheckBox::toggled, this, &CPicturesView::OptionsChanged);
        for (QComboBox* c : {m_transp, m_shadowType, m_shadowSize, m_shadowColour})
            connect(c, &QComboBox::currentIndexChanged, this, &CPicturesView::OptionsChanged);
    }
    connect(m_dither, &QCheckBox::toggled, this, &CPicturesView::OptionsChanged);
    connect(m_filter, &QCheckBox::toggled, this, &CPicturesView::OptionsChanged);
    left->addWidget(opts);

    auto* device = new QGroupBox("Device", this);
    auto* dl = new QHBoxLayout(device);
    m_read = new QPushButton("Read", device);
    m_read->setObjectName("picturesRead");
    m_write = new QPushButton("Write", device);
    m_write->setObjectName("picturesWrite");
    m_readMenu = new QMenu(m_read);
    m_writeMenu = new QMenu(m_write);
    const auto names = m_page.ItemNames();
    for (size_t i = 0; i < names.size(); ++i) {
        m_readMenu->addAction(Q(names[i]), this, [this, i] { m_page.Read(int(i), [this] { Refresh(); }); });
        m_writeMenu->addAction(Q(names[i]), this, [this, i] { m_page.Write(int(i)); });
    }
    m_read->setMenu(m_readMenu);
    m_write->setMenu(m_writeMenu);
    dl->addWidget(m_read);
    dl->addWidget(m_write);
    left->addWidget(device);

    if (m_page.IsTextLabel()) {
        CPnPPicText* label = m_page.TextLabel();
        m_labelGroup = new QGroupBox("Text label", this);
        auto* tl = new QGridLayout(m_labelGroup);
        m_text = new QLineEdit(Q(label->text), m_labelGroup);
        m_text->setObjectName("picturesLabelText");
        m_font = new QPushButton("Font", m_labelGroup);
        m_font->setObjectName("picturesFont");
        m_colour = new CColorButton(m_labelGroup);
        m_colour->setObjectName("picturesColor");
        m_colour->SetColour(label->colour);
        m_default = new QPushButton("Default", m_labelGroup);
        m_default->setObjectName("picturesDefault");
        tl->addWidget(m_text, 0, 0, 1, 3);
        tl->addWidget(m_font, 1, 0);
        tl->addWidget(m_colour, 1, 1);
        tl->addWidget(m_default, 1, 2);
        left->addWidget(m_labelGroup);
        connect(m_text, &QLineEdit::textChanged, this, [this](const QString& t) {
            m_page.SetLabelText(t.toStdString());
            Refresh();
        });
        connect(m_font, &QPushButton::clicked, this, &CPicturesView::OnFont);
        connect(m_colour, &CColorButton::colourChosen, this, [this](uint32_t c) {
            m_page.SetLabelColour(c);
            Refresh();
        });
        connect(m_default, &QPushButton::clicked, this, [this] {
            m_page.RestoreLabelDefaults();
            m_colour->SetColour(m_page.TextLabel()->colour);
            Refresh();
        });
    }
    left->addStretch(1);

    auto* buffer = new QGroupBox("Buffer", this);
    auto* bl = new QVBoxLayout(buffer);
    m_preview = new CPicCtrl(buffer);
    m_preview->setObjectName("picturesPreview");
    auto* bgRow = new QHBoxLayout;
    m_background = List(buffer, "picturesBackground", Strings(21501, 21503), st.background);
    bgRow->addWidget(new QLabel("Background", buffer));
    bgRow->addWidget(m_background, 1);
    bl->addWidget(m_preview, 1);
    bl->addLayout(bgRow);
    right->addWidget(buffer, 1);
    connect(m_background, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (m_ctx.settings) m_ctx.settings->background = i;
        Refresh();
    });

    const CPnPPics& el = m_page.Element();
    if (!el.info.empty() || !el.Usable()) {
        auto* info = new QGroupBox("Info", this);
        auto* il = new QVBoxLayout(info);
        auto* text = new QLabel(Q(el.Usable() ? el.info : el.SizeProblem()), info);
        text->setObjectName("picturesInfo");
        text->setWordWrap(true);
        il->addWidget(text);
        right->addWidget(info);
    }

    chooseFile = [this](const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(this, "Load", folder, filter);
    };
    chooseSaveFile = [this](const QString& folder, const QString& filter) {
        QFileDialog dlg(this, "Save", folder, filter);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix("png");
        return dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty() ? dlg.selectedFiles().first()
                                                                                  : QString();
    };
    chooseFont = [this](const QFont& initial) -> std::optional<QFont> {
        bool ok = false;
        QFont f = QFontDialog::getFont(&ok, initial, this, "Font");
        return ok ? std::optional<QFont>(f) : std::nullopt;
    };
    connect(m_load, &QPushButton::clicked, this, &CPicturesView::OnLoad);
    connect(m_save, &QPushButton::clicked, this, &CPicturesView::OnSave);
    Refresh();
}

PicturesOptions CPicturesView::Options() const {
    PicturesOptions o;
    o.dither = m_dither->isChecked();
    o.verticalFilter = m_filter->isChecked();
    if (m_lumaKey) {
        o.lumaKey = m_lumaKey->isChecked();
        o.luma.transparencyIndex = m_transp->currentIndex();
        o.luma.shadowType = m_shadowType->currentIndex();
        o.luma.shadowSize = m_shadowSize->currentIndex();
        o.luma.shadowColour = m_shadowColour->currentIndex();
    }
    return o;
}

void CPicturesView::OptionsChanged() {
    if (m_ctx.settings) {
        // Elements without the luma key leave its remembered choices alone.
        PicturesOptions keep = PicturesOptions::FromSettings(*m_ctx.settings);
        PicturesOptions o = Options();
        if (!m_lumaKey) {
            o.lumaKey = keep.lumaKey;
            o.luma = keep.luma;
        }
        o.ToSettings(*m_ctx.settings);
    }
    UpdateControls();
}

void CPicturesView::OnLoad() {
    CMainSettings* st = m_ctx.settings;
    const QString path = chooseFile(st ? Q(st->pictures) : QString(), DialogFilter(m_page.Element().fileFilter));
    if (path.isEmpty()) return;
    if (st) st->pictures = QFileInfo(path).absolutePath().toStdString() + "/";
    // A compressed picture is still being made when this returns: the preview follows then.
    m_page.Load(path.toStdString(), Options(), [this] { Refresh(); });
}

void CPicturesView::OnSave() {
    // Text labels are not saved (the button is there, as for every picture element).
    if (m_page.IsTextLabel() || !m_page.CanSave()) return;
    CMainSettings* st = m_ctx.settings;
    const QString path = chooseSaveFile(st ? Q(st->pictures) : QString(), DialogFilter(m_page.SaveFilter()));
    if (path.isEmpty()) return;
    if (st) st->pictures = QFileInfo(path).absolutePath().toStdString() + "/";
    m_page.Save(path.toStdString());
}

void CPicturesView::OnFont() {
    CPnPPicText* label = m_page.TextLabel();
    if (!label) return;
    const std::optional<QFont> f = chooseFont(FontRecordToQFont(label->font));
    if (!f) return;
    m_page.SetLabelFont(QFontToFontRecord(*f));
    Refresh();
}

void CPicturesView::Activate() { Refresh(); }

void CPicturesView::Refresh() {
    m_page.RenderPreview(m_previewPic, m_background->currentIndex());
    m_preview->SetPicture(m_previewPic);
    UpdateControls();
}

void CPicturesView::UpdateControls() {
    const bool usable = m_page.Element().Usable();
    m_load->setEnabled(m_idle && usable);
    m_save->setEnabled(m_idle && m_page.CanSave());
    m_read->setEnabled(m_idle && usable && !m_page.ItemNames().empty());
    m_write->setEnabled(m_idle && m_page.CanWrite());
    m_dither->setEnabled(m_idle);
    m_filter->setEnabled(m_idle);
    m_background->setEnabled(m_idle);
    if (m_lumaKey) {
        m_lumaKey->setEnabled(m_idle);
        const bool lists = m_idle && m_lumaKey->isChecked();
        for (QComboBox* c : {m_transp, m_shadowType, m_shadowSize, m_shadowColour}) c->setEnabled(lists);
    }
    if (m_labelGroup) {
        const bool label = m_idle && m_page.CanEditLabel();
        for (QWidget* w : std::initializer_list<QWidget*>{m_text, m_font, m_colour, m_default}) w->setEnabled(label);
    }
}

void CPicturesView::SetIdle(bool idle) {
    m_idle = idle;
    UpdateControls();
}
