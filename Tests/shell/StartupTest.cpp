#include "TestMain.h"

#include "display/CaptionPanel.h"
#include "captions/FontFamilies.h"
#include "fakes/FakeFileManager1.h"
#include "fakes/FirefoxFixture.h"
#include "fakes/FakeScreenSaver.h"
#include "fakes/ModelRig.h"
#include "intelligence/BrowserTabs.h"
#include "intelligence/BrowserTab.h"
#include "platform/ChromiumDevTools.h"
#include "platform/FirefoxSession.h"
#include "platform/FrontWindow.h"
#include "platform/KeepAwake.h"
#include "platform/SpellChecker.h"
#include "common/UserDefaults.h"
#include "display/CaptionMetrics.h"
#include "platform/UnixSignalWatcher.h"
#include "display/CaptionPanelController.h"
#include "shell/AppDelegate.h"
#include "captions/ChineseScript.h"
#include "shell/SettingsWindowController.h"
#include "shell/SingleInstance.h"
#include "platform/Keychain.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QLabel>
#include <QRawFont>
#include <QTextLayout>
#include <QFile>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

// Takes the URLs the desktop would open, in place of a browser or a file manager.
class UrlCatcher final : public QObject {
    Q_OBJECT
public:
    explicit UrlCatcher(const QString &scheme) : m_scheme(scheme)
    {
        QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(m_scheme); }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }

private:
    QString m_scheme;
};

// The session manager's request to save before logout. QSessionManager cannot be made outside
// Qt, so the signal is raised directly; nothing connected to it reads the manager.
bool requestCommitData()
{
    const int index = QGuiApplication::staticMetaObject.indexOfSignal("commitDataRequest(QSessionManager&)");
    if (index < 0)
        return false;
    void *args[] = {nullptr, nullptr};
    QMetaObject::activate(qApp, &QGuiApplication::staticMetaObject,
                          index - QGuiApplication::staticMetaObject.methodOffset(), args);
    return true;
}

CaptionLine finishedLine(int id, const QString &english, const QString &chinese)
{
    CaptionLine line;
    line.id = id;
    line.english = english;
    line.chinese = chinese;
    line.finished = true;
    line.time = QDateTime(QDate(2026, 5, 4), QTime(9, 31, id % 60));
    return line;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}

// Launch: the first-run rule, the hooks after launch, the single-instance guard in-process and
// with two processes of the real binary, and the desktop file.
class StartupTest final : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void firstRunRule_data();
    void firstRunRule();
    void launchWithoutTrayHost();
    void launchWithKeysWithoutTrayHost();
    void interfaceChineseIsSans();
    void panelAtTheModelsWidthLaysOutWithItsFont();
    void browserTabsAfterLaunch();
    void sessionEndSavesOnce();
    void guardInProcess();
    void busyCopyIsWaitedFor();
    void silentCopyIsToldToTheUser();
    void twoProcesses();
    void desktopFileValidates();
};

void StartupTest::cleanup()
{
    SettingsWindowController::shared().reset();
    SettingsWindowController::model = nullptr;
}

void StartupTest::firstRunRule_data()
{
    QTest::addColumn<bool>("recognitionKey");
    QTest::addColumn<bool>("translationKey");
    QTest::addColumn<bool>("opens");
    QTest::newRow("no keys") << false << false << true;
    QTest::newRow("recognition only") << true << false << true;
    QTest::newRow("translation only") << false << true << true;
    QTest::newRow("both") << true << true << false;
}

void StartupTest::firstRunRule()
{
    QFETCH(bool, recognitionKey);
    QFETCH(bool, translationKey);
    QFETCH(bool, opens);
    ModelRig rig;
    rig.platform.checkKey = [](KeyProvider, const QString &, std::function<void(const KeyStatus &)>) {};
    if (recognitionKey) {
        ModelRig::storeKey(Keychain::elevenLabsListAccount, QStringLiteral("[\"el-0123456789abcdef\"]"));
        ModelRig::storeKey(Keychain::elevenLabsAccount, QStringLiteral("el-0123456789abcdef"));
    }
    if (translationKey)
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-0123456789abcdef"));
    AppModel &model = rig.make();
    QCOMPARE(AppDelegate::needsSettingsAtLaunch(model), opens);
}

