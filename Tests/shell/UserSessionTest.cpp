#include "TestMain.h"

#include "fakes/FakeDeepSeekServer.h"
#include "fakes/FakeScribeServer.h"
#include "fakes/FakeStatusNotifierWatcher.h"
#include "fakes/ModelRig.h"
#include "fakes/TestSound.h"
#include "fakes/TlsServiceServer.h"
#include "platform/Keychain.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QScreen>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

constexpr int waitMs = 30000;

const QString probeService = QStringLiteral("com.tessalab.dodedarov.SessionProbe");

struct Sentence {
    QString english;
    QString chinese;
};

const QList<Sentence> sentences {
    {QStringLiteral("Good morning and welcome to the weekly review."), QStringLiteral("早上好，欢迎参加每周回顾。")},
    {QStringLiteral("First we look at the sales figures for March."), QStringLiteral("首先我们看三月的销售数字。")},
    {QStringLiteral("The new office opens in the second week of June."), QStringLiteral("新办公室在六月第二周启用。")},
    {QStringLiteral("Please send your questions to the team before Friday."), QStringLiteral("请在周五前把问题发给团队。")},
    {QStringLiteral("Thank you all, and see you next Monday."), QStringLiteral("谢谢大家，下周一见。")},
};

// One property of the application's test probe, read without blocking this thread: the
// application may at that moment be asking the fake tray watcher, which answers from here.
QVariant probe(const QString &name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(probeService, QStringLiteral("/SessionProbe"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({probeService, name});
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(get, 10000);
    const QDeadlineTimer deadline(15000);
    while (!pending.isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    const QDBusMessage reply = pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// The probe is published once the launch is done: the caption panel is made just after the
// tray icon shows (before any event is handled), and the probe after that.
bool probePublished(const QProcess &app)
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    const QDeadlineTimer deadline(15000);
    while (!bus->isServiceRegistered(probeService).value()) {
        if (deadline.hasExpired() || app.state() != QProcess::Running)
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool runXdotool(const QString &display, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(waitMs) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Ends a child by its pid and waits; killed if it does not go.
void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(waitMs)) {
        process.kill();
        process.waitForFinished(waitMs);
    }
}

}

// The real application as a user starts it: its own binary, on an X server with a window
// manager and a tray host, keys in the keyring, sound played into the default output, both
// services answered by loopback fakes behind TLS, as the real services are (the binary built
// for the tests reads their addresses and the fakes' certificate from the environment). Runs as
// its own CTest entry under xcb; skipped elsewhere.
class UserSessionTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void hotKeyStartsOnTheFirstPress();
    void settingsOpenOnlyWithoutKeys_data();
    void settingsOpenOnlyWithoutKeys();
    void meetingAsAUserRunsIt();

private:
    QProcessEnvironment appEnvironment(const QString &display) const;
    // Launches the application and waits until it is ready for the user: its tray icon is
    // shown.
    bool launch(QProcess &app, const QString &display,
                QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel);
    static bool quit(QProcess &app);

    QProcess m_openbox;
    std::unique_ptr<FakeStatusNotifierWatcher> m_watcher;
    std::unique_ptr<ModelRig> m_rig; // the fakes and the keys; the app makes its own model
    // TLS in front of the plain fakes of the rig.
    std::unique_ptr<TlsServiceServer> m_scribeTls;
    std::unique_ptr<TlsServiceServer> m_deepSeekTls;
    QTemporaryDir m_home;
};

QProcessEnvironment UserSessionTest::appEnvironment(const QString &display) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("DODEDAROV_TEST_SCRIBE_URL"),
                       QStringLiteral("wss://127.0.0.1:%1").arg(m_scribeTls->serverPort()));
    environment.insert(QStringLiteral("DODEDAROV_TEST_DEEPSEEK_URL"), m_deepSeekTls->baseUrl().toString());
    environment.insert(QStringLiteral("DODEDAROV_TEST_CA_FILE"), m_home.filePath(QStringLiteral("fakes-ca.pem")));
    // Key checks go nowhere: a loopback port that refuses.
    environment.insert(QStringLiteral("DODEDAROV_TEST_ELEVENLABS_URL"), QStringLiteral("http://127.0.0.1:9"));
    // Qt's tray check leaves a cached D-Bus meta-object behind; the leak checker can only tell
    // it by name from a fully unwound stack.
    if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":fast_unwind_on_malloc=0"));
    return environment;
}

