#include "TestMain.h"

#include "fakes/FakeReleaseServer.h"
#include "accounts/AppInfo.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrlQuery>

class AppInfoTest final : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_site = AppInfo::siteURL;
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    }

    void cleanup()
    {
        AppInfo::siteURL = m_site;
        AppInfo::updateTimeoutMs = 10000;
        QCoreApplication::setApplicationVersion(QString());
    }

    void versionIsReadOnEveryUse()
    {
        QCOMPARE(AppInfo::version(), QStringLiteral("1.0.0"));
        QCoreApplication::setApplicationVersion(QString());
        QCOMPARE(AppInfo::version(), QStringLiteral("0.6.0"));
        QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
        QCOMPARE(AppInfo::version(), QStringLiteral("2.3.4"));
    }

    void isNewer_data()
    {
        QTest::addColumn<QString>("candidate");
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("newer");
        QTest::newRow("0.10.0 over 0.9.9") << "0.10.0" << "0.9.9" << true;
        QTest::newRow("0.9.9 under 0.10.0") << "0.9.9" << "0.10.0" << false;
        QTest::newRow("1.10 over 1.2, not as text") << "1.10" << "1.2" << true;
        QTest::newRow("1.0 equals 1") << "1.0" << "1" << false;
        QTest::newRow("1 equals 1.0") << "1" << "1.0" << false;
        QTest::newRow("1.0.1 over 1.0") << "1.0.1" << "1.0" << true;
        QTest::newRow("same") << "1.2.3" << "1.2.3" << false;
        QTest::newRow("older") << "0.5" << "0.6.0" << false;
        QTest::newRow("v1.2 equals 1.2") << "v1.2" << "1.2" << false;
        QTest::newRow("v1.3 over 1.2") << "v1.3" << "1.2" << true;
        QTest::newRow("1.2-beta3 over 1.9: its digits are 23") << "1.2-beta3" << "1.9" << true;
        QTest::newRow("empty pieces dropped") << "1..2" << "1.2" << false;
        QTest::newRow("outer dots dropped") << ".1.2." << "1.2" << false;
        QTest::newRow("1.2.1 over 1..2") << "1.2.1" << "1..2" << true;
        QTest::newRow("letters only count as 0") << "1.beta" << "1.0" << false;
        QTest::newRow("overflow counts as 0") << "1.99999999999999999999" << "1.1" << false;
        QTest::newRow("largest 64-bit number") << "9223372036854775807" << "9223372036854775806" << true;
        QTest::newRow("other scripts' numerals count as 0") << "١.٢" << "0.1" << false;
        QTest::newRow("full-width digits count as 0") << "２" << "1" << false;
        QTest::newRow("empty") << "" << "" << false;
        QTest::newRow("anything over empty") << "0.0.1" << "" << true;
    }

    void isNewer()
    {
        QFETCH(QString, candidate);
        QFETCH(QString, current);
        QTEST(AppInfo::isNewer(candidate, current), "newer");
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QVariant>("notes"); // invalid: none
        const QString root = QStringLiteral("https://tessalab.example/");
        QTest::newRow("full") << QByteArray("{\"version\":\"1.2\",\"url\":\"https://x.example/d\",\"notes\":\"快\"}") << true
                              << "1.2" << "https://x.example/d" << QVariant(QStringLiteral("快"));
        QTest::newRow("extra keys ignored") << QByteArray("{\"version\":\"1.2\",\"url\":\"u\",\"x\":[1]}") << true << "1.2"
                                            << "u" << QVariant();
        QTest::newRow("no url: the root page") << QByteArray("{\"version\":\"1.2\"}") << true << "1.2" << root << QVariant();
        QTest::newRow("url not a text: the root page") << QByteArray("{\"version\":\"1.2\",\"url\":5}") << true << "1.2"
                                                       << root << QVariant();
        QTest::newRow("notes not a text: none") << QByteArray("{\"version\":\"1.2\",\"notes\":[\"a\"]}") << true << "1.2"
                                                << root << QVariant();
        QTest::newRow("empty notes kept") << QByteArray("{\"version\":\"1.2\",\"notes\":\"\"}") << true << "1.2" << root
                                          << QVariant(QString(""));
        QTest::newRow("empty version") << QByteArray("{\"version\":\"\"}") << false << "" << "" << QVariant();
        QTest::newRow("version a number") << QByteArray("{\"version\":1.2}") << false << "" << "" << QVariant();
        QTest::newRow("no version") << QByteArray("{\"url\":\"https://x.example\"}") << false << "" << "" << QVariant();
        QTest::newRow("an array") << QByteArray("[{\"version\":\"1.2\"}]") << false << "" << "" << QVariant();
        QTest::newRow("a bare text") << QByteArray("\"1.2\"") << false << "" << "" << QVariant();
        QTest::newRow("not JSON") << QByteArray("<html>error</html>") << false << "" << "" << QVariant();
        QTest::newRow("cut short") << QByteArray("{\"version\":\"1.2\"") << false << "" << "" << QVariant();
        QTest::newRow("empty") << QByteArray() << false << "" << "" << QVariant();
    }

    void parse()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, valid);
        QFETCH(QVariant, notes);
        const std::optional<AppInfo::Release> release = AppInfo::Release::parse(data);
        QCOMPARE(release.has_value(), valid);
        if (!release)
            return;
        QTEST(release->version, "version");
        QTEST(release->url, "url");
        QCOMPARE(release->notes.has_value(), notes.isValid());
        if (release->notes)
            QCOMPARE(*release->notes, notes.toString());
    }

    void releaseLink_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("link");
        const QString changelog = QStringLiteral("https://tessalab.example/changelog.html");
        QTest::newRow("https") << "https://dl.example/1.2" << "https://dl.example/1.2";
        QTest::newRow("http") << "http://dl.example/x?y=1" << "http://dl.example/x?y=1";
        QTest::newRow("capital scheme") << "HTTPS://dl.example/" << "https://dl.example/";
        QTest::newRow("file") << "file:///etc/passwd" << changelog;
        QTest::newRow("javascript") << "javascript:alert(1)" << changelog;
        QTest::newRow("mailto") << "mailto:a@b.example" << changelog;
        QTest::newRow("custom scheme") << "tessaly://update" << changelog;
        QTest::newRow("relative") << "download.html" << changelog;
        QTest::newRow("scheme-relative") << "//dl.example/x" << changelog;
        QTest::newRow("no host") << "http:///x" << changelog;
        QTest::newRow("not a URL") << "https://dl example.com/" << changelog;
        QTest::newRow("empty") << "" << changelog;
    }

    void releaseLink()
    {
        QFETCH(QString, url);
        QTEST(AppInfo::releaseLink(url).toString(), "link");
    }

    void feedbackURL()
    {
        const std::optional<QUrl> url = AppInfo::feedbackURL(QStringLiteral("Linux 6.1.0 (Debian GNU/Linux 12 (bookworm))"));
        QVERIFY(url);
        QCOMPARE(url->scheme(), QStringLiteral("mailto"));
        QCOMPARE(url->path(), QStringLiteral("feedback@tessalab.example"));
        const QUrlQuery query(*url);
        QCOMPARE(query.queryItems(QUrl::FullyDecoded).size(), 2);
        QCOMPARE(query.queryItems(QUrl::FullyDecoded).at(0).first, QStringLiteral("subject"));
        QCOMPARE(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
            QStringLiteral("泰萨利字幕 1.0.0 意见反馈"));
        QCOMPARE(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
            QStringLiteral("\n\n\n——\n软件版本：1.0.0\n系统：Linux 6.1.0 (Debian GNU/Linux 12 (bookworm))\n"));
        const QByteArray encoded = url->toEncoded();
        QVERIFY2(encoded.contains("&body=%0A%0A%0A%E2%80%94%E2%80%94%0A"), encoded.constData());
        QVERIFY(encoded.contains("subject=%E6%B3%B0"));
        QVERIFY(!encoded.contains(' '));
        QVERIFY(!encoded.contains('\n'));
    }

    void feedbackValuesCannotEscapeTheirField()
    {
        const std::optional<QUrl> url = AppInfo::feedbackURL(QStringLiteral("a&subject=x#y+z%20"));
        QVERIFY(url);
        const QUrlQuery query(*url);
        QCOMPARE(query.queryItems().size(), 2);
        QCOMPARE(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
            QStringLiteral("泰萨利字幕 1.0.0 意见反馈"));
        QVERIFY(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded)
                    .endsWith(QStringLiteral("系统：a&subject=x#y+z%20\n")));
        QVERIFY(url->fragment().isEmpty());
    }

    void systemLine_data()
    {
        QTest::addColumn<QString>("kernel");
        QTest::addColumn<QByteArray>("osRelease");
        QTest::addColumn<QString>("line");
        const QByteArray debian = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nID=debian\n";
        QTest::newRow("debian") << "6.1.0-18-amd64" << debian << "Linux 6.1.0 (Debian GNU/Linux 12 (bookworm))";
        QTest::newRow("two numbers") << "6.5-arch1" << debian << "Linux 6.5.0 (Debian GNU/Linux 12 (bookworm))";
        QTest::newRow("release candidate") << "6.8.0-rc1" << debian << "Linux 6.8.0 (Debian GNU/Linux 12 (bookworm))";
        QTest::newRow("leading zeros") << "06.01.02" << debian << "Linux 6.1.2 (Debian GNU/Linux 12 (bookworm))";
        QTest::newRow("unquoted") << "5.15.0-91-generic" << QByteArray("NAME=Ubuntu\nPRETTY_NAME=Ubuntu\n")
                                  << "Linux 5.15.0 (Ubuntu)";
        QTest::newRow("single quotes") << "6.1.0" << QByteArray("PRETTY_NAME='Fedora Linux 39'\n")
                                       << "Linux 6.1.0 (Fedora Linux 39)";
        QTest::newRow("escaped quote") << "6.1.0" << QByteArray("PRETTY_NAME=\"My \\\"OS\\\"\"\n") << "Linux 6.1.0 (My \"OS\")";
        QTest::newRow("no pretty name") << "6.1.0" << QByteArray("NAME=Debian\n") << "Linux 6.1.0";
        QTest::newRow("no file") << "6.1.0" << QByteArray() << "Linux 6.1.0";
        QTest::newRow("no kernel numbers") << "" << QByteArray() << "Linux 0.0.0";
    }

    void systemLine()
    {
        QFETCH(QString, kernel);
        QFETCH(QByteArray, osRelease);
        QTEST(AppInfo::systemLine(kernel, osRelease), "line");
    }

    void systemLineOfThisMachine()
    {
        const QString line = AppInfo::systemLine();
        QVERIFY2(QRegularExpression(QStringLiteral("^Linux \\d+\\.\\d+\\.\\d+( \\(.+\\))?$")).match(line).hasMatch(),
            qPrintable(line));
    }

    void describe_data()
    {
        QTest::addColumn<QByteArray>("record"); // empty: no release
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("url"); // empty: no link
        QTest::newRow("no release") << QByteArray() << "暂时连不上网站，请稍后再试。" << "";
        QTest::newRow("newer with notes") << QByteArray("{\"version\":\"1.1\",\"url\":\"https://d.example/\",\"notes\":\"更快\"}")
                                          << "有新版本 1.1，点这里下载：更快" << "https://d.example/";
        QTest::newRow("newer with empty notes") << QByteArray("{\"version\":\"1.1\",\"url\":\"https://d.example/\",\"notes\":\"\"}")
                                                << "有新版本 1.1，点这里下载" << "https://d.example/";
        QTest::newRow("newer without notes") << QByteArray("{\"version\":\"1.1\"}") << "有新版本 1.1，点这里下载"
                                             << "https://tessalab.example/";
        QTest::newRow("newer with a file link") << QByteArray("{\"version\":\"2\",\"url\":\"file:///bin/sh\"}")
                                                << "有新版本 2，点这里下载" << "https://tessalab.example/changelog.html";
        QTest::newRow("same") << QByteArray("{\"version\":\"1.0.0\",\"notes\":\"x\"}") << "已经是最新版本（1.0.0）。" << "";
        QTest::newRow("same, written shorter") << QByteArray("{\"version\":\"1\"}") << "已经是最新版本（1.0.0）。" << "";
        QTest::newRow("older") << QByteArray("{\"version\":\"0.9\"}") << "已经是最新版本（1.0.0）。" << "";
    }

    void describe()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, url);
        const AppInfo::UpdateOutcome outcome = AppInfo::describe(AppInfo::Release::parse(record));
        QTEST(outcome.message, "message");
        QCOMPARE(outcome.url.has_value(), !url.isEmpty());
        if (outcome.url)
            QCOMPARE(outcome.url->toString(), url);
    }

    void updateCheck_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("link"); // "<site>" stands for the fake's address; empty: none
        const QString unreachable = QStringLiteral("暂时连不上网站，请稍后再试。");
        const QString latest = QStringLiteral("已经是最新版本（1.0.0）。");
        auto record = [](const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); };
        QTest::newRow("newer with notes")
            << 200 << record({{"version", "1.1.0"}, {"url", "https://dl.example/1.1"}, {"notes", "更快了"}}) << false
            << "有新版本 1.1.0，点这里下载：更快了" << "https://dl.example/1.1";
        QTest::newRow("newer with empty notes")
            << 200 << record({{"version", "1.1.0"}, {"url", "https://dl.example/1.1"}, {"notes", ""}}) << false
            << "有新版本 1.1.0，点这里下载" << "https://dl.example/1.1";
        QTest::newRow("newer without notes or url") << 200 << record({{"version", "1.1.0"}}) << false
                                                    << "有新版本 1.1.0，点这里下载" << "<site>/";
        QTest::newRow("same") << 200 << record({{"version", "1.0.0"}}) << false << latest << "";
        QTest::newRow("older") << 200 << record({{"version", "0.9.9"}}) << false << latest << "";
        QTest::newRow("bad JSON") << 200 << QByteArray("{\"version\": ") << false << unreachable << "";
        QTest::newRow("error status, an error page") << 500 << QByteArray("<h1>Internal error</h1>") << false
                                                     << unreachable << "";
        QTest::newRow("error status, a record: read all the same") << 404 << record({{"version", "1.1.0"}}) << false
                                                                   << "有新版本 1.1.0，点这里下载" << "<site>/";
        QTest::newRow("file link") << 200 << record({{"version", "2.0"}, {"url", "file:///etc/passwd"}}) << false
                                   << "有新版本 2.0，点这里下载" << "<site>/changelog.html";
        QTest::newRow("javascript link") << 200 << record({{"version", "2.0"}, {"url", "javascript:alert(1)"}}) << false
                                         << "有新版本 2.0，点这里下载" << "<site>/changelog.html";
        QTest::newRow("relative link") << 200 << record({{"version", "2.0"}, {"url", "download/2.0"}}) << false
                                       << "有新版本 2.0，点这里下载" << "<site>/changelog.html";
        QByteArray exact = record({{"version", "1.1.0"}});
        exact.append(QByteArray(AppInfo::maxReleaseBytes - exact.size(), ' '));
        QTest::newRow("64 KiB exactly") << 200 << exact << false << "有新版本 1.1.0，点这里下载" << "<site>/";
        QTest::newRow("oversize") << 200 << exact + ' ' << false << unreachable << "";
        QTest::newRow("no answer: the time-out") << 200 << record({{"version", "1.1.0"}}) << true << unreachable << "";
    }

    void updateCheck()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, silent);
        QFETCH(QString, link);
        FakeReleaseServer server;
        QVERIFY(server.listen());
        server.status = status;
        server.body = body;
        server.silent = silent;
        AppInfo::siteURL = server.address();
        // Only a silent server is waited out: where the fake answers, the answer makes a thread
        // hop and a turn of this thread's event loop, which a loaded machine can hold up for
        // longer than a short time-out, so those rows keep the time-out a user has.
        if (silent)
            AppInfo::updateTimeoutMs = 500;

        QObject context;
        std::optional<std::optional<AppInfo::Release>> result;
        AppInfo::fetchRelease(&context, [&result](std::optional<AppInfo::Release> release) { result = release; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
        const AppInfo::UpdateOutcome outcome = AppInfo::describe(*result);
        QTEST(outcome.message, "message");
        QCOMPARE(outcome.url.has_value(), !link.isEmpty());
        if (outcome.url)
            QCOMPARE(outcome.url->toString(), QString(link).replace(QLatin1String("<site>"), server.address()));

        QCOMPARE(server.requests.size(), 1);
        const FakeReleaseServer::Request &request = server.requests.first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, QByteArray("/version.json"));
        QVERIFY2(request.header("cache-control").contains("no-cache"), request.header("cache-control").constData());
    }

private:
    QString m_site;
};

DODEDAROV_TEST(AppInfoTest)
#include "AppInfoTest.moc"
