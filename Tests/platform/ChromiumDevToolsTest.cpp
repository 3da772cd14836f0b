#include "TestMain.h"

#include "fakes/FakePageServer.h"
#include "platform/ChromiumDevTools.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

QStringList urls(const QList<BrowserPage> &pages)
{
    QStringList out;
    for (const BrowserPage &page : pages)
        out.append(page.url);
    return out;
}

const QByteArray listing = "[\n"
    " {\"description\":\"\",\"devtoolsFrontendUrl\":\"/devtools/inspector.html?ws=127.0.0.1/devtools/page/A\",\"id\":\"A\",\n"
    "  \"title\":\"Keynote - YouTube\",\"type\":\"page\",\"url\":\"https://www.youtube.com/watch?v=k\",\n"
    "  \"webSocketDebuggerUrl\":\"ws://127.0.0.1/devtools/page/A\"},\n"
    " {\"id\":\"B\",\"title\":\"Service Worker https://www.youtube.com/sw.js\",\"type\":\"service_worker\",\"url\":\"https://www.youtube.com/sw.js\"},\n"
    " {\"id\":\"C\",\"title\":\"新标签页\",\"type\":\"page\",\"url\":\"chrome://newtab/\"},\n"
    " {\"id\":\"D\",\"title\":\"ad\",\"type\":\"iframe\",\"url\":\"https://ads.example/frame\"},\n"
    " {\"id\":\"E\",\"title\":\"Docs\",\"type\":\"page\",\"url\":\"https://docs.example.org/a\"}\n"
    "]";

// A browser's configuration folder holding a DevToolsActivePort file.
struct PortFile {
    QTemporaryDir folder;
    explicit PortFile(const QByteArray &text)
    {
        QFile file(folder.filePath(QStringLiteral("DevToolsActivePort")));
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }
    QString path() const { return folder.path(); }
};

QByteArray portText(quint16 port) { return QByteArray::number(port) + "\n/devtools/browser/1b2c\n"; }

} // namespace

Q_DECLARE_METATYPE(FakePageServer::Page)

