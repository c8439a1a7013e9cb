#include "CMainWin.h"

#include "CPageView.h"
#include "ConfigStore.h"
#include "DebugLog.h"
#include "IpAddress.h"
#include "ProgramFolder.h"
#include "Strings.h"
#include "devicedata/DeviceSearch.h"
#include "devicedata/TimeSync.h"
#include "link/eth/CEth1.h"
#include "link/eth/LocalInterfaces.h"
#include "model/CPnPModel.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStackedWidget>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Dialog units of the designed layout become pixels at a fixed factor.
constexpr int kDluX = 2, kDluY = 2;
const char* const kInterfaceNames[5] = {"RS-232", "RS-422", "RS-485", "Ethernet TCP", "Ethernet UDP"};

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
    s.onModelChanged = [this] { RebuildTabs(); };
    s.onBusListChanged = [this] {
        m_busList->clear();
        for (int a : m_session->busList) m_busList->addItem(QString::asprintf("%03d", a), a);
        int idx = m_busList->findData(m_session->busAddress);
        if (idx >= 0) m_busList->setCurrentIndex(idx);
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
    m_devicePage = BuildDevicePage();
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

QWidget* CMainWin::BuildDevicePage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);

    auto* about = new QGroupBox("VaroConfig", page);
    auto* al = new QVBoxLayout(about);
    al->addWidget(new QLabel("Video device configuration, version 1.0", about));
    std::string build = ReadBuildLine(ProgramFolder());
    m_buildLine = new QLabel(build.empty() ? QString() : QString("build  %1").arg(Q(build)), about);
    m_buildLine->setObjectName("buildLine");
    al->addWidget(m_buildLine);
    grid->addWidget(about, 0, 0);

    auto* device = new QGroupBox("Device", page);
    auto* dl = new QHBoxLayout(device);
    dl->addWidget(new QLabel("Model", device));
    m_modelLabel = new QLabel(device);
    m_modelLabel->setObjectName("modelName");
    m_modelList = new QComboBox(device);
    dl->addWidget(m_modelLabel, 1);
    dl->addWidget(m_modelList, 1);
    grid->addWidget(device, 1, 0);
    connect(m_modelList, &QComboBox::activated, this, [this](int i) {
        m_session->ChooseListedModel(i >= 0 ? m_modelList->itemText(i).toStdString() : std::string());
    });

    auto* conn = new QGroupBox("Connection", page);
    auto* cl = new QGridLayout(conn);
    auto* ifGroup = new QButtonGroup(conn);
    for (int i = 0; i < 5; ++i) {
        m_ifButtons[i] = new QRadioButton(kInterfaceNames[i], conn);
        ifGroup->addButton(m_ifButtons[i], i);
        cl->addWidget(m_ifButtons[i], i, 0);
    }
    m_ifButtons[std::clamp(m_settings.interface, 0, 4)]->setChecked(true);
    connect(ifGroup, &QButtonGroup::idClicked, this, &CMainWin::OnInterfaceChosen);

    m_portLabel = new QLabel("Serial port", conn);
    m_portList = new QComboBox(conn);
    for (int i = 0; i < 8; ++i) {
        const std::string name = "COM" + std::to_string(i + 1);
        const std::string path = AppStore().ReadString("Ports", name, "/dev/ttyS" + std::to_string(i));
        m_portList->addItem(Q(name + "  (" + path + ")"), i);
    }
    m_portList->setCurrentIndex(m_settings.port);
    connect(m_portList, &QComboBox::activated, this, [this](int i) {
        if (i == m_session->portIndex) return;
        m_session->portIndex = i;
        m_settings.port = i;
        m_session->Redetect();
    });
    cl->addWidget(m_portLabel, 0, 1);
    cl->addWidget(m_portList, 0, 2);

    m_localIpLabel = new QLabel("Local IP", conn);
    m_localIp = new QComboBox(conn);
    cl->addWidget(m_localIpLabel, 1, 1);
    cl->addWidget(m_localIp, 1, 2);
    connect(m_localIp, &QComboBox::activated, this, &CMainWin::OnLocalIpChosen);

    m_deviceIpGroup = new QGroupBox("Device IP", conn);
    auto* dg = new QGridLayout(m_deviceIpGroup);
    m_choose = new QRadioButton("Choose", m_deviceIpGroup);
    m_enterIp = new QRadioButton("Enter IP", m_deviceIpGroup);
    (m_settings.manualIp ? m_enterIp : m_choose)->setChecked(true);
    m_foundList = new QComboBox(m_deviceIpGroup);
    m_find = new QPushButton("Find", m_deviceIpGroup);
    m_ipEdit = new QLineEdit(m_deviceIpGroup);
    m_ipEdit->setObjectName("deviceIp");
    m_ipEdit->setPlaceholderText("0.0.0.0");
    m_ipEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(R"(^(\d{1,3}(\.\d{0,3}){0,3})?$)"), m_ipEdit));
    dg->addWidget(m_choose, 0, 0);
    dg->addWidget(m_foundList, 0, 1);
    dg->addWidget(m_find, 0, 2);
    dg->addWidget(m_enterIp, 1, 0);
    dg->addWidget(m_ipEdit, 1, 1, 1, 2);
    cl->addWidget(m_deviceIpGroup, 2, 1, 3, 2);
    if (m_settings.ip != 0) {
        m_ipEdit->setText(Q(IpToString(m_settings.ip)));
        m_foundList->addItem(Q(IpToString(m_settings.ip)), m_settings.ip);
    }
    connect(m_choose, &QRadioButton::toggled, this, [this](bool on) {
        m_settings.manualIp = on ? 0 : 1;
        UpdateControls();
    });
    connect(m_find, &QPushButton::clicked, this, &CMainWin::OnFind);

    m_connect = new QPushButton("Connect", conn);
    cl->addWidget(m_connect, 5, 2);
    connect(m_connect, &QPushButton::clicked, this, &CMainWin::OnConnect);
    grid->addWidget(conn, 0, 1, 3, 1);

    m_addressGroup = new QGroupBox("Address", page);
    auto* bl = new QHBoxLayout(m_addressGroup);
    m_busList = new QComboBox(m_addressGroup);
    m_writeAddress = new QPushButton("Write address", m_addressGroup);
    bl->addWidget(m_busList, 1);
    bl->addWidget(m_writeAddress);
    grid->addWidget(m_addressGroup, 2, 0);
    connect(m_busList, &QComboBox::activated, this, [this](int i) {
        int a = m_busList->itemData(i).toInt();
        if (a != m_session->busAddress) m_session->ChooseBusAddress(a);
    });

    m_commands = new QGroupBox("Commands", page);
    auto* cml = new QHBoxLayout(m_commands);
    m_syncTime = new QPushButton("Synchronize time", m_commands);
    cml->addWidget(m_syncTime);
    grid->addWidget(m_commands, 3, 0);
    connect(m_syncTime, &QPushButton::clicked, this, [this] { StartTimeSync(m_session->Context()); });

    m_verify = new QCheckBox("Verify write operations", page);
    m_verify->setChecked(m_settings.verifyWrite != 0);
    grid->addWidget(m_verify, 3, 1);
    connect(m_verify, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.verifyWrite = on ? 1 : 0;
        m_session->Engine().SetVerify(on);
    });
    grid->setRowStretch(4, 1);
    return page;
}

