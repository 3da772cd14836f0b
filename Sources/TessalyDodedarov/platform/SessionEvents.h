#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

#include <functional>

// Tells its owner about the desktop session's turning points over D-Bus: the machine about to
// sleep or shut down (logind's PrepareForSleep and PrepareForShutdown, system bus), the screen
// locking (ActiveChanged of the freedesktop and the GNOME screen saver, session bus; desktops
// differ in which they send) and the user logging out (GNOME's session manager, which asks each
// registered client and waits for its answer). Only a signal carrying true counts: a `false`,
// or a signal with other arguments, is ignored.
//
// logind's delay inhibitor lets the owner finish (pause and save) before the machine sleeps
// or shuts down: logind waits until the descriptor it handed out is closed.
//
// Which bus each watch uses is a static, so tests run everything on a private session bus.
// A missing bus or service is no error: that watch is simply silent and no inhibitor is held.
// Main thread only; owned by the meeting model, which installs the callbacks.
class SessionEvents final : public QObject {
    Q_OBJECT

public:
    struct Callbacks {
        std::function<void()> sleep = [] {};           // PrepareForSleep(true)
        std::function<void()> lock = [] {};            // ActiveChanged(true), either screen saver
        std::function<void()> shutdown = [] {};        // PrepareForShutdown(true)
        std::function<void()> shutdownCancelled = [] {}; // PrepareForShutdown(false)
        std::function<void()> queryEndSession = [] {}; // the session manager asks; answered after
        std::function<void()> endSession = [] {};      // the session ends; answered after
    };

    static inline QDBusConnection::BusType logindBus = QDBusConnection::SystemBus;
    static inline QDBusConnection::BusType screenSaverBus = QDBusConnection::SessionBus;
    static inline QDBusConnection::BusType sessionManagerBus = QDBusConnection::SessionBus;
    static inline QString appId = QStringLiteral("tessaly-dodedarov");
    static inline QString inhibitorWho = QStringLiteral("泰萨利字幕");
    static inline QString inhibitorWhy = QStringLiteral("保存会议记录");

    explicit SessionEvents(Callbacks callbacks, QObject *parent = nullptr);
    ~SessionEvents() override;

    // Connects the watches and registers with the session manager where there is one. Once;
    // later calls do nothing.
    void start();

    // Takes logind's "sleep:shutdown" delay inhibitor unless one is held or being asked for.
    void holdInhibitor();
    // Closes the held descriptor, which lets the sleep or shutdown go ahead; one still being
    // asked for is closed as soon as it comes.
    void releaseInhibitor();
    bool inhibitorHeld() const { return m_inhibitor.isValid(); }
    bool inhibitorPending() const { return m_inhibitorPending; }

    // The session manager's object path for this client, empty until registered.
    QString clientPath() const { return m_clientPath; }

signals:
    void inhibitorChanged(bool held);
    void registered(const QString &clientPath);

private slots:
    void onLogind(const QDBusMessage &message);
    void onScreenSaver(const QDBusMessage &message);
    void onClient(const QDBusMessage &message);

private:
    void registerClient();
    void answerSessionManager();

    Callbacks m_callbacks;
    bool m_started = false;
    QDBusUnixFileDescriptor m_inhibitor;
    bool m_inhibitorPending = false;
    bool m_inhibitorWanted = false;
    QString m_clientPath;
};
