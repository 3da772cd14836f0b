#pragma once

#include <QObject>
#include <QString>

// Keeps the display awake while captions run, behind the model's `setKeepAwake` hook: an
// inhibition of the idle screen saver over D-Bus. The freedesktop ScreenSaver interface comes
// first; where that name is not on the session bus, GNOME's session manager is asked instead
// (its "idle" flag). At most one inhibition is held at a time. Each call times out after
// `timeoutMs`; a failure leaves nothing held and the next `set(true)` tries again. Main
// thread only; the application delegate owns the one instance.
class KeepAwake final : public QObject {
    Q_OBJECT

public:
    enum class Route { screenSaver, sessionManager };

    static inline QString applicationName = QStringLiteral("泰萨利字幕");
    static inline QString reason = QStringLiteral("泰萨利字幕正在识别和翻译");
    static inline QString appId = QStringLiteral("tessaly-dodedarov");
    // The bus's own default. A busy desktop may take seconds to answer, and a call given up
    // on its side still inhibits there: the cookie of its late answer, and with it the way to
    // let the screen sleep again, would be lost.
    static inline int timeoutMs = 25000;

    explicit KeepAwake(QObject *parent = nullptr);
    ~KeepAwake() override;

    // true: take an inhibition unless one is held or being asked for. false: release the held
    // one, or the one being asked for once its answer comes; nothing when there is none.
    void set(bool on);
    // True only once a cookie has come back, until the release is sent.
    bool held() const { return m_held; }
    // An Inhibit call is out and unanswered.
    bool pending() const { return m_pending; }
    Route route() const { return m_route; }

signals:
    void heldChanged(bool held);

private:
    void inhibit(Route route);
    void release(Route route, uint cookie);

    bool m_wanted = false;
    bool m_pending = false;
    bool m_held = false;
    Route m_route = Route::screenSaver;
    uint m_cookie = 0;
};
