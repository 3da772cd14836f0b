#include "fakes/PrivateSoundServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcessEnvironment>

PrivateSoundServer::PrivateSoundServer()
{
    if (!m_dir.isValid())
        return;
    QDir(m_dir.path()).mkdir(QStringLiteral("run"));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Off the session bus, or it clashes with the shared server's bus name and quits.
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
    m_daemon.setProcessEnvironment(environment);
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.setStandardOutputFile(QProcess::nullDevice());
    m_daemon.start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("--daemonize=no"), QStringLiteral("--use-pid-file=no"),
                    QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--log-level=error"),
                    QStringLiteral("-n"),
                    QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=")
                        + m_dir.filePath(QStringLiteral("sock"))});
    if (!m_daemon.waitForStarted(5000))
        return;
    // The socket's file appears when the daemon binds it, a moment before it listens: only a
    // connection that is taken shows that clients may come.
    const QString socketPath = m_dir.filePath(QStringLiteral("sock"));
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && m_daemon.state() == QProcess::Running) {
        if (QFileInfo::exists(socketPath)) {
            QLocalSocket probe;
            probe.connectToServer(socketPath);
            if (probe.waitForConnected(1000)) {
                probe.abort();
                m_running = true;
                return;
            }
        }
        m_daemon.waitForFinished(50);
    }
}

PrivateSoundServer::~PrivateSoundServer()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000)) {
            m_daemon.kill();
            m_daemon.waitForFinished();
        }
    }
}

QString PrivateSoundServer::address() const
{
    return QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("sock"));
}

PrivateSoundServer::Use::Use(const QString &address)
    : m_had(qEnvironmentVariableIsSet("PULSE_SERVER"))
    , m_previous(qgetenv("PULSE_SERVER"))
{
    qputenv("PULSE_SERVER", address.toUtf8());
}

PrivateSoundServer::Use::~Use()
{
    if (m_had)
        qputenv("PULSE_SERVER", m_previous);
    else
        qunsetenv("PULSE_SERVER");
}
