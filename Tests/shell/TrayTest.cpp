#include "TestMain.h"

#include "fakes/FakeStatusNotifierWatcher.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// One row of a menu as a D-Bus menu host sees it: "title|on" or "title|off", separators as
// "-", hidden rows left out, a submenu's rows after its own as "  title|on".
void readRows(const QDBusArgument &argument, QStringList &rows, int depth)
{
    int id = 0;
    QVariantMap properties;
    argument.beginStructure();
    argument >> id >> properties;
    if (depth > 0 && properties.value(QStringLiteral("visible"), true).toBool()) {
        const QString indent(2 * (depth - 1), u' ');
        if (properties.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
            rows << indent + QStringLiteral("-");
        else
            rows << indent + properties.value(QStringLiteral("label")).toString()
                        + (properties.value(QStringLiteral("enabled"), true).toBool() ? QStringLiteral("|on")
                                                                                       : QStringLiteral("|off"));
    }
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        readRows(child.variant().value<QDBusArgument>(), rows, depth + 1);
    }
    argument.endArray();
    argument.endStructure();
}

// Calls without blocking this thread: the application under test may be asking the fake
// watcher, which answers from this thread, at the same moment.
QDBusMessage callAndWait(const QDBusMessage &call)
{
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call, 30000);
    const QDeadlineTimer deadline(40000);
    while (!pending.isFinished() && !deadline.hasExpired())
        QTest::qWait(20);
    return pending.reply();
}

}

// The tray icon of the real application under xcb, where Qt shows it as a status-notifier
// item once a watcher says a tray host is there: it registers once, also when a second copy
// is started, and its exported menu holds the application menu's rows.
class TrayTest final : public QObject {
    Q_OBJECT

private slots:
    void registersOneItemWithTheMenu();
    void withoutTrayHostTheSettingsOpen();
    void sessionPrintsNothing();

private:
    static QProcessEnvironment appEnvironment(const QTemporaryDir &runtime, const QTemporaryDir &home);
};

QProcessEnvironment TrayTest::appEnvironment(const QTemporaryDir &runtime, const QTemporaryDir &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DOCUMENTS_DIR"), home.filePath(QStringLiteral("docs")));
    // Qt's tray check leaves a cached D-Bus meta-object behind; the leak checker can only tell
    // it by name from a fully unwound stack.
    if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":fast_unwind_on_malloc=0"));
    return environment;
}

