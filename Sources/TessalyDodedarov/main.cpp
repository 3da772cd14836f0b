#include "shell/AppDelegate.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("tessalab"));
    QApplication::setApplicationName(QStringLiteral("dodedarov"));
    // A menu-bar app: closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
