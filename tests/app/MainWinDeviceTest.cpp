// The main window against simulated devices: connect, signature, model tabs, pages.
#include "../eth/NetSim.h"
#include "../link/LinkTestSupport.h"
#include "app/ui/CMainWin.h"
#include "app/ui/CPageView.h"
#include "app/ConfigStore.h"
#include "app/ProgramFolder.h"
#include "common/TempDir.h"
#include "devicedata/ui/CSettingsPageView.h"
#include "model/CPnPSettings.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QtTest>

namespace {
QString BinDir() { return qEnvironmentVariable("VARO_BIN_DIR") + "/"; }
}  // namespace

class MainWinDeviceTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempDir> m_dir;
    QStringList m_messages;
    QStringList m_questions;
    bool m_answer = false;

    void Hook(CMainWin& w) {
        w.messageHook = [this](const QString& t, MsgIcon) { m_messages << t; };
        w.questionHook = [this](const QString& t, MsgIcon, bool) {
            m_questions << t;
            return m_answer;
        };
    }
    static bool Idle(CMainWin& w) { return !w.Ops().Busy(); }
    static int NodeIndex(CSettingsPageView* v, const std::string& name) {
        auto* el = static_cast<CPnPSettings*>(v->Element());
        for (size_t i = 0; i < el->nodes.size(); ++i)
            if (el->nodes[i]->name == name) return int(i);
        return -1;
    }
    // Reads device memory through the window's own operation protocol.
    static std::vector<uint8_t> ReadDevice(CMainWin& w, uint32_t address, int size) {
        RDeviceContext& ctx = w.Session().Context();
        ctx.ops->Begin(kOpSlotRead, size);
        ctx.engine->StartCommand(size, 3, address, ctx.buffer);
        if (!QTest::qWaitFor([&] { return Idle(w); }, 20000)) return {};
        return std::vector<uint8_t>(ctx.buffer, ctx.buffer + size);
    }

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        SetProgramFolder(BinDir().toStdString());
        AppStore().SetPath(m_dir->File("VaroConfig.ini"));
        m_messages.clear();
        m_questions.clear();
    }

    void ethernetConnectShowsTheModelsTabs() {
        uint32_t ip = NetSim::NextAddress();
        NetSim sim({"--tcp", IpToString(ip), "--model", BinDir().toStdString() + "ModelsPnP/HD-OVL.xml"},
                   m_dir->File("dev.img"));
        QVERIFY(sim.Ready());
        AppStore().WriteInt("Main", "Interface", 3);
        AppStore().WriteInt("Main", "ManualIP", 1);
        AppStore().WriteInt("Main", "IP", IpToStored(ip));
        CMainWin w;
        Hook(w);
        w.show();
        w.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && w.Session().model, 20000);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("|")));
        QCOMPARE(w.ModelLabel()->text(), QString("HD-OVL"));
        const auto& groups = w.Session().model->groupNames;
        QCOMPARE(w.TopTabs()->count(), int(groups.size()) + 1);
        QCOMPARE(w.TopTabs()->tabText(0), QString("Device"));
        QCOMPARE(w.TopTabs()->tabText(1), QString::fromStdString(groups[0]));

        // A settings page opens by reading its records and shows its tree.
        CSettingsPageView* settings = nullptr;
        for (int t = 1; t < w.TopTabs()->count() && !settings; ++t) {
            w.TopTabs()->setCurrentIndex(t);
            settings = qobject_cast<CSettingsPageView*>(w.CurrentPageView());
        }
        QVERIFY(settings);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        QVERIFY(settings->Tree()->topLevelItemCount() > 0);
        QVERIFY(m_messages.isEmpty());

        // Changing a register setting writes one byte; a block setting one sealed record.
        // Tabs are disabled while a page reads: choose the row, wait, then the page.
        QVERIFY(w.SelectPage("Overlay"));
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        QVERIFY(w.SelectPage("Overlay", "Live adjustments"));
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        auto* live = qobject_cast<CSettingsPageView*>(w.CurrentPageView());
        QVERIFY(live);
        QVERIFY(live->Page().Select(NodeIndex(live, "Key clip")));
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        live->Page().MoveSlider(40);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        QCOMPARE(ReadDevice(w, 0xF0000005, 1), std::vector<uint8_t>{40});

        QVERIFY(w.SelectPage("Overlay", "Logo and caption"));
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        auto* logo = qobject_cast<CSettingsPageView*>(w.CurrentPageView());
        QVERIFY(logo);
        std::vector<uint8_t> before = ReadDevice(w, 0x3000, 128);
        QVERIFY(logo->Page().Select(NodeIndex(logo, "Position X")));
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        logo->Page().StepDown();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        std::vector<uint8_t> after = ReadDevice(w, 0x3000, 128);
        QVERIFY(PnPBlockSealOk(after));
        QCOMPARE(after[1] | (after[2] << 8), 1598);  // 1600 one step of 2 down
        int changed = 0;
        for (size_t i = 0; i < 126; ++i) changed += before[i] != after[i];
        QVERIFY(changed >= 1 && changed <= 2);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("|")));

        // Typing a new address with "Enter IP": an incomplete one keeps the old address.
        w.TopTabs()->setCurrentIndex(0);
        w.AddressEdit()->setText("10.0.0");
        QTest::mouseClick(w.ConnectButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        QCOMPARE(w.Session().deviceIp, ip);
    }

    void serialRs422FromThePortTableAndStop() {
        TempDir dir;
        SimProcess sim(dir, {"--dialect", "pointb", "--model", BinDir().toStdString() + "ModelsPnP/HD-OVL.xml",
                             "--baud", "38400"});
        QVERIFY(sim.Ready());
        AppStore().WriteInt("Main", "Interface", 1);
        AppStore().WriteInt("Main", "Port", 2);
        AppStore().WriteString("Ports", "COM3", sim.Path());
        CMainWin w;
        Hook(w);
        w.show();
        w.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && w.Session().model, 30000);
        QCOMPARE(w.ModelLabel()->text(), QString("HD-OVL"));

        // A long read at the line's pace; "Stop operation" ends it at the next progress.
        RDeviceContext& ctx = w.Session().Context();
        ctx.ops->Begin(kOpSlotRead, 0x10000);
        ctx.engine->StartCommand(0x10000, 3, 0x000000, ctx.buffer);
        QTRY_VERIFY_WITH_TIMEOUT(w.ActivityLabel()->text().startsWith("Reading @"), 5000);
        QVERIFY(w.StopButton()->isEnabled());
        QVERIFY(!w.ConnectButton()->isEnabled());  // everything but "Stop operation" is disabled
        QVERIFY(!w.TopTabs()->isEnabled());
        QTest::mouseClick(w.StopButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 20000);
        QCOMPARE(m_messages, QStringList{"Operation aborted."});
    }

    void deviceWithoutSignatureOffersTheModelList() {
        uint32_t ip = NetSim::NextAddress();
        NetSim sim({"--udp", IpToString(ip), "--signature", ""}, m_dir->File("dev.img"));
        QVERIFY(sim.Ready());
        AppStore().WriteInt("Main", "Interface", 4);
        AppStore().WriteInt("Main", "ManualIP", 1);
        AppStore().WriteInt("Main", "IP", IpToStored(ip));
        AppStore().WriteString("Main", "ModelName", "VOL-100");
        CMainWin w;
        Hook(w);
        w.show();
        w.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && !m_messages.isEmpty(), 20000);
        QCOMPARE(m_messages.first(),
                 QString("Plug&Play information not detected!\n\nPlease select your device model from the list."));
        QVERIFY(!w.Session().signatureMode);
        QVERIFY(w.Session().model);
        QCOMPARE(QString::fromStdString(w.Session().EffectiveModelName()), QString("VOL-100"));
        QVERIFY(!w.ModelLabel()->isVisibleTo(&w));
    }

    void rs485ScanWithNoDevice() {
        TempDir dir;
        SimProcess sim(dir, {"--dialect", "busb", "--bus-address", "9"});
        QVERIFY(sim.Ready());
        sim.Pause();
        AppStore().WriteInt("Main", "Interface", 2);
        AppStore().WriteString("Ports", "COM1", sim.Path());
        CMainWin w;
        Hook(w);
        w.show();
        w.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && !m_messages.isEmpty(), 30000);
        sim.Resume();
        QCOMPARE(m_messages, QStringList{"No compatible devices found!"});
        QVERIFY(!w.Session().model);
        QCOMPARE(w.BusList()->count(), 0);
        QCOMPARE(w.TopTabs()->count(), 1);
    }

    void closingIsRefusedWhileBusy() {
        CMainWin w;
        Hook(w);
        w.show();
        w.Ops().Begin(kOpSlotRead, 10);
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        w.Ops().End();
        QVERIFY(w.close());
    }
};

QTEST_MAIN(MainWinDeviceTest)
#include "MainWinDeviceTest.moc"
