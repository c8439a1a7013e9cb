#include "lanora/CLanoraWin.h"
#include "lanora/LanoraInstance.h"

#include <QApplication>

int main(int argc, char** argv) {
    CLanoraInstance instance;
    if (!instance.Acquire()) return 0;  // another copy is running
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Varo"));
    QCoreApplication::setApplicationName(QStringLiteral("Lanora"));
    CLanoraWin win;
    win.Start();
    return app.exec();
}
