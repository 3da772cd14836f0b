#pragma once

#include <QString>

// A temporary PulseAudio null sink on the test environment's server, unloaded again when the
// object goes away. Its monitor is a source the tests can record from.
class NullSink final {
public:
    explicit NullSink(const QString &name);
    ~NullSink();

    NullSink(const NullSink &) = delete;
    NullSink &operator=(const NullSink &) = delete;

    bool isLoaded() const { return m_module >= 0; }
    QString name() const { return m_name; }
    QString monitorName() const { return m_name + QStringLiteral(".monitor"); }

    // Runs pactl with the arguments; true when it exits with 0. `output` receives its stdout.
    static bool pactl(const QStringList &arguments, QString *output = nullptr);
    static QString defaultSink();
    static QString defaultSource();
    static bool setDefaultSink(const QString &name);
    static bool setDefaultSource(const QString &name);
    // Record streams currently connected to the server.
    static int sourceOutputCount();
    // Has the server end one record stream, as a mixer does when the user closes it (pactl
    // has no command for it). True when the server did.
    static bool killSourceOutput(quint32 index);

private:
    QString m_name;
    int m_module = -1;
};
