#pragma once

#include <QByteArray>
#include <QString>

// Secrets by (service, account) in the freedesktop Secret Service (GNOME Keyring, KWallet),
// through QtKeychain. Every operation is synchronous for its caller, from any thread: the
// QtKeychain jobs all run on one private thread (see SecretStore.cpp for why) and the caller
// waits for the answer.
class SecretStore final {
public:
    SecretStore() = delete;

    struct Reading {
        enum class Status {
            found,    // data holds the item's bytes (possibly empty)
            notFound, // the keyring answered: no such item
            failed,   // the keyring could not answer (locked, missing, refused, not running)
        };
        Status status = Status::failed;
        QByteArray data;
    };

    static Reading read(const QString &service, const QString &account);
    // Creates or replaces the item. True when the keyring stored it.
    static bool write(const QString &service, const QString &account, const QByteArray &data);
    // Removes the item. True when it is gone (also when there was none).
    static bool remove(const QString &service, const QString &account);

    // Longest wait for one keyring operation before it counts as failed, in milliseconds.
    static inline int waitLimitMs = 60000;
};
