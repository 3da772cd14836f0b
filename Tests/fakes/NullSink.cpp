#include "fakes/NullSink.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <memory>

NullSink::NullSink(const QString &name)
    : m_name(name)
{
    QString output;
    if (pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
               QStringLiteral("sink_name=") + name},
              &output)) {
        bool ok = false;
        const int module = output.trimmed().toInt(&ok);
        if (ok)
            m_module = module;
    }
}

NullSink::~NullSink()
{
    if (m_module >= 0)
        pactl({QStringLiteral("unload-module"), QString::number(m_module)});
}

bool NullSink::pactl(const QStringList &arguments, QString *output)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString NullSink::defaultSink()
{
    QString output;
    pactl({QStringLiteral("get-default-sink")}, &output);
    return output.trimmed();
}

QString NullSink::defaultSource()
{
    QString output;
    pactl({QStringLiteral("get-default-source")}, &output);
    return output.trimmed();
}

bool NullSink::setDefaultSink(const QString &name)
{
    return pactl({QStringLiteral("set-default-sink"), name});
}

bool NullSink::setDefaultSource(const QString &name)
{
    return pactl({QStringLiteral("set-default-source"), name});
}

int NullSink::sourceOutputCount()
{
    QString output;
    if (!pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")}, &output))
        return -1;
    return int(output.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size());
}

bool NullSink::killSourceOutput(quint32 index)
{
    const std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> loop(pa_mainloop_new(),
                                                                         &pa_mainloop_free);
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop.get()), "dodedarov-test");
    if (!context)
        return false;
    const QDeadlineTimer deadline(10000);
    const auto runUntil = [&](const std::function<bool()> &done) {
        while (!done() && !deadline.hasExpired()) {
            if (pa_mainloop_iterate(loop.get(), 0, nullptr) < 0)
                return false;
            if (!done())
                pa_mainloop_iterate(loop.get(), 1, nullptr); // blocks until the next event
        }
        return done();
    };
    bool killed = false;
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) >= 0
        && runUntil([context] {
               const pa_context_state_t state = pa_context_get_state(context);
               return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
           })
        && pa_context_get_state(context) == PA_CONTEXT_READY) {
        int result = -1;
        pa_operation *operation = pa_context_kill_source_output(
            context, index,
            [](pa_context *, int success, void *userdata) { *static_cast<int *>(userdata) = success; },
            &result);
        if (operation) {
            runUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
            pa_operation_unref(operation);
        }
        killed = result == 1;
    }
    pa_context_disconnect(context);
    pa_context_unref(context);
    return killed;
}
