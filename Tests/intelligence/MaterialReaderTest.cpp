// Page fetching against a loopback web server: encodings declared in every place (or nowhere),
// failures and odd servers (error statuses, media types, drops, pauses, trickles, endless and
// oversized bodies, redirects), addresses that must never be fetched, and fetches side by side.
#include "TestMain.h"

#include "fakes/FakePageServer.h"
#include "intelligence/BackgroundLogic.h"
#include "intelligence/MaterialReader.h"

#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTemporaryDir>

Q_DECLARE_METATYPE(FakePageServer::Page)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

using Page = FakePageServer::Page;

QByteArray encoded(const char *encoding, const QString &text)
{
    QStringEncoder encoder(encoding);
    return encoder(text);
}

// GBK bytes: GB18030 writes every GBK character with the same two bytes.
QByteArray gbk(const QString &text)
{
    return encoded("GB18030", text);
}

struct Result {
    bool answered = false;
    std::optional<QString> page;
};

std::shared_ptr<Result> start(const QUrl &url)
{
    auto result = std::make_shared<Result>();
    MaterialReader::fetchPage(url, [result](const std::optional<QString> &page) {
        QVERIFY(!result->answered);
        result->answered = true;
        result->page = page;
    });
    return result;
}

// What a fetch that never answers gives: a text no server here sends, so the comparison with
// any expected answer, "no page" included, fails. A fetch must end by its own overall limit.
const QString kNeverAnswered = QStringLiteral("(the fetch never answered)");

std::optional<QString> fetch(const QUrl &url)
{
    const std::shared_ptr<Result> result = start(url);
    const int patienceMs = int((MaterialReader::totalTimeout + 30.0) * 1000.0);
    if (!QTest::qWaitFor([&] { return result->answered; }, patienceMs))
        return kNeverAnswered;
    return result->page;
}

} // namespace

class MaterialReaderTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The limits a user gets; the tests below shorten them.
        QCOMPARE(MaterialReader::idleTimeout, 20.0);
        QCOMPARE(MaterialReader::totalTimeout, 60.0);
    }

    void init()
    {
        m_server = std::make_unique<FakePageServer>();
        QVERIFY(m_server->listen());
        // Spelled out, so a changed constant shows here rather than passing along with it.
        m_server->expectHeader("User-Agent",
                               "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0) AppleWebKit/605.1.15 "
                               "(KHTML, like Gecko) Version/17.0 Safari/605.1.15");
        m_server->expectHeader("Accept-Language", "zh-CN,zh;q=0.9,en;q=0.8");
        MaterialReader::idleTimeout = 20.0;
        MaterialReader::totalTimeout = 60.0;
    }

    void cleanup()
    {
        QVERIFY2(m_server->problems().isEmpty(), qPrintable(m_server->problems().join(u'\n')));
        for (const FakePageServer::Request &request : m_server->requests())
            QCOMPARE(request.method, QByteArray("GET"));
        m_server.reset();
        MaterialReader::idleTimeout = 20.0;
        MaterialReader::totalTimeout = 60.0;
    }

    void encodings_data()
    {
        QTest::addColumn<Page>("page");
        QTest::addColumn<std::optional<QString>>("expected");

        const QString chinese = QStringLiteral("<p>中文页面：朱镕基与陶喆</p>");
        QTest::newRow("utf-8")
            << FakePageServer::html(QStringLiteral("<p>中文 café 😀</p>").toUtf8())
            << std::optional<QString>(QStringLiteral("<p>中文 café 😀</p>"));
        QTest::newRow("GBK declared in the header")
            << FakePageServer::html(gbk(chinese), "text/html; charset=GBK") << std::optional<QString>(chinese);
        QTest::newRow("gb2312 label over GBK-only characters")
            << FakePageServer::html(gbk(chinese), "text/html;charset=\"gb2312\"") << std::optional<QString>(chinese);
        QTest::newRow("GB18030 four-byte characters")
            << FakePageServer::html(encoded("GB18030", QStringLiteral("字𠀀字")), "text/html; charset=gb18030")
            << std::optional<QString>(QStringLiteral("字𠀀字"));
        const QString big5 = QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=big5\"><p>臺灣資訊</p>");
        QTest::newRow("Big5 in a meta element")
            << FakePageServer::html(encoded("Big5", big5), "text/html") << std::optional<QString>(big5);
        const QString metaCharset = QStringLiteral("<html><head><META CHARSET='gbk'></head><p>中文</p>");
        QTest::newRow("meta charset element")
            << FakePageServer::html(gbk(metaCharset), "text/html") << std::optional<QString>(metaCharset);
        QTest::newRow("wrong header, right meta")
            << FakePageServer::html(encoded("Big5", big5), "text/html; charset=utf-8") << std::optional<QString>(big5);
        QTest::newRow("undeclared GBK")
            << FakePageServer::html(gbk(chinese), "text/html") << std::optional<QString>(chinese);
        QTest::newRow("declared utf-8 but GBK bytes")
            << FakePageServer::html(gbk(chinese), "text/html; charset=utf-8") << std::optional<QString>(chinese);
        QTest::newRow("unknown label over utf-8")
            << FakePageServer::html(QStringLiteral("中文").toUtf8(), "text/html; charset=x-nonsense")
            << std::optional<QString>(QStringLiteral("中文"));
        QTest::newRow("byte-order mark beats the header")
            << FakePageServer::html(encoded("UTF-16LE", QStringLiteral("\uFEFF<p>中文</p>")),
                                    "text/html; charset=iso-8859-1")
            << std::optional<QString>(QStringLiteral("<p>中文</p>"));
        QTest::newRow("utf-8 mark")
            << FakePageServer::html("\xEF\xBB\xBF" + QStringLiteral("中文").toUtf8(), "text/html; charset=gbk")
            << std::optional<QString>(QStringLiteral("中文"));
        QTest::newRow("neither utf-8 nor GB18030: Latin-1")
            << FakePageServer::html(QByteArray("caf\xE9 \xFF\x30"), "text/plain")
            << std::optional<QString>(QStringLiteral("café ÿ0"));
        QTest::newRow("latin-1 declared")
            << FakePageServer::html(QByteArray("caf\xE9"), "text/html; charset=ISO-8859-1")
            << std::optional<QString>(QStringLiteral("café"));
        // Windows punctuation in pages that call themselves Latin-1 or ASCII reads as browsers
        // show it, not as C1 control characters.
        const QByteArray windowsQuotes("\x93hi\x94 \x96 ok\x92s \x80 caf\xE9");
        const QString quotes = QStringLiteral("“hi” – ok’s € café");
        for (const char *label : {"iso-8859-1", "ISO_8859-1", "latin1", "us-ascii", "windows-1252"}) {
            QTest::addRow("windows punctuation labelled %s", label)
                << FakePageServer::html(windowsQuotes, QByteArray("text/html; charset=") + label)
                << std::optional<QString>(quotes);
        }
        QTest::newRow("windows punctuation labelled in a meta element")
            << FakePageServer::html("<meta charset=\"us-ascii\">" + windowsQuotes, "text/html")
            << std::optional<QString>(QStringLiteral("<meta charset=\"us-ascii\">") + quotes);
        QTest::newRow("windows punctuation undeclared")
            << FakePageServer::html(windowsQuotes, "text/plain") << std::optional<QString>(quotes);
        QTest::newRow("xhtml") << FakePageServer::html("<p>x</p>", "application/xhtml+xml")
                               << std::optional<QString>(QStringLiteral("<p>x</p>"));
        QTest::newRow("no content type") << FakePageServer::html("<p>x</p>", QByteArray())
                                         << std::optional<QString>(QStringLiteral("<p>x</p>"));
        QTest::newRow("empty page") << FakePageServer::html(QByteArray()) << std::optional<QString>(QString());
    }

    void encodings()
    {
        QFETCH(Page, page);
        QFETCH(std::optional<QString>, expected);
        m_server->serve("/page", page);
        QCOMPARE(fetch(m_server->url(QStringLiteral("/page"))), expected);
        QCOMPARE(m_server->requests().size(), 1);
    }

    void bodies_data()
    {
        QTest::addColumn<Page>("page");
        QTest::addColumn<std::optional<QString>>("expected");

        Page chunked = FakePageServer::html({});
        chunked.steps.clear();
        chunked.framing = FakePageServer::Framing::chunked;
        chunked.send(gbk(QStringLiteral("<p>中")).left(4)).pause(100).send(gbk(QStringLiteral("<p>中文</p>")).mid(4));
        QTest::newRow("chunked, a character split across chunks")
            << chunked << std::optional<QString>(QStringLiteral("<p>中文</p>"));
        Page closeFramed = FakePageServer::html("<p>until close</p>");
        closeFramed.framing = FakePageServer::Framing::close;
        QTest::newRow("ended by closing") << closeFramed << std::optional<QString>(QStringLiteral("<p>until close</p>"));
        Page paused = FakePageServer::html("<p>a");
        paused.pause(300).send("b</p>");
        QTest::newRow("a pause shorter than the idle limit")
            << paused << std::optional<QString>(QStringLiteral("<p>ab</p>"));
        QTest::newRow("404 with a body") << FakePageServer::error(404) << std::optional<QString>();
        QTest::newRow("500 with a body") << FakePageServer::error(500) << std::optional<QString>();
        Page dropped = FakePageServer::html("<p>half");
        dropped.declaredLength = 1000;
        dropped.pause(50).drop();
        QTest::newRow("connection cut before the declared length") << dropped << std::optional<QString>();
        Page created = FakePageServer::html("<p>made</p>");
        created.status = 203;
        QTest::newRow("any success status") << created << std::optional<QString>(QStringLiteral("<p>made</p>"));
    }

    void bodies()
    {
        QFETCH(Page, page);
        QFETCH(std::optional<QString>, expected);
        m_server->serve("/page", page);
        QCOMPARE(fetch(m_server->url(QStringLiteral("/page"))), expected);
    }

    void mediaTypesAreNotRead_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("video") << QByteArray("video/mp4");
        QTest::newRow("image") << QByteArray("image/png");
        QTest::newRow("pdf") << QByteArray("application/pdf");
        QTest::newRow("archive") << QByteArray("application/zip");
        QTest::newRow("octet-stream") << QByteArray("application/octet-stream");
    }

    void mediaTypesAreNotRead()
    {
        QFETCH(QByteArray, type);
        // An endless, slow body: only stopping at the head can end this fetch.
        Page page = FakePageServer::html({}, type);
        page.steps.clear();
        page.repeat(QByteArray(16 * 1024, 'x'), -1, 50);
        m_server->serve("/media", page);
        QCOMPARE(fetch(m_server->url(QStringLiteral("/media"))), std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->requests().value(0).closedByClient, 20000);
        QVERIFY(m_server->requests().value(0).bytesSent < 4 * 1024 * 1024);
    }

    void oversizedBodiesKeepTheFirst5MiB_data()
    {
        QTest::addColumn<bool>("endless");
        QTest::newRow("6 MiB") << false;
        QTest::newRow("endless") << true;
    }

    void oversizedBodiesKeepTheFirst5MiB()
    {
        QFETCH(bool, endless);
        Page page = FakePageServer::html({}, "text/html; charset=utf-8");
        page.steps.clear();
        // A three-byte character straddles the 5 MiB mark (5 MiB is not a multiple of 3).
        const QByteArray block = QStringLiteral("页").toUtf8().repeated(64 * 1024 / 3 + 1);
        page.send("<p>").repeat(block, endless ? -1 : (6 * 1024 * 1024) / block.size() + 1);
        m_server->serve("/big", page);
        const std::optional<QString> text = fetch(m_server->url(QStringLiteral("/big")));
        QVERIFY(text);
        QVERIFY(text->startsWith(QStringLiteral("<p>页页")));
        QCOMPARE(text->size(), 3 + (MaterialReader::sizeLimit - 3) / 3); // whole characters only
        QVERIFY(!text->contains(QChar::ReplacementCharacter));
        if (endless)
            QTRY_VERIFY_WITH_TIMEOUT(m_server->requests().value(0).closedByClient, 20000);
    }

    void slowServersGiveNoPage_data()
    {
        QTest::addColumn<Page>("page");
        Page silent = FakePageServer::html("<p>late</p>");
        silent.headDelayMs = 3000;
        QTest::newRow("no head within the idle limit") << silent;
        Page stalled = FakePageServer::html("<p>a");
        stalled.declaredLength = 100;
        stalled.pause(3000).send("b");
        QTest::newRow("a pause longer than the idle limit") << stalled;
        Page trickle = FakePageServer::html("<p>");
        trickle.framing = FakePageServer::Framing::chunked;
        trickle.repeat("a", -1, 100);
        QTest::newRow("a trickle that never ends") << trickle;
    }

    void slowServersGiveNoPage()
    {
        QFETCH(Page, page);
        MaterialReader::idleTimeout = 1.0;
        MaterialReader::totalTimeout = 2.0;
        m_server->serve("/slow", page);
        QCOMPARE(fetch(m_server->url(QStringLiteral("/slow"))), std::nullopt);
    }

    void redirects_data()
    {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("same server") << QByteArray("/target") << std::optional<QString>(QStringLiteral("<p>target</p>"));
        QTest::newRow("to a local file") << QByteArray("file:///etc/hostname") << std::optional<QString>();
        QTest::newRow("to ftp") << QByteArray("ftp://127.0.0.1/x") << std::optional<QString>();
        QTest::newRow("to a data address") << QByteArray("data:text/html,<p>x</p>") << std::optional<QString>();
    }

    void redirects()
    {
        QFETCH(QByteArray, location);
        QFETCH(std::optional<QString>, expected);
        m_server->serve("/from", FakePageServer::redirect(location));
        m_server->serve("/target", FakePageServer::html("<p>target</p>"));
        QCOMPARE(fetch(m_server->url(QStringLiteral("/from"))), expected);
    }

    void otherSchemesAreNeverFetched_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("file") << QStringLiteral("file");
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/page");
        QTest::newRow("no scheme") << QStringLiteral("127.0.0.1/page");
        QTest::newRow("empty") << QString();
        QTest::newRow("http without a host") << QStringLiteral("http:///page");
    }

    void otherSchemesAreNeverFetched()
    {
        QFETCH(QString, address);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QUrl url(address);
        if (address == QLatin1String("file")) {
            QFile file(folder.filePath(QStringLiteral("page.html")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("<p>secret</p>");
            file.close();
            url = QUrl::fromLocalFile(file.fileName());
        }
        const std::shared_ptr<Result> result = start(url);
        QVERIFY(!result->answered); // answered later, never from inside the call
        QTRY_VERIFY_WITH_TIMEOUT(result->answered, 20000);
        QCOMPARE(result->page, std::nullopt);
        QVERIFY(m_server->requests().isEmpty());
    }

    void severalAtOnce()
    {
        for (int i = 0; i < 4; ++i) {
            Page page = FakePageServer::html(QStringLiteral("<p>第%1页").arg(i).toUtf8());
            page.pause(400 - i * 100).send("</p>");
            m_server->serve(QStringLiteral("/p%1").arg(i).toLatin1(), page);
        }
        QList<std::shared_ptr<Result>> results;
        for (int i = 0; i < 4; ++i)
            results << start(m_server->url(QStringLiteral("/p%1").arg(i)));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(results.cbegin(), results.cend(),
                                             [](const auto &r) { return r->answered; }),
                                 30000);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(results.at(i)->page, std::optional<QString>(QStringLiteral("<p>第%1页</p>").arg(i)));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, 20000);
    }

    void pagesReadAsBackground()
    {
        // A desktop video page and an ordinary page with an unclosed script and entities, fetched
        // and read the way a note's link is.
        const QString video = QStringLiteral(
            "<html><title>讲座 - YouTube</title><script>var d={\"title\":{\"runs\":[{\"text\":\"脉冲场消融\"}]},"
            "\"shortDescription\":\"主讲：Calloway\\n地点：HRS\"};</script></html>");
        m_server->serve("/watch?v=abc", FakePageServer::html(gbk(video), "text/html; charset=gbk"));
        const QString ordinary = QStringLiteral(
            "<html><body><p>Tom &amp; Jerry &eacute; &#233;</p><script>var x = '<b>';");
        m_server->serve("/talk", FakePageServer::html(ordinary.toUtf8()));

        const std::optional<QString> videoPage = fetch(m_server->url(QStringLiteral("/watch?v=abc")));
        QVERIFY(videoPage);
        QCOMPARE(BackgroundLogic::youtube(*videoPage),
                 (BackgroundLogic::Video{QStringLiteral("脉冲场消融"), QStringLiteral("主讲：Calloway\n地点：HRS")}));
        const std::optional<QString> talk = fetch(m_server->url(QStringLiteral("/talk")));
        QVERIFY(talk);
        QCOMPARE(BackgroundLogic::pageText(*talk), QStringLiteral("Tom & Jerry &eacute; &#233;  var x = ' ';"));
    }

private:
    std::unique_ptr<FakePageServer> m_server;
};

DODEDAROV_TEST(MaterialReaderTest)
#include "MaterialReaderTest.moc"
