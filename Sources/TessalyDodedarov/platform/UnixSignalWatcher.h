#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the main thread, so the app quits through its
// normal shutdown path even without a tray icon to click. The handler only writes one byte
// to a socket pair; everything else happens in the event loop.
class UnixSignalWatcher final : public QObject {
    Q_OBJECT

public:
    explicit UnixSignalWatcher(QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPending();

    QSocketNotifier *m_notifier = nullptr;
};
