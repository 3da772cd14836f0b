#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// The application's settings ("tessalab", "dodedarov") read and written with types. The INI file
// behind QSettings keeps no types: a flag comes back as the text "true", a number as its digits,
// so every reader accepts exactly the stored forms of its type and treats anything else, a
// hand-edited "yes" or "abc", as not stored. Registered defaults live in memory for the process
// and answer when a key holds no value of the right type; they never reach the file.
// Static operations only; callable from any thread (the engine reads on its own queue).
class UserDefaults final {
public:
    UserDefaults() = delete;

    static std::optional<bool> flag(const QString &key);
    static std::optional<qint64> integer(const QString &key);
    static std::optional<double> real(const QString &key);
    static std::optional<QString> text(const QString &key);
    static std::optional<QList<bool>> flags(const QString &key);
    static std::optional<QJsonObject> json(const QString &key);

    static void setFlag(const QString &key, bool value);
    static void setInteger(const QString &key, qint64 value);
    static void setReal(const QString &key, double value);
    static void setText(const QString &key, const QString &value);
    static void setFlags(const QString &key, const QList<bool> &value);
    // Written as compact JSON text.
    static void setJson(const QString &key, const QJsonObject &value);
    static void remove(const QString &key);

    // Adds to (or replaces in) the process-wide defaults.
    static void registerDefaults(const QVariantMap &defaults);
    // Forgets every registered default; tests start each model from nothing.
    static void clearRegisteredDefaults();

    // The typed readings of one stored value, shared with the registered defaults.
    static std::optional<bool> asFlag(const QVariant &value);
    static std::optional<qint64> asInteger(const QVariant &value);
    static std::optional<double> asReal(const QVariant &value);
    static std::optional<QString> asText(const QVariant &value);
    static std::optional<QList<bool>> asFlags(const QVariant &value);
    static std::optional<QJsonObject> asJson(const QVariant &value);

private:
    static QVariant stored(const QString &key);
    static QVariant registered(const QString &key);
    static void write(const QString &key, const QVariant &value);
    // Whether the value read back from the settings file is the one about to be written.
    static bool holds(const QVariant &stored, const QVariant &value);
};
