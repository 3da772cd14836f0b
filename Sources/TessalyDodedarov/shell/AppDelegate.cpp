#include "shell/AppDelegate.h"

#include "display/CaptionMetrics.h"
#include "display/CaptionView.h"
#include "display/InterfaceFonts.h"
#include "intelligence/BrowserTab.h"
#include "shell/chat/ChatWindowController.h"
#include "intelligence/MaterialReader.h"
#include "model/AppModel.h"
#include "platform/FileReveal.h"
#include "platform/KeepAwake.h"
#include "platform/SpellChecker.h"
#include "platform/TraditionalChinese.h"
#include "display/CaptionPanelController.h"
#include "platform/UnixSignalWatcher.h"
#include "captions/ChineseScript.h"
#include "accounts/KeyCheck.h"
#include "shell/MenuBarLabel.h"
#include "shell/MenuContent.h"
#include "shell/SettingsWindowController.h"
#include "speech/MicrophoneCapture.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QUrl>

namespace {

// Whether the desktop shows tray icons. Qt's own answer makes a tray icon with a D-Bus connection
// of its own and introspects the status-notifier watcher before it reads the one property it
// rests on: a round of calls that the launch would wait for. That property is read on the
// session bus instead, and only where it says no is Qt asked (for an XEmbed tray, say).
bool trayHostAvailable()
{
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    // Asking must not start a watcher that is not running.
    get.setAutoStartService(false);
    const QDBusReply<QDBusVariant> host = QDBusConnection::sessionBus().call(get);
    if (host.isValid() && host.value().variant().toBool())
        return true;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent), m_spell(std::make_unique<SpellChecker>()), m_keepAwake(std::make_unique<KeepAwake>())
{
}

AppDelegate::~AppDelegate() = default;

QMenu *AppDelegate::menu() const
{
    return m_menu ? m_menu->menu() : nullptr;
}

bool AppDelegate::needsSettingsAtLaunch(const AppModel &model)
{
    if (!model.keys().hasElevenLabsKey())
        return true;
    if (model.keys().hasTranslationKey())
        return false;
    return model.mode() != DisplayMode::english;
}

void AppDelegate::applicationDidFinishLaunching()
{
    // A termination signal from here on ends the application through quit (and so saves);
    // taken first, as a signal before it would end the process where it stands.
    m_signals = new UnixSignalWatcher(this);
    connect(m_signals, &UnixSignalWatcher::terminationRequested, qApp, &QCoreApplication::quit);

    if (!model) {
        // Reading the font configuration takes a while, and the first text is laid out only in
        // the panel: a worker reads it meanwhile.
        QThreadPool::globalInstance()->start([] { QFontDatabase::families(); });
    }
    const bool trayHost = trayHostAvailable();

    QApplication::setFont(InterfaceFonts::withHanFace(QApplication::font()));

    // The model is made with the desktop's services here, after the interface font is set and
    // before anything asks for it.
    AppModel &shared = model ? *model : *AppModel::makeShared(desktopPlatform());
    SettingsWindowController::model = &shared;

    // The tray icon is made first, as the menu-bar item exists before the launch steps run,
    // but shown once they have: a user takes the icon as the sign that the application is
    // ready, and a hot key pressed at once must already be grabbed.
    m_menu = new MenuContent(shared, this);
    m_label = new MenuBarLabel(shared, this);
    if (trayHost) {
        m_tray = new QSystemTrayIcon(m_label->icon(), this);
        m_tray->setToolTip(QStringLiteral("泰萨利字幕"));
        m_tray->setContextMenu(m_menu->menu());
        connect(m_label, &MenuBarLabel::iconChanged, m_tray, [this] { m_tray->setIcon(m_label->icon()); });
        // A left click pops the menu up too: the menu is the only way in.
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                m_menu->menu()->popup(QCursor::pos());
        });
    }

    followModel(shared);

    registerHotKeys(shared);
    if (m_tray)
        m_tray->show();
    // The keyring's first answer is slow, and asking it while the steps above talk to the
    // desktop slowed them: the keys are asked for now, and arrive on their own (hot keys that
    // need a key meanwhile wait for the keyring's answer).
    shared.keys().readStoredKeys();

    // The captions, shown from the next turn of the event loop on. Made once the icon is up:
    // nothing reaches the panel before that turn, a click on the icon included, and the icon
    // does not wait for the panel's widgets. The panel's right-click menu is the tray's, so that
    // desktops without a tray host still reach every entry.
    m_panel = new CaptionPanelController(&shared, this);
    m_panel->setContextMenu(menu());

    // Without a tray icon the settings window is the only way in. Otherwise it opens when the
    // keys are missing, which is known once the keyring has answered.
    if (!m_tray) {
        SettingsWindowController::shared().show();
    } else if (shared.keys().keysKnown()) {
        if (needsSettingsAtLaunch(shared))
            SettingsWindowController::shared().show();
    } else {
        connect(&shared.keys(), &ServiceKeys::keysKnownChanged, this, [&shared] {
            if (shared.keys().keysKnown() && needsSettingsAtLaunch(shared))
                SettingsWindowController::shared().show();
        }, Qt::SingleShotConnection);
    }

    // Quitting saves the meeting once, however the end comes: "退出", SIGTERM and SIGINT all
    // end in aboutToQuit, and the session's end asks to commit first. Either way the model
    // keeps the last partial sentence and saves the record; a second call does nothing.
    QPointer<AppModel> guarded(&shared);
    connect(qApp, &QGuiApplication::commitDataRequest, this, [guarded] {
        if (guarded)
            guarded->quitOnce();
    });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [guarded] {
        if (guarded)
            guarded->quitOnce();
    });
}

