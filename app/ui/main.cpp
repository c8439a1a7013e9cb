#include "app/CMainApp.h"
#include "CMainWin.h"

#include <QApplication>

int main(int argc, char** argv) {
    CMainApp app;
    // A second copy ends at once, silently, before any window exists.
    if (!app.Start(argc, argv)) return 0;

    int rc;
    {
        QApplication qapp(argc, argv);
        CMainWin win;
        win.SetFactoryRestoreAtStart(app.FactoryRestoreAtStart());
        win.ShowFromStore();
        // Detection starts once the window is up, from the event loop.
        QMetaObject::invokeMethod(&win, [&win] { win.Start(); }, Qt::QueuedConnection);
        rc = qapp.exec();
    }
    app.Exit();
    return rc;
}
