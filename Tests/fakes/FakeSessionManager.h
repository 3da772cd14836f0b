#pragma once

#include "fakes/FakeBusService.h"

#include <QSet>

// GNOME's session manager on the private session bus: "org.gnome.SessionManager" at
// /org/gnome/SessionManager. RegisterClient gives each client an object path of its own;
// the test sends that client QueryEndSession, EndSession or Stop and reads back each
// EndSessionResponse. Inhibit(app id, toplevel, reason, flags) -> cookie and Uninhibit(cookie)
// stand in for the idle inhibition.
class FakeSessionManager final : public FakeBusService {
    Q_OBJECT
public:
    struct Client {
        QString appId, startupId, path;
    };
    struct Response {
        QString clientPath;
        bool ok = false;
        QString reason;
    };
    struct Inhibition {
        QString appId;
        uint toplevel = 0;
        QString reason;
        uint flags = 0;
        uint cookie = 0;
    };

    explicit FakeSessionManager(QObject *parent = nullptr);

    void queryEndSession(const QString &clientPath, uint flags = 0);
    void endSession(const QString &clientPath, uint flags = 0);

    QList<Client> clients;
    QList<Response> responses;
    QList<Inhibition> inhibitions;
    QList<uint> released;
    QSet<uint> active;

signals:
    void responded(bool ok);

private:
    void serveClient(const QString &path);
    uint m_nextCookie = 7;
};
