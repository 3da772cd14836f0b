#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeyCombination>

#include <functional>
#include <memory>

// System-wide key combinations on an X server: each is a passive grab on the root windows,
// taken through Qt's own X connection so that the presses arrive in Qt's event stream, where
// this filter takes them out before Qt sees them. One object per process, alive until the
// application object goes; absent when the application does not run on X11. Main thread only.
class X11KeyGrabber final : public QAbstractNativeEventFilter {
public:
    ~X11KeyGrabber() override;

    // The grabber, created on first use; nullptr without an X11 connection.
    static X11KeyGrabber *instance();

    // Grabs the combination for id. False when the key has no keycode on this keyboard or
    // another client already holds the combination; nothing stays grabbed then.
    bool grab(quint32 id, QKeyCombination combination);
    // Lets the combination go; its presses reach other clients again.
    void ungrab(quint32 id);

    // Runs once per press of a grabbed combination (a held key's auto-repeat is not a press),
    // from inside the event filter: whoever installs it queues its real work.
    std::function<void(quint32 id)> pressed = [](quint32) {};

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    struct Private;
    explicit X11KeyGrabber(std::unique_ptr<Private> d);

    std::unique_ptr<Private> d;
};