void StartupTest::launchWithoutTrayHost()
{
    // Offscreen there is no tray host: the settings window opens and the menu is still made,
    // for the caption panel's right-click.
    ModelRig rig;
    AppModel &model = rig.make();
    {
        AppDelegate delegate;
        rig.platform = delegate.desktopPlatform(rig.platform);
        delegate.model = &model;
        delegate.applicationDidFinishLaunching();
        QVERIFY(!delegate.hasTrayIcon());
        QVERIFY(delegate.menu());
        QVERIFY(SettingsWindowController::shared().window());
        QVERIFY(SettingsWindowController::shared().window()->isVisible());

        // Every hook is live.
        QCOMPARE(ChineseScript::toTraditional(QStringLiteral("汉字")), QStringLiteral("漢字"));
        // The rows are measured with the panel's font from the first layout on, not estimated.
        const QString sample = QStringLiteral("明天我们会审查计划的每一个部分 and the budget");
        const double size = model.appearance().chineseSize;
        QCOMPARE(model.rowMeasure()(sample), CaptionMetrics::measurer(size)(sample));
        QVERIFY(AppModel::estimatedMeasure(size)(sample) != CaptionMetrics::measurer(size)(sample));
        // The dictionary is not read at start-up: only when the first meeting starts.
        QVERIFY(!delegate.spellChecker()->isLoading());
        QVERIFY(!delegate.spellChecker()->isLoaded());
        QVERIFY(model.platform().isDictionaryWord(QStringLiteral("helo")));
        QSignalSpy loaded(delegate.spellChecker(), &SpellChecker::loaded);
        model.setRunningState(true);
        QVERIFY(delegate.spellChecker()->isLoading() || delegate.spellChecker()->isLoaded());
        model.setRunningState(false);
        if (QFile::exists(SpellChecker::defaultDictionary)) {
            if (!delegate.spellChecker()->isLoaded())
                QVERIFY(loaded.wait(20000));
            QVERIFY(model.platform().isDictionaryWord(QStringLiteral("hello")));
            QVERIFY(!model.platform().isDictionaryWord(QStringLiteral("helo")));
        }

        // Keep-awake through the screen saver: true twice holds one inhibition, false releases it.
        FakeScreenSaver screenSaver;
        QVERIFY(screenSaver.start());
        model.platform().setKeepAwake(true);
        model.platform().setKeepAwake(true);
        QTRY_VERIFY_WITH_TIMEOUT(delegate.keepAwake()->held(), 10000);
        QCOMPARE(screenSaver.inhibitions.size(), 1);
        QCOMPARE(screenSaver.inhibitions.first().application, QStringLiteral("泰萨利字幕"));
        model.platform().setKeepAwake(false);
        QTRY_COMPARE_WITH_TIMEOUT(screenSaver.released.size(), 1, 10000);
        QVERIFY(!delegate.keepAwake()->held());

        // Revealing a file goes to the file manager over D-Bus; without one on the bus, the
        // desktop opens the file's folder.
        const QString file = rig.records.filePath(QStringLiteral("record.md"));
        UrlCatcher desktop(QStringLiteral("file"));
        {
            FakeFileManager1 fileManager;
            QVERIFY(fileManager.start());
            model.platform().revealFile(file);
            QTRY_COMPARE_WITH_TIMEOUT(fileManager.shown.size(), 1, 10000);
            QCOMPARE(fileManager.shown.first().uris, QStringList {QUrl::fromLocalFile(file).toString()});
        }
        model.platform().revealFile(file);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.opened.size(), 1, 10000);
        QCOMPARE(desktop.opened.first(), QUrl::fromLocalFile(rig.records.path()));

        // A second start while the panel is hidden shows it and starts nothing.
        model.setPanelVisible(false);
        delegate.reopen();
        QVERIFY(model.panelVisible());
        QVERIFY(!model.running());
    }
    ChineseScript::toTraditional = [](const QString &text) { return text; };
}

