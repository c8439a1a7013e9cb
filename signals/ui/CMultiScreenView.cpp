#include "CMultiScreenView.h"

#include "app/ConfigStore.h"
#include "pictures/ui/CPicCtrl.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
const char* const kFilter = "Multiscreen files (*.mss)";
}  // namespace

CMultiScreenView::CMultiScreenView(CPnPMultiScreen* element, RDeviceContext& ctx, QWidget* parent)
    : CPageView(element, ctx, parent), m_page(*element, ctx, AppStore()) {
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* file = new QGroupBox("File", this);
    auto* fl = new QVBoxLayout(file);
    m_load = new QPushButton("Load", file);
    m_load->setObjectName("msLoad");
    m_edit = new QPushButton("Edit", file);
    m_edit->setObjectName("msEdit");
    m_save = new QPushButton("Save", file);
    m_save->setObjectName("msSave");
    fl->addWidget(m_load);
    fl->addWidget(m_edit);
    fl->addWidget(m_save);
    left->addWidget(file);

    auto* dev = new QGroupBox("Multiscreen", this);
    auto* dl = new QVBoxLayout(dev);
    m_write = new QPushButton("Write", dev);
    m_write->setObjectName("msWrite");
    // Kept for the operators who know it; the write sequence always sends the backgrounds.
    m_noBackground = new QCheckBox("Don't write background", dev);
    dl->addWidget(m_write);
    dl->addWidget(m_noBackground);
    left->addWidget(dev);

    m_state = new QLabel(this);
    m_state->setObjectName("msState");
    m_state->setWordWrap(true);
    left->addWidget(m_state);
    if (!element->info.empty()) {
        auto* info = new QLabel(Q(element->info), this);
        info->setWordWrap(true);
        left->addWidget(info);
    }
    left->addStretch(1);
    layout->addLayout(left);

    auto* view = new QGroupBox("View", this);
    auto* vl = new QVBoxLayout(view);
    m_preview = new CPicCtrl(view);
    m_preview->setObjectName("msPreview");
    m_preview->setMinimumSize(384, 216);
    vl->addWidget(m_preview, 1);
    layout->addWidget(view, 1);

    chooseOpenFile = [this](const QString& folder) {
        return QFileDialog::getOpenFileName(this, "Load", folder, kFilter);
    };
    chooseSaveFile = [this](const QString& folder) {
        QString p = QFileDialog::getSaveFileName(this, "Save", folder, kFilter);
        if (!p.isEmpty() && QFileInfo(p).suffix().isEmpty()) p += ".mss";
        return p;
    };
    connect(m_load, &QPushButton::clicked, this, &CMultiScreenView::OnLoad);
    connect(m_edit, &QPushButton::clicked, this, &CMultiScreenView::OnEdit);
    connect(m_save, &QPushButton::clicked, this, &CMultiScreenView::OnSave);
    connect(m_write, &QPushButton::clicked, this, &CMultiScreenView::OnWrite);
}

void CMultiScreenView::Activate() {
    m_page.EnsureBuilt();
    Refresh();
}

void CMultiScreenView::SetIdle(bool idle) {
    m_idle = idle;
    const bool usable = m_page.Element().error.empty();
    m_load->setEnabled(idle && usable);
    m_edit->setEnabled(idle && usable);
    m_save->setEnabled(idle && usable);
    m_write->setEnabled(idle && usable);
    m_noBackground->setEnabled(idle && usable);
}

void CMultiScreenView::Refresh() {
    const CPnPMultiScreen& el = m_page.Element();
    if (!el.error.empty()) {
        m_state->setText(Q(el.error));
        SetIdle(m_idle);
        return;
    }
    m_preview->SetPicture(m_page.Preview());
    m_state->setText(m_page.Valid() ? QString("Layout valid") : QString("Layout not valid: elements overlap"));
    SetIdle(m_idle);
}

void CMultiScreenView::OnLoad() {
    const QString path = chooseOpenFile(Q(m_page.Folder()));
    if (path.isEmpty()) return;
    m_page.SetLastFolder(QFileInfo(path).absolutePath().toStdString() + "/");
    m_page.Load(path.toStdString());
    Refresh();
}

void CMultiScreenView::OnEdit() {
    // The layout editor is not part of this program yet.
    m_ctx.ui->ShowMessage("The multiscreen editor is not available in this version.", MsgIcon::Information);
    Refresh();
}

void CMultiScreenView::OnSave() {
    const QString path = chooseSaveFile(Q(m_page.Folder()));
    if (path.isEmpty()) return;
    m_page.SetLastFolder(QFileInfo(path).absolutePath().toStdString() + "/");
    m_page.Save(path.toStdString());
}

void CMultiScreenView::OnWrite() { m_page.Write(true); }
