#include "CMainWin.h"

#include "CDevicePageView.h"
#include "CPageView.h"
#include "app/ConfigStore.h"
#include "app/DebugLog.h"
#include "app/Strings.h"
#include "link/eth/CEth1.h"
#include "model/CPnPModel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Dialog units of the designed layout become pixels at a fixed factor.
constexpr int kDluX = 2, kDluY = 2;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QMessageBox::Icon BoxIcon(MsgIcon i) {
    switch (i) {
    case MsgIcon::Stop: return QMessageBox::Critical;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Question: return QMessageBox::Question;
    default: return QMessageBox::Information;
    }
}

// A placeholder for element kinds whose page is not there yet.
class CPlainPage : public CPageView {
public:
    CPlainPage(CPnPBlock* e, RDeviceContext& ctx, QWidget* parent) : CPageView(e, ctx, parent) {
        auto* l = new QVBoxLayout(this);
        l->addWidget(new QLabel(Q(e->name), this));
        l->addStretch(1);
    }
};
}  // namespace

CMainWin::CMainWin(QWidget* parent) : QWidget(parent) {
    setWindowTitle("VaroConfig");
    setMinimumSize(460 * kDluX, 280 * kDluY);
    m_settings.Load(AppStore());
    CEth1::Install();
    RegisterAllPages();

    m_session = std::make_unique<CDeviceSession>(*this, this);
    CDeviceSession& s = *m_session;
    s.interfaceChoice = m_settings.interface;
    s.portIndex = m_settings.port;
    s.deviceIp = m_settings.ip;
    s.localIp = m_settings.localIp;
    s.listedModelName = m_settings.modelName;
    s.Engine().SetVerify(m_settings.verifyWrite != 0);
    s.Context().settings = &m_settings;
    s.onModelChanged = [this] { RebuildTabs(); };
    s.onBusListChanged = [this] {
        m_devicePage->BusListChanged();
        UpdateControls();
    };
    s.Ops().SetIdleTick([this] {
        if (m_current) m_current->IdleTick();
    });

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &CMainWin::OnTick);

    auto* layout = new QVBoxLayout(this);
    m_topTabs = new QTabBar(this);
    m_topTabs->setObjectName("topTabs");
    m_bottomTabs = new QTabBar(this);
    m_bottomTabs->setObjectName("bottomTabs");
    m_bottomTabs->hide();
    // Tabs as wide as their titles; a lone "Device" tab must not span the window.
    m_topTabs->setExpanding(false);
    m_bottomTabs->setExpanding(false);
    m_stack = new QStackedWidget(this);
    m_devicePage = new CDevicePageView({*m_session, m_settings, [this] { UpdateControls(); }}, s.Context(), this);
    m_stack->addWidget(m_devicePage);
    layout->addWidget(m_topTabs);
    layout->addWidget(m_bottomTabs);
    layout->addWidget(m_stack, 1);

    m_progressLine = new QWidget(this);
    auto* pl = new QHBoxLayout(m_progressLine);
    pl->setContentsMargins(0, 0, 0, 0);
    m_bar = new QProgressBar(m_progressLine);
    m_bar->setTextVisible(false);
    m_percent = new QLabel(m_progressLine);
    m_elapsed = new QLabel(m_progressLine);
    m_activity = new QLabel(m_progressLine);
    m_activity->setObjectName("activity");
    m_stop = new QPushButton("Stop operation", m_progressLine);
    pl->addWidget(m_bar, 1);
    pl->addWidget(m_percent);
    pl->addWidget(m_elapsed);
    pl->addWidget(m_activity);
    pl->addWidget(m_stop);
    m_progressLine->hide();
    m_progressLine->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    connect(m_stop, &QPushButton::clicked, this, [this] { Ops().RequestStop(); });

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_progressLine, 1);
    m_exit = new QPushButton("E&xit", this);
    m_exit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    bottom->addStretch(0);
    bottom->addWidget(m_exit);
    layout->addLayout(bottom);
    connect(m_exit, &QPushButton::clicked, this, &QWidget::close);

    m_topTabs->addTab(Q(LoadString(kStrDevice)));
    connect(m_topTabs, &QTabBar::currentChanged, this, &CMainWin::OnTopTab);
    connect(m_bottomTabs, &QTabBar::currentChanged, this, &CMainWin::OnBottomTab);

    DebugLog("CMainWin::OnInitDialog() build: [%s]", __DATE__);
    UpdateControls();
}

