#include "CMainWin.h"

#include "ConfigStore.h"
#include "DebugLog.h"
#include "ProgramFolder.h"

#include <QCloseEvent>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
// Dialog units of the designed layout become pixels at a fixed factor.
constexpr int kDluX = 2, kDluY = 2;
}

CMainWin::CMainWin(QWidget* parent) : QWidget(parent) {
    setWindowTitle("VaroConfig");
    setMinimumSize(460 * kDluX, 280 * kDluY);
    m_settings.Load(AppStore());

    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    auto* device = new QWidget(m_tabs);
    auto* deviceLayout = new QVBoxLayout(device);
    deviceLayout->addWidget(new QLabel("VaroConfig", device));
    std::string build = ReadBuildLine(ProgramFolder());
    m_buildLine = new QLabel(build.empty() ? QString() : QString("build  %1").arg(QString::fromStdString(build)), device);
    m_buildLine->setObjectName("buildLine");
    deviceLayout->addWidget(m_buildLine);
    deviceLayout->addStretch(1);
    m_tabs->addTab(device, "Device");
    layout->addWidget(m_tabs);

    DebugLog("CMainWin::OnInitDialog() build: [%s]", __DATE__);
}

CMainWin::~CMainWin() {
    DebugLog("CMainWin::OnDestroy(): called");
    SaveToStore();
    DebugLog("CMainWin::OnDestroy(): done");
}

void CMainWin::ShowFromStore() {
    resize(460 * kDluX, 280 * kDluY);
    if (m_settings.HasPlacement()) {
        move(m_settings.left, m_settings.top);
        if (m_settings.width > 0 && m_settings.height > 0) resize(m_settings.width, m_settings.height);
    }
    if (m_settings.maximized)
        showMaximized();
    else
        show();
}

void CMainWin::closeEvent(QCloseEvent* e) {
    SaveToStore();
    e->accept();
}

void CMainWin::SaveToStore() {
    if (m_saved) return;
    m_saved = true;
    // The restored (normal) geometry, also when the window is maximised.
    QRect r = isMaximized() ? normalGeometry() : geometry();
    m_settings.left = r.x();
    m_settings.top = r.y();
    m_settings.width = r.width();
    m_settings.height = r.height();
    m_settings.maximized = isMaximized() ? 1 : 0;
    m_settings.SaveOnClose(AppStore());
}
