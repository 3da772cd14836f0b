#include "TestMain.h"

#include "fakes/FakeFrontWindow.h"
#include "platform/FrontWindow.h"

namespace {

using Browser = FrontWindow::Browser;

// -1: no browser.
int browserCode(std::optional<Browser> browser) { return browser ? int(*browser) : -1; }

} // namespace

class FrontWindowTest final : public QObject {
    Q_OBJECT

private slots:
    void browserOfClass_data()
    {
        QTest::addColumn<QByteArray>("windowClass");
        QTest::addColumn<int>("browser");
        const auto row = [](const char *name, std::optional<Browser> browser) {
            QTest::newRow(name) << QByteArray(name) << browserCode(browser);
        };
        row("firefox", Browser::firefox);
        row("Firefox", Browser::firefox);
        row("firefox-esr", Browser::firefox);
        row("Firefox-esr", Browser::firefox);
        row("Google-chrome", Browser::chrome);
        row("google-chrome-beta", Browser::chrome);
        row("google-chrome-unstable", Browser::chrome);
        row("Chromium", Browser::chromium);
        row("Chromium-browser", Browser::chromium);
        row("Microsoft-edge", Browser::edge);
        row("microsoft-edge-beta", Browser::edge);
        row("microsoft-edge-dev", Browser::edge);
        row("Brave-browser", Browser::brave);
        row("firefox-developer-edition", std::nullopt);
        row("Gnome-terminal", std::nullopt);
        row("", std::nullopt);
    }
    void browserOfClass()
    {
        QFETCH(QByteArray, windowClass);
        QFETCH(int, browser);
        QCOMPARE(browserCode(FrontWindow::browserOfClass(windowClass)), browser);
    }

    // The active window as a window manager would announce it, on the test session's X server.
    void activeWindow_data()
    {
        QTest::addColumn<QByteArray>("instance");
        QTest::addColumn<QByteArray>("windowClass");
        QTest::addColumn<QString>("title");
        QTest::addColumn<quint32>("pid");
        QTest::addColumn<int>("browser");
        QTest::newRow("Firefox") << QByteArray("Navigator") << QByteArray("firefox") << QStringLiteral("演讲 — Mozilla Firefox")
                                 << quint32(4321) << browserCode(Browser::firefox);
        QTest::newRow("Chrome") << QByteArray("google-chrome") << QByteArray("Google-chrome")
                                << QStringLiteral("Keynote - YouTube - Google Chrome") << quint32(99) << browserCode(Browser::chrome);
        QTest::newRow("Brave") << QByteArray("brave-browser") << QByteArray("Brave-browser")
                               << QStringLiteral("Talk - Brave") << quint32(7) << browserCode(Browser::brave);
        QTest::newRow("not a browser") << QByteArray("gnome-terminal-server") << QByteArray("Gnome-terminal")
                                       << QStringLiteral("bash") << quint32(1) << browserCode(std::nullopt);
        QTest::newRow("browser instance, other class") << QByteArray("firefox") << QByteArray("Thunderbird")
                                                       << QStringLiteral("Mail") << quint32(1) << browserCode(std::nullopt);
    }
    void activeWindow()
    {
        QFETCH(QByteArray, instance);
        QFETCH(QByteArray, windowClass);
        QFETCH(QString, title);
        QFETCH(quint32, pid);
        QFETCH(int, browser);
        FakeFrontWindow x;
        if (!FakeFrontWindow::sessionHasDisplay())
            QSKIP("needs the test session's X display (scripts/with-test-env)");
        QVERIFY(x.isValid());
        QVERIFY(x.show({instance, windowClass, title, pid}));
        const std::optional<FrontWindow::Window> front = FrontWindow::read(QString());
        QCOMPARE(front ? int(front->browser) : -1, browser);
        if (front) {
            QCOMPARE(front->title, title);
            QCOMPARE(front->pid, qint64(pid));
        }
    }

    void windowWithoutNameOrPid()
    {
        FakeFrontWindow x;
        if (!FakeFrontWindow::sessionHasDisplay())
            QSKIP("needs the test session's X display (scripts/with-test-env)");
        QVERIFY(x.isValid());
        QVERIFY(x.show({"chromium", "Chromium", std::nullopt, std::nullopt}));
        const std::optional<FrontWindow::Window> front = FrontWindow::read(QString());
        QVERIFY(front);
        QCOMPARE(front->browser, Browser::chromium);
        QVERIFY(front->title.isEmpty());
        QCOMPARE(front->pid, qint64(0));
    }

    void noActiveWindowGivesNone()
    {
        FakeFrontWindow x;
        if (!FakeFrontWindow::sessionHasDisplay())
            QSKIP("needs the test session's X display (scripts/with-test-env)");
        QVERIFY(x.isValid());
        QVERIFY(x.show({"Navigator", "firefox", QStringLiteral("x"), 1}));
        QVERIFY(FrontWindow::read(QString()));
        QVERIFY(x.clearActive());
        QVERIFY(!FrontWindow::read(QString()));
    }

    void unreachableDisplayGivesNone()
    {
        FakeFrontWindow x;
        if (x.isValid())
            QVERIFY(x.show({"Navigator", "firefox", QStringLiteral("x"), 1}));
        // No server listens on this display; the reader must not fall back to the session's.
        QVERIFY(!FrontWindow::read(QStringLiteral(":4093")));
        QVERIFY(!FrontWindow::read(QStringLiteral("not a display")));
    }
};

DODEDAROV_TEST(FrontWindowTest)
#include "FrontWindowTest.moc"
