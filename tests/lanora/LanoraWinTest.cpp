// Lanora's window. Everything that sends runs inside a namespace pair made here: the window
// on side 0 (198.18.0.1), simulated modules on side 1.
#include "common/TempDir.h"
#include "lanora/CDlgNetParams.h"
#include "lanora/CLanoraWin.h"
#include "lanora/LanoraStrings.h"
#include "modules/ChildProcess.h"
#include "modules/NetNs.h"
#include "sim/ModuleResponder.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {
uint32_t Ip(const char* s) {
    uint32_t ip = 0;
    ModuleIpFromText(s, ip);
    return ip;
}
std::string Bin(const char* name) {
    const char* dir = std::getenv("VARO_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}
}  // namespace

// The window with its dialogs and message boxes answered by the test.
class CTestWin : public CLanoraWin {
public:
    std::vector<RModuleInterface> ifaces;
    bool realInterfaces = false;
    std::vector<int> messages;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    std::function<bool(bool twoPort, RSetupValues&)> setup;
    uint32_t typedAddress = 0;
    QString savePath, offeredName;
    QStringList pinged;

protected:
    std::vector<RModuleInterface> ReadInterfaces() override {
        return realInterfaces ? CLanoraWin::ReadInterfaces() : ifaces;
    }
    QMessageBox::StandardButton Message(int id, QMessageBox::Icon, QMessageBox::StandardButtons,
                                        QMessageBox::StandardButton) override {
        messages.push_back(id);
        return answer;
    }
    bool RunSetupDialog(bool twoPort, RSetupValues& v) override { return setup && setup(twoPort, v); }
    bool AskPassportAddress(uint32_t& ip) override {
        ip = typedAddress;
        return ip != 0;
    }
    QString AskSaveFile(const QString& name) override {
        offeredName = name;
        return savePath;
    }
    void StartPing(const QString& address) override { pinged << address; }
};

class LanoraWinTest : public QObject {
    Q_OBJECT
private:
    TempDir m_dir;
    std::unique_ptr<CNetNsPair> m_ns;
    std::unique_ptr<CNetNsEnter> m_inside;
    std::vector<std::unique_ptr<CModuleResponder>> m_devices;

    bool NetReady() const { return m_inside && m_inside->Ok(); }
    CModuleResponder& AddDevice(const RModuleSimConfig& cfg) {
        CNetNsEnter in(m_ns->Name(1));
        m_devices.push_back(std::make_unique<CModuleResponder>(cfg));
        m_devices.back()->Start();
        return *m_devices.back();
    }
    static RModuleSimConfig Device(const char* ip, uint8_t lastMac) {
        RModuleSimConfig c;
        c.main = {Ip(ip), Ip("255.255.255.0"), Ip("198.18.0.254")};
        c.mac = {0x02, 0x56, 0x41, 0x00, 0x00, lastMac};
        return c;
    }
    std::unique_ptr<CTestWin> StartedWin() {
        auto w = std::make_unique<CTestWin>();
        w->realInterfaces = true;
        w->Timing().collectMs = 400;
        w->Timing().unicastMs = 400;
        w->Timing().settleMs = 50;
        w->Start();
        return w;
    }
    static int RowOf(CTestWin& w, const QString& mac) {
        for (int i = 0; i < w.DeviceList()->topLevelItemCount(); ++i)
            if (w.DeviceList()->topLevelItem(i)->text(0) == mac) return i;
        return -1;
    }
    static void Select(CTestWin& w, int row) {
        w.DeviceList()->clearSelection();
        if (row >= 0) w.DeviceList()->topLevelItem(row)->setSelected(true);
    }

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_dir.Path()));
        m_ns = std::make_unique<CNetNsPair>();
        if (m_ns->Ok()) {
            m_inside = std::make_unique<CNetNsEnter>(m_ns->Name(0));
            m_ns->AddAddress(1, "198.18.0.3/24");
            m_ns->AddAddress(1, "198.18.0.7/24");
        }
    }
    void cleanupTestCase() {
        m_devices.clear();
        m_inside.reset();
        m_ns.reset();
    }
    void init() { QSettings(QStringLiteral("Varo"), QStringLiteral("Lanora")).clear(); }
    void cleanup() { m_devices.clear(); }

    void ipValidationTable() {
        const struct {
            const char* ip;
            bool ok;
        } cases[] = {{"127.0.0.1", false}, {"10.0.0.0", false},       {"192.168.1.255", false}, {"0.0.0.1", false},
                     {"1.0.0.1", true},    {"223.255.255.254", true}, {"224.1.1.1", false},      {"1.2.3", false}};
        for (const auto& c : cases) {
            RSetupValues v;
            CDlgNetParams dlg(false, kLanoraEnglish, v);
            int refused = 0;
            dlg.onInvalid = [&] { ++refused; };
            dlg.Field(0, 0)->setText(QString::fromLatin1(c.ip));
            QCOMPARE(dlg.TryAccept(), c.ok);
            QCOMPARE(refused, c.ok ? 0 : 1);
            if (c.ok) QCOMPARE(ModuleIpText(dlg.Values().main.ip), std::string(c.ip));
            CDlgPassportAddress typed(kLanoraEnglish);
            typed.Field()->setText(QString::fromLatin1(c.ip));
            QCOMPARE(typed.TryAccept(), c.ok);
        }
        // The two-port dialog checks the data port's address as well; masks go as entered.
        RSetupValues v{{Ip("10.0.0.5"), Ip("255.0.0.0"), 0}, {Ip("10.1.0.5"), 0, 0}};
        CDlgNetParams two(true, kLanoraEnglish, v);
        QCOMPARE(two.Field(1, 0)->text(), QStringLiteral("10.1.0.5"));
        two.Field(1, 0)->setText(QStringLiteral("10.1.0.255"));
        QVERIFY(!two.TryAccept());
        two.Field(1, 0)->setText(QStringLiteral("10.1.0.6"));
        two.Field(0, 1)->setText(QStringLiteral("1.2.3.4"));
        QVERIFY(two.TryAccept());
        QCOMPARE(two.Values().second.ip, Ip("10.1.0.6"));
        QCOMPARE(two.Values().main.mask, Ip("1.2.3.4"));
    }

    void noInterfaceLeavesLanguageAndClose() {
        CTestWin w;
        w.Start();
        QCOMPARE(w.messages, std::vector<int>{3011});
        QVERIFY(w.Languages()->isEnabled());
        QVERIFY(w.Button(CLanoraWin::kClose)->isEnabled());
        QVERIFY(!w.Interfaces()->isEnabled());
        for (auto b : {CLanoraWin::kRefresh, CLanoraWin::kBlink, CLanoraWin::kPing, CLanoraWin::kSetup,
                       CLanoraWin::kPassport, CLanoraWin::kLog})
            QVERIFY2(!w.Button(b)->isEnabled(), qPrintable(w.Button(b)->text()));
        w.Refresh();
        w.Passport();
        QVERIFY(w.Devices().empty());
        QCOMPARE(w.messages.size(), size_t(1));
    }

    void languageAndPlacement() {
        {
            QSettings s(QStringLiteral("Varo"), QStringLiteral("Lanora"));
            s.setValue("Layout/Language", 1);
            s.setValue("Layout/Left", -1);
            s.setValue("Layout/Top", 140);
            s.setValue("Layout/Width", 900);
            s.setValue("Layout/Height", 500);
        }
        CTestWin w;
        w.Start();
        QCOMPARE(w.Button(CLanoraWin::kRefresh)->text(), QString::fromUtf8("Обновить"));
        QCOMPARE(w.DeviceList()->headerItem()->text(2), QString::fromUtf8("Модель"));
        QVERIFY2(w.width() != 900, "placement needs both Left and Top");
        w.SetLanguage(kLanoraEnglish);
        QCOMPARE(w.Button(CLanoraWin::kRefresh)->text(), QStringLiteral("Refresh"));
        QCOMPARE(w.LogList()->headerItem()->text(4), QStringLiteral("Message"));
        w.resize(800, 420);
        w.close();
        QSettings s(QStringLiteral("Varo"), QStringLiteral("Lanora"));
        QCOMPARE(s.value("Layout/Language").toInt(), 0);
        QCOMPARE(s.value("Layout/Width").toInt(), 800);
        QCOMPARE(s.value("Layout/Height").toInt(), 420);
        QVERIFY(s.value("Layout/Left").toInt() != -1);
        CTestWin again;
        again.Start();
        QCOMPARE(again.size(), QSize(800, 420));
    }

    void resizingMovesTheControls() {
        CTestWin w;
        w.show();
        QCOMPARE(w.minimumSize(), QSize(450, 292));
        QRect list = w.DeviceList()->geometry(), close = w.Button(CLanoraWin::kClose)->geometry();
        QRect refresh = w.Button(CLanoraWin::kRefresh)->geometry(), iface = w.Interfaces()->geometry();
        w.resize(w.width() + 100, w.height() + 50);
        QCOMPARE(w.DeviceList()->geometry(), list.adjusted(0, 0, 100, 50));
        QCOMPARE(w.LogList()->geometry(), list.adjusted(0, 0, 100, 50));
        QCOMPARE(w.Button(CLanoraWin::kClose)->geometry(), close.translated(100, 50));
        QCOMPARE(w.Button(CLanoraWin::kRefresh)->geometry(), refresh.translated(100, 0));
        QCOMPARE(w.Interfaces()->geometry(), iface.translated(100, 0));
        QTest::keyClick(&w, Qt::Key_Escape);
        QTest::keyClick(&w, Qt::Key_Return);
        QVERIFY(w.isVisible());
    }

    void refreshSetupBlinkPing() {
        if (!NetReady()) QSKIP("network namespaces cannot be created here");
        auto one = Device("198.18.0.2", 0x20);
        one.family = 0x0201, one.variant = 1;
        auto& dev1 = AddDevice(one);
        auto two = Device("198.18.0.3", 0x10);
        two.ports = 2, two.second = {Ip("10.7.0.3"), Ip("255.255.0.0"), 0};
        auto& dev2 = AddDevice(two);
        auto w = StartedWin();
        QCOMPARE(w->Interfaces()->currentText(), QStringLiteral("198.18.0.1"));
        QTRY_COMPARE_WITH_TIMEOUT(w->DeviceList()->topLevelItemCount(), 2, 5000);
        auto* top = w->DeviceList()->topLevelItem(0);
        QCOMPARE(top->text(0), QStringLiteral("02:56:41:00:00:10"));
        QCOMPARE(top->text(1), QStringLiteral("198.18.0.3 / 10.7.0.3"));
        QCOMPARE(w->DeviceList()->topLevelItem(1)->text(2), QStringLiteral("Varo CT-5 Caption Titler"));
        QCOMPARE(QSettings(QStringLiteral("Varo"), QStringLiteral("Lanora")).value("Config/LocalIP").toInt(),
                 int(Ip("198.18.0.1")));
        QVERIFY(!w->Button(CLanoraWin::kSetup)->isEnabled());

        // Unchanged values: nothing asked, nothing sent.
        Select(*w, 1);
        QVERIFY(w->Button(CLanoraWin::kSetup)->isEnabled());
        int before = dev1.Requests();
        bool sawTwoPort = true;
        w->setup = [&](bool twoPort, RSetupValues&) { return sawTwoPort = twoPort, true; };
        w->Setup();
        QVERIFY(!sawTwoPort);
        QVERIFY(w->messages.empty());
        QTest::qWait(150);
        QCOMPARE(dev1.Requests(), before);

        // Changed, but the operator answers No to the warning: still nothing.
        w->setup = [](bool, RSetupValues& v) { return v.main.ip = Ip("198.18.0.7"), true; };
        w->answer = QMessageBox::No;
        w->Setup();
        QCOMPARE(w->messages, std::vector<int>{3014});
        QCOMPARE(w->Devices()[1].Port(0).ip, Ip("198.18.0.2"));

        w->answer = QMessageBox::Yes;
        w->messages.clear();
        w->Setup();
        QCOMPARE(w->messages, (std::vector<int>{3014, 3013}));
        QCOMPARE(w->DeviceList()->topLevelItem(1)->text(1), QStringLiteral("198.18.0.7"));
        QTRY_COMPARE(dev1.Address(0).ip, Ip("198.18.0.7"));

        // Two-port module: the extended request moves the data port.
        Select(*w, 0);
        w->setup = [&](bool twoPort, RSetupValues& v) {
            sawTwoPort = twoPort;
            v.second.ip = Ip("10.7.0.33");
            return true;
        };
        w->Setup();
        QVERIFY(sawTwoPort);
        QTRY_COMPARE(dev2.Address(1).ip, Ip("10.7.0.33"));
        QCOMPARE(dev2.Address(0).ip, Ip("198.18.0.3"));

        w->messages.clear();
        w->Blink();
        QCOMPARE(w->messages, std::vector<int>{3012});
        QTRY_COMPARE(dev2.Blinks(), 1);
        QCOMPARE(dev1.Blinks(), 0);
        w->Ping();
        QCOMPARE(w->pinged, QStringList{QStringLiteral("198.18.0.3")});

        w->Refresh();
        QCOMPARE(w->DeviceList()->topLevelItem(1)->text(1), QStringLiteral("198.18.0.7"));
    }

    void pingWindowShowsPingOutput() {
        if (!NetReady()) QSKIP("network namespaces cannot be created here");
        AddDevice(Device("198.18.0.2", 1));
        CPingWindow ping(QStringLiteral("198.18.0.2"));
        QTRY_VERIFY_WITH_TIMEOUT(ping.Output().contains(QStringLiteral("from 198.18.0.2")), 5000);
    }

    void passportByMacAndByAddress() {
        if (!NetReady()) QSKIP("network namespaces cannot be created here");
        auto c = Device("198.18.0.2", 0x31);
        c.historyMarkers = true;
        c.historyPages = {"Started", "Stopped"};
        AddDevice(c);
        auto w = StartedWin();
        QTRY_COMPARE_WITH_TIMEOUT(w->DeviceList()->topLevelItemCount(), 1, 5000);
        Select(*w, 0);
        w->savePath = QString::fromStdString(m_dir.File("pass.txt"));
        w->Passport();
        QVERIFY(w->messages.empty());
        QVERIFY(w->offeredName.startsWith(QStringLiteral("passport_025641000031_20")));
        QVERIFY(w->offeredName.endsWith(QStringLiteral(".txt")));
        QCOMPARE(w->offeredName.size(), QStringLiteral("passport_025641000031_20261210120000.txt").size());
        std::string text = TempDir::ReadAll(m_dir.File("pass.txt"));
        QVERIFY(text.rfind("---DEVICEPASSPORT---\n010000003E000000A2010000C6120002", 0) == 0);
        QVERIFY(text.find("---DATAEND---\n---HISTORY PAGE 1---\nStarted\n---HISTORY PAGE 2---\nStopped\n") !=
                std::string::npos);

        // Cancelled save dialog: nothing written.
        std::filesystem::remove(m_dir.File("pass.txt"));
        w->savePath.clear();
        w->Passport();
        QVERIFY(!std::filesystem::exists(m_dir.File("pass.txt")));

        // Typed address without a selection; nobody there gives 3016.
        Select(*w, -1);
        w->savePath = QString::fromStdString(m_dir.File("typed.txt"));
        w->typedAddress = Ip("198.18.0.2");
        w->Passport();
        QVERIFY(w->messages.empty());
        QVERIFY(std::filesystem::exists(m_dir.File("typed.txt")));
        w->typedAddress = Ip("198.18.0.99");
        w->Passport();
        QCOMPARE(w->messages, std::vector<int>{3016});
        w->messages.clear();
        w->typedAddress = Ip("198.18.0.2");
        w->savePath = QStringLiteral("/nonexistent-dir/p.txt");
        w->Passport();
        QCOMPARE(w->messages, std::vector<int>{3019});
    }

    void logModeListsExportsAndClears() {
        if (!NetReady()) QSKIP("network namespaces cannot be created here");
        auto c = Device("198.18.0.2", 0x44);
        c.family = 0x0401, c.variant = 1;
        auto& dev = AddDevice(c);
        auto w = StartedWin();
        w->Button(CLanoraWin::kLog)->click();
        QVERIFY(w->LogMode());
        QVERIFY(w->LogList()->isVisibleTo(w.get()) && !w->DeviceList()->isVisibleTo(w.get()));
        QVERIFY(w->Button(CLanoraWin::kClear)->isVisibleTo(w.get()));
        QVERIFY(!w->Button(CLanoraWin::kRefresh)->isVisibleTo(w.get()));
        QVERIFY(!w->Interfaces()->isEnabled());
        QVERIFY(!w->Button(CLanoraWin::kExport)->isEnabled());
        {
            CNetNsEnter in(m_ns->Name(1));
            dev.SendLog("Input 1 lost", Ip("198.18.0.1"));
            dev.SendLog("Input 1 back");
        }
        QTRY_COMPARE(w->LogList()->topLevelItemCount(), 2);
        auto* item = w->LogList()->topLevelItem(0);
        QCOMPARE(item->text(2), QStringLiteral("02:56:41:00:00:44"));
        QCOMPARE(item->text(3), QStringLiteral("Varo MV-4 Multiviewer"));
        QCOMPARE(item->text(4), QStringLiteral("Input 1 lost"));
        QVERIFY(w->Button(CLanoraWin::kExport)->isEnabled());
        w->savePath = QString::fromStdString(m_dir.File("log.txt"));
        w->ExportLog();
        std::string exported = TempDir::ReadAll(m_dir.File("log.txt"));
        QCOMPARE(std::count(exported.begin(), exported.end(), '\n'), 2L);
        QVERIFY(exported.find(";02:56:41:00:00:44;Varo MV-4 Multiviewer;Input 1 back;\n") != std::string::npos);

        // The 1001st message removes the first one, from the list as well.
        std::vector<uint8_t> d(18, 0);
        std::memcpy(d.data(), "WiZnLoGe", 8);
        for (int i = 0; i < 1000; ++i) {
            std::string text = "m" + std::to_string(i);
            QByteArray b(reinterpret_cast<const char*>(d.data()), 18);
            w->AddLogDatagram(b + QByteArray::fromStdString(text), QDateTime::currentMSecsSinceEpoch());
        }
        QCOMPARE(w->LogList()->topLevelItemCount(), 1000);
        QCOMPARE(w->LogList()->topLevelItem(0)->text(4), QStringLiteral("m0"));
        QCOMPARE(w->Log().At(0).text, std::string("m0"));
        w->Button(CLanoraWin::kClear)->click();
        QCOMPARE(w->LogList()->topLevelItemCount(), 0);
        QVERIFY(!w->Button(CLanoraWin::kExport)->isEnabled());

        w->Button(CLanoraWin::kLog)->click();
        QVERIFY(!w->LogMode());
        QVERIFY(w->DeviceList()->isVisibleTo(w.get()));
        QVERIFY(w->Interfaces()->isEnabled());
        {
            CNetNsEnter in(m_ns->Name(1));
            dev.SendLog("after stop", Ip("198.18.0.1"));
        }
        QTest::qWait(200);
        QCOMPARE(w->Log().Size(), size_t(0));
    }

    void choosingAnotherInterface() {
        if (!NetReady()) QSKIP("network namespaces cannot be created here");
        QVERIFY(m_ns->AddAddress(0, "198.18.0.11/24"));
        auto& dev = AddDevice(Device("198.18.0.2", 0x55));
        auto w = StartedWin();
        QCOMPARE(w->Interfaces()->count(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(w->DeviceList()->topLevelItemCount(), 1, 5000);
        int before = dev.Requests();
        w->SelectInterface(1);
        QCOMPARE(w->LocalIp(), Ip("198.18.0.11"));
        QCOMPARE(QSettings(QStringLiteral("Varo"), QStringLiteral("Lanora")).value("Config/LocalIP").toInt(),
                 int(Ip("198.18.0.11")));
        QVERIFY2(dev.Requests() >= before + 4, "a refresh from the new interface (two requests, two ports)");
        QCOMPARE(w->DeviceList()->topLevelItemCount(), 1);
        // In log mode the listener moves instead.
        w->SetLogMode(true);
        w->SelectInterface(0);
        QCOMPARE(dev.Requests(), before + 4);
        {
            CNetNsEnter in(m_ns->Name(1));
            dev.SendLog("on the first interface", Ip("198.18.0.1"));
        }
        QTRY_COMPARE(w->Log().Size(), size_t(1));
        w->SetLogMode(false);
        CNetNsPair::Run("ip -n " + m_ns->Name(0) + " addr del 198.18.0.11/24 dev vethA");
    }

    // Refresh, setup and passport against varosim, the device simulator, as a program of its own.
    void endToEndAgainstSimulator() {
        if (!NetReady()) QSKIP("network namespaces cannot be created here");
        auto sim = [&](const std::string& ip, std::vector<std::string> args) {
            std::vector<std::string> argv = {"ip",        "netns", "exec",      m_ns->Name(1), Bin("varosim"),
                                             "--tcp",     ip,      "--image",   m_dir.File(ip + ".img"),
                                             "--discovery", ip};
            argv.insert(argv.end(), args.begin(), args.end());
            auto p = std::make_unique<CChildProcess>(argv);
            [&] { QVERIFY(p->WaitFor("discovery on", 5000)); }();
            return p;
        };
        auto a = sim("198.18.0.2", {"--mac", "02:56:00:00:00:0A", "--family", "0x0302"});
        auto b = sim("198.18.0.3", {"--mac", "02:56:00:00:00:0B", "--ports", "2", "--ip2", "10.9.0.3", "--history", "1"});
        auto w = std::make_unique<CTestWin>();
        w->realInterfaces = true;
        w->Start();  // the full 2000 ms waits of a real refresh
        QTRY_COMPARE_WITH_TIMEOUT(w->DeviceList()->topLevelItemCount(), 2, 8000);
        QCOMPARE(w->DeviceList()->topLevelItem(0)->text(2), QStringLiteral("Varo TS-10 Test Table Generator"));
        QCOMPARE(w->DeviceList()->topLevelItem(1)->text(1), QStringLiteral("198.18.0.3 / 10.9.0.3"));

        Select(*w, 0);
        w->setup = [](bool, RSetupValues& v) { return v.main.gateway = Ip("198.18.0.1"), true; };
        w->Setup();
        QCOMPARE(w->messages, (std::vector<int>{3014, 3013}));
        w->Refresh();
        QCOMPARE(w->Devices().size(), size_t(2));
        QCOMPARE(w->Devices()[0].Port(0).gateway, Ip("198.18.0.1"));

        Select(*w, 1);
        w->savePath = QString::fromStdString(m_dir.File("e2e.txt"));
        w->Passport();
        std::string text = TempDir::ReadAll(m_dir.File("e2e.txt"));
        QVERIFY(text.find("---HISTORY PAGE 1---\nHistory page 1: power on, link up\n") != std::string::npos);
        QVERIFY(text.find("C6120003") != std::string::npos);
    }
};

QTEST_MAIN(LanoraWinTest)
#include "LanoraWinTest.moc"
