#include "fakes/TemporarySettings.h"

#include "common/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QSettings>

TemporarySettings::TemporarySettings()
{
    if (!m_dir.isValid())
        qFatal("no temporary folder for the settings");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    UserDefaults::clearRegisteredDefaults();
}

TemporarySettings::~TemporarySettings()
{
    UserDefaults::clearRegisteredDefaults();
}

QString TemporarySettings::file() const
{
    return m_dir.filePath(QStringLiteral("tessalab/dodedarov.conf"));
}

void TemporarySettings::writeText(const QString &lines)
{
    QDir().mkpath(m_dir.filePath(QStringLiteral("tessalab")));
    QFile out(file());
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the settings file");
    out.write("[General]\n");
    out.write(lines.toUtf8());
    out.write("\n");
}

QString TemporarySettings::readText() const
{
    QFile in(file());
    if (!in.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(in.readAll());
}
