#pragma once

#include <QDeadlineTimer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One running copy per user: a lock file and a local socket in the runtime folder, taken before
// the meeting model exists, so a second start never bills, grabs keys or writes records. The
// second start asks the first to show itself and ends. A lock left by a crashed process is
// taken over, also while the second start is waiting for its answer.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        first,     // this process holds the lock and listens
        forwarded, // another process holds it and answered "show"
        noAnswer,  // another process holds it and did not answer in time
    };

    // How long a second start waits for a running copy that is alive but busy (a long save, a
    // slow keyring) before it tells the user; a copy that ends meanwhile is taken over at once.
    static constexpr int answerTimeoutMs = 10000;
    static constexpr qint64 messageLimit = 64;

    // The folder for the lock and the socket; the user's runtime folder unless a test sets one.
    explicit SingleInstance(const QString &folder = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    Outcome claim();

    // Tells the user, in a message box, that a copy is running but does not answer and what to
    // do about it; returns once the box is closed.
    static void tellNoAnswer();

    QString lockPath() const;
    QString socketPath() const;

signals:
    // The second start asked to be shown.
    void showRequested();

private:
    bool takeLock();
    // Asks the holder to show itself; true once it answers before the deadline.
    bool askToShow(const QDeadlineTimer &deadline) const;
    void receive();

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
