#include "TestMain.h"

#include "display/FloatingWindow.h"
#include "fakes/ModelRig.h"
#include "shell/chat/ChatWindowController.h"
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
    ChatWindowController::shared().reset();
    ChatWindowController::model = nullptr;
}

void WindowButtonsTest::titleAndCloseOnly_data()
{
    QTest::addColumn<QString>("which");
    QTest::newRow("settings window") << u"settings"_qs;
    QTest::newRow("statistics window") << u"statistics"_qs;
    QTest::newRow("chat window") << u"chat"_qs;
}

void WindowButtonsTest::titleAndCloseOnly()
{
    QFETCH(QString, which);
    ModelRig rig;
    rig.make();
    FloatingWindow *window = nullptr;
    if (which == u"settings") {
        SettingsWindowController::model = &rig.model();
        SettingsWindowController::shared().show();
        window = SettingsWindowController::shared().window();
    } else if (which == u"statistics") {
        StatsWindowController::model = &rig.model();
        StatsWindowController::shared().show();
        window = StatsWindowController::shared().window();
    } else {
        ChatWindowController::model = &rig.model();
        ChatWindowController::shared().show();
        window = ChatWindowController::shared().window();
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
