// The multiscreen page through the real window against varosim: the preview when the page is
// shown, "Load" of a layout file, "Save", "Write" with its question putting the backgrounds,
// the cover and the settings block at their addresses (over TCP and over RS-422, the serial
// link whose addresses carry the region bits the layout's parts sit in), and a damaged file.
#include "app/ConfigStore.h"
#include "app/ProgramFolder.h"
#include "app/WindowSimRig.h"
#include "model/CPnPModel.h"
#include "pictures/ui/CPicCtrl.h"
#include "signals/MultiScreenDoc.h"
#include "signals/ui/CMultiScreenView.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {
QString BinDir() { return qEnvironmentVariable("VARO_BIN_DIR") + "/"; }
std::string ModelFile() { return BinDir().toStdString() + "ModelsPnP/HD-OVL.xml"; }
}  // namespace

class MainWinMultiScreenTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempDir> m_dir;
    QStringList m_messages, m_questions;
    RWindowSimDevice m_dev;
    static bool Idle(CMainWin& w) { return !w.Ops().Busy(); }

    // A layout file made with the core: Input 2 moved right, Input 3 hidden.
    bool MakeLayoutFile() {
        CPnPModel m;
        m.SetProgramFolder(BinDir().toStdString());
        if (m.Load(ModelFile()) != kPnPLoaded) return false;
        auto* ms = static_cast<CPnPMultiScreen*>(m.FindFirst(kPnPMultiScreen));
        if (!ms) return false;
        CMultiScreen doc;
        MultiScreenBuild(doc, *ms, false);
        for (auto& l : doc.displays[0]->layers)
            for (auto& e : l->elements)
                if (e->id == 2) e->x = 1000;
        for (auto& l : doc.displays[1]->layers)
            for (auto& e : l->elements)
                if (e->id == 3) e->visible = false;
        return MultiScreenSave(doc, *ms, m_dir->File("layout.mss")) == 0;
    }

    void Hook(CMainWin& w) {
        w.messageHook = [this](const QString& t, MsgIcon) { m_messages << t; };
        w.questionHook = [this](const QString& t, MsgIcon, bool) {
            m_questions << t;
            return true;
        };
    }

    // "Write" of the loaded layout, answering its question.
    void Write(CMainWin& w, CMultiScreenView& view) {
        QTest::mouseClick(view.WriteButton(), Qt::LeftButton);
        QCOMPARE(m_questions, QStringList{"Multiscreen settings will be written to device\n\nDo you want to continue?"});
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w), 120000);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("|")));  // no "Write complete."
    }

    // The layout file's three kinds of data where the device keeps them.
    void CheckWrittenLayout() {
        // The settings block: Input 2 at x 1000 is pos_x 125; Input 3 hidden is 0 0.
        const auto settings = m_dev.Bytes(0x10000000, 256);
        QCOMPARE(settings.size(), size_t(256));
        QCOMPARE(int(settings[8]) | (int(settings[9] & 0x0F) << 8), 125);
        QCOMPARE(int(settings[16]) | (int(settings[17] & 0x0F) << 8), 0);
        QCOMPARE(int(settings[18]) | (int(settings[19] & 0x0F) << 8), 0);
        QCOMPARE(int(settings[44]) | (int(settings[45] & 0x0F) << 8), 860);
        // The background of display 1 (format 2, 960 pixels a row): Input 1's hole is black,
        // the grid line beside it is the file's grey.
        const auto bg = m_dev.Bytes(0x10100000, 1036800);
        QCOMPARE(bg.size(), size_t(1036800));
        auto luma = [&](int x, int y) { return int(bg[size_t(y) * 960 * 2 + size_t(x) * 2 + 1]); };
        QCOMPARE(luma(100, 100), 16);
        QCOMPARE(luma(0, 30), 64);
        // Display 2 has Input 3 hidden: no hole where it was, its grid shows through.
        const auto bg2 = m_dev.Bytes(0x10200000, 1036800);
        QCOMPARE(bg2.size(), size_t(1036800));
        QCOMPARE(int(bg2[size_t(300) * 960 * 2 + size_t(30) * 2 + 1]), 64);
        QCOMPARE(int(bg2[size_t(300) * 960 * 2 + size_t(600) * 2 + 1]), 16);  // Input 4 stays
        // The cover (format 4, 5 bytes a pair, opacity in byte 4): the title bar of display 1
        // at (320, 500) is opaque, the open area transparent.
        const auto cover = m_dev.Bytes(0x10400000, 5 * 960 * 1080 * 2);
        QCOMPARE(cover.size(), size_t(5 * 960 * 1080 * 2));
        auto coverAlpha = [&](int x, int y) { return int(cover[(size_t(y) * 960 + size_t(x / 2)) * 5 + 4]); };
        QCOMPARE(coverAlpha(400, 520), 0xFF);
        QCOMPARE(coverAlpha(800, 800), 0);
        QCOMPARE(coverAlpha(400, 1080 + 520), 0xFF);  // Title 3 on display 2
        QCOMPARE(coverAlpha(400, 520 - 40), 0);
    }

