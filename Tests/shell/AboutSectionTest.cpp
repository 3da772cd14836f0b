#include "TestMain.h"

#include "fakes/FakeReleaseServer.h"
#include "fakes/ModelRig.h"
#include "accounts/AppInfo.h"
#include "shell/SettingsView.h"
#include "shell/SettingsWindowController.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

// Catches the links the about section opens.
class LinkCatcher final : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

}

// The about section's update check against the loopback release site, and its feedback link.
class AboutSectionTest final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void outcomes_data();
    void outcomes();
    void resultArrivesWhileClosed();
    void feedbackOpensMail();

private:
    QString m_site;
    int m_timeout = 0;
};

void AboutSectionTest::init()
{
    m_site = AppInfo::siteURL;
    m_timeout = AppInfo::updateTimeoutMs;
}

void AboutSectionTest::cleanup()
{
    AppInfo::siteURL = m_site;
    AppInfo::updateTimeoutMs = m_timeout;
    SettingsWindowController::shared().reset();
    SettingsWindowController::model = nullptr;
    QCoreApplication::setApplicationVersion(QString());
}

void AboutSectionTest::outcomes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("link"); // "" for none; "changelog" for the changelog page

    const QString unreachable = QStringLiteral("暂时连不上网站，请稍后再试。");
    QTest::newRow("newer with notes") << 200 << QByteArray(R"({"version":"1.0.0","url":"https://dl.example/x","notes":"更快"})")
                                      << false << QStringLiteral("有新版本 1.0.0，点这里下载：更快")
                                      << QStringLiteral("https://dl.example/x");
    QTest::newRow("newer, empty notes") << 200 << QByteArray(R"({"version":"1.0.0","url":"https://dl.example/x","notes":""})")
                                        << false << QStringLiteral("有新版本 1.0.0，点这里下载")
                                        << QStringLiteral("https://dl.example/x");
    QTest::newRow("same") << 200 << QByteArray(R"({"version":"0.6.0"})") << false
                          << QStringLiteral("已经是最新版本（0.6.0）。") << QString();
    QTest::newRow("older") << 200 << QByteArray(R"({"version":"0.5"})") << false
                           << QStringLiteral("已经是最新版本（0.6.0）。") << QString();
    QTest::newRow("bad JSON") << 200 << QByteArray("{nope") << false << unreachable << QString();
    QTest::newRow("error status, page body") << 500 << QByteArray("<html>oops</html>") << false << unreachable << QString();
    QTest::newRow("file: link") << 200 << QByteArray(R"({"version":"2.0","url":"file:///etc/passwd"})") << false
                                << QStringLiteral("有新版本 2.0，点这里下载") << QStringLiteral("changelog");
    QTest::newRow("javascript: link") << 200 << QByteArray(R"x({"version":"2.0","url":"javascript:alert(1)"})x") << false
                                      << QStringLiteral("有新版本 2.0，点这里下载") << QStringLiteral("changelog");
    QTest::newRow("relative link") << 200 << QByteArray(R"({"version":"2.0","url":"download.html"})") << false
                                   << QStringLiteral("有新版本 2.0，点这里下载") << QStringLiteral("changelog");
    QTest::newRow("oversize") << 200 << (QByteArray(R"({"version":"2.0","notes":")") + QByteArray(70 * 1024, 'a') + QByteArray("\"}"))
                              << false << unreachable << QString();
    QTest::newRow("time-out") << 200 << QByteArray() << true << unreachable << QString();
}

void AboutSectionTest::outcomes()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, silent);
    QFETCH(QString, message);
    QFETCH(QString, link);

    FakeReleaseServer server;
    QVERIFY(server.listen());
    server.status = status;
    server.body = body;
    server.silent = silent;
    AppInfo::siteURL = server.address();
    // Only a silent server is waited out: where the fake answers, the answer makes a thread hop
    // and a turn of this thread's event loop, which a loaded machine can hold up for longer than
    // a short time-out, so those rows keep the time-out a user has.
    if (silent)
        AppInfo::updateTimeoutMs = 500;

    ModelRig rig;
    rig.make();
    SettingsWindowController::model = &rig.model();
    SettingsWindowController::shared().show();
    SettingsView *view = SettingsWindowController::shared().view();
    auto *button = view->findChild<QPushButton *>(QStringLiteral("checkUpdate"));
    auto *label = view->findChild<QLabel *>(QStringLiteral("updateMessage"));
    QVERIFY(!label->isVisibleTo(view));
    button->click();
    QVERIFY(!button->isEnabled());
    QCOMPARE(label->text(), QStringLiteral("正在检查…"));
    QTRY_VERIFY_WITH_TIMEOUT(!view->updateChecking(), 20000);
    QVERIFY(button->isEnabled());
    QCOMPARE(view->updateMessage(), std::optional(message));
    if (link.isEmpty()) {
        QVERIFY(!view->updateURL().has_value());
    } else {
        const QString expected = link == QStringLiteral("changelog") ? server.address() + QStringLiteral("/changelog.html") : link;
        QCOMPARE(view->updateURL(), std::optional(QUrl(expected)));
        QVERIFY(label->text().contains(QStringLiteral("<a href=")));
    }
    QCOMPARE(server.requests.size(), 1);
    QCOMPARE(server.requests.first().path, QByteArray("/version.json"));
}

void AboutSectionTest::resultArrivesWhileClosed()
{
    FakeReleaseServer server;
    QVERIFY(server.listen());
    server.body = R"({"version":"0.6.0"})";
    AppInfo::siteURL = server.address();
    ModelRig rig;
    rig.make();
    SettingsWindowController::model = &rig.model();
    SettingsWindowController::shared().show();
    SettingsView *view = SettingsWindowController::shared().view();
    view->findChild<QPushButton *>(QStringLiteral("checkUpdate"))->click();
    SettingsWindowController::shared().window()->close();
    QTRY_VERIFY_WITH_TIMEOUT(!view->updateChecking(), 20000);
    SettingsWindowController::shared().show();
    QCOMPARE(SettingsWindowController::shared().view(), view);
    QCOMPARE(view->findChild<QLabel *>(QStringLiteral("updateMessage"))->text(),
             QStringLiteral("已经是最新版本（0.6.0）。"));
}

void AboutSectionTest::feedbackOpensMail()
{
    LinkCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
    ModelRig rig;
    rig.make();
    SettingsWindowController::model = &rig.model();
    SettingsWindowController::shared().show();
    SettingsWindowController::shared().view()->findChild<QPushButton *>(QStringLiteral("feedback"))->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    QCOMPARE(catcher.opened.size(), 1);
    const QUrl mail = catcher.opened.first();
    QCOMPARE(mail.scheme(), QStringLiteral("mailto"));
    QCOMPARE(mail.path(), AppInfo::feedbackAddress);
    QVERIFY(mail.toString(QUrl::FullyEncoded).contains(QStringLiteral("%0A")));
    QVERIFY(mail.query(QUrl::FullyDecoded).contains(QStringLiteral("系统：Linux ")));
}

DODEDAROV_TEST(AboutSectionTest)

#include "AboutSectionTest.moc"
