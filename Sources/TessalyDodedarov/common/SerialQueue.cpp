#include "common/SerialQueue.h"

#include <QMetaObject>
#include <QSemaphore>
#include <QThread>

SerialQueue::SerialQueue(const QString &label)
    : m_label(label)
    , m_thread(std::make_unique<QThread>())
    , m_context(new QObject)
{
    m_thread->setObjectName(label);
    m_context->setObjectName(label);
    m_context->moveToThread(m_thread.get());
    m_thread->start();
}

SerialQueue::~SerialQueue()
{
    stop();
}

bool SerialQueue::isCurrent() const
{
    return QThread::currentThread() == m_thread.get();
}

void SerialQueue::async(std::function<void()> work)
{
    if (m_stopped || !work)
        return;
    QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
}

void SerialQueue::sync(const std::function<void()> &work)
{
    if (!work)
        return;
    if (isCurrent()) {
        work();
        return;
    }
    if (m_stopped)
        return;
    QSemaphore done;
    QMetaObject::invokeMethod(
        m_context,
        [&work, &done] {
            work();
            done.release();
        },
        Qt::QueuedConnection);
    done.acquire();
}

void SerialQueue::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    // Queued work runs first; then the context and every object parented to it (timers,
    // sockets) are destroyed on their own thread as the thread finishes.
    QObject *context = m_context;
    QMetaObject::invokeMethod(
        context,
        [context, thread = m_thread.get()] {
            context->deleteLater();
            thread->quit();
        },
        Qt::QueuedConnection);
    m_thread->wait();
    m_context = nullptr;
}
