#include "common/UserDefaults.h"

#include <QJsonDocument>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>

#include <cmath>
#include <limits>

namespace {

QSettings settings()
{
    return QSettings(QStringLiteral("tessalab"), QStringLiteral("dodedarov"));
}

QMutex &defaultsLock()
{
    static QMutex lock;
    return lock;
}

QVariantMap &defaults()
{
    static QVariantMap map;
    return map;
}

// Reads a stored value as T, else the registered default as T.
template <typename T>
std::optional<T> read(const QString &key, std::optional<T> (*as)(const QVariant &),
                      QVariant (*stored)(const QString &), QVariant (*registered)(const QString &))
{
    if (std::optional<T> value = as(stored(key)))
        return value;
    return as(registered(key));
}

} // namespace

QVariant UserDefaults::stored(const QString &key)
{
    return settings().value(key);
}

QVariant UserDefaults::registered(const QString &key)
{
    const QMutexLocker locker(&defaultsLock());
    return defaults().value(key);
}

void UserDefaults::write(const QString &key, const QVariant &value)
{
    QSettings s = settings();
    // Only the user's own file counts as stored: a system-wide value is no reason to skip.
    s.setFallbacksEnabled(false);
    // Every start stores a few settings that are usually there already; writing the same
    // value again would cost a synced rewrite of the file on the way to the tray.
    if (s.contains(key) && holds(s.value(key), value))
        return;
    s.setValue(key, value);
    s.sync();
}

bool UserDefaults::holds(const QVariant &stored, const QVariant &value)
{
    if (stored.typeId() == value.typeId())
        return stored == value;
    // The settings file keeps flags and numbers as text, and gives them back as text.
    if (stored.typeId() != QMetaType::QString)
        return false;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return stored.toString() == value.toString();
    default:
        return false;
    }
}

std::optional<bool> UserDefaults::asFlag(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

std::optional<qint64> UserDefaults::asInteger(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return value.toLongLong();
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
        if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (std::isfinite(d) && d == std::floor(d) && std::abs(d) < 9.0e15)
            return qint64(d);
        return std::nullopt;
    }
    case QMetaType::QString: {
        static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
        const QString text = value.toString();
        if (!digits.match(text).hasMatch())
            return std::nullopt;
        bool ok = false;
        const qint64 parsed = text.toLongLong(&ok);
        if (ok)
            return parsed;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> UserDefaults::asReal(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: {
        const double d = value.toDouble();
        if (std::isfinite(d))
            return d;
        return std::nullopt;
    }
    case QMetaType::QString: {
        bool ok = false;
        const double d = QLocale::c().toDouble(value.toString(), &ok);
        if (ok && std::isfinite(d))
            return d;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> UserDefaults::asText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

std::optional<QList<bool>> UserDefaults::asFlags(const QVariant &value)
{
    QVariantList items;
    if (value.typeId() == QMetaType::QVariantList) {
        items = value.toList();
    } else if (value.typeId() == QMetaType::QStringList) {
        for (const QString &item : value.toStringList())
            items.append(item);
    } else {
        return std::nullopt;
    }
    QList<bool> out;
    out.reserve(items.size());
    for (const QVariant &item : items) {
        const std::optional<bool> flag = asFlag(item);
        if (!flag)
            return std::nullopt;
        out.append(*flag);
    }
    return out;
}

std::optional<QJsonObject> UserDefaults::asJson(const QVariant &value)
{
    QByteArray bytes;
    if (value.typeId() == QMetaType::QString)
        bytes = value.toString().toUtf8();
    else if (value.typeId() == QMetaType::QByteArray)
        bytes = value.toByteArray();
    else
        return std::nullopt;
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<bool> UserDefaults::flag(const QString &key)
{
    return read<bool>(key, &asFlag, &stored, &registered);
}

std::optional<qint64> UserDefaults::integer(const QString &key)
{
    return read<qint64>(key, &asInteger, &stored, &registered);
}

std::optional<double> UserDefaults::real(const QString &key)
{
    return read<double>(key, &asReal, &stored, &registered);
}

std::optional<QString> UserDefaults::text(const QString &key)
{
    return read<QString>(key, &asText, &stored, &registered);
}

std::optional<QList<bool>> UserDefaults::flags(const QString &key)
{
    return read<QList<bool>>(key, &asFlags, &stored, &registered);
}

std::optional<QJsonObject> UserDefaults::json(const QString &key)
{
    return read<QJsonObject>(key, &asJson, &stored, &registered);
}

void UserDefaults::setFlag(const QString &key, bool value)
{
    write(key, value);
}

void UserDefaults::setInteger(const QString &key, qint64 value)
{
    write(key, value);
}

void UserDefaults::setReal(const QString &key, double value)
{
    write(key, value);
}

void UserDefaults::setText(const QString &key, const QString &value)
{
    write(key, value);
}

void UserDefaults::setFlags(const QString &key, const QList<bool> &value)
{
    QVariantList list;
    for (bool flag : value)
        list.append(flag);
    write(key, list);
}

void UserDefaults::setJson(const QString &key, const QJsonObject &value)
{
    write(key, QString::fromUtf8(QJsonDocument(value).toJson(QJsonDocument::Compact)));
}

void UserDefaults::remove(const QString &key)
{
    QSettings s = settings();
    s.remove(key);
    s.sync();
}

void UserDefaults::registerDefaults(const QVariantMap &values)
{
    const QMutexLocker locker(&defaultsLock());
    for (auto it = values.begin(); it != values.end(); ++it)
        defaults().insert(it.key(), it.value());
}

void UserDefaults::clearRegisteredDefaults()
{
    const QMutexLocker locker(&defaultsLock());
    defaults().clear();
}