void StartupTest::launchWithKeysWithoutTrayHost()
{
    // Keys stored, so the first-run rule alone would not open the settings: without a tray host
    // they open all the same, as the only way in besides the panel's right-click menu.
    ModelRig rig;
    rig.platform.checkKey = [](KeyProvider, const QString &, std::function<void(const KeyStatus &)>) {};
    ModelRig::storeKey(Keychain::elevenLabsListAccount, QStringLiteral("[\"el-0123456789abcdef\"]"));
    ModelRig::storeKey(Keychain::elevenLabsAccount, QStringLiteral("el-0123456789abcdef"));
    ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-0123456789abcdef"));
    AppModel &model = rig.make();
    QVERIFY(!AppDelegate::needsSettingsAtLaunch(model));
    AppDelegate delegate;
    rig.platform = delegate.desktopPlatform(rig.platform);
    delegate.model = &model;
    delegate.applicationDidFinishLaunching();
    QVERIFY(!delegate.hasTrayIcon());
    QVERIFY(SettingsWindowController::shared().window());
    QVERIFY(SettingsWindowController::shared().window()->isVisible());

    // The signal watcher is the first thing the launch makes: a termination signal that came
    // before it would end the process without saving.
    QVERIFY(!delegate.children().isEmpty());
    QVERIFY(qobject_cast<UnixSignalWatcher *>(delegate.children().first()));

    // The panel's right-click opens the tray's menu, though there is no tray.
    CaptionPanel *panel = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((panel = [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *p = qobject_cast<CaptionPanel *>(w); p && p->isVisible())
                return p;
        return static_cast<CaptionPanel *>(nullptr);
    }()) != nullptr, 10000);
    QVERIFY(delegate.menu());
    QVERIFY(!delegate.menu()->isVisible());
    const QPoint inside = panel->rect().center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, inside, panel->mapToGlobal(inside));
    QApplication::sendEvent(panel, &click);
    QVERIFY(click.isAccepted());
    QTRY_VERIFY_WITH_TIMEOUT(delegate.menu()->isVisible(), 10000);
    delegate.menu()->hide();
}

