#pragma once

#include "fakes/FakeBusService.h"

#include <QSet>

// The freedesktop screen saver on the private session bus: "org.freedesktop.ScreenSaver" at
// /org/freedesktop/ScreenSaver with Inhibit(application, reason) -> cookie and
// UnInhibit(cookie). It sends ActiveChanged as the freedesktop or the GNOME screen saver
// (GNOME Shell sends the latter, KDE the former).
class FakeScreenSaver final : public FakeBusService {
    Q_OBJECT
public:
    struct Inhibition {
        QString application, reason;
        uint cookie = 0;
    };

    explicit FakeScreenSaver(QObject *parent = nullptr);

    void activeChanged(bool on, bool gnome = false);

    QList<Inhibition> inhibitions; // every Inhibit, in order
    QList<uint> released;          // every UnInhibit's cookie, in order
    QSet<uint> active;             // cookies inhibited and not released

private:
    uint m_nextCookie = 100;
};
