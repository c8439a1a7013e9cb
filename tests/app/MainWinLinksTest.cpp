// The real window, with its own notifier and the engine's link threads, against varosim on
// every connection an operator can choose: a settings page read in several commands, a setting
// changed and found in the device's memory, "Reset to default" for all, "Stop operation"
// during a long read, and "E&xit".
#include "WindowSimRig.h"
#include "app/ProgramFolder.h"
#include "app/ui/CPageView.h"
#include "devicedata/ui/CSettingsPageView.h"
#include "devicedata/ui/elements/CBinView.h"
#include "model/CPnPGroupSettings.h"
#include "model/CPnPSettings.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <memory>

namespace {
QString BinDir() { return qEnvironmentVariable("VARO_BIN_DIR") + "/"; }

int NodeIndex(CSettingsPageView* v, const QString& name) {
    auto* el = static_cast<CPnPSettings*>(v->Element());
    for (size_t i = 0; i < el->nodes.size(); ++i)
        if (QString::fromStdString(el->nodes[i]->name) == name) return int(i);
    return -1;
}
}  // namespace

class MainWinLinksTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempDir> m_dir;
    RWindowOperator m_op;

    static bool Idle(CMainWin& w) { return !w.Ops().Busy(); }

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        SetProgramFolder(BinDir().toStdString());
        AppStore().SetPath(m_dir->File("VaroConfig.ini"));
        m_op = {};
    }

    void operatorSessionOnEveryConnection_data() {
        QTest::addColumn<int>("interface");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("stepUp");   // 1: ">" once, 0: "<" once
        QTest::addColumn<int>("before");   // the setting's value as the device starts
        QTest::addColumn<int>("longRead");  // bytes of the read that "Stop operation" ends

        // RS-232 speaks the short frames of a logo inserter: register settings, each read with
        // its limits in a command of its own.
        QTest::newRow("RS-232") << 0 << "SD-OVL" << "Logo inserter" << "Position X (x4 pixels)" << 0 << 140
                                << 0x10000;
        // The others: a settings group of four block records, read one record per command.
        QTest::newRow("RS-422") << 1 << "HD-OVL" << "Inputs" << "Input 3 delay (lines)" << 1 << 0 << 0x10000;
        // RS-485: a device with a page flash chip, its model made by the test.
        QTest::newRow("RS-485") << 2 << "BUS-OVL" << "Bus inserter" << "Position X" << 0 << 140 << 0x10000;
        QTest::newRow("TCP") << 3 << "HD-OVL" << "Inputs" << "Input 3 delay (lines)" << 1 << 0 << 0x800000;
        QTest::newRow("UDP") << 4 << "HD-OVL" << "Inputs" << "Input 3 delay (lines)" << 1 << 0 << 0x800000;
    }

    void operatorSessionOnEveryConnection() {
        QFETCH(int, interface);
        QFETCH(QString, model);
        QFETCH(QString, page);
        QFETCH(QString, setting);
        QFETCH(int, stepUp);
        QFETCH(int, before);
        QFETCH(int, longRead);

        std::string modelFile = BinDir().toStdString() + "ModelsPnP/" + model.toStdString() + ".xml";
        if (model == "BUS-OVL") {
            // Register settings in the first bytes of an AT45 page; the program folder is the
            // test's own so the window finds the model by the signature.
            std::filesystem::create_directories(m_dir->File("ModelsPnP"));
            modelFile = m_dir->File("ModelsPnP/BUS-OVL.xml");
            TempDir::WriteAll(modelFile, R"(<?xml version="1.0" encoding="ISO-8859-1"?>
<device><pnp>
  <settings name="Bus inserter" address="0x10000">
    <node name="Line">
      <node name="Termination" address="20" sim_min="0" sim_max="1" sim_default="1"/>
    </node>
    <node name="Logo">
      <node name="Logo slot" address="0" sim_min="0" sim_max="3" sim_default="0">
        <list value="0" name="Logo 1"/><list value="1" name="Logo 2"/>
      </node>
      <node name="Position X" address="5" sim_min="0" sim_max="148" sim_default="140" sim_step="1"/>
      <node name="Position Y" address="10" sim_min="0" sim_max="130" sim_default="10" sim_step="1"/>
      <node name="Blink" address="15" sim_min="0" sim_max="1" sim_default="0"/>
    </node>
  </settings>
</pnp></device>
)");
            SetProgramFolder(m_dir->Path() + "/");
        }
        // Serial devices are paced like the real line, so the long read is still running when
        // Stop is pressed.
        std::vector<std::string> args{"--baud", "38400"};
        if (interface == 0) args.insert(args.end(), {"--dialect", "short2"});
        if (interface == 1) args.insert(args.end(), {"--dialect", "pointb"});
        if (interface == 2) args.insert(args.end(), {"--dialect", "busb", "--bus-address", "17", "--chip", "AT45DB642D"});
        RWindowSimDevice dev;
        QVERIFY(dev.Start(*m_dir, interface, modelFile, args));

        CMainWin w;
        m_op.Attach(w);
        w.show();
        w.Start();
        // Detection: the bus scan first on RS-485, then the signature and the model's tabs.
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && w.Session().model, 60000);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QCOMPARE(w.ModelLabel()->text(), model);
        if (interface == 2) {
            QCOMPARE(w.BusList()->count(), 1);
            QCOMPARE(w.BusList()->currentText(), QString("017"));
        }

        // Opening the page reads it in several commands.
        QVERIFY(w.SelectPage(page));
        auto* view = qobject_cast<CSettingsPageView*>(w.CurrentPageView());
        QVERIFY(view);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 60000);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(view->Tree()->topLevelItemCount() > 0);

        // The operator picks the setting and clicks "<" or ">".
        auto* el = static_cast<CPnPSettings*>(view->Element());
        const int node = NodeIndex(view, setting);
        QVERIFY(node >= 0);
        const CPnPSettingsNode& n = *el->nodes[size_t(node)];
        uint32_t at;
        if (CPnPBlockSettings* block = PnPBlockOfNode(el, n))
            at = block->address + n.address;
        else
            at = el->RegisterAddress(n);
        QCOMPARE(int(dev.Bytes(at, 1).at(0)), before);
        view->Tree()->setCurrentItem(view->ItemOfNode(node));
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 30000);
        auto* step = view->findChild<QPushButton*>(stepUp ? "settingsUp" : "settingsDown");
        QVERIFY(step && step->isVisible() && step->isEnabled());
        QTest::mouseClick(step, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 30000);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        const int changed = stepUp ? before + 1 : before - 1;
        QCOMPARE(int(dev.Bytes(at, 1).at(0)), changed);

        // "Reset to default" on the setting's heading asks, then writes the defaults back: every
        // register of register settings, the whole record of the heading's block.
        QTreeWidgetItem* heading = view->ItemOfNode(node)->parent();
        QVERIFY(heading);
        view->Tree()->setCurrentItem(heading);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 30000);
        auto* reset = view->findChild<QPushButton*>("settingsReset");
        QVERIFY(reset && reset->isEnabled());
        QTest::mouseClick(reset, Qt::LeftButton);
        QCOMPARE(m_op.questions, QStringList{"Reset all settings to default?"});
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 60000);
        QCOMPARE(m_op.messages, QStringList{"Write complete."});
        QCOMPARE(int(dev.Bytes(at, 1).at(0)), int(n.def));
        m_op.messages.clear();

        // A long read, begun the way a page begins one; "Stop operation" ends it.
        RDeviceContext& ctx = w.Session().Context();
        ctx.ops->Begin(kOpSlotRead, longRead);
        ctx.engine->StartCommand(longRead, 3, 0, ctx.buffer);
        QTRY_VERIFY_WITH_TIMEOUT(w.ActivityLabel()->text().startsWith("Reading @"), 10000);
        QVERIFY(!w.ExitButton()->isEnabled());
        QVERIFY(!w.TopTabs()->isEnabled());
        QTest::mouseClick(w.StopButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 30000);
        QCOMPARE(m_op.messages, QStringList{"Operation aborted."});

        // "E&xit" closes the window.
        QVERIFY(w.ExitButton()->isEnabled());
        QTest::mouseClick(w.ExitButton(), Qt::LeftButton);
        QVERIFY(!w.isVisible());
    }

    // The binary data page: "Load" a file, "Write" it into a slot through the item menu.
    void binPageLoadAndWrite_data() {
        QTest::addColumn<int>("interface");
        // RS-232 writes a small slot by reading and writing back the 64 KB blocks around it.
        QTest::newRow("RS-232") << 0;
        QTest::newRow("TCP") << 3;
    }

    void binPageLoadAndWrite() {
        QFETCH(int, interface);
        const std::string models = m_dir->File("ModelsPnP");
        std::filesystem::create_directories(models);
        std::string modelFile;
        if (interface == 0) {
            modelFile = models + "/BIN-232.xml";
            TempDir::WriteAll(modelFile, R"(<?xml version="1.0" encoding="ISO-8859-1"?>
<device><pnp>
  <settings name="Unit" address="0x1F0000">
    <node name="Unit"><node name="Mode" address="0" sim_min="0" sim_max="1" sim_default="0"/></node>
  </settings>
  <bin name="Font" size="64000" extensions="bin" info="Character generator font.">
    <item name="Font 1" address="0x123456"/>
  </bin>
</pnp></device>
)");
        } else {
            modelFile = BinDir().toStdString() + "ModelsPnP/HD-OVL.xml";
        }
        SetProgramFolder(interface == 0 ? m_dir->Path() + "/" : BinDir().toStdString());
        RWindowSimDevice dev;
        QVERIFY(dev.Start(*m_dir, interface, modelFile, {"--dialect", "short2"}));
        const std::string& image = dev.image;
        const uint32_t slotAt = interface == 0 ? 0x123456 : 0x010000;
        const int size = interface == 0 ? 64000 : 16384;
        if (interface == 0) {
            // Device data beside the slot, in both of its blocks, that the write must keep.
            std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
            for (uint32_t at : {slotAt - 16, slotAt + uint32_t(size)}) {
                f.seekp(std::streamoff(CSimImage::kHeaderBytes + CSimImage::kDirectBytes + at));
                for (int i = 0; i < 16; ++i) f.put(char(~uint8_t(0x40 + i)));  // flash is kept inverted
            }
            QVERIFY(f.good());
        }

        CMainWin w;
        m_op.Attach(w);
        w.show();
        w.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && w.Session().model, 60000);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(interface == 0 ? w.SelectPage("Font") : w.SelectPage("Pictures", "Character generator font"));
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 30000);
        auto* view = qobject_cast<CBinView*>(w.CurrentPageView());
        QVERIFY(view);
        QVERIFY(!view->WriteButton()->isEnabled());  // nothing loaded yet

        // A file of the wrong size is refused (HD-OVL's font must be exact); then the right one.
        std::vector<uint8_t> data(static_cast<size_t>(size));
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13 + 5);
        const std::string file = m_dir->File("font.bin");
        if (interface == 3) {
            TempDir::WriteAll(file, std::string(100, 'x'));
            view->chooseFile = [&](const QString&, const QString&) { return QString::fromStdString(file); };
            QTest::mouseClick(view->LoadButton(), Qt::LeftButton);
            QCOMPARE(m_op.messages, QStringList{"Unsupported file size!\n\nFile size should be exactly 16384 bytes."});
            QVERIFY(!view->WriteButton()->isEnabled());
            m_op.messages.clear();
        }
        TempDir::WriteAll(file, std::string(data.begin(), data.end()));
        QString folderAsked;
        view->chooseFile = [&](const QString& folder, const QString&) {
            folderAsked = folder;
            return QString::fromStdString(file);
        };
        QTest::mouseClick(view->LoadButton(), Qt::LeftButton);
        QVERIFY2(m_op.messages.isEmpty(), qPrintable(m_op.messages.join("|")));
        QVERIFY(view->WriteButton()->isEnabled());
        QCOMPARE(QString::fromStdString(w.Settings().binPath), QString::fromStdString(m_dir->Path() + "/"));

        const std::vector<uint8_t> before = dev.Bytes(slotAt & ~0xFFFFu, 0x20000);
        QVERIFY(!before.empty());
        QCOMPARE(view->WriteMenu()->actions().size(), interface == 0 ? 1 : 2);
        view->WriteMenu()->actions().at(0)->trigger();
        QCOMPARE(m_op.questions, QStringList{"Data will be written to device.\n\nDo you want to continue?"});
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 60000);
        QCOMPARE(m_op.messages, QStringList{"Write complete."});
        QVERIFY(dev.Bytes(slotAt, data.size()) == data);
        if (interface == 0) {
            // The rest of both blocks came back as it was.
            const std::vector<uint8_t> after = dev.Bytes(slotAt & ~0xFFFFu, 0x20000);
            QCOMPARE(int(after[(slotAt & 0xFFFF) - 1]), 0x4F);
            const size_t off = slotAt & 0xFFFF;
            QVERIFY(std::equal(before.begin(), before.begin() + long(off), after.begin()));
            QVERIFY(std::equal(before.begin() + long(off + data.size()), before.end(), after.begin() + long(off + data.size())));
        }
    }
};

QTEST_MAIN(MainWinLinksTest)
#include "MainWinLinksTest.moc"