void CMainWin::FillLocalInterfaces() {
    std::vector<REthernetInterface> list;
    ListLocalInterfaces(list);
    m_localIp->clear();
    for (const auto& i : list) m_localIp->addItem(Q(IpToString(i.address)), i.address);
    int idx = m_localIp->findData(m_settings.localIp);
    if (idx < 0 && m_localIp->count() > 0) {
        idx = 0;
        m_settings.localIp = m_localIp->itemData(0).toUInt();
        CMainSettings::SaveLocalIp(AppStore(), m_settings.localIp);
    }
    if (idx >= 0) m_localIp->setCurrentIndex(idx);
    m_session->localIp = m_settings.localIp;
}

void CMainWin::Start() {
    m_session->FillModelList();
    m_modelList->clear();
    for (const auto& n : m_session->modelList) m_modelList->addItem(Q(n));
    FillLocalInterfaces();
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

void CMainWin::SaveToStore() {
    QRect r = isMaximized() ? normalGeometry() : geometry();
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
    m_modelLabel->setText(Q(s.signatureMode ? s.modelName : std::string()));
    if (!s.signatureMode) {
        int idx = -1;
        for (int i = 0; i < m_modelList->count() && !s.listedModelName.empty(); ++i)
            if (m_modelList->itemText(i).startsWith(Q(s.listedModelName))) {
                idx = i;
                break;
            }
        m_modelList->setCurrentIndex(idx);
    }
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

// --- the "Device" page -----------------------------------------------------------------

void CMainWin::UpdateControls() {
    if (!m_session) return;
    CDeviceSession& s = *m_session;
    const bool idle = !Ops().Busy();
    const bool serial = s.interfaceChoice <= CDeviceSession::kRS485;
    const bool eth = s.Ethernet();
    m_topTabs->setEnabled(idle);
    m_bottomTabs->setEnabled(idle);
    m_exit->setEnabled(idle);
    m_stop->setEnabled(!idle);
    m_devicePage->setEnabled(idle);
    for (CPageView* v : m_views) v->SetIdle(idle);

    m_portLabel->setVisible(serial);
    m_portList->setVisible(serial);
    m_localIpLabel->setVisible(eth);
    m_localIp->setVisible(eth);
    m_localIp->setEnabled(m_localIp->count() > 0);
    m_deviceIpGroup->setVisible(eth);
    const bool choose = m_choose->isChecked();
    m_foundList->setEnabled(choose);
    m_find->setEnabled(choose && idle);
    m_ipEdit->setEnabled(!choose);
    m_addressGroup->setVisible(s.interfaceChoice == CDeviceSession::kRS485);
    m_busList->setEnabled(idle && m_busList->count() > 0);
    m_writeAddress->setEnabled(false);  // the window writes no bus address
    m_modelLabel->setVisible(s.signatureMode);
    m_modelList->setVisible(!s.signatureMode);
    m_commands->setVisible(s.model && s.model->timeSync);
}

bool CMainWin::TakeDeviceAddress() {
    if (!m_session->Ethernet()) return true;
    if (m_enterIp->isChecked()) {
        uint32_t ip = 0;
        // Only a complete address replaces the previous one.
        if (IpFromString(m_ipEdit->text().toStdString(), ip)) m_session->deviceIp = ip;
    } else {
        int i = m_foundList->currentIndex();
        m_session->deviceIp = i >= 0 ? m_foundList->itemData(i).toUInt() : 0;
    }
    return true;
}

void CMainWin::OnInterfaceChosen(int choice) {
    if (choice == m_session->interfaceChoice) return;
    m_session->interfaceChoice = choice;
    m_settings.interface = choice;
    UpdateControls();
    m_session->Redetect();
}

void CMainWin::OnConnect() {
    if (Ops().Busy()) return;
    TakeDeviceAddress();
    m_session->Redetect();
}

void CMainWin::OnLocalIpChosen(int index) {
    if (index < 0) return;
    m_settings.localIp = m_localIp->itemData(index).toUInt();
    CMainSettings::SaveLocalIp(AppStore(), m_settings.localIp);
    m_session->localIp = m_settings.localIp;
    TakeDeviceAddress();
    m_session->Redetect();
}

void CMainWin::OnFind() {
    if (Ops().Busy() || !m_choose->isChecked()) return;
    Ops().Begin(kOpDeviceSearch, 1);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<uint32_t> found = FindEthernetDevices(m_settings.localIp);
    QApplication::restoreOverrideCursor();
    uint32_t previous = m_foundList->currentIndex() >= 0 ? m_foundList->currentData().toUInt() : 0;
    RDeviceList l = RefillDeviceList(found, previous);
    m_foundList->clear();
    for (uint32_t ip : l.entries) m_foundList->addItem(Q(IpToString(ip)), ip);
    m_foundList->setCurrentIndex(l.selected);
    Ops().End();
}
