#include "app/ui/CMainWin.h"
#include "app/ConfigStore.h"
#include "app/SingleInstance.h"
#include "common/TempDir.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

#include <filesystem>

namespace {
bool FlockHeld(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    QFile locks("/proc/locks");
    if (!locks.open(QIODevice::ReadOnly)) return false;
    const QByteArray needle = ":" + QByteArray::number(qulonglong(st.st_ino)) + " ";
    for (const QByteArray& line : locks.readAll().split('\n'))
        if (line.contains("FLOCK") && line.contains(needle)) return true;
    return false;
}
}  // namespace

class MainWinTest : public QObject {
    Q_OBJECT
private:
    TempDir m_dir;

private slots:
    void init() {
        std::filesystem::remove(m_dir.File("VaroConfig.ini"));
        AppStore().SetPath(m_dir.File("VaroConfig.ini"));
    }

    void noStoreGivesDesignedPlacement() {
        CMainWin win;
        win.ShowFromStore();
        QCOMPARE(win.Settings().interface, 3);
        QCOMPARE(win.Settings().ip, 0u);
        QVERIFY(!win.isMaximized());
        QCOMPARE(win.size(), win.minimumSize());
    }

    void placementNeedsBothEdges() {
        AppStore().WriteInt("Layout", "Left", -1);
        AppStore().WriteInt("Layout", "Top", 100);
        AppStore().WriteInt("Layout", "Width", 1200);
        AppStore().WriteInt("Layout", "Height", 800);
        {
            CMainWin win;
            win.ShowFromStore();
            QCOMPARE(win.size(), win.minimumSize());  // the stored size is ignored too
        }
        // Closing saved the placement it had; store a full one now.
        AppStore().WriteInt("Layout", "Left", 40);
        AppStore().WriteInt("Layout", "Top", 100);
        AppStore().WriteInt("Layout", "Width", 1200);
        AppStore().WriteInt("Layout", "Height", 800);
        CMainWin win;
        win.ShowFromStore();
        QCOMPARE(win.size(), QSize(1200, 800));
        QCOMPARE(win.pos(), QPoint(40, 100));
    }

    void closingSavesLayoutAndMainKeys() {
        AppStore().WriteInt("Main", "Interface", 1);
        AppStore().WriteInt("Main", "IP", 167880896);
        {
            CMainWin win;
            win.ShowFromStore();
            win.resize(1000, 640);
            win.close();
        }
        QCOMPARE(AppStore().ReadInt("Layout", "Width", -1), 1000);
        QCOMPARE(AppStore().ReadInt("Layout", "Height", -1), 640);
        QCOMPARE(AppStore().ReadInt("Layout", "Maximized", -1), 0);
        QCOMPARE(AppStore().ReadInt("Main", "Interface", -1), 1);
        QCOMPARE(AppStore().ReadInt("Main", "IP", 0), 167880896);
        QCOMPARE(AppStore().ReadInt("Main", "ShadowPxiels", -1), 2);
    }

    void secondInstanceExitsAtOnce() {
        const QString bin = qEnvironmentVariable("VARO_BIN_DIR") + "/VaroConfig";
        QVERIFY2(QFile::exists(bin), qPrintable(bin));
        TempDir runtime;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.Path()));
        env.insert("QT_QPA_PLATFORM", "offscreen");

        QProcess first;
        first.setProcessEnvironment(env);
        first.start(bin, {});
        QVERIFY(first.waitForStarted());
        // Wait until the first copy holds the instance lock; looked up in /proc/locks so the
        // probe itself never holds it.
        const std::string lockFile = runtime.File("Varo_Config.lock");
        QElapsedTimer t;
        t.start();
        bool held = false;
        while (t.elapsed() < 10000 && !held) {
            held = FlockHeld(lockFile);
            if (!held) QTest::qWait(20);
        }
        QVERIFY(held);

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(bin, {"/factory_settings"});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        first.kill();
        first.waitForFinished(5000);
    }
};

QTEST_MAIN(MainWinTest)
#include "MainWinTest.moc"
