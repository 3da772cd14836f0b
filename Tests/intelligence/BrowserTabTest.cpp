#include "TestMain.h"

#include "fakes/FakeFrontWindow.h"
#include "fakes/FakePageServer.h"
#include "fakes/FirefoxFixture.h"
#include "intelligence/BrowserTab.h"
#include "platform/ChromiumDevTools.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>

#include <unistd.h>

namespace {

using Browser = FrontWindow::Browser;
using Snapshot = BrowserTab::Snapshot;

QStringList urls(const QList<BrowserTabs::Tab> &tabs)
{
    QStringList out;
    for (const BrowserTabs::Tab &tab : tabs)
        out.append(tab.url.toString());
    return out;
}

qsizetype slot(Browser browser)
{
    for (size_t i = 0; i < BrowserTab::chromiumFamily.size(); ++i) {
        if (BrowserTab::chromiumFamily[i] == browser)
            return qsizetype(i);
    }
    return -1;
}

FrontWindow::Window window(Browser browser, const QString &title, qint64 pid = 0) { return {browser, title, pid}; }

FirefoxSession::Running firefox(qint64 pid, const QList<BrowserPage> &tabs, std::optional<BrowserPage> front)
{
    return {pid, {tabs, front}};
}

QByteArray chromeListing(const QList<BrowserPage> &pages)
{
    QByteArray json = "[";
    for (const BrowserPage &page : pages) {
        if (json.size() > 1)
            json += ',';
        json += "{\"type\":\"page\",\"title\":\"" + page.title.toUtf8() + "\",\"url\":\"" + page.url.toUtf8() + "\"}";
    }
    return json + ']';
}

// The places every reader looks, all pointed at this test's fixtures.
struct Browsers {
    FirefoxFixture firefoxHome;
    QTemporaryDir configHome;
    FakePageServer chrome;

    Browsers()
    {
        FirefoxSession::firefoxFolder = firefoxHome.folder();
        ChromiumDevTools::configHome = configHome.path();
        FrontWindow::displayName = QStringLiteral(":4093"); // no front window unless a test says so
        // Only an upper bound: a pass ends as soon as every reader has answered, and a busy
        // machine must not make a reader miss it.
        BrowserTab::readerLimitMs = 10000;
    }
    ~Browsers()
    {
        FirefoxSession::firefoxFolder.clear();
        ChromiumDevTools::configHome.clear();
        FrontWindow::displayName.clear();
        BrowserTab::readerLimitMs = 2000;
    }

    bool runFirefox(const QByteArray &sessionJson)
    {
        const QString profile = firefoxHome.addProfile(QStringLiteral("t.default"), ::getpid());
        return firefoxHome.writeSession(profile, FirefoxFixture::mozLz4(sessionJson));
    }
    bool runChrome(const FakePageServer::Page &listing)
    {
        if (!chrome.listen())
            return false;
        chrome.serve("/json/list", listing);
        QDir().mkpath(configHome.filePath(QStringLiteral("google-chrome")));
        QFile file(configHome.filePath(QStringLiteral("google-chrome/DevToolsActivePort")));
        return file.open(QIODevice::WriteOnly)
               && file.write(QByteArray::number(chrome.port()) + "\n/devtools/browser/x\n") > 0;
    }
};

const QByteArray firefoxSession = FirefoxFixture::sessionJson(
    {{{QStringLiteral("https://example.org/notes"), QStringLiteral("Notes")},
      {QStringLiteral("https://www.bilibili.com/video/BV1"), QStringLiteral("讲座")}}},
    1, {2});

const QList<BrowserPage> chromePages{
    {QStringLiteral("https://www.youtube.com/watch?v=k"), QStringLiteral("Keynote - YouTube")},
    {QStringLiteral("chrome://newtab/"), QStringLiteral("New Tab")},
    {QStringLiteral("https://docs.example.org/"), QStringLiteral("Docs")},
};

} // namespace

Q_DECLARE_METATYPE(QList<BrowserPage>)

class BrowserTabTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(BrowserTab::readerLimitMs, 2000); // what a user's pass waits at most
    }

    void frontTabOfAChromiumWindow_data()
    {
        QTest::addColumn<int>("browser");
        QTest::addColumn<QString>("windowTitle");
        QTest::addColumn<QList<BrowserPage>>("chromePages");
        QTest::addColumn<QString>("front");
        const QList<BrowserPage> pages{
            {QStringLiteral("https://a.org/1"), QStringLiteral("Talk")},
            {QStringLiteral("https://a.org/2"), QStringLiteral("Talk - Part 2")},
            {QStringLiteral("https://a.org/3"), QStringLiteral("Talk - Part 2")},
            {QStringLiteral("chrome://settings/"), QStringLiteral("Settings")},
            {QStringLiteral("file:///tmp/x.html"), QStringLiteral("x.html")},
        };
        const int chrome = int(Browser::chrome);
        QTest::newRow("longest fitting title") << chrome << QStringLiteral("Talk - Part 2 - Google Chrome") << pages
                                               << QStringLiteral("https://a.org/2");
        QTest::newRow("shorter title when only it fits") << chrome << QStringLiteral("Talk - Google Chrome") << pages
                                                         << QStringLiteral("https://a.org/1");
        QTest::newRow("profile name after the title") << chrome << QStringLiteral("Talk - Part 2 - Work - Google Chrome")
                                                      << pages << QStringLiteral("https://a.org/2");
        QTest::newRow("no title fits: no guess") << chrome << QStringLiteral("Something else - Google Chrome") << pages
                                                 << QString();
        QTest::newRow("title without the separator") << chrome << QStringLiteral("Talk") << pages << QString();
        QTest::newRow("browser page") << chrome << QStringLiteral("Settings - Google Chrome") << pages << QString();
        QTest::newRow("local file") << chrome << QStringLiteral("x.html - Google Chrome") << pages << QString();
        QTest::newRow("another browser's window") << int(Browser::edge)
                                                  << QStringLiteral("Talk - Part 2 - Microsoft Edge") << pages << QString();
        QTest::newRow("no listing") << chrome << QStringLiteral("Talk - Google Chrome") << QList<BrowserPage>() << QString();
    }
    void frontTabOfAChromiumWindow()
    {
        QFETCH(int, browser);
        QFETCH(QString, windowTitle);
        QFETCH(QList<BrowserPage>, chromePages);
        QFETCH(QString, front);
        Snapshot snapshot;
        snapshot.front = window(Browser(browser), windowTitle);
        snapshot.chromium[slot(Browser::chrome)] = chromePages;
        const std::optional<QUrl> found = BrowserTab::frontTab(snapshot);
        QCOMPARE(found ? found->toString() : QString(), front);
    }

    void frontTabOfAFirefoxWindow()
    {
        const BrowserPage one{QStringLiteral("https://one.example/"), QStringLiteral("One")};
        const BrowserPage two{QStringLiteral("https://two.example/"), QStringLiteral("Two")};
        const BrowserPage newTab{QStringLiteral("about:newtab"), QStringLiteral("New Tab")};
        Snapshot snapshot;
        snapshot.firefox = {firefox(100, {one}, one), firefox(200, {two}, two)};
        snapshot.front = window(Browser::firefox, QStringLiteral("Two — Mozilla Firefox"), 200);
        QCOMPARE(BrowserTab::frontTab(snapshot), std::optional<QUrl>(QUrl(two.url)));
        // No profile's lock names the window's process: the first running profile.
        snapshot.front->pid = 300;
        QCOMPARE(BrowserTab::frontTab(snapshot), std::optional<QUrl>(QUrl(one.url)));
        snapshot.front->pid = 0;
        QCOMPARE(BrowserTab::frontTab(snapshot), std::optional<QUrl>(QUrl(one.url)));
        snapshot.firefox = {firefox(100, {newTab}, newTab)};
        QCOMPARE(BrowserTab::frontTab(snapshot), std::nullopt);
        snapshot.firefox = {firefox(100, {one}, std::nullopt)};
        QCOMPARE(BrowserTab::frontTab(snapshot), std::nullopt);
        snapshot.firefox.clear();
        QCOMPARE(BrowserTab::frontTab(snapshot), std::nullopt);
        snapshot.firefox = {firefox(100, {one}, one)};
        snapshot.front.reset();
        QCOMPARE(BrowserTab::frontTab(snapshot), std::nullopt);
    }

    void allTabsPutTheFrontBrowserFirst_data()
    {
        QTest::addColumn<int>("front"); // -1: no front window
        QTest::addColumn<QStringList>("order");
        const QString ff = QStringLiteral("https://ff.example/");
        const QString ch = QStringLiteral("https://chrome.example/");
        const QString cr = QStringLiteral("https://chromium.example/");
        const QString ed = QStringLiteral("https://edge.example/");
        const QString br = QStringLiteral("https://brave.example/");
        QTest::newRow("no front window") << -1 << QStringList{ff, ch, cr, ed, br};
        QTest::newRow("Firefox in front") << int(Browser::firefox) << QStringList{ff, ch, cr, ed, br};
        QTest::newRow("Edge in front") << int(Browser::edge) << QStringList{ed, ff, ch, cr, br};
        QTest::newRow("Brave in front") << int(Browser::brave) << QStringList{br, ff, ch, cr, ed};
    }
    void allTabsPutTheFrontBrowserFirst()
    {
        QFETCH(int, front);
        QFETCH(QStringList, order);
        Snapshot snapshot;
        if (front >= 0)
            snapshot.front = window(Browser(front), QString());
        snapshot.firefox = {firefox(1, {{QStringLiteral("https://ff.example/"), {}}, {QStringLiteral("about:home"), {}}}, std::nullopt)};
        snapshot.chromium[slot(Browser::chrome)] = {{QStringLiteral("https://chrome.example/"), {}}, {QStringLiteral("chrome://newtab/"), {}}};
        snapshot.chromium[slot(Browser::chromium)] = {{QStringLiteral("https://chromium.example/"), {}}};
        snapshot.chromium[slot(Browser::edge)] = {{QStringLiteral("https://edge.example/"), {}}, {QStringLiteral("edge://newtab/"), {}}};
        snapshot.chromium[slot(Browser::brave)] = {{QStringLiteral("https://brave.example/"), {}}};
        QCOMPARE(urls(BrowserTab::tabsOf(snapshot)), order);
    }

    // The real readers against a Firefox folder, a DevTools listing and an X window.
    void readsEveryBrowserWithChromeInFront()
    {
        Browsers browsers;
        FakeFrontWindow x;
        if (!FakeFrontWindow::sessionHasDisplay())
            QSKIP("needs the test session's X display (scripts/with-test-env)");
        QVERIFY(x.isValid());
        QVERIFY(browsers.runFirefox(firefoxSession));
        QVERIFY(browsers.runChrome(FakePageServer::json(chromeListing(chromePages))));
        FrontWindow::displayName.clear();
        QVERIFY(x.show({"google-chrome", "Google-chrome", QStringLiteral("Keynote - YouTube - Google Chrome"), 4242}));

        QObject receiver;
        std::optional<QList<BrowserTabs::Tab>> all;
        BrowserTab::allTabs(&receiver, [&](const QList<BrowserTabs::Tab> &tabs) { all = tabs; });
        QTRY_VERIFY_WITH_TIMEOUT(all.has_value(), 20000);
        QCOMPARE(urls(*all), (QStringList{"https://www.youtube.com/watch?v=k", "https://docs.example.org/",
                                          "https://example.org/notes", "https://www.bilibili.com/video/BV1"}));
        QCOMPARE(all->at(0).title, QStringLiteral("Keynote - YouTube"));

        std::optional<std::optional<QUrl>> front;
        BrowserTab::current(&receiver, [&](const std::optional<QUrl> &url) { front = url; });
        QTRY_VERIFY_WITH_TIMEOUT(front.has_value(), 20000);
        QCOMPARE(*front, std::optional<QUrl>(QUrl(QStringLiteral("https://www.youtube.com/watch?v=k"))));
    }

    void currentOfFirefoxInFront()
    {
        Browsers browsers;
        FakeFrontWindow x;
        if (!FakeFrontWindow::sessionHasDisplay())
            QSKIP("needs the test session's X display (scripts/with-test-env)");
        QVERIFY(x.isValid());
        QVERIFY(browsers.runFirefox(firefoxSession));
        FrontWindow::displayName.clear();
        QVERIFY(x.show({"Navigator", "firefox", QStringLiteral("讲座 — Mozilla Firefox"), quint32(::getpid())}));
        QObject receiver;
        std::optional<std::optional<QUrl>> front;
        BrowserTab::current(&receiver, [&](const std::optional<QUrl> &url) { front = url; });
        QTRY_VERIFY_WITH_TIMEOUT(front.has_value(), 20000);
        QCOMPARE(*front, std::optional<QUrl>(QUrl(QStringLiteral("https://www.bilibili.com/video/BV1"))));

        // Another application in front: no address, though the browser is open behind it.
        QVERIFY(x.show({"gnome-terminal-server", "Gnome-terminal", QStringLiteral("bash"), 1}));
        front.reset();
        std::optional<QList<BrowserTabs::Tab>> all;
        BrowserTab::current(&receiver, [&](const std::optional<QUrl> &url) { front = url; });
        BrowserTab::allTabs(&receiver, [&](const QList<BrowserTabs::Tab> &tabs) { all = tabs; });
        QTRY_VERIFY_WITH_TIMEOUT(front.has_value() && all.has_value(), 20000);
        QCOMPARE(*front, std::nullopt);
        QCOMPARE(all->size(), 2);
    }

    void nothingRunningGivesNothing()
    {
        Browsers browsers; // no profiles.ini, no port files, no display
        QObject receiver;
        std::optional<QList<BrowserTabs::Tab>> all;
        std::optional<std::optional<QUrl>> front;
        BrowserTab::allTabs(&receiver, [&](const QList<BrowserTabs::Tab> &tabs) { all = tabs; });
        BrowserTab::current(&receiver, [&](const std::optional<QUrl> &url) { front = url; });
        QTRY_VERIFY_WITH_TIMEOUT(all.has_value() && front.has_value(), 20000);
        QVERIFY(all->isEmpty());
        QCOMPARE(*front, std::nullopt);
    }

    // A browser that takes the request and never answers holds up neither the caller's thread
    // nor the other browsers' tabs; its late answer is dropped.
    void listingThatNeverComesIsLeftBehind()
    {
        Browsers browsers;
        // Long enough for the Firefox reader on a busy machine; the listing never comes at all.
        BrowserTab::readerLimitMs = 3000;
        QVERIFY(browsers.runFirefox(firefoxSession));
        FakePageServer::Page silent = FakePageServer::json(chromeListing(chromePages));
        silent.headDelayMs = 600000;
        QVERIFY(browsers.runChrome(silent));

        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(10);

        QObject receiver;
        int calls = 0;
        QList<BrowserTabs::Tab> found;
        BrowserTab::allTabs(&receiver, [&](const QList<BrowserTabs::Tab> &tabs) {
            ++calls;
            found = tabs;
        });
        QCOMPARE(calls, 0); // asked, not yet answered: the call itself waited for nothing
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 20000);
        QVERIFY(ticks > 0); // the caller's events kept running meanwhile
        QCOMPARE(urls(found), (QStringList{"https://example.org/notes", "https://www.bilibili.com/video/BV1"}));
        QCOMPARE(browsers.chrome.requests().size(), 1);

        // The listing gives up on its own; when it has, nothing more reaches the caller.
        QTRY_COMPARE_WITH_TIMEOUT(browsers.chrome.openConnections(), 0, 20000);
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);
    }

    // A reader with no limit of its own that never answers (an X server that takes the
    // connection and says nothing) still lets the pass end at the pass limit, with the tabs the
    // other readers found.
    void frontWindowThatNeverAnswersIsLeftBehind()
    {
        Browsers browsers;
        QTcpServer silentX;
        int display = 0;
        for (int n = 40; n < 100 && display == 0; ++n) {
            if (silentX.listen(QHostAddress::LocalHost, quint16(6000 + n)))
                display = n;
        }
        QVERIFY2(display != 0, "no free X display port on 127.0.0.1");
        FrontWindow::displayName = QStringLiteral("127.0.0.1:%1").arg(display);
        BrowserTab::readerLimitMs = 3000; // long enough for the Firefox reader on a busy machine
        QVERIFY(browsers.runFirefox(firefoxSession));

        QObject receiver;
        int calls = 0;
        QList<BrowserTabs::Tab> found;
        BrowserTab::allTabs(&receiver, [&](const QList<BrowserTabs::Tab> &tabs) {
            ++calls;
            found = tabs;
        });
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 30000);
        QCOMPARE(urls(found), (QStringList{"https://example.org/notes", "https://www.bilibili.com/video/BV1"}));
        QTRY_VERIFY_WITH_TIMEOUT(silentX.hasPendingConnections(), 20000); // the reader did ask

        // Closing the silent server ends the stuck reader, whose late answer reaches no one.
        silentX.close();
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);
    }

    void doneRunsOnTheReceiversThread()
    {
        Browsers browsers;
        QVERIFY(browsers.runFirefox(firefoxSession));
        QThread worker;
        worker.start();
        QObject receiver;
        receiver.moveToThread(&worker);
        std::atomic<QThread *> ranOn{nullptr};
        std::atomic<int> tabs{-1};
        BrowserTab::allTabs(&receiver, [&](const QList<BrowserTabs::Tab> &found) {
            tabs = int(found.size());
            ranOn = QThread::currentThread();
        });
        QTRY_VERIFY_WITH_TIMEOUT(ranOn.load() != nullptr, 20000);
        QCOMPARE(ranOn.load(), &worker);
        QCOMPARE(tabs.load(), 2);
        worker.quit();
        QVERIFY(worker.wait(20000));
    }

    void receiverGoneBeforeTheAnswer()
    {
        Browsers browsers;
        QVERIFY(browsers.runFirefox(firefoxSession));
        int goneCalls = 0;
        {
            QObject gone;
            BrowserTab::allTabs(&gone, [&](const QList<BrowserTabs::Tab> &) { ++goneCalls; });
        }
        QObject receiver;
        bool answered = false;
        BrowserTab::allTabs(&receiver, [&](const QList<BrowserTabs::Tab> &) { answered = true; });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 20000);
        QCoreApplication::processEvents();
        QCOMPARE(goneCalls, 0);
    }
};

DODEDAROV_TEST(BrowserTabTest)
#include "BrowserTabTest.moc"