CMainWin::~CMainWin() {
    DebugLog("CMainWin::OnDestroy(): called");
    m_closing = true;
    m_timer->stop();
    // The long-lived links go first, so no worker reports into a window being destroyed.
    m_session->DestroyLinks();
    SaveToStore();
    qDeleteAll(m_views);
    m_views.clear();
    m_session.reset();
    DebugLog("CMainWin::OnDestroy(): done");
}

void CMainWin::Start() {
    m_devicePage->Start();
    UpdateControls();
    m_session->Redetect();
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
    // Never while an operation runs.
    if (Ops().Busy()) {
        e->ignore();
        return;
    }
    SaveToStore();
    e->accept();
}

QRect PlacementToStore(const QRect& frame, const QRect& client, const QRect& normalClient, bool maximized) {
    // The frame's margins around the client area are the same for the restored window.
    const QPoint margin = client.topLeft() - frame.topLeft();
    const QRect c = maximized && normalClient.isValid() ? normalClient : client;
    return QRect(c.topLeft() - margin, c.size());
}

void CMainWin::SaveToStore() {
    const QRect r = PlacementToStore(frameGeometry(), geometry(), normalGeometry(), isMaximized());
    m_settings.left = r.x();
    m_settings.top = r.y();
    m_settings.width = r.width();
    m_settings.height = r.height();
    m_settings.maximized = isMaximized() ? 1 : 0;
    if (m_session) {
        m_settings.interface = m_session->interfaceChoice;
        m_settings.port = m_session->portIndex;
        m_settings.ip = m_session->deviceIp;
        m_settings.modelName = m_session->listedModelName;
    }
    m_settings.SaveOnClose(AppStore());
}

// --- operation protocol -------------------------------------------------------------

void CMainWin::OperationStateChanged(bool) { UpdateControls(); }

void CMainWin::ShowProgressLine(bool visible) { m_progressLine->setVisible(visible); }

void CMainWin::ProgressChanged() {
    const CProgressDisplay& d = Ops().Display();
    m_bar->setRange(0, std::max(d.total, 0));
    m_bar->setValue(std::clamp(d.position, 0, std::max(d.total, 0)));
    m_percent->setText(Q(d.percentText));
    m_elapsed->setText(Q(d.elapsedText));
    m_activity->setText(Q(d.activityText));
}

void CMainWin::ShowMessage(const std::string& text, MsgIcon icon) {
    if (messageHook) {
        messageHook(Q(text), icon);
        return;
    }
    QMessageBox box(BoxIcon(icon), windowTitle(), Q(text), QMessageBox::Ok, this);
    box.exec();
}

