// Screenshots of the pictures page: the sample logo read from the simulated HD-OVL device and
// shown over the checkerboard, the caption page with a text label drawn on its bar, and the
// full-screen (compressed) pictures page with a picture loaded and compressed.
// Usage (under Xvfb): pictures_shots LOGOS.png CAPTION.png [COMPRESSED.png]
#include "app/ConfigStore.h"
#include "app/IpAddress.h"
#include "app/ProgramFolder.h"
#include "app/ui/CMainWin.h"
#include "common/TempDir.h"
#include "eth/NetSim.h"
#include "pictures/CPicture.h"
#include "pictures/ui/CPicturesView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QPixmap>

#include <cmath>
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

// A full-HD test picture: a sky-to-ground gradient, a sun, hills and colour bars, so the
// preview shows both smooth areas and hard edges.
CPicture TestScene() {
    constexpr int W = 1920, H = 1080;
    CPicture p(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint32_t r = uint32_t(40 + y * 120 / H), g = uint32_t(90 + y * 110 / H), b = uint32_t(230 - y * 60 / H);
            const int hill = 700 + int(120 * std::sin(x / 260.0)) + int(40 * std::sin(x / 70.0));
            if (y > hill) r = uint32_t(30 + (y - hill) / 8), g = uint32_t(120 - (y - hill) / 10), b = 40;
            const int dx = x - 1450, dy = y - 260;
            if (dx * dx + dy * dy < 120 * 120) r = 255, g = 220, b = 90;
            if (y >= 960) {
                static const uint32_t bars[] = {0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000, 0xC000C0, 0xC00000, 0x0000C0};
                const uint32_t c = bars[x * 7 / W];
                r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
            }
            p.At(x, y) = (r << 16) | (g << 8) | b;
        }
    return p;
}

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::printf("usage: pictures_shots LOGOS.png CAPTION.png [COMPRESSED.png]\n");
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

    if (argc == 4) {
        // The compressed page: Load runs the codec as an operation, then the preview refreshes.
        const std::string png = tmp.File("scene.png");
        if (TestScene().SavePNG(png) != 0) return 1;
        if (!w.SelectPage("Pictures", "Full-screen pictures")) return 1;
        auto* full = qobject_cast<CPicturesView*>(w.CurrentPageView());
        if (!full) return 1;
        full->chooseFile = [&](const QString&, const QString&) { return QString::fromStdString(png); };
        full->LoadButton()->click();
        if (!WaitUntil([&] { return !w.Ops().Busy(); }, 60000)) return 1;
        Settle(300);
        if (!w.grab().save(argv[3])) return 1;
    }
    if (!messages.isEmpty()) std::printf("messages: %s\n", qPrintable(messages.join("|")));
    return 0;
}
