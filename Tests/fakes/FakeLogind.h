#pragma once

#include "fakes/FakeBusService.h"

class QSocketNotifier;

// logind's manager on the private session bus: "org.freedesktop.login1" at
// /org/freedesktop/login1. Inhibit(what, who, why, mode) hands out one end of a pipe, as logind
// does, and the fake sees the inhibitor released when every copy of that end is closed.
// PrepareForSleep and PrepareForShutdown are sent on the test's request.
class FakeLogind final : public FakeBusService {
    Q_OBJECT
public:
    struct Inhibitor {
        QString what, who, why, mode;
        bool released = false;
    };

    explicit FakeLogind(QObject *parent = nullptr);
    ~FakeLogind() override;

    void prepareForSleep(bool start);
    void prepareForShutdown(bool start);

    QList<Inhibitor> inhibitors;
    int held() const; // inhibitors handed out and not yet released

signals:
    void inhibitorReleased(int index);

private:
    struct Pipe {
        int readEnd = -1;
        QSocketNotifier *notifier = nullptr;
    };
    QList<Pipe> m_pipes;
};
