#pragma once

#include "platform/SecretStore.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The user's service keys in the desktop keyring (service "com.tessalab.dodedarov"), with every
// value read or written kept in a process-wide cache so the per-request callers ask the keyring
// once per account. Static operations only; callable from any thread.
class Keychain final {
public:
    Keychain() = delete;

    static inline const QString deepSeekAccount = QStringLiteral("deepseek-api-key");
    static inline const QString elevenLabsAccount = QStringLiteral("elevenlabs-api-key");
    static inline const QString elevenLabsListAccount = QStringLiteral("elevenlabs-api-keys");

    static QString service();

    // The key stored under the account, or nothing. A key known to be absent is answered from
    // the cache; a keyring that could not answer (locked, not running, access refused) is asked
    // again next time.
    static std::optional<QString> get(const QString &account);

    // Stores the value (an empty value removes the item) and answers whether the keyring took
    // it. The cache changes only when it did, so a failed write keeps the previous key.
    static bool set(const QString &value, const QString &account);

    // The keyring behind the cache; tests wrap these to count queries or to simulate a keyring
    // that refuses.
    static inline std::function<SecretStore::Reading(const QString &service, const QString &account)>
        readItem = &SecretStore::read;
    static inline std::function<bool(const QString &service, const QString &account,
                                     const QByteArray &data)>
        writeItem = &SecretStore::write;
    static inline std::function<bool(const QString &service, const QString &account)> removeItem =
        &SecretStore::remove;

private:
    // One keyring query, no cache. `known` is false when the keyring could not answer.
    struct Lookup {
        std::optional<QString> value;
        bool known = false;
    };
    static Lookup read(const QString &account);
};