bool CMainWin::AskYesNo(const std::string& text, MsgIcon icon, bool defaultNo) {
    if (questionHook) return questionHook(Q(text), icon, defaultNo);
    QMessageBox box(BoxIcon(icon), windowTitle(), Q(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void CMainWin::SetTimer(bool running) {
    if (running)
        m_timer->start();
    else
        m_timer->stop();
}

void CMainWin::OnTick() {
    Ops().Tick();
}

int CMainWin::LinkProgress(int value) {
    if (m_closing) return 1;
    if (QThread::currentThread() == thread()) return Ops().Progress(value);
    // The worker does not wait for the window: the display follows at its own pace, and
    // "Stop operation" is answered from the flag it sets.
    const int delay = m_progress.Put(value);
    if (delay >= 0) {
        QMetaObject::invokeMethod(
            this,
            [this, delay] {
                if (delay == 0)
                    TakeProgress();
                else
                    QTimer::singleShot(delay, this, &CMainWin::TakeProgress);
            },
            Qt::QueuedConnection);
    }
    return Ops().AbortRequested() ? 1 : 0;
}

void CMainWin::TakeProgress() {
    if (m_closing) return;
    if (auto value = m_progress.Take()) Ops().Progress(*value);
}

void CMainWin::LinkCompleted(int result, int value, bool blocking) {
    if (m_closing) return;
    auto handle = [this, result, value] {
        TakeProgress();  // the command's last step shows before its completion
        Ops().Completed(result, value);
    };
    if (QThread::currentThread() == thread())
        handle();
    else
        QMetaObject::invokeMethod(this, handle, blocking ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

// --- pages ---------------------------------------------------------------------------

CPageView* CMainWin::CurrentPageView() const { return m_current; }

void CMainWin::RebuildTabs() {
    m_rebuilding = true;
    if (m_current) m_current->Deactivate();
    m_current = nullptr;
    m_stack->setCurrentWidget(m_devicePage);
    for (CPageView* v : m_views) {
        m_stack->removeWidget(v);
        delete v;
    }
    m_views.clear();
    while (m_topTabs->count() > 1) m_topTabs->removeTab(m_topTabs->count() - 1);
    while (m_bottomTabs->count() > 0) m_bottomTabs->removeTab(0);
    m_bottomTabs->hide();
    m_topTabs->setCurrentIndex(0);

    CDeviceSession& s = *m_session;
    if (CPnPModel* model = s.model.get()) {
        for (CPnPBlock* e : model->pages) {
            CPageView* v = nullptr;
            if (const PageFactory* f = FindPageFactory(e->kind)) v = (*f)(e, s.Context(), m_stack);
            if (!v) v = new CPlainPage(e, s.Context(), m_stack);
            m_stack->addWidget(v);
            m_views.push_back(v);
        }
        for (const auto& g : model->groupNames) m_topTabs->addTab(Q(g));
    }
    m_devicePage->ModelChanged();
    m_rebuilding = false;
    UpdateControls();
}

void CMainWin::OnTopTab(int index) {
    if (m_rebuilding) return;
    m_rebuilding = true;
    while (m_bottomTabs->count() > 0) m_bottomTabs->removeTab(0);
    m_rebuilding = false;
    CPnPModel* model = m_session->model.get();
    if (index <= 0 || !model) {
        m_bottomTabs->hide();
        ShowPage(nullptr);
        return;
    }
    const int g = index - 1;
    std::vector<int> members;
    for (size_t i = 0; i < model->pages.size(); ++i)
        if (model->pages[i]->groupIndex == g) members.push_back(int(i));
    if (members.empty()) return;
    if (size_t(g) < model->groupSizes.size() && model->groupSizes[size_t(g)] <= 1) {
        m_bottomTabs->hide();
        ShowPage(m_views[size_t(members.front())]);
        return;
    }
    m_rebuilding = true;
    for (int i : members) m_bottomTabs->addTab(Q(model->pages[size_t(i)]->name));
    m_bottomTabs->setCurrentIndex(0);
    m_rebuilding = false;
    m_bottomTabs->show();
    ShowPage(m_views[size_t(members.front())]);
}

void CMainWin::OnBottomTab(int index) {
    if (m_rebuilding || index < 0) return;
    CPnPModel* model = m_session->model.get();
    if (!model) return;
    const int g = m_topTabs->currentIndex() - 1;
    int n = 0;
    for (size_t i = 0; i < model->pages.size(); ++i) {
        if (model->pages[i]->groupIndex != g) continue;
        if (n++ == index) {
            ShowPage(m_views[i]);
            return;
        }
    }
}

void CMainWin::ShowPage(CPageView* view) {
    SetTimer(false);
    if (m_current && m_current != view) m_current->Deactivate();
    m_current = view;
    m_stack->setCurrentWidget(view ? static_cast<QWidget*>(view) : m_devicePage);
    UpdateControls();
    if (view) view->Activate();
}

bool CMainWin::SelectPage(const QString& top, const QString& bottom) {
    for (int i = 0; i < m_topTabs->count(); ++i) {
        if (m_topTabs->tabText(i) != top) continue;
        m_topTabs->setCurrentIndex(i);
        if (i == 0) OnTopTab(0);
        if (bottom.isEmpty()) return true;
        for (int j = 0; j < m_bottomTabs->count(); ++j)
            if (m_bottomTabs->tabText(j) == bottom) {
                m_bottomTabs->setCurrentIndex(j);
                return true;
            }
        return false;
    }
    return false;
}

// --- controls ---------------------------------------------------------------------------

void CMainWin::UpdateControls() {
    if (!m_session) return;
    const bool idle = !Ops().Busy();
    m_topTabs->setEnabled(idle);
    m_bottomTabs->setEnabled(idle);
    m_exit->setEnabled(idle);
    m_stop->setEnabled(!idle);
    m_devicePage->Update(idle);
    for (CPageView* v : m_views) v->SetIdle(idle);
}

QRadioButton* CMainWin::InterfaceButton(int i) const { return m_devicePage->InterfaceButton(i); }
QPushButton* CMainWin::ConnectButton() const { return m_devicePage->ConnectButton(); }
QLineEdit* CMainWin::AddressEdit() const { return m_devicePage->AddressEdit(); }
QRadioButton* CMainWin::EnterIpButton() const { return m_devicePage->EnterIpButton(); }
QLabel* CMainWin::ModelLabel() const { return m_devicePage->ModelLabel(); }
QComboBox* CMainWin::BusList() const { return m_devicePage->BusList(); }
