#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QThread;

// A named thread that runs posted work one item at a time, in the order it was posted.
// Objects that must live on the queue (timers, sockets) are created inside posted work and
// parented to context(). Destroying the queue lets queued work finish, then joins the thread.
class SerialQueue final {
public:
    explicit SerialQueue(const QString &label);
    ~SerialQueue();

    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    QString label() const { return m_label; }
    QObject *context() const { return m_context; }
    QThread *thread() const { return m_thread.get(); }
    bool isCurrent() const;

    void async(std::function<void()> work);
    // Blocks until the work has run; runs it inline when already on the queue, so a sync call
    // from the queue's own work cannot deadlock.
    void sync(const std::function<void()> &work);
    // Stops accepting work, runs what is queued and joins the thread. Safe to call twice.
    void stop();

private:
    QString m_label;
    std::unique_ptr<QThread> m_thread;
    QObject *m_context = nullptr;
    bool m_stopped = false;
};