bool UserSessionTest::launch(QProcess &app, const QString &display, QProcess::ProcessChannelMode channels)
{
#ifdef DODEDAROV_SESSION_APP_PATH
    QSignalSpy shown(m_watcher.get(), &FakeStatusNotifierWatcher::itemRegistered);
    app.setProcessEnvironment(appEnvironment(display));
    app.setProcessChannelMode(channels);
    app.start(QStringLiteral(DODEDAROV_SESSION_APP_PATH));
    if (!app.waitForStarted(waitMs))
        return false;
    // Ready as a user sees it: the tray icon is there. The application shows it once its
    // launch steps are done, the hot keys' grabs among them; the probe confirms the grabs.
    if (shown.isEmpty() && !shown.wait(60000)) {
        qWarning() << "the tray icon did not appear";
        return false;
    }
    return true;
#else
    Q_UNUSED(app);
    Q_UNUSED(display);
    Q_UNUSED(channels);
    return false;
#endif
}

bool UserSessionTest::quit(QProcess &app)
{
    // By its own pid only: a process that is gone has none, and kill(0) would hit this group.
    if (app.state() == QProcess::NotRunning || app.processId() <= 0) {
        qWarning() << "the application had ended already:" << app.exitStatus() << app.exitCode();
        return false;
    }
    ::kill(pid_t(app.processId()), SIGTERM);
    if (!app.waitForFinished(waitMs)) {
        app.kill();
        app.waitForFinished(waitMs);
        return false;
    }
    return app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
}

void UserSessionTest::initTestCase()
{
#ifndef DODEDAROV_SESSION_APP_PATH
    QSKIP("the application was not built for the session tests (DODEDAROV_TEST_SERVICES)");
#endif
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("needs the xcb platform (the shell_session test entry)");
    QVERIFY(m_home.isValid());
    m_openbox.setProgram(QStringLiteral("openbox"));
    m_openbox.setArguments({QStringLiteral("--sm-disable")});
    m_openbox.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_openbox.start();
    QVERIFY2(m_openbox.waitForStarted(waitMs), "openbox did not start (scripts/install-deps)");

    m_watcher = std::make_unique<FakeStatusNotifierWatcher>();
    QVERIFY(m_watcher->start());
    m_rig = std::make_unique<ModelRig>();
    m_scribeTls = std::make_unique<TlsServiceServer>();
    m_scribeTls->relayPort = quint16(m_rig->scribe.address().port());
    QVERIFY(m_scribeTls->listen(false));
    m_deepSeekTls = std::make_unique<TlsServiceServer>();
    m_deepSeekTls->relayPort = quint16(m_rig->deepSeek.baseUrl().port());
    QVERIFY(m_deepSeekTls->listen(false));
    QFile authority(m_home.filePath(QStringLiteral("fakes-ca.pem")));
    QVERIFY(authority.open(QIODevice::WriteOnly));
    QVERIFY(authority.write(TlsServiceServer::certificatePem()) > 0);
    authority.close();
    ModelRig::storeKey(Keychain::elevenLabsListAccount,
                       QStringLiteral("[\"%1\"]").arg(QString::fromUtf8(m_rig->scribe.expectedKey)));
    ModelRig::storeKey(Keychain::elevenLabsAccount, QString::fromUtf8(m_rig->scribe.expectedKey));
    ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test-deepseek"));
    // Each sentence's translation call is answered with its translation, whatever the order.
    m_rig->deepSeek.answerFor = [](const FakeDeepSeekServer::Request &request) -> std::optional<FakeDeepSeekServer::Script> {
        const QStringList contents = request.contents();
        if (contents.isEmpty())
            return std::nullopt;
        const QString last = contents.constLast();
        const qsizetype marker = last.lastIndexOf(QStringLiteral("【请翻译这一段】"));
        if (marker < 0)
            return std::nullopt;
        for (const Sentence &sentence : sentences) {
            if (last.indexOf(sentence.english, marker) >= 0)
                return FakeDeepSeekServer::stream({sentence.chinese});
        }
        return std::nullopt;
    };
}

void UserSessionTest::cleanupTestCase()
{
    m_scribeTls.reset();
    m_deepSeekTls.reset();
    m_rig.reset();
    m_watcher.reset();
    stop(m_openbox);
}