AppModel::Platform AppDelegate::desktopPlatform(AppModel::Platform platform) const
{
    // Asynchronous services answer on the main thread: each is given the application object
    // as its context where it takes one.
    platform.fetchPage = [](const QUrl &url, std::function<void(const AppModel::OptionalText &)> done) {
        MaterialReader::fetchPage(url, [done](const std::optional<QString> &page) { done(page); });
    };
    platform.requestMicrophone = [](std::function<void(bool)> done) { MicrophoneCapture::ensurePermission(done); };
    platform.setKeepAwake = [keep = QPointer<KeepAwake>(m_keepAwake.get())](bool on) {
        if (keep)
            keep->set(on);
    };
    platform.checkKey = [](KeyProvider provider, const QString &key, std::function<void(const KeyStatus &)> done) {
        KeyCheck::check(provider, key, [done](const KeyStatus &status) { done(status); });
    };
    platform.fetchBalance = [](KeyProvider provider, const QString &key,
                               std::function<void(const std::optional<BalanceInfo> &)> done) {
        KeyCheck::balance(provider, key, [done](const std::optional<BalanceInfo> &info) { done(info); });
    };
    platform.currentBrowserPage = [](std::function<void(const std::optional<QUrl> &)> done) {
        BrowserTab::current(qApp, [done](std::optional<QUrl> url) { done(url); });
    };
    platform.browserTabs = [](std::function<void(const QList<BrowserTabs::Tab> &)> done) {
        BrowserTab::allTabs(qApp, [done](const QList<BrowserTabs::Tab> &tabs) { done(tabs); });
    };
    // Until the dictionary has loaded (see followModel) every word counts as a word.
    platform.isDictionaryWord = [spell = QPointer<SpellChecker>(m_spell.get())](const QString &word) {
        return spell ? spell->isWord(word) : true;
    };
    platform.revealFile = [](const QString &path) { FileReveal::revealFiles({QUrl::fromLocalFile(path)}); };
    platform.measurer = [](double fontSize) { return CaptionMetrics::measurer(fontSize); };
    platform.showSettings = [] { SettingsWindowController::shared().show(); };
    platform.openFolder = [](const QString &folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    return platform;
}

void AppDelegate::followModel(AppModel &shared)
{
    // The dictionary is used only in a meeting, and it is megabytes: it loads on a worker when
    // the first meeting starts, not at start-up.
    if (shared.running())
        m_spell->load();
    QObject::connect(&shared, &AppModel::runningChanged, m_spell.get(), [spell = m_spell.get(), model = &shared] {
        if (model->running())
            spell->load();
    });
    FileReveal::openFolder = [](const QUrl &folder) { QDesktopServices::openUrl(folder); };
    // OpenCC loads its tables on the first conversion, not here.
    m_traditional = std::make_shared<TraditionalChinese>();
    ChineseScript::toTraditional = [traditional = m_traditional](const QString &text) {
        return traditional->convert(text);
    };

    // A model made before the interface font was installed laid its rows out with the old one;
    // the panel lays out again only when its width changes, which a panel left at its default
    // width never does.
    shared.relayout();
    CaptionView::showChat = [] { ChatWindowController::shared().show(); };
}

void AppDelegate::registerHotKeys(AppModel &shared)
{
    QPointer<AppModel> guarded(&shared);
    const std::pair<QKeyCombination, HotKey::Action> keys[] = {
        {Qt::CTRL | Qt::ALT | Qt::Key_S, [guarded] { if (guarded) guarded->toggle(); }},
        {Qt::CTRL | Qt::ALT | Qt::Key_Equal, [guarded] { if (guarded) guarded->adjustFontSize(2.0); }},
        {Qt::CTRL | Qt::ALT | Qt::Key_Minus, [guarded] { if (guarded) guarded->adjustFontSize(-2.0); }},
    };
    // A combination another program holds is left out; the menu entries still work.
    for (const auto &[combination, action] : keys) {
        if (std::unique_ptr<HotKey> key = HotKey::create(combination, action))
            m_hotKeys.push_back(std::move(key));
    }
}

void AppDelegate::reopen()
{
    AppModel &shared = model ? *model : *AppModel::shared();
    if (shared.panelVisible())
        SettingsWindowController::shared().show();
    else
        shared.setPanelVisible(true);
}
