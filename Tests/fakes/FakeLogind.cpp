#include "fakes/FakeLogind.h"

#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString path = QStringLiteral("/org/freedesktop/login1");
}

FakeLogind::FakeLogind(QObject *parent) : FakeBusService(QStringLiteral("org.freedesktop.login1"), parent)
{
    serve(path, [this](const QDBusMessage &call) {
        if (call.member() != QLatin1String("Inhibit") || call.signature() != QLatin1String("ssss")) {
            replyError(call, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), call.member());
            return;
        }
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            replyError(call, QStringLiteral("org.freedesktop.DBus.Error.Failed"), QStringLiteral("pipe"));
            return;
        }
        const QVariantList args = call.arguments();
        inhibitors.append({args.at(0).toString(), args.at(1).toString(), args.at(2).toString(),
            args.at(3).toString(), false});
        const int index = int(inhibitors.size()) - 1;
        auto *notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, this);
        m_pipes.append({ends[0], notifier});
        connect(notifier, &QSocketNotifier::activated, this, [this, index, notifier] {
            char byte;
            if (::read(m_pipes.at(index).readEnd, &byte, 1) > 0)
                return;
            // End of file: the last copy of the write end is closed.
            notifier->setEnabled(false);
            inhibitors[index].released = true;
            emit inhibitorReleased(index);
        });
        {
            // The message takes a copy of the write end; ours closes right after.
            const QDBusUnixFileDescriptor handed(ends[1]);
            reply(call, {QVariant::fromValue(handed)});
        }
        ::close(ends[1]);
    });
}

FakeLogind::~FakeLogind()
{
    for (const Pipe &pipe : std::as_const(m_pipes)) {
        delete pipe.notifier;
        ::close(pipe.readEnd);
    }
}

void FakeLogind::prepareForSleep(bool start)
{
    emitSignal(path, manager, QStringLiteral("PrepareForSleep"), {start});
}

void FakeLogind::prepareForShutdown(bool start)
{
    emitSignal(path, manager, QStringLiteral("PrepareForShutdown"), {start});
}

int FakeLogind::held() const
{
    int count = 0;
    for (const Inhibitor &inhibitor : inhibitors)
        count += inhibitor.released ? 0 : 1;
    return count;
}
