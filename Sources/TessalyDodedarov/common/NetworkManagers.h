#pragma once

class QNetworkAccessManager;

// Network managers that live as long as the application object, for the service calls made on
// the main thread (key checks, translations, pages read for a meeting's background).
//
// They end while the application object still exists, among its post routines, not as its
// children after it. A manager's connections sit in its own worker thread's storage and are
// closed when that thread ends; closing a TLS socket asks for Qt's TLS backend, which Qt drops
// with the application object and cannot make again without one: a manager ended later prints
// a warning on every run that used TLS.
class NetworkManagers final {
public:
    NetworkManagers() = delete;

    // A new manager, a child of the application; main thread only.
    static QNetworkAccessManager *make();
};