void UserSessionTest::hotKeyStartsOnTheFirstPress()
{
    // Each start on a new X server, as a user's desktop is after login: there the first
    // synthetic or hardware key press makes the server announce a new keyboard, and the press
    // that does so is the hot key itself.
    for (int start = 0; start < 20; ++start) {
        QProcess server;
        server.setProgram(QStringLiteral("Xvfb"));
        // The display number is written to stdout.
        server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                             QStringLiteral("-noreset")});
        server.start();
        QVERIFY(server.waitForStarted(waitMs));
        const auto serverGone = qScopeGuard([&server] { stop(server); });
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), waitMs);
        const QString display = u':' + QString::fromLatin1(server.readLine().trimmed());

        QProcess app;
        QVERIFY2(launch(app, display), qPrintable(QStringLiteral("start %1").arg(start)));
        const auto appGone = qScopeGuard([&app] {
            if (app.state() != QProcess::NotRunning)
                quit(app);
        });
        // At once, as a user who waited for the icon would.
        QVERIFY(runXdotool(display, {QStringLiteral("key"), QStringLiteral("ctrl+alt+s")}));
        // One press starts the meeting; without it the meeting never starts.
        QTRY_VERIFY2_WITH_TIMEOUT(probe(QStringLiteral("running")).toBool(),
                                  qPrintable(QStringLiteral("start %1: the first press was lost").arg(start)), 15000);
        QCOMPARE(probe(QStringLiteral("hotKeys")).toInt(), 3);
        QVERIFY(quit(app));
    }
}

void UserSessionTest::settingsOpenOnlyWithoutKeys_data()
{
    QTest::addColumn<bool>("keys");
    QTest::newRow("keys stored") << true;
    QTest::newRow("no keys") << false;
}

// The icon does not wait for the keyring: the keys are read once it is up, and only then does
// the launch know whether the settings window must open for a missing key.
void UserSessionTest::settingsOpenOnlyWithoutKeys()
{
    QFETCH(bool, keys);
    const QStringList accounts {Keychain::elevenLabsListAccount, Keychain::elevenLabsAccount,
                                Keychain::deepSeekAccount};
    QMap<QString, QString> stored;
    for (const QString &account : accounts)
        stored.insert(account, Keychain::get(account).value_or(QString()));
    const auto keysBack = qScopeGuard([&stored] {
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            ModelRig::storeKey(it.key(), it.value());
    });
    if (!keys) {
        for (const QString &account : accounts)
            QVERIFY(Keychain::set(QString(), account));
    }

    QProcess app;
    QVERIFY(launch(app, qEnvironmentVariable("DISPLAY")));
    const auto appGone = qScopeGuard([&app] {
        if (app.state() != QProcess::NotRunning)
            quit(app);
    });
    QVERIFY(probePublished(app));
    QTRY_VERIFY_WITH_TIMEOUT(probe(QStringLiteral("keysKnown")).toBool(), waitMs);
    QCOMPARE(probe(QStringLiteral("settingsShown")).toBool(), !keys);
    QVERIFY(quit(app));
}

