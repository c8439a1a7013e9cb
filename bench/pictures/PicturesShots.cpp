// Screenshots of the pictures page: the sample logo read from the simulated HD-OVL device and
// shown over the checkerboard, and the caption page with a text label drawn on its bar.
// Usage (under Xvfb): pictures_shots LOGOS.png CAPTION.png
#include "app/ConfigStore.h"
#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "app/ui/CMainWin.h"
#include "common/TempDir.h"
#include "eth/NetSim.h"
#include "pictures/ui/CPicturesView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>

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
    if (argc != 3) {
        std::printf("usage: pictures_shots LOGOS.png CAPTION.png\n");
        return 64;
    }
    const char* env = std::getenv("VARO_BIN_DIR");
    const std::string bin = env ? env : VARO_BIN_DIR_DEFAULT;
    setenv("VARO_BIN_DIR", bin.c_str(), 1);
    TempDir tmp;
    SetProgramFolder(bin + "/");
    AppStore().SetPath(tmp.File("VaroConfig.ini"));
    const uint32_t ip = IpFromOctets(127, 61 + unsigned(getpid()) % 150, 0, 3);
    NetSim sim({"--tcp", IpToString(ip), "--model", bin + "/ModelsPnP/HD-OVL.xml"}, tmp.File("dev.img"));
    if (!sim.Ready()) return 1;
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
    w.resize(1000, 640);
    w.Start();
    if (!WaitUntil([&] { return !w.Ops().Busy() && w.Session().model; }, 20000)) return 1;

    // "Logo 1" holds the factory logo: read it into the page.
    if (!w.SelectPage("Pictures", "Logos")) return 1;
    auto* logos = qobject_cast<CPicturesView*>(w.CurrentPageView());
    if (!logos) return 1;
    logos->ReadMenu()->actions().at(0)->trigger();
    if (!WaitUntil([&] { return !w.Ops().Busy(); }, 20000)) return 1;
    Settle(300);
    if (!w.grab().save(argv[1])) return 1;

    if (!w.SelectPage("Pictures", "Caption")) return 1;
    auto* caption = qobject_cast<CPicturesView*>(w.CurrentPageView());
    if (!caption) return 1;
    caption->LabelText()->setText("Evening News");
    Settle(300);
    if (!w.grab().save(argv[2])) return 1;
    if (!messages.isEmpty()) std::printf("messages: %s\n", qPrintable(messages.join("|")));
    return 0;
}
