#include "TestMain.h"

#include "display/FloatingWindow.h"
#include "fakes/ModelRig.h"
#include "shell/SettingsWindowController.h"
#include "shell/StatsWindowController.h"

#include <QTest>

// The title-bar buttons a window asks the window manager for. Without Qt's customise hint the
// manager adds its defaults (minimise and maximise) whatever else the flags say.
class WindowButtonsTest final : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void titleAndCloseOnly_data();
    void titleAndCloseOnly();
};

void WindowButtonsTest::cleanup()
{
    SettingsWindowController::shared().reset();
    SettingsWindowController::model = nullptr;
    StatsWindowController::shared().reset();
    StatsWindowController::model = nullptr;
}

void WindowButtonsTest::titleAndCloseOnly_data()
{
    QTest::addColumn<bool>("settings");
    QTest::newRow("settings window") << true;
    QTest::newRow("statistics window") << false;
}

void WindowButtonsTest::titleAndCloseOnly()
{
    QFETCH(bool, settings);
    ModelRig rig;
    rig.make();
    FloatingWindow *window = nullptr;
    if (settings) {
        SettingsWindowController::model = &rig.model();
        SettingsWindowController::shared().show();
        window = SettingsWindowController::shared().window();
    } else {
        StatsWindowController::model = &rig.model();
        StatsWindowController::shared().show();
        window = StatsWindowController::shared().window();
    }
    QVERIFY(window);
    QVERIFY(window->isVisible());
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY2(flags.testFlag(Qt::CustomizeWindowHint), "the manager would add its default buttons");
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    // Still a floating window above other applications' windows.
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(window->windowType(), Qt::Window);
}

DODEDAROV_TEST(WindowButtonsTest)

#include "WindowButtonsTest.moc"
