#include "lanora/CLanoraWin.h"

#include "lanora/CDlgNetParams.h"
#include "lanora/LanoraStrings.h"
#include "lanora/protocol/ModulePassportFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
// The window as designed; on resizing the lists take the change and the controls follow.
constexpr int kDesignW = 700, kDesignH = 360;
// 300 x 180 dialog units.
constexpr int kMinW = 300 * 3 / 2, kMinH = 180 * 13 / 8;
constexpr int kColumnX = kDesignW - 8 - 128;

QSettings Store() { return QSettings(QStringLiteral("Varo"), QStringLiteral("Lanora")); }

// Keeps the wait cursor up while an exchange blocks the window.
struct CWaitCursor {
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
};

QString QtFilter(const char* filter) {
    // "Text files (*.txt)|*.txt||": the description is what a Qt dialog wants.
    return QString::fromUtf8(filter).section(QLatin1Char('|'), 0, 0);
}
}  // namespace

CLanoraWin::CLanoraWin(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Lanora"));
    setMinimumSize(kMinW, kMinH);
    resize(kDesignW, kDesignH);

    m_deviceList = new QTreeWidget(this);
    m_deviceList->setRootIsDecorated(false);
    m_deviceList->setColumnCount(3);
    m_deviceList->setSelectionMode(QAbstractItemView::SingleSelection);
    // The column widths were chosen for a narrower system font than ours: scale them by how much
    // wider a time stamp is here, so that "00:00:00.000" still fits its 80-pixel column.
    const double scale = std::max(1.0, (fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")) + 12) / 80.0);
    const int devWidths[] = {124, 154, 150};
    for (int i = 0; i < 3; ++i) m_deviceList->setColumnWidth(i, int(devWidths[i] * scale));
    m_logList = new QTreeWidget(this);
    m_logList->setRootIsDecorated(false);
    m_logList->setColumnCount(5);
    m_logList->setUniformRowHeights(true);
    const int logWidths[] = {72, 80, 110, 128, 512};
    for (int i = 0; i < 5; ++i) m_logList->setColumnWidth(i, int(logWidths[i] * scale));
    m_logList->hide();

    m_languages = new QComboBox(this);
    m_languages->addItems({QStringLiteral("English"), QStringLiteral("Russian")});
    m_interfaces = new QComboBox(this);
    for (int b = 0; b < kButtons; ++b) {
        m_buttons[b] = new QPushButton(this);
        m_buttons[b]->setAutoDefault(false);
    }
    m_buttons[kLog]->setCheckable(true);
    m_buttons[kClear]->hide();
    m_buttons[kExport]->hide();

    connect(m_buttons[kRefresh], &QPushButton::clicked, this, &CLanoraWin::Refresh);
    connect(m_buttons[kBlink], &QPushButton::clicked, this, &CLanoraWin::Blink);
    connect(m_buttons[kPing], &QPushButton::clicked, this, &CLanoraWin::Ping);
    connect(m_buttons[kSetup], &QPushButton::clicked, this, &CLanoraWin::Setup);
    connect(m_buttons[kPassport], &QPushButton::clicked, this, &CLanoraWin::Passport);
    connect(m_buttons[kLog], &QPushButton::toggled, this, &CLanoraWin::SetLogMode);
    connect(m_buttons[kClose], &QPushButton::clicked, this, &QWidget::close);
    connect(m_buttons[kClear], &QPushButton::clicked, this, &CLanoraWin::ClearLog);
    connect(m_buttons[kExport], &QPushButton::clicked, this, &CLanoraWin::ExportLog);
    connect(m_deviceList, &QTreeWidget::itemSelectionChanged, this, &CLanoraWin::UpdateControls);
    connect(m_deviceList, &QTreeWidget::itemDoubleClicked, this, [this] { Setup(); });
    connect(m_interfaces, &QComboBox::activated, this, &CLanoraWin::SelectInterface);
    connect(m_languages, &QComboBox::activated, this, &CLanoraWin::SetLanguage);

    Retranslate();
    Layout();
    UpdateControls();
}

CLanoraWin::~CLanoraWin() { m_listener.Stop(); }

QString CLanoraWin::T(int id) const { return QString::fromUtf8(LanoraText(id, m_language)); }

uint32_t CLanoraWin::LocalIp() const {
    int i = m_interfaces->currentIndex();
    return i >= 0 && size_t(i) < m_ifaces.size() ? m_ifaces[size_t(i)].ip : 0;
}

void CLanoraWin::Start() {
    QSettings s = Store();
    int lang = s.value("Layout/Language", LanoraDefaultLanguage(QLocale::system().name().toUtf8().constData()))
                   .toInt();
    m_language = lang == kLanoraRussian ? kLanoraRussian : kLanoraEnglish;
    m_languages->setCurrentIndex(m_language);
    Retranslate();
    int left = s.value("Layout/Left", -1).toInt(), top = s.value("Layout/Top", -1).toInt();
    if (left != -1 && top != -1) {
        int w = s.value("Layout/Width", -1).toInt(), h = s.value("Layout/Height", -1).toInt();
        move(left, top);
        if (w > 0 && h > 0) resize(std::max(w, kMinW), std::max(h, kMinH));
    }
    show();
    m_ifaces = ReadInterfaces();
    m_interfaces->clear();
    for (const auto& i : m_ifaces) m_interfaces->addItem(QString::fromStdString(ModuleIpText(i.ip)));
    if (m_ifaces.empty()) {
        UpdateControls();
        Message(3011, QMessageBox::Critical);
    } else {
        uint32_t stored = uint32_t(s.value("Config/LocalIP", 0).toInt());
        int pick = 0;
        for (size_t i = 0; i < m_ifaces.size(); ++i)
            if (m_ifaces[i].ip == stored) pick = int(i);
        m_interfaces->setCurrentIndex(pick);
        if (m_ifaces[size_t(pick)].ip != stored) s.setValue("Config/LocalIP", int32_t(m_ifaces[size_t(pick)].ip));
        UpdateControls();
        QTimer::singleShot(0, this, &CLanoraWin::Refresh);
    }
}

std::vector<RModuleInterface> CLanoraWin::ReadInterfaces() { return ModuleLocalInterfaces(); }

QMessageBox::StandardButton CLanoraWin::Message(int id, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton def) {
    QMessageBox box(icon, windowTitle(), T(id), buttons, this);
    if (def != QMessageBox::NoButton) box.setDefaultButton(def);
    return QMessageBox::StandardButton(box.exec());
}

bool CLanoraWin::RunSetupDialog(bool twoPort, RSetupValues& values) {
    CDlgNetParams dlg(twoPort, m_language, values, this);
    dlg.onInvalid = [this] { Message(3017, QMessageBox::Critical); };
    if (dlg.exec() != QDialog::Accepted) return false;
    values = dlg.Values();
    return true;
}

bool CLanoraWin::AskPassportAddress(uint32_t& ip) {
    CDlgPassportAddress dlg(m_language, this);
    dlg.onInvalid = [this] { Message(3017, QMessageBox::Critical); };
    if (dlg.exec() != QDialog::Accepted) return false;
    ip = dlg.Address();
    return true;
}

QString CLanoraWin::AskSaveFile(const QString& defaultName) {
    QFileDialog dlg(this);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilter(QtFilter(LanoraText(3018, m_language)));
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    dlg.selectFile(defaultName);  // the dialog asks before overwriting
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().first();
}

void CLanoraWin::StartPing(const QString& address) {
    auto* w = new CPingWindow(address);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
}

void CLanoraWin::Retranslate() {
    const int ids[kButtons] = {1001, 1002, 1004, 1003, 1005, 1006, 1000, 1007, 1008};
    for (int b = 0; b < kButtons; ++b) m_buttons[b]->setText(T(ids[b]));
    m_deviceList->setHeaderLabels({T(3001), T(3002), T(3003)});
    m_logList->setHeaderLabels({T(3040), T(3041), T(3042), T(3043), T(3044)});
}

void CLanoraWin::SetLanguage(int language) {
    m_language = language == kLanoraRussian ? kLanoraRussian : kLanoraEnglish;
    m_languages->setCurrentIndex(m_language);
    Store().setValue("Layout/Language", m_language);
    Retranslate();
}

int CLanoraWin::SelectedDevice() const {
    auto items = m_deviceList->selectedItems();
    if (items.isEmpty()) return -1;
    int row = m_deviceList->indexOfTopLevelItem(items.first());
    return row >= 0 && size_t(row) < m_devices.size() ? row : -1;
}

void CLanoraWin::UpdateControls() {
    RLanoraControls c = LanoraControlState(LocalIp() != 0, SelectedDevice() >= 0, m_logMode, m_log.Size() > 0);
    m_languages->setEnabled(c.language);
    m_interfaces->setEnabled(c.interfaces);
    m_buttons[kRefresh]->setEnabled(c.refresh);
    m_buttons[kBlink]->setEnabled(c.blink);
    m_buttons[kPing]->setEnabled(c.ping);
    m_buttons[kSetup]->setEnabled(c.setup);
    m_buttons[kPassport]->setEnabled(c.passport);
    m_buttons[kLog]->setEnabled(c.log);
    m_buttons[kClose]->setEnabled(c.close);
    m_buttons[kClear]->setEnabled(c.clear);
    m_buttons[kExport]->setEnabled(c.exportLog);
}

void CLanoraWin::FillDevices() {
    m_deviceList->clear();
    for (const auto& rec : m_devices) {
        const char* name = ModuleDeviceName(rec.Family(), rec.Variant());
        auto* item = new QTreeWidgetItem({QString::fromStdString(MacToText(rec.Mac())),
                                          QString::fromStdString(ModuleIpColumn(rec)),
                                          name ? QString::fromUtf8(name) : QString()});
        m_deviceList->addTopLevelItem(item);
    }
    UpdateControls();
}

void CLanoraWin::Refresh() {
    uint32_t local = LocalIp();
    if (!local || m_logMode) return;
    m_devices.clear();
    FillDevices();
    {
        CWaitCursor wait;
        m_devices = ModuleRefresh(local, m_timing);
    }
    FillDevices();
}

void CLanoraWin::Blink() {
    int row = SelectedDevice();
    if (row < 0 || !LocalIp()) return;
    RMac mac = m_devices[size_t(row)].Mac();
    RBroadcastResult r;
    {
        CWaitCursor wait;
        ModuleBroadcast(LocalIp(), EModuleMode::Blink, ModuleRequest(ModuleCmd::kBlink, &mac), r, m_timing);
    }
    Message(3012, QMessageBox::Information);
}

void CLanoraWin::Ping() {
    int row = SelectedDevice();
    if (row < 0) return;
    StartPing(QString::fromStdString(ModuleIpText(m_devices[size_t(row)].Port(0).ip)));
}

void CLanoraWin::Setup() {
    int row = SelectedDevice();
    if (row < 0 || !LocalIp() || m_logMode) return;
    RModuleListRecord& rec = m_devices[size_t(row)];
    RSetupValues v = LanoraSetupValues(rec);
    if (!RunSetupDialog(LanoraTwoPortSetup(rec), v)) return;
    RModuleListRecord changed = rec;
    auto request = LanoraApplySetup(changed, v);
    if (!request) return;
    if (Message(3014, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) !=
        QMessageBox::Yes)
        return;
    rec = changed;
    if (auto* item = m_deviceList->topLevelItem(row)) item->setText(1, QString::fromStdString(ModuleIpColumn(rec)));
    RBroadcastResult r;
    {
        CWaitCursor wait;
        ModuleBroadcast(LocalIp(), EModuleMode::Set, *request, r, m_timing);
    }
    Message(3013, QMessageBox::Information);
}

void CLanoraWin::Passport() {
    uint32_t local = LocalIp();
    if (!local) return;
    int row = SelectedDevice();
    RMac mac{};
    uint32_t ip = 0;
    if (row >= 0) {
        mac = m_devices[size_t(row)].Mac();
        ip = m_devices[size_t(row)].Port(0).ip;
    } else if (!AskPassportAddress(ip)) {
        return;
    }
    RPassportRead pr;
    bool ok;
    {
        CWaitCursor wait;
        ok = ModuleReadPassport(local, row >= 0 ? &mac : nullptr, ip, pr, m_timing);
    }
    if (!ok) {
        Message(3016, QMessageBox::Critical);
        return;
    }
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    QString path = AskSaveFile(QString::fromStdString(PassportDefaultName(pr.passport, t)) + QStringLiteral(".txt"));
    if (path.isEmpty()) return;
    if (!WriteTextFile(path.toStdString(), PassportFileText(pr.passport, ip, pr.pages)))
        Message(3019, QMessageBox::Critical);
}

void CLanoraWin::StartListener() {
    m_listener.Stop();
    // The listener thread hands each datagram to the window's thread and goes on: a blocking
    // hand-over could deadlock with Stop() waiting on the same thread.
    m_listener.Start(LocalIp(), [this](const uint8_t* d, size_t n) {
        QByteArray copy(reinterpret_cast<const char*>(d), qsizetype(n));
        qint64 at = QDateTime::currentMSecsSinceEpoch();
        QMetaObject::invokeMethod(this, [this, copy, at] { AddLogDatagram(copy, at); }, Qt::QueuedConnection);
    });
}

void CLanoraWin::SetLogMode(bool on) {
    if (on == m_logMode) return;
    if (on && !LocalIp()) {
        m_buttons[kLog]->setChecked(false);
        return;
    }
    m_logMode = on;
    {
        QSignalBlocker block(m_buttons[kLog]);
        m_buttons[kLog]->setChecked(on);
    }
    if (on)
        StartListener();
    else
        m_listener.Stop();
    m_deviceList->setVisible(!on);
    m_logList->setVisible(on);
    for (EButton b : {kRefresh, kBlink, kPing, kSetup, kPassport}) m_buttons[b]->setVisible(!on);
    m_buttons[kClear]->setVisible(on);
    m_buttons[kExport]->setVisible(on);
    UpdateControls();
}

void CLanoraWin::AddLogDatagram(const QByteArray& datagram, qint64 msSinceEpoch) {
    if (!m_logMode) return;  // arrived after the listener was stopped
    RLogMessage msg;
    if (!ParseLogMessage(reinterpret_cast<const uint8_t*>(datagram.constData()), size_t(datagram.size()), msg))
        return;
    QDateTime at = QDateTime::fromMSecsSinceEpoch(msSinceEpoch);
    std::time_t secs = std::time_t(msSinceEpoch / 1000);
    std::tm t{};
    localtime_r(&secs, &t);
    if (m_log.Add(msg, t, at.time().msec())) delete m_logList->takeTopLevelItem(0);
    const RLanoraLogEntry& e = m_log.At(m_log.Size() - 1);
    auto* item = new QTreeWidgetItem({QString::fromStdString(e.date), QString::fromStdString(e.time),
                                      QString::fromStdString(e.mac), e.model ? QString::fromUtf8(e.model) : QString(),
                                      QString::fromStdString(e.text)});
    m_logList->addTopLevelItem(item);
    m_logList->scrollToItem(item);
    UpdateControls();
}

void CLanoraWin::ClearLog() {
    m_log.Clear();
    m_logList->clear();
    UpdateControls();
}

void CLanoraWin::ExportLog() {
    if (m_log.Size() == 0) return;
    QString path = AskSaveFile(QString());
    if (path.isEmpty()) return;
    if (!WriteTextFile(path.toStdString(), m_log.ExportText())) Message(3019, QMessageBox::Critical);
}

void CLanoraWin::SelectInterface(int index) {
    if (index < 0 || size_t(index) >= m_ifaces.size()) return;
    m_interfaces->setCurrentIndex(index);
    Store().setValue("Config/LocalIP", int32_t(m_ifaces[size_t(index)].ip));
    if (m_logMode)
        StartListener();
    else
        Refresh();
}

void CLanoraWin::keyPressEvent(QKeyEvent* e) {
    // Enter and Escape neither close the window nor press a button.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

void CLanoraWin::Layout() {
    int dx = width() - kDesignW, dy = height() - kDesignH;
    QRect list(8, 8, kColumnX - 16, kDesignH - 16);
    list.adjust(0, 0, dx, dy);
    m_deviceList->setGeometry(list);
    m_logList->setGeometry(list);
    int x = kColumnX + dx;
    m_languages->setGeometry(x, 8, 128, 26);
    m_interfaces->setGeometry(x, 40, 128, 26);
    const EButton column[] = {kRefresh, kBlink, kPing, kSetup, kPassport, kLog};
    for (int i = 0; i < 6; ++i) m_buttons[column[i]]->setGeometry(x, 80 + 32 * i, 128, 28);
    m_buttons[kClear]->setGeometry(x, 80, 128, 28);
    m_buttons[kExport]->setGeometry(x, 112, 128, 28);
    m_buttons[kClose]->setGeometry(x, kDesignH - 36 + dy, 128, 28);
}

void CLanoraWin::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Layout();
}

void CLanoraWin::closeEvent(QCloseEvent* e) {
    m_listener.Stop();
    QSettings s = Store();
    QRect g = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    QPoint pos = isMaximized() || isMinimized() ? g.topLeft() : this->pos();
    s.setValue("Layout/Left", pos.x());
    s.setValue("Layout/Top", pos.y());
    s.setValue("Layout/Width", g.width());
    s.setValue("Layout/Height", g.height());
    QWidget::closeEvent(e);
}

CPingWindow::CPingWindow(const QString& address, QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("ping ") + address);
    resize(560, 320);
    auto* lay = new QVBoxLayout(this);
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setFont(QFont(QStringLiteral("Monospace")));
    lay->addWidget(m_text);
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_process, &QProcess::readyRead, this, [this] {
        m_text->moveCursor(QTextCursor::End);
        m_text->insertPlainText(QString::fromLocal8Bit(m_process->readAll()));
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError) {
        m_text->appendPlainText(m_process->errorString());
    });
    // Four echo requests, as the ping of the original platform sends by default.
    m_process->start(QStringLiteral("ping"), {QStringLiteral("-c"), QStringLiteral("4"), address});
}

CPingWindow::~CPingWindow() {
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

QString CPingWindow::Output() const { return m_text->toPlainText(); }