void StartupTest::interfaceChineseIsSans()
{
    // Under a C locale fontconfig's fallback for Han is a brush-script Kai face; the launch
    // makes the interface font name the sans CJK face for the Han characters.
    if (!QFontDatabase::hasFamily(FontFamilies::hanFace()))
        QSKIP("Noto Sans CJK SC is not installed");
    const QFont before = QApplication::font();
    const auto restore = qScopeGuard([before] { QApplication::setFont(before); });
    ModelRig rig;
    AppModel &model = rig.make();
    AppDelegate delegate;
    rig.platform = delegate.desktopPlatform(rig.platform);
    delegate.model = &model;
    delegate.applicationDidFinishLaunching();

    QLabel label(QStringLiteral("开始新会议 · Settings · 设置"));
    label.show();
    const QString text = label.text();
    QTextLayout layout(text, label.font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QStringList hanFaces;
    QStringList otherFaces;
    for (int i = 0; i < text.size(); ++i) {
        const bool han = text.at(i).script() == QChar::Script_Han;
        for (const QGlyphRun &run : layout.glyphRuns(i, 1)) {
            QStringList &faces = han ? hanFaces : otherFaces;
            if (!faces.contains(run.rawFont().familyName()))
                faces.append(run.rawFont().familyName());
        }
    }
    QCOMPARE(hanFaces, QStringList {FontFamilies::hanFace()});
    // Latin text keeps the desktop's own interface face.
    QCOMPARE(otherFaces, QStringList {QFontInfo(before).family()});
}

void StartupTest::panelAtTheModelsWidthLaysOutWithItsFont()
{
    // A panel placed where the user left it, at the width the model starts from: it reports no
    // new width, so nothing but the launch itself lays the rows out again with the panel font.
    ModelRig rig;
    AppModel &model = rig.make();
    const QString sample = QStringLiteral("明天我们会审查计划的每一个部分 and the budget for the next quarter");
    const double size = model.appearance().chineseSize;
    QVERIFY(AppModel::estimatedMeasure(size)(sample) != CaptionMetrics::measurer(size)(sample));
    QCOMPARE(model.rowMeasure()(sample), AppModel::estimatedMeasure(size)(sample));
    UserDefaults::setText(QString::fromLatin1(CaptionPanelController::frameKey),
                          QStringLiteral("40 40 %1 120").arg(int(model.panelWidth)));
    {
        AppDelegate delegate;
        rig.platform = delegate.desktopPlatform(rig.platform);
        delegate.model = &model;
        delegate.applicationDidFinishLaunching();
        QCOMPARE(model.panelWidth, 680.0);
        // The rows are broken where the panel font breaks them, not where the estimate does.
        QCOMPARE(model.rowMeasure()(sample), CaptionMetrics::measurer(size)(sample));
    }
    ChineseScript::toTraditional = [](const QString &text) { return text; };
}

void StartupTest::browserTabsAfterLaunch()
{
    // The model's list of open tabs is read from the browsers themselves: here a running
    // Firefox (this process holds its profile's lock) and no other browser.
    FirefoxFixture firefox;
    QTemporaryDir chromiumConfig;
    const QString profile = firefox.addProfile(QStringLiteral("t.default"), ::getpid());
    QVERIFY(firefox.writeSession(profile, FirefoxFixture::mozLz4(FirefoxFixture::sessionJson(
                                              {{{QStringLiteral("https://example.org/notes"), QStringLiteral("Notes")},
                                                {QStringLiteral("https://www.bilibili.com/video/BV1"), QStringLiteral("讲座")}}},
                                              1, {2}))));
    FirefoxSession::firefoxFolder = firefox.folder();
    ChromiumDevTools::configHome = chromiumConfig.path();
    FrontWindow::displayName = QStringLiteral(":4093"); // no X server: no front window
    // An upper bound only: the pass ends once every reader has answered.
    BrowserTab::readerLimitMs = 10000;
    const auto restore = qScopeGuard([] {
        BrowserTab::readerLimitMs = 2000;
        FirefoxSession::firefoxFolder.clear();
        ChromiumDevTools::configHome.clear();
        FrontWindow::displayName.clear();
    });

    ModelRig rig;
    AppModel &model = rig.make();
    AppDelegate delegate;
    rig.platform = delegate.desktopPlatform(rig.platform);
    delegate.model = &model;
    delegate.applicationDidFinishLaunching();

    std::optional<QList<BrowserTabs::Tab>> tabs;
    bool onMainThread = false;
    model.platform().browserTabs([&](const QList<BrowserTabs::Tab> &found) {
        onMainThread = QThread::currentThread() == qApp->thread();
        tabs = found;
    });
    QTRY_VERIFY_WITH_TIMEOUT(tabs.has_value(), 20000);
    QVERIFY(onMainThread);
    QCOMPARE(tabs->size(), 2);
    QCOMPARE(tabs->at(0).url, QUrl(QStringLiteral("https://example.org/notes")));
    QCOMPARE(tabs->at(1).title, QStringLiteral("讲座"));
}

void StartupTest::sessionEndSavesOnce()
{
    ModelRig rig;
    ModelRig::storeKey(Keychain::elevenLabsAccount, QString::fromUtf8(rig.scribe.expectedKey));
    ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test-deepseek"));
    AppModel &model = rig.make();
    AppDelegate delegate;
    rig.platform = delegate.desktopPlatform(rig.platform);
    delegate.model = &model;
    delegate.applicationDidFinishLaunching();
    FakeScreenSaver screenSaver;
    QVERIFY(screenSaver.start());

    // Listening keeps the screen awake through the launch's hook.
    model.startOrResume();
    QVERIFY(model.running());
    QTRY_VERIFY_WITH_TIMEOUT(delegate.keepAwake()->held(), 10000);
    rig.setLines({finishedLine(0, QStringLiteral("Before the logout."), QStringLiteral("注销之前。"))});
    rig.setLastPartial(QStringLiteral("and the words still being heard"));
    const QString file = *model.transcript().fileURL();
    QString onDiskAtRelease;
    connect(&screenSaver, &FakeBusService::called, this, [&](const QString &member) {
        if (member == QLatin1String("UnInhibit"))
            onDiskAtRelease = readText(file);
    });

    // The session manager asks to save: the record is whole on disk when the request returns,
    // with the sentence that was still being heard, and the screen is let go after that.
    QVERIFY(requestCommitData());
    const QString text = readText(file);
    QVERIFY2(text.contains(QStringLiteral("注销之前。")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("and the words still being heard")));
    QTRY_COMPARE_WITH_TIMEOUT(screenSaver.released.size(), 1, 10000);
    QCOMPARE(onDiskAtRelease, text);
    QCOMPARE(screenSaver.inhibitions.size(), 1);

    // A second request (session managers may ask again) saves nothing more; the quit that ends
    // the session takes the same once-only step. The stop the first request asked for is
    // handled on a later turn of the event loop and saves the same record again on the
    // writer's thread: the record is deleted once every save asked for so far is written, with
    // no turn of the event loop between, so only the second request could write it again.
    QSemaphore written;
    model.transcript().onQueue([&written] { written.release(); });
    QVERIFY(written.tryAcquire(1, 20000));
    QFile::remove(file);
    QVERIFY(requestCommitData());
    QVERIFY(!QFile::exists(file));
    QTest::qWait(200);
    QCOMPARE(screenSaver.released.size(), 1);
    QCOMPARE(screenSaver.inhibitions.size(), 1);
}

void StartupTest::guardInProcess()
{
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    QCOMPARE(first.claim(), SingleInstance::Outcome::first);
    QSignalSpy shown(&first, &SingleInstance::showRequested);

    // Unknown and oversized messages are ignored.
    QLocalSocket junk;
    junk.connectToServer(first.socketPath());
    QVERIFY(junk.waitForConnected(5000));
    junk.write(QByteArray(200, 'x'));
    junk.flush();
    QTRY_COMPARE_WITH_TIMEOUT(junk.state(), QLocalSocket::UnconnectedState, 10000);
    QCOMPARE(shown.size(), 0);

    // A second claim runs its blocking wait on another thread's behalf: here the answer comes
    // from this thread's event loop, so the second claim runs in a helper process instead.
    QLocalSocket asker;
    asker.connectToServer(first.socketPath());
    QVERIFY(asker.waitForConnected(5000));
    asker.write("show\n");
    asker.flush();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(asker.bytesAvailable() > 0 || asker.state() == QLocalSocket::UnconnectedState, 10000);
    QCOMPARE(asker.readAll().trimmed(), QByteArray("ok"));
}

// A second start waits for a running copy whose main thread is busy for a while (a long save,
// a slow keyring) and does not give up at the first seconds. The second start blocks, so it
// runs on a helper thread, against this thread's copy.
void StartupTest::busyCopyIsWaitedFor()
{
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    QCOMPARE(first.claim(), SingleInstance::Outcome::first);
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    std::optional<SingleInstance::Outcome> second;
    std::unique_ptr<QThread> starting(QThread::create([&] { second = SingleInstance(folder.path()).claim(); }));
    starting->start();
    // The running copy is busy for three seconds: its event loop does not run meanwhile.
    QThread::sleep(3);
    QTRY_VERIFY_WITH_TIMEOUT(starting->isFinished(), 30000);
    QCOMPARE(second, std::optional(SingleInstance::Outcome::forwarded));
    QCOMPARE(shown.size(), 1);
}

// A running copy that never answers: the second start gives up, and the user is told in
// Chinese what happened and what to do rather than nothing at all.
void StartupTest::silentCopyIsToldToTheUser()
{
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    QCOMPARE(first.claim(), SingleInstance::Outcome::first);
    std::optional<SingleInstance::Outcome> second;
    std::unique_ptr<QThread> starting(QThread::create([&] { second = SingleInstance(folder.path()).claim(); }));
    starting->start();
    // This thread's event loop does not run until the second start has given up.
    QVERIFY(starting->wait(60000));
    QCOMPARE(second, std::optional(SingleInstance::Outcome::noAnswer));

    QString title;
    QString text;
    bool onTop = false;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        // Over the running copy's floating windows, which stay above others.
        onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        title = box->windowTitle();
        text = box->text() + u'\n' + box->informativeText();
        box->accept();
    });
    SingleInstance::tellNoAnswer();
    QCOMPARE(title, QStringLiteral("泰萨利字幕"));
    QVERIFY(onTop);
    QVERIFY2(text.contains(QStringLiteral("已经在运行，但没有响应")), qPrintable(text));
    // What to do: wait and open again, else end the hung process by its name.
    QVERIFY2(text.contains(QStringLiteral("再打开")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("结束“tessaly-dodedarov”进程")), qPrintable(text));
}