void TrayTest::registersOneItemWithTheMenu()
{
#ifndef DODEDAROV_APP_PATH
    QSKIP("no application binary");
#else
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs the test session's X display (scripts/with-test-env)");
    FakeStatusNotifierWatcher watcher;
    QVERIFY(watcher.start());

    QTemporaryDir runtime;
    QTemporaryDir home;
    const QProcessEnvironment environment = appEnvironment(runtime, home);
    const QString app = QStringLiteral(DODEDAROV_APP_PATH);

    QProcess first;
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(app);
    QVERIFY(first.waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.items.size(), 1, 60000);
    const FakeStatusNotifierWatcher::Item item = watcher.items.first();

    // The item names its menu; the menu's layout is the application menu with no meeting open.
    QDBusMessage getMenu = QDBusMessage::createMethodCall(item.sender, QStringLiteral("/StatusNotifierItem"),
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    getMenu.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
    const QDBusMessage menuReply = callAndWait(getMenu);
    QCOMPARE(menuReply.type(), QDBusMessage::ReplyMessage);
    const QString menuPath =
        menuReply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
    QVERIFY(!menuPath.isEmpty());

    // The icon is square, as trays expect: every size Qt exports has equal sides.
    QDBusMessage getIcon = getMenu;
    getIcon.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("IconPixmap")});
    const QDBusMessage iconReply = callAndWait(getIcon);
    QCOMPARE(iconReply.type(), QDBusMessage::ReplyMessage);
    const QDBusArgument pixmaps = iconReply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
    int sizes = 0;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> bytes;
        pixmaps.endStructure();
        QVERIFY(width > 0);
        QCOMPARE(width, height);
        QCOMPARE(bytes.size(), qsizetype(width) * height * 4);
        ++sizes;
    }
    pixmaps.endArray();
    QVERIFY(sizes > 0);

    QDBusMessage getLayout = QDBusMessage::createMethodCall(item.sender, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                                            QStringLiteral("GetLayout"));
    getLayout.setArguments({0, -1, QStringList()});
    const QDBusMessage layout = callAndWait(getLayout);
    QCOMPARE(layout.type(), QDBusMessage::ReplyMessage);
    QCOMPARE(layout.arguments().size(), 2);
    QStringList rows;
    readRows(layout.arguments().at(1).value<QDBusArgument>(), rows, 0);
    const QStringList expected {
        QStringLiteral("没有进行中的会议|off"),
        QStringLiteral("-"),
        QStringLiteral("开始新会议（Ctrl+Alt+S）|on"),
        QStringLiteral("结束会议|off"),
        QStringLiteral("结束并开始新会议|off"),
        QStringLiteral("-"),
        QStringLiteral("字号|on"),
        QStringLiteral("  放大（Ctrl+Alt+=）|on"),
        QStringLiteral("  缩小（Ctrl+Alt+-）|on"),
        QStringLiteral("最小化到任务栏（后台继续识别）|on"),
        QStringLiteral("-"),
        QStringLiteral("导入音视频生成字幕…|on"),
        QStringLiteral("打开会议记录文件夹|on"),
        QStringLiteral("本场统计…|on"),
        QStringLiteral("设置…|on"),
        QStringLiteral("退出泰萨利字幕|on"),
    };
    QCOMPARE(rows, expected);

    // A second start hands over to the first and registers nothing of its own.
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(app);
    QVERIFY(second.waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(watcher.items.size(), 1);

    ::kill(pid_t(first.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 30000);
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(watcher.items.size(), 1);
#endif
}

void TrayTest::withoutTrayHostTheSettingsOpen()
{
#ifndef DODEDAROV_APP_PATH
    QSKIP("no application binary");
#else
    // GNOME without a status-notifier extension: no watcher on the bus and no XEmbed tray on
    // the screen. The settings window opens at start, so the application is not left without
    // a way in (the caption panel's right-click holds the menu).
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs the test session's X display (scripts/with-test-env)");
    const QString lister = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
    if (lister.isEmpty())
        QSKIP("xwininfo is not installed");
    QTemporaryDir runtime;
    QTemporaryDir home;
    QProcess app;
    app.setProcessEnvironment(appEnvironment(runtime, home));
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(DODEDAROV_APP_PATH));
    QVERIFY(app.waitForStarted(10000));

    const auto mapped = [&lister](const QString &title) {
        QProcess list;
        list.start(lister, {QStringLiteral("-root"), QStringLiteral("-tree")});
        if (!list.waitForFinished(10000))
            return false;
        const QString tree = QString::fromUtf8(list.readAllStandardOutput());
        return tree.contains(u'"' + title + u'"');
    };
    QTRY_VERIFY_WITH_TIMEOUT(mapped(QStringLiteral("泰萨利字幕 · 设置")), 60000);

    ::kill(pid_t(app.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(app.state(), QProcess::NotRunning, 30000);
    QCOMPARE(app.exitCode(), 0);
#endif
}

void TrayTest::sessionPrintsNothing()
{
#ifndef DODEDAROV_APP_PATH
    QSKIP("no application binary");
#else
    // A launch on an X desktop with a tray host, then SIGTERM. Qt reports a wrong call (a
    // connect to a null object, a missing property) only as a line on stderr, so any line
    // there is a fault.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs the test session's X display (scripts/with-test-env)");
    FakeStatusNotifierWatcher watcher;
    QVERIFY(watcher.start());
    QTemporaryDir runtime;
    QTemporaryDir home;
    QProcess app;
    app.setProcessEnvironment(appEnvironment(runtime, home));
    app.start(QStringLiteral(DODEDAROV_APP_PATH));
    QVERIFY(app.waitForStarted(10000));
    // The tray item is made during the launch; once it is registered the launch has run.
    QTRY_COMPARE_WITH_TIMEOUT(watcher.items.size(), 1, 60000);
    // A turn later the caption panel is shown.
    QTest::qWait(500);
    const bool ran = app.state() == QProcess::Running;
    if (ran)
        ::kill(pid_t(app.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(app.state(), QProcess::NotRunning, 30000);
    const QString printed = QString::fromLocal8Bit(app.readAllStandardError());
    QVERIFY2(printed.trimmed().isEmpty(), qPrintable(printed));
    QVERIFY(ran);
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
#endif
}

DODEDAROV_TEST(TrayTest)

#include "TrayTest.moc"
