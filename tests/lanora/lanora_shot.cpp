// Screenshot helper for the documentation, run under Xvfb inside a test namespace:
//   lanora_shot grab FILE.png [DELAY_MS]      grab the whole screen (e.g. a running Lanora)
//   lanora_shot window MAIN.png LOG.png       Lanora's window: after its first refresh, then in
//                                             log mode once messages have come in
#include "lanora/CLanoraWin.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Varo"));
    QCoreApplication::setApplicationName(QStringLiteral("Lanora"));
    QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("grab")) {
        int delay = args.size() >= 4 ? args[3].toInt() : 0;
        QTimer::singleShot(delay, [&] {
            bool ok = QGuiApplication::primaryScreen()->grabWindow(0).save(args[2]);
            app.exit(ok ? 0 : 1);
        });
        return app.exec();
    }
    if (args.size() < 4 || args[1] != QLatin1String("window")) {
        std::fprintf(stderr, "usage: lanora_shot grab FILE [DELAY_MS] | window MAIN.png LOG.png\n");
        return 64;
    }
    CLanoraWin win;
    win.Start();
    int rc = 0;
    QTimer::singleShot(5000, [&] {
        if (!win.DeviceList()->topLevelItemCount()) rc = 2;
        if (auto* first = win.DeviceList()->topLevelItem(0)) first->setSelected(true);
        if (!win.grab().save(args[2])) rc = 1;
        win.Button(CLanoraWin::kLog)->click();
        win.resize(1060, 380);  // wide enough for the message column
        QTimer::singleShot(3000, [&] {
            if (!win.LogList()->topLevelItemCount()) rc = 3;
            if (!win.grab().save(args[3])) rc = 1;
            win.close();
            app.exit(rc);
        });
    });
    return app.exec();
}
