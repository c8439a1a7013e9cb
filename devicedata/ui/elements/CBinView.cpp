#include "CBinView.h"

#include "app/MainSettings.h"
#include "model/CPnPBin.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

// "Text files (*.txt)|*.txt|" becomes "Text files (*.txt);;...".
QString DialogFilter(const std::string& filter) {
    QStringList out;
    const QStringList parts = Q(filter).split('|', Qt::SkipEmptyParts);
    for (int i = 0; i + 1 < parts.size(); i += 2) out << parts[i];
    return out.join(";;");
}
}  // namespace

CBinView::CBinView(CPnPBin* element, RDeviceContext& ctx, QWidget* parent)
    : CPageView(element, ctx, parent), m_page(*element, ctx) {
    auto* layout = new QVBoxLayout(this);
    auto* file = new QGroupBox("File", this);
    auto* fl = new QHBoxLayout(file);
    m_load = new QPushButton("Load", file);
    m_load->setObjectName("binLoad");
    m_state = new QLabel(file);
    m_state->setObjectName("binState");
    fl->addWidget(m_load);
    fl->addWidget(m_state, 1);
    layout->addWidget(file);

    auto* device = new QGroupBox("Device", this);
    auto* dl = new QHBoxLayout(device);
    m_write = new QPushButton("Write", device);
    m_write->setObjectName("binWrite");
    m_writeMenu = new QMenu(m_write);
    const auto names = m_page.ItemNames();
    for (size_t i = 0; i < names.size(); ++i)
        m_writeMenu->addAction(Q(names[i]), this, [this, i] { m_page.Write(int(i)); });
    m_write->setMenu(m_writeMenu);
    dl->addWidget(m_write);
    dl->addStretch(1);
    layout->addWidget(device);

    if (!element->info.empty()) {
        auto* info = new QGroupBox("Info", this);
        auto* il = new QVBoxLayout(info);
        auto* text = new QLabel(Q(element->info), info);
        text->setWordWrap(true);
        il->addWidget(text);
        layout->addWidget(info);
    }
    layout->addStretch(1);

    chooseFile = [this](const QString& folder, const QString& filter) {
        QFileDialog dlg(this, "Load", folder, filter);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setOption(QFileDialog::ReadOnly, false);
        return dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty() ? dlg.selectedFiles().first()
                                                                                  : QString();
    };
    connect(m_load, &QPushButton::clicked, this, &CBinView::OnLoad);
    ShowState();
}

void CBinView::OnLoad() {
    CMainSettings* st = m_ctx.settings;
    const QString path = chooseFile(st ? Q(st->binPath) : QString(), DialogFilter(m_page.Element().fileFilter));
    if (path.isEmpty()) return;
    if (st) st->binPath = QFileInfo(path).absolutePath().toStdString() + "/";
    m_page.Load(path.toStdString());
    ShowState();
}

void CBinView::ShowState() {
    const CPnPBin& el = m_page.Element();
    m_state->setText(el.loaded ? QString("%1 bytes loaded").arg(el.data.size()) : QString("No file loaded"));
    m_write->setEnabled(m_idle && m_page.CanWrite());
}

void CBinView::SetIdle(bool idle) {
    m_idle = idle;
    m_load->setEnabled(idle);
    ShowState();
}