class ChromiumDevToolsTest final : public QObject {
    Q_OBJECT

private slots:
    void port_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("port"); // 0: none
        QTest::newRow("port and path") << QByteArray("9222\n/devtools/browser/abc\n") << 9222;
        QTest::newRow("port alone") << QByteArray("35411") << 35411;
        QTest::newRow("carriage return") << QByteArray("9222\r\n/devtools/browser/abc") << 9222;
        QTest::newRow("lowest") << QByteArray("1\n") << 1;
        QTest::newRow("highest") << QByteArray("65535\n") << 65535;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("empty first line") << QByteArray("\n9222\n") << 0;
        QTest::newRow("abc") << QByteArray("abc\n") << 0;
        QTest::newRow("0") << QByteArray("0\n") << 0;
        QTest::newRow("70000") << QByteArray("70000\n") << 0;
        QTest::newRow("signed") << QByteArray("+9222\n") << 0;
        QTest::newRow("long digits") << QByteArray("0000009222\n") << 0;
        QTest::newRow("binary") << QByteArray("\x00\x01\x02", 3) << 0;
    }
    void port()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, port);
        QCOMPARE(int(ChromiumDevTools::port(file).value_or(0)), port);
    }

    void parseListing_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("pages only, in order")
            << listing << QStringList{"https://www.youtube.com/watch?v=k", "chrome://newtab/", "https://docs.example.org/a"};
        QTest::newRow("empty list") << QByteArray("[]") << QStringList();
        QTest::newRow("not JSON") << QByteArray("<html>nope</html>") << QStringList();
        QTest::newRow("an object") << QByteArray("{\"type\":\"page\",\"url\":\"https://a.org/\"}") << QStringList();
        QTest::newRow("entries not objects") << QByteArray("[1,\"x\",null,[]]") << QStringList();
        QTest::newRow("url not a string") << QByteArray("[{\"type\":\"page\",\"url\":5}]") << QStringList();
    }
    void parseListing()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, urls);
        QCOMPARE(::urls(ChromiumDevTools::parseListing(json)), urls);
    }

    void titlesComeWithTheirPages()
    {
        const QList<BrowserPage> pages = ChromiumDevTools::parseListing(listing);
        QCOMPARE(pages.first(), (BrowserPage{"https://www.youtube.com/watch?v=k", "Keynote - YouTube"}));
    }

    void readsTheListingOfTheNamedPort()
    {
        FakePageServer server;
        QVERIFY(server.listen());
        server.serve("/json/list", FakePageServer::json(listing));
        PortFile file(portText(server.port()));
        const QList<BrowserPage> pages = ChromiumDevTools::read(file.path(), 5000);
        QCOMPARE(urls(pages), (QStringList{"https://www.youtube.com/watch?v=k", "chrome://newtab/", "https://docs.example.org/a"}));
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.requests().first().method, QByteArray("GET"));
        QCOMPARE(server.requests().first().path, QByteArray("/json/list"));
    }

    // Answers a browser (or whatever holds the port) may give: none of them gives pages.
    void badAnswers_data()
    {
        QTest::addColumn<FakePageServer::Page>("page");
        QTest::newRow("404") << FakePageServer::error(404, "Not found");
        QTest::newRow("500") << FakePageServer::error(500);
        QTest::newRow("not JSON") << FakePageServer::json("<html>hello</html>");
        QTest::newRow("an object") << FakePageServer::json("{\"Browser\":\"Chrome/131\"}");
        QTest::newRow("redirect") << FakePageServer::redirect("http://127.0.0.1:1/json/list");
        QTest::newRow("cut short") << FakePageServer::json(listing).drop();
        FakePageServer::Page over = FakePageServer::json({});
        over.framing = FakePageServer::Framing::chunked;
        over.repeat(QByteArray(64 * 1024, ' '), ChromiumDevTools::maxListingSize / (64 * 1024) + 2);
        QTest::newRow("over the cap") << over;
        FakePageServer::Page endless = FakePageServer::json({});
        endless.framing = FakePageServer::Framing::close;
        endless.repeat(QByteArray(64 * 1024, '['), -1);
        QTest::newRow("endless") << endless;
    }
    void badAnswers()
    {
        QFETCH(FakePageServer::Page, page);
        FakePageServer server;
        QVERIFY(server.listen());
        server.serve("/json/list", page);
        PortFile file(portText(server.port()));
        QVERIFY(ChromiumDevTools::read(file.path(), 10000).isEmpty());
        // Qt asks once more when a connection drops mid-answer, so a cut answer may be asked twice.
        QVERIFY(!server.requests().isEmpty());
        QCOMPARE(server.requests().first().path, QByteArray("/json/list"));
    }

    void listingThatNeverComesEndsAtTheLimit()
    {
        FakePageServer server;
        QVERIFY(server.listen());
        FakePageServer::Page silent = FakePageServer::json(listing);
        silent.headDelayMs = 600000;
        server.serve("/json/list", silent);
        PortFile file(portText(server.port()));
        QVERIFY(ChromiumDevTools::read(file.path(), 200).isEmpty());
        QCOMPARE(server.requests().size(), 1);
    }

    void noFileOrStaleFileAsksNothingUsable()
    {
        QTemporaryDir empty;
        QVERIFY(!ChromiumDevTools::portOf(empty.path()));
        QVERIFY(ChromiumDevTools::read(empty.path(), 5000).isEmpty());

        // A file left by a browser that is gone: its port is closed now.
        quint16 closedPort = 0;
        {
            FakePageServer gone;
            QVERIFY(gone.listen());
            closedPort = gone.port();
        }
        PortFile stale(portText(closedPort));
        QVERIFY(ChromiumDevTools::read(stale.path(), 5000).isEmpty());
    }

    void browserFoldersLiveUnderTheConfigHome()
    {
        ChromiumDevTools::configHome = QStringLiteral("/tmp/cfg");
        QCOMPARE(ChromiumDevTools::folderOf(QStringLiteral("BraveSoftware/Brave-Browser")),
                 QStringLiteral("/tmp/cfg/BraveSoftware/Brave-Browser"));
        ChromiumDevTools::configHome.clear();
        // Otherwise the XDG config home, as the user's own would be.
        QCOMPARE(ChromiumDevTools::folderOf(QStringLiteral("google-chrome")),
                 QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/google-chrome"));
    }
};


DODEDAROV_TEST(ChromiumDevToolsTest)
#include "ChromiumDevToolsTest.moc"
