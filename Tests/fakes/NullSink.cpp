#include "fakes/NullSink.h"

#include <QProcess>
#include <QRegularExpression>

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
