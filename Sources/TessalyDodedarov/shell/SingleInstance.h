#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One running copy per user: a lock file and a local socket in the runtime folder, taken before
// the meeting model exists, so a second start never bills, grabs keys or writes records. The
// second start asks the first to show itself and ends. A lock left by a crashed process is
// taken over.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        first,     // this process holds the lock and listens
        forwarded, // another process holds it and answered "show"
        noAnswer,  // another process holds it and did not answer in time
    };

    static constexpr int answerTimeoutMs = 2000;
    static constexpr qint64 messageLimit = 64;

    // The folder for the lock and the socket; the user's runtime folder unless a test sets one.
    explicit SingleInstance(const QString &folder = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    Outcome claim();

    QString lockPath() const;
    QString socketPath() const;

signals:
    // The second start asked to be shown.
    void showRequested();

private:
    void receive();

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