void StartupTest::twoProcesses()
{
#ifndef DODEDAROV_APP_PATH
    QSKIP("no application binary");
#else
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QTemporaryDir home;
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DOCUMENTS_DIR"), home.filePath(QStringLiteral("docs")));
    const QString app = QStringLiteral(DODEDAROV_APP_PATH);
    const QString socket = QDir(runtime.path()).filePath(QStringLiteral("tessaly-dodedarov.socket"));

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(app);
    QVERIFY(first.waitForStarted(10000));
    // Up once it listens.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 30000);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(app);
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    // SIGTERM ends the first cleanly.
    ::kill(pid_t(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);

    // After a kill -9 the lock is stale and a new start takes over.
    QProcess crashed;
    crashed.setProcessEnvironment(environment);
    crashed.start(app);
    QVERIFY(crashed.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 30000);
    ::kill(pid_t(crashed.processId()), SIGKILL);
    QVERIFY(crashed.waitForFinished(30000));
    QProcess next;
    next.setProcessEnvironment(environment);
    next.start(app);
    QVERIFY(next.waitForStarted(10000));
    QProcess asker;
    asker.setProcessEnvironment(environment);
    // The new holder answers a further start.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QLocalSocket probe;
            probe.connectToServer(socket);
            return probe.waitForConnected(200);
        }(),
        30000);
    asker.start(app);
    QVERIFY(asker.waitForFinished(30000));
    QCOMPARE(asker.exitCode(), 0);
    QCOMPARE(next.state(), QProcess::Running);
    ::kill(pid_t(next.processId()), SIGTERM);
    QVERIFY(next.waitForFinished(30000));
    QCOMPARE(next.exitCode(), 0);
#endif
}

void StartupTest::desktopFileValidates()
{
#ifndef DODEDAROV_DESKTOP_FILE
    QSKIP("no desktop file");
#else
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (scripts/install-deps adds it)");
    QProcess validate;
    validate.start(validator, {QStringLiteral(DODEDAROV_DESKTOP_FILE)});
    QVERIFY(validate.waitForFinished(30000));
    QCOMPARE(validate.exitCode(), 0);
    QVERIFY2(validate.readAllStandardOutput().trimmed().isEmpty(), "the validator has remarks");
    QFile file(QStringLiteral(DODEDAROV_DESKTOP_FILE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    for (const char *line : {"Name=TessalyCaption", "Name[zh_CN]=泰萨利字幕", "Exec=tessaly-dodedarov",
                             "Icon=tessaly-dodedarov"})
        QVERIFY2(text.contains(QString::fromUtf8(line)), line);
#endif
}

DODEDAROV_TEST(StartupTest)

#include "StartupTest.moc"
