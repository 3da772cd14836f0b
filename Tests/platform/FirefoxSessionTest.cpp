#include "TestMain.h"

#include "fakes/FirefoxFixture.h"
#include "platform/FirefoxSession.h"

#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

using Tab = FirefoxFixture::Tab;

QStringList urls(const QList<BrowserPage> &pages)
{
    QStringList out;
    for (const BrowserPage &page : pages)
        out.append(page.url);
    return out;
}

const QByteArray twoWindows = FirefoxFixture::sessionJson(
    {{{QStringLiteral("https://www.youtube.com/watch?v=a"), QStringLiteral("Keynote"), 3},
      {QStringLiteral("about:newtab"), QString()}},
     {{QStringLiteral("https://example.org/"), QStringLiteral("Example"), 1},
      {QStringLiteral("https://vimeo.com/1"), QStringLiteral("Talk\twith\ntabs"), 0}}},
    2, {1, 2});

} // namespace

class FirefoxSessionTest final : public QObject {
    Q_OBJECT

private slots:
    void lockPid_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<qint64>("pid");
        QTest::newRow("address:+PID") << QByteArray("127.0.1.1:+4242") << qint64(4242);
        QTest::newRow("address:PID") << QByteArray("127.0.1.1:4242") << qint64(4242);
        QTest::newRow("IPv6 address") << QByteArray("::1:+77") << qint64(77);
        QTest::newRow("empty") << QByteArray() << qint64(0);
        QTest::newRow("no colon") << QByteArray("4242") << qint64(0);
        QTest::newRow("no digits") << QByteArray("127.0.1.1:+") << qint64(0);
        QTest::newRow("negative") << QByteArray("127.0.1.1:-5") << qint64(0);
        QTest::newRow("letters") << QByteArray("127.0.1.1:+12ab") << qint64(0);
        QTest::newRow("zero") << QByteArray("127.0.1.1:+0") << qint64(0);
        QTest::newRow("past pid_t") << QByteArray("127.0.1.1:+99999999999") << qint64(0);
    }
    void lockPid()
    {
        QFETCH(QByteArray, target);
        QFETCH(qint64, pid);
        QCOMPARE(FirefoxSession::lockPid(target), pid);
    }

    void parseListsWindowByWindowWithTheFrontTab()
    {
        const std::optional<FirefoxSession::Session> session = FirefoxSession::parse(twoWindows);
        QVERIFY(session);
        QCOMPARE(urls(session->tabs), (QStringList{"https://www.youtube.com/watch?v=a", "about:newtab",
                                                    "https://example.org/", "https://vimeo.com/1"}));
        // The current entry is the last of each history, not the first.
        QCOMPARE(session->tabs.at(0).title, QStringLiteral("Keynote"));
        // The reader leaves titles as the browser keeps them.
        QCOMPARE(session->tabs.at(3).title, QStringLiteral("Talk\twith\ntabs"));
        QVERIFY(session->front);
        QCOMPARE(session->front->url, QStringLiteral("https://vimeo.com/1"));
    }

    // Session texts that are JSON of some other shape: never a crash, at most the sound tabs.
    void parseOtherShapes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("tabs");
        QTest::addColumn<QString>("front");
        const QString none;
        QTest::newRow("not JSON") << QByteArray("{\"windows\": [") << QStringList() << none;
        QTest::newRow("an array") << QByteArray("[1,2]") << QStringList() << none;
        QTest::newRow("no windows") << QByteArray("{\"version\":1}") << QStringList() << none;
        QTest::newRow("windows not a list") << QByteArray("{\"windows\":{}}") << QStringList() << none;
        QTest::newRow("no tabs") << QByteArray("{\"windows\":[{}],\"selectedWindow\":1}") << QStringList() << none;
        // Firefox shows the last history entry of a tab whose index is missing or unusable, and
        // the last one for an index past the end.
        QTest::newRow("no index: the last history entry")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://old.org/\"},"
                          "{\"url\":\"https://a.org/\"}]}],\"selected\":1}],\"selectedWindow\":1}")
            << QStringList{"https://a.org/"} << QStringLiteral("https://a.org/");
        QTest::newRow("index 0")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://old.org/\"},{\"url\":\"https://a.org/\"}],\"index\":0},"
                          "{\"entries\":[{\"url\":\"https://b.org/\"}],\"index\":1}],\"selected\":1}],\"selectedWindow\":1}")
            << QStringList{"https://a.org/", "https://b.org/"} << QStringLiteral("https://a.org/");
        QTest::newRow("index past the entries")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://old.org/\"},{\"url\":\"https://a.org/\"}],\"index\":5}],\"selected\":1}],\"selectedWindow\":1}")
            << QStringList{"https://a.org/"} << QStringLiteral("https://a.org/");
        QTest::newRow("index not a number")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://old.org/\"},{\"url\":\"https://a.org/\"}],\"index\":\"1\"}]}]}")
            << QStringList{"https://a.org/"} << none;
        QTest::newRow("index a fraction")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://old.org/\"},{\"url\":\"https://a.org/\"}],\"index\":0.5}]}]}")
            << QStringList{"https://a.org/"} << none;
        QTest::newRow("no entries")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[]},{\"index\":1}]}]}") << QStringList() << none;
        // Tabs an extension hid are not on the tab strip.
        QTest::newRow("hidden tabs left out")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://hidden.org/\"}],\"index\":1,\"hidden\":true},"
                          "{\"entries\":[{\"url\":\"https://b.org/\"}],\"index\":1,\"hidden\":false},"
                          "{\"entries\":[{\"url\":\"https://c.org/\"}],\"index\":1,\"hidden\":true}],\"selected\":2}],\"selectedWindow\":1}")
            << QStringList{"https://b.org/"} << QStringLiteral("https://b.org/");
        QTest::newRow("entry without url")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"title\":\"x\"}],\"index\":1}]}]}")
            << QStringList() << none;
        QTest::newRow("selectedWindow past the windows")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://a.org/\"}],\"index\":1}],\"selected\":1}],\"selectedWindow\":2}")
            << QStringList{"https://a.org/"} << none;
        QTest::newRow("selectedWindow 0")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://a.org/\"}],\"index\":1}],\"selected\":1}],\"selectedWindow\":0}")
            << QStringList{"https://a.org/"} << none;
        QTest::newRow("selected past the tabs")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://a.org/\"}],\"index\":1}],\"selected\":3}],\"selectedWindow\":1}")
            << QStringList{"https://a.org/"} << none;
        QTest::newRow("front tab is the selected one")
            << QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://a.org/\"}],\"index\":1},"
                          "{\"entries\":[{\"url\":\"https://b.org/\"}],\"index\":1}],\"selected\":2}],\"selectedWindow\":1}")
            << QStringList{"https://a.org/", "https://b.org/"} << QStringLiteral("https://b.org/");
    }
    void parseOtherShapes()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, tabs);
        QFETCH(QString, front);
        const std::optional<FirefoxSession::Session> session = FirefoxSession::parse(json);
        QCOMPARE(session ? urls(session->tabs) : QStringList(), tabs);
        const QString foundFront = session && session->front ? session->front->url : QString();
        QCOMPARE(foundFront, front);
    }

    // Files a reader may meet on disk: each bad one gives no session, never a crash or an
    // allocation of the size a header claims.
    void readFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("tabs");
        const QByteArray good = FirefoxFixture::mozLz4(twoWindows);
        QTest::newRow("sound") << good << 4;
        QTest::newRow("empty file") << QByteArray() << -1;
        QTest::newRow("header only") << good.left(12) << -1;
        QTest::newRow("wrong magic") << QByteArray("mozLz41\0", 8) + good.mid(8) << -1;
        QTest::newRow("plain JSON") << twoWindows << -1;
        QTest::newRow("truncated block") << good.left(good.size() / 2) << -1;
        QTest::newRow("declares 0") << FirefoxFixture::mozLz4(twoWindows, 0) << -1;
        QTest::newRow("declares 4 GiB") << FirefoxFixture::mozLz4(twoWindows, 0xffffffffu) << -1;
        QTest::newRow("declares past the cap")
            << FirefoxFixture::mozLz4(twoWindows, quint32(FirefoxSession::maxDecodedSize + 1)) << -1;
        QTest::newRow("declares more than one block can give")
            << FirefoxFixture::mozLz4("{}", quint32(200 * 1024 * 1024)) << -1;
        QTest::newRow("declares one byte more")
            << FirefoxFixture::mozLz4(twoWindows, quint32(twoWindows.size() + 1)) << -1;
        QTest::newRow("declares one byte less")
            << FirefoxFixture::mozLz4(twoWindows, quint32(twoWindows.size() - 1)) << -1;
        QByteArray corrupt = good;
        for (qsizetype i = 12; i < corrupt.size(); i += 7)
            corrupt[i] = char(0xff);
        QTest::newRow("corrupt block") << corrupt << -1;
        QTest::newRow("not JSON inside") << FirefoxFixture::mozLz4("not json at all") << -1;
        QTest::newRow("other JSON inside") << FirefoxFixture::mozLz4("{\"a\":[1,2,3]}") << -1;
    }
    void readFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, tabs);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("recovery.jsonlz4"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        const std::optional<FirefoxSession::Session> session = FirefoxSession::readFile(path);
        QCOMPARE(session ? int(session->tabs.size()) : -1, tabs);
    }

    void fileOverTheCapIsNotRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("recovery.jsonlz4"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(FirefoxFixture::mozLz4(twoWindows));
        QVERIFY(out.resize(FirefoxSession::maxFileSize + 1)); // sparse: no 64 MiB written
        out.close();
        QVERIFY(!FirefoxSession::readFile(path));
        QVERIFY(!FirefoxSession::decode(QByteArray("mozLz40\0", 8) + QByteArray(FirefoxSession::maxFileSize, 'x')));
    }

    void onlyRunningProfilesAreRead()
    {
        FirefoxFixture firefox;
        QVERIFY(firefox.isValid());
        QTemporaryDir elsewhere;
        const QString running = firefox.addProfile(QStringLiteral("abc.default-release"), ::getpid());
        const QString closed = firefox.addProfile(QStringLiteral("def.old"), FirefoxFixture::deadPid());
        const QString unlocked = firefox.addProfile(QStringLiteral("ghi.never"), 0);
        const QString absolute = firefox.addProfile(elsewhere.filePath(QStringLiteral("jkl.work")), ::getpid(), false);
        firefox.addProfile(QStringLiteral("missing.folder"), 0);
        QFile::remove(firefox.folder() + QStringLiteral("/missing.folder/lock"));
        QDir(firefox.folder() + QStringLiteral("/missing.folder")).removeRecursively();
        const QByteArray one = FirefoxFixture::sessionJson({{{QStringLiteral("https://one.example/"), QStringLiteral("One")}}}, 1, {1});
        const QByteArray two = FirefoxFixture::sessionJson({{{QStringLiteral("https://two.example/"), QStringLiteral("Two")}}}, 1, {1});
        for (const QString &profile : {running, closed, unlocked})
            QVERIFY(firefox.writeSession(profile, FirefoxFixture::mozLz4(one)));
        QVERIFY(firefox.writeSession(absolute, FirefoxFixture::mozLz4(two)));
        const QList<FirefoxSession::Profile> profiles = FirefoxSession::profiles(firefox.folder());
        QCOMPARE(profiles.size(), 5);
        QCOMPARE(profiles.at(0).folder, running);
        QCOMPARE(profiles.at(0).pid, qint64(::getpid()));
        QCOMPARE(profiles.at(2).pid, qint64(0));
        QCOMPARE(profiles.at(3).folder, absolute);

        const QList<FirefoxSession::Running> found = FirefoxSession::read(firefox.folder());
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.at(0).pid, qint64(::getpid()));
        QCOMPARE(urls(found.at(0).session.tabs), QStringList{"https://one.example/"});
        QCOMPARE(urls(found.at(1).session.tabs), QStringList{"https://two.example/"});
    }

    void badProfilesIniGivesNothing_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::newRow("missing") << QByteArray();
        static const char garbled[] = "\x00\xff\xfe[[[=\n==\n\x01Path";
        QTest::newRow("garbled") << QByteArray(garbled, sizeof garbled - 1);
        QTest::newRow("path pointing nowhere") << QByteArray("[Profile0]\nIsRelative=0\nPath=/nonexistent/firefox/x\n");
        QTest::newRow("no path") << QByteArray("[Profile0]\nIsRelative=1\nName=default\n");
        QTest::newRow("not a profile section") << QByteArray("[General]\nPath=abc.default\nIsRelative=1\n");
    }
    void badProfilesIniGivesNothing()
    {
        QFETCH(QByteArray, ini);
        FirefoxFixture firefox;
        // A running profile with a session exists, but the ini does not lead to it.
        const QString profile = firefox.addProfile(QStringLiteral("abc.default"), ::getpid());
        QVERIFY(firefox.writeSession(profile, FirefoxFixture::mozLz4(twoWindows)));
        if (ini.isEmpty())
            QFile::remove(firefox.folder() + QStringLiteral("/profiles.ini"));
        else
            firefox.writeProfilesIni(ini);
        QVERIFY(FirefoxSession::read(firefox.folder()).isEmpty());
    }
};

DODEDAROV_TEST(FirefoxSessionTest)
#include "FirefoxSessionTest.moc"