private slots:
    void init() {
        m_dir = std::make_unique<TempDir>();
        SetProgramFolder(BinDir().toStdString());
        AppStore().SetPath(m_dir->File("VaroConfig.ini"));
        m_messages.clear();
        m_questions.clear();
    }
    void cleanup() { m_dev = {}; }

    void loadSaveAndWriteOverTcp() {
        QVERIFY(MakeLayoutFile());
        QVERIFY(m_dev.Start(*m_dir, 3, ModelFile()));

        CMainWin w;
        Hook(w);
        w.show();
        w.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && w.Session().model, 60000);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("|")));
        QVERIFY(w.SelectPage("Multiscreen"));
        auto* view = qobject_cast<CMultiScreenView*>(w.CurrentPageView());
        QVERIFY(view);
        // Shown: built from the model, the first display in the preview at 480 pixels wide.
        QCOMPARE(view->PreviewControl()->Image().width(), 480);
        QCOMPARE(view->PreviewControl()->Image().height(), 270);
        QCOMPARE(view->StateLabel()->text(), QString("Layout valid"));
        QVERIFY(view->WriteButton()->isEnabled());

        QString folderAsked;
        view->chooseOpenFile = [&](const QString& folder) {
            folderAsked = folder;
            return QString::fromStdString(m_dir->File("layout.mss"));
        };
        QTest::mouseClick(view->LoadButton(), Qt::LeftButton);
        QVERIFY(folderAsked.endsWith("Multiscreen"));  // the element's "path"
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("|")));

        Write(w, *view);
        if (QTest::currentTestFailed()) return;
        CheckWrittenLayout();
        if (QTest::currentTestFailed()) return;

        // "Save" writes what the page holds; a damaged file is reported and changes no address.
        view->chooseSaveFile = [&](const QString&) { return QString::fromStdString(m_dir->File("saved.mss")); };
        QTest::mouseClick(view->SaveButton(), Qt::LeftButton);
        QCOMPARE(TempDir::ReadAll(m_dir->File("saved.mss")), TempDir::ReadAll(m_dir->File("layout.mss")));
        TempDir::WriteAll(m_dir->File("bad.mss"), "MSC");
        view->chooseOpenFile = [&](const QString&) { return QString::fromStdString(m_dir->File("bad.mss")); };
        QTest::mouseClick(view->LoadButton(), Qt::LeftButton);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages[0].startsWith("Loading failed - file is corrupt!"));
    }

    // RS-422 rather than RS-232: the parts sit in flash region 1 (0x10000000 up), which the
    // RS-232 link's 24-bit addresses cannot reach, and its 64 KB block erase at the settings
    // block's offset would wipe the device's other settings.
    void writeOverRs422() {
        QVERIFY(MakeLayoutFile());
        QVERIFY(m_dev.Start(*m_dir, 1, ModelFile(), {"--dialect", "pointb"}));
        CMainWin w;
        Hook(w);
        w.show();
        w.Start();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(w) && w.Session().model, 60000);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("|")));
        QVERIFY(w.SelectPage("Multiscreen"));
        auto* view = qobject_cast<CMultiScreenView*>(w.CurrentPageView());
        QVERIFY(view);
        view->chooseOpenFile = [&](const QString&) { return QString::fromStdString(m_dir->File("layout.mss")); };
        QTest::mouseClick(view->LoadButton(), Qt::LeftButton);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("|")));
        Write(w, *view);
        if (QTest::currentTestFailed()) return;
        CheckWrittenLayout();
    }
};

QTEST_MAIN(MainWinMultiScreenTest)
#include "MainWinMultiScreenTest.moc"
