#pragma once

#include <QString>
#include <QTemporaryDir>

// Points the application's settings at a fresh temporary folder for as long as it lives, and
// lets a test write the settings file as text, the way a user would edit it by hand. The
// registered defaults are forgotten on both ends, so each test starts from an empty store.
class TemporarySettings final {
public:
    TemporarySettings();
    ~TemporarySettings();

    TemporarySettings(const TemporarySettings &) = delete;
    TemporarySettings &operator=(const TemporarySettings &) = delete;

    QString folder() const { return m_dir.path(); }
    QString file() const;
    // Replaces the file with these lines under "[General]".
    void writeText(const QString &lines);
    QString readText() const;

private:
    QTemporaryDir m_dir;
};
