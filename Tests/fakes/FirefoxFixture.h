#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// A Firefox folder for tests: profiles.ini, profile folders, "lock" symlinks naming a chosen
// PID, and session-restore files compressed into the mozLz4 frame as Firefox writes them.
class FirefoxFixture final {
public:
    struct Tab {
        QString url;
        QString title;
        int history = 0; // earlier entries before this one, for long back histories
    };
    using Window = QList<Tab>;

    FirefoxFixture();

    QString folder() const { return m_dir.path(); }
    bool isValid() const { return m_dir.isValid(); }

    // Adds a profile (relative to the folder unless an absolute path is given) and rewrites
    // profiles.ini. A lock PID of 0 leaves the profile without a lock.
    QString addProfile(const QString &path, qint64 lockPid, bool relative = true);
    // Writes the profile's recovery.jsonlz4 with these bytes (already framed).
    bool writeSession(const QString &profileFolder, const QByteArray &file);
    void writeProfilesIni(const QByteArray &text);

    // A session JSON text: windows of tabs, each tab's current entry after its history, and the
    // 1-based selections as Firefox stores them.
    static QByteArray sessionJson(const QList<Window> &windows, int selectedWindow,
                                  const QList<int> &selectedTabs);
    // The mozLz4 frame of a text; `declared` overrides the size written in the header.
    static QByteArray mozLz4(const QByteArray &text, std::optional<quint32> declared = std::nullopt);

    // A PID that names no process.
    static qint64 deadPid();

private:
    struct Profile {
        QString path;
        bool relative = true;
    };
    QTemporaryDir m_dir;
    QList<Profile> m_profiles;
};
