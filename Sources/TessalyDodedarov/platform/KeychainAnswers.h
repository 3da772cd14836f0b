#pragma once

#include <QObject>

// Tells, from the keyring's own thread, that a keyring query has ended (answered or not), so an
// account that Keychain::waiting() named may be known now. A receiver on another thread gets it
// queued; the one object lives as long as the process.
class KeychainAnswers final : public QObject {
    Q_OBJECT

public:
    static KeychainAnswers *shared();

signals:
    void queryEnded();

private:
    KeychainAnswers() = default;
};