void UserSessionTest::meetingAsAUserRunsIt()
{
    TestSound sound;
    QVERIFY(sound.isValid());
    QStringList files;
    for (const Sentence &sentence : sentences) {
        files.append(sound.speech(sentence.english));
        QVERIFY(!files.constLast().isEmpty());
    }
    const QString display = qEnvironmentVariable("DISPLAY");
    const QString sink = qEnvironmentVariable("DODEDAROV_TEST_SINK");
    QVERIFY(!sink.isEmpty());

    const QDateTime startedAt = QDateTime::currentDateTime().addSecs(-1);
    QProcess app;
    // What the application writes to stderr is kept and checked at its end.
    QVERIFY(launch(app, display, QProcess::ForwardedOutputChannel));
    const auto appGone = qScopeGuard([&app] {
        if (app.state() != QProcess::NotRunning)
            quit(app);
    });
    QVERIFY(probePublished(app));
    // Larger captions, as a user at the back of the room would want: Ctrl+Alt+= grows them
    // two points a press, so that five sentences fill the panel and the newest must scroll in.
    const double startSize = probe(QStringLiteral("chineseSize")).toDouble();
    QVERIFY(startSize > 0);
    for (int press = 1; press <= 6; ++press) {
        QVERIFY(runXdotool(display, {QStringLiteral("key"), QStringLiteral("ctrl+alt+equal")}));
        QTRY_COMPARE_WITH_TIMEOUT(probe(QStringLiteral("chineseSize")).toDouble(), startSize + 2 * press, waitMs);
    }
    QVERIFY(runXdotool(display, {QStringLiteral("key"), QStringLiteral("ctrl+alt+s")}));
    QTRY_VERIFY_WITH_TIMEOUT(probe(QStringLiteral("running")).toBool(), waitMs);

    FakeScribeServer &scribe = m_rig->scribe;
    for (qsizetype i = 0; i < sentences.size(); ++i) {
        const qint64 heardBefore = scribe.audioBytes;
        std::unique_ptr<QProcess> player(TestSound::play(files.at(i), sink));
        QVERIFY(player->waitForStarted(waitMs));
        // The spoken sentence reaches the service through the app's capture of the output.
        QTRY_VERIFY_WITH_TIMEOUT(!scribe.connections().isEmpty() && scribe.audioBytes > heardBefore + 16000, waitMs);
        const QString english = sentences.at(i).english;
        scribe.send(FakeScribeServer::partial(english.left(english.size() / 2)));
        scribe.send(FakeScribeServer::partial(english.left(english.size() - 1)));
        scribe.send(FakeScribeServer::committed(english));
        QVERIFY(player->waitForFinished(waitMs));
        // Shown with its translation, as the history's newest paragraph.
        QTRY_VERIFY2_WITH_TIMEOUT(probe(QStringLiteral("historyText")).toString().contains(sentences.at(i).chinese)
                                      && probe(QStringLiteral("newestText")).toString().contains(english),
                                  qPrintable(QStringLiteral("shown: \"%1\"; translation calls: %2")
                                                 .arg(probe(QStringLiteral("historyText")).toString())
                                                 .arg(m_rig->deepSeek.requests().size())),
                                  waitMs);
    }

    // The newest sentence is on screen: the history is at its end and its last character
    // lies inside the viewport. A grab of the panel for a person to look at.
    const qulonglong panel = probe(QStringLiteral("panelWindow")).toULongLong();
    QVERIFY(panel != 0);
    const QString shot = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("session-panel.png"));
    // This process is a client of the same X server: the screen's grab is what it shows.
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(WId(panel));
    QVERIFY(!picture.isNull());
    QVERIFY(picture.save(shot));
    qInfo("panel grab: %s", qPrintable(shot));
    QTRY_VERIFY2_WITH_TIMEOUT(probe(QStringLiteral("newestInView")).toBool(),
                              qPrintable(QStringLiteral("scrolled to %1 of %2")
                                             .arg(probe(QStringLiteral("historyValue")).toInt())
                                             .arg(probe(QStringLiteral("historyMaximum")).toInt())),
                              waitMs);
    QVERIFY2(probe(QStringLiteral("historyMaximum")).toInt() > 0, "the history fits the panel; nothing was tested");
    QCOMPARE(probe(QStringLiteral("historyValue")).toInt(), probe(QStringLiteral("historyMaximum")).toInt());

    // Both services were reached over TLS.
    QVERIFY(!m_scribeTls->protocols.isEmpty());
    QVERIFY(!m_deepSeekTls->protocols.isEmpty());

    // SIGTERM ends it cleanly, with nothing on stderr, and the record is saved with every
    // sentence beside its translation.
    QVERIFY(quit(app));
    const QString errors = QString::fromUtf8(app.readAllStandardError());
    QVERIFY2(errors.trimmed().isEmpty(), qPrintable(u"the application wrote to stderr:\n"_qs + errors));
    // The meeting's record is the one without a suffix ("<date> <time>.txt"), in the records
    // folder under Documents; the starts of the other test leave theirs there too.
    QString recordPath;
    QDirIterator found(m_home.path(), {QStringLiteral("*.txt")}, QDir::Files, QDirIterator::Subdirectories);
    while (found.hasNext()) {
        const QString path = found.next();
        if (QFileInfo(path).lastModified() >= startedAt
            && (recordPath.isEmpty() || QFileInfo(path).fileName().size() < QFileInfo(recordPath).fileName().size()))
            recordPath = path;
    }
    QFile file(recordPath);
    const QString record = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    QVERIFY2(!record.isEmpty(), "no record was written");
    qsizetype previous = -1;
    for (const Sentence &sentence : sentences) {
        const qsizetype english = record.indexOf(sentence.english);
        const qsizetype chinese = record.indexOf(sentence.chinese);
        // Each line: the translation, then the English it translates.
        QVERIFY2(chinese > previous && english > chinese, qPrintable(record));
        previous = english;
    }
}

DODEDAROV_TEST(UserSessionTest)

#include "UserSessionTest.moc"
