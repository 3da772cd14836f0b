#include "common/QtTranslations.h"
#include "model/AppModel.h"
#include "shell/AppDelegate.h"
#include "shell/SingleInstance.h"
#ifdef DODEDAROV_TEST_SERVICES
#include "testing/SessionProbe.h"
#endif

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("tessalab"));
    QApplication::setApplicationName(QStringLiteral("dodedarov"));
    QApplication::setApplicationVersion(QStringLiteral(DODEDAROV_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tessaly-dodedarov"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tessaly-dodedarov.svg")));
    // A tray app: closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    QtTranslations::install();

    // Before the model exists: a second copy must never bill, grab keys or write records.
    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Outcome::first:
        break;
    case SingleInstance::Outcome::forwarded:
        return 0;
    case SingleInstance::Outcome::noAnswer:
        // Started from a menu, nobody reads the terminal.
        std::fputs("tessaly-dodedarov: another copy is running but does not answer\n", stderr);
        SingleInstance::tellNoAnswer();
        return 1;
    }

#ifdef DODEDAROV_TEST_SERVICES
    SessionProbe::useTestAddresses();
#endif
    AppDelegate delegate;
    QObject::connect(&instance, &SingleInstance::showRequested, &delegate, &AppDelegate::reopen);
    delegate.applicationDidFinishLaunching();
#ifdef DODEDAROV_TEST_SERVICES
    (new SessionProbe(&delegate))->publish();
#endif
    const int status = app.exec();
    // The model's engine stops its worker threads as it goes: that needs a running
    // application, so the model goes before the application object, not among its children.
    delete AppModel::shared();
    return status;
}
