#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A second PulseAudio daemon with no devices at all, on its own socket, for the cases the
// shared test server cannot show (no output, no input). While a `Use` is alive, clients of
// this process talk to it (PULSE_SERVER); the previous value comes back afterwards.
class PrivateSoundServer final {
public:
    PrivateSoundServer();
    ~PrivateSoundServer();

    PrivateSoundServer(const PrivateSoundServer &) = delete;
    PrivateSoundServer &operator=(const PrivateSoundServer &) = delete;

    bool isRunning() const { return m_running; }
    QString address() const;

    // Points this process's sound clients at an address for its lifetime.
    class Use final {
    public:
        explicit Use(const QString &address);
        ~Use();
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

    private:
        bool m_had;
        QByteArray m_previous;
    };

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    bool m_running = false;
};
