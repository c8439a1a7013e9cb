// Screenshots of the main window connected to varosim with the sample model over Ethernet TCP
// (loopback): the "Device" page and a settings page with a node selected. Run under a real
// display (xvfb-run) so fonts and style are the desktop's.
// Usage: mainwin_shots DEVICE.png SETTINGS.png [GROUP [PAGE [NODE]]]
// For looking the window over (not for the docs): VARO_SHOT_BUSY=FILE (during a long read),
// VARO_SHOT_ALL=DIR (every page), VARO_SHOT_SERIAL=DIR (the Device page with serial choices).
#include "app/ui/CMainWin.h"
#include "app/ConfigStore.h"
#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "common/TempDir.h"
#include "devicedata/ui/CSettingsPageView.h"
#include "eth/NetSim.h"
#include "model/CPnPSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QRadioButton>
#include <QTabBar>
#include <QTreeWidget>

#include <cstdio>
#include <unistd.h>

namespace {
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::printf("usage: mainwin_shots DEVICE.png SETTINGS.png [GROUP [PAGE [NODE]]]\n");
        return 64;
    }
    const QString group = argc > 3 ? argv[3] : "Overlay";
    const QString pageName = argc > 4 ? argv[4] : "Logo and caption";
    const QString nodeName = argc > 5 ? argv[5] : "Opacity (%)";

    const char* env = std::getenv("VARO_BIN_DIR");
    const std::string bin = env ? env : VARO_BIN_DIR_DEFAULT;
    setenv("VARO_BIN_DIR", bin.c_str(), 1);
    TempDir tmp;
    SetProgramFolder(bin + "/");
    AppStore().SetPath(tmp.File("VaroConfig.ini"));
    const uint32_t ip = IpFromOctets(127, 61 + unsigned(getpid()) % 150, 0, 2);
    NetSim sim({"--tcp", IpToString(ip), "--model", bin + "/ModelsPnP/HD-OVL.xml"}, tmp.File("dev.img"));
    if (!sim.Ready()) return 1;
    // The serial choices find no port rather than the machine's own.
    for (int i = 1; i <= 8; ++i) AppStore().WriteString("Ports", "COM" + std::to_string(i), tmp.File("no-port"));
    AppStore().WriteInt("Main", "Interface", 3);
    AppStore().WriteInt("Main", "ManualIP", 1);
    AppStore().WriteInt("Main", "IP", IpToStored(ip));

    CMainWin w;
    QStringList messages;
    w.messageHook = [&](const QString& t, MsgIcon) { messages << t; };
    w.questionHook = [&](const QString& t, MsgIcon, bool) {
        messages << t;
        return false;
    };
    w.ShowFromStore();
    w.Start();
    if (!WaitUntil([&] { return !w.Ops().Busy() && w.Session().model; }, 20000)) return 1;
    Settle(300);
    if (!w.grab().save(argv[1])) return 1;

    if (!w.SelectPage(group, pageName)) {
        std::printf("no page %s / %s\n", qPrintable(group), qPrintable(pageName));
        return 1;
    }
    auto* page = qobject_cast<CSettingsPageView*>(w.CurrentPageView());
    if (!page || !WaitUntil([&] { return !w.Ops().Busy() && page->Page().TreeReady(); }, 20000)) return 1;
    const auto& nodes = page->Page().Element()->nodes;
    for (size_t i = 0; i < nodes.size(); ++i)
        if (QString::fromStdString(nodes[i]->name) == nodeName && page->ItemOfNode(int(i))) {
            page->Tree()->setCurrentItem(page->ItemOfNode(int(i)));
            break;
        }
    WaitUntil([&] { return !w.Ops().Busy(); }, 20000);
    Settle(300);
    if (!w.grab().save(argv[2])) return 1;

    // Optional: the window during a long read, to look at the progress line.
    if (const char* busy = std::getenv("VARO_SHOT_BUSY")) {
        RDeviceContext& ctx = w.Session().Context();
        ctx.ops->Begin(kOpSlotRead, 0x1000000);
        ctx.engine->StartCommand(0x1000000, kCmdRead, 0, ctx.buffer);
        Settle(1500);
        w.grab().save(busy);
        w.Ops().RequestStop();
        WaitUntil([&] { return !w.Ops().Busy(); }, 20000);
    }
    // Optional: every page once, to look them over.
    if (const char* dir = std::getenv("VARO_SHOT_ALL")) {
        for (int t = 0; t < w.TopTabs()->count(); ++t) {
            w.TopTabs()->setCurrentIndex(t);
            WaitUntil([&] { return !w.Ops().Busy(); }, 20000);
            const int subs = std::max(1, w.BottomTabs()->isVisible() ? w.BottomTabs()->count() : 1);
            for (int b = 0; b < subs; ++b) {
                if (w.BottomTabs()->isVisible()) w.BottomTabs()->setCurrentIndex(b);
                WaitUntil([&] { return !w.Ops().Busy(); }, 20000);
                Settle(200);
                w.grab().save(QString("%1/page-%2-%3.png").arg(dir).arg(t).arg(b));
            }
        }
    }
    // Optional: the "Device" page with each serial choice (no device on those ports).
    if (const char* dir = std::getenv("VARO_SHOT_SERIAL")) {
        w.TopTabs()->setCurrentIndex(0);
        for (int i : {2, 0}) {
            w.InterfaceButton(i)->click();
            WaitUntil([&] { return !w.Ops().Busy(); }, 60000);
            Settle(200);
            w.grab().save(QString("%1/serial-%2.png").arg(dir).arg(i));
        }
    }
    if (!messages.isEmpty()) std::printf("messages: %s\n", qPrintable(messages.join("|")));
    return 0;
}
