#pragma once

#include "platform/SecretStore.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

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
    // the cache. A keyring that could not answer (locked and its unlock prompt dismissed, not
    // running, access refused) says nothing about the key, so that is never cached; but it is
    // not asked again either, until the user acts on keys: every read of a locked keyring raises
    // the desktop's unlock prompt once more.
    // Only one keyring query runs at a time (so at most one unlock prompt is outstanding);
    // callers that need an uncached key meanwhile wait for it. The main thread waits at most
    // mainThreadWaitMs and then answers nothing for now (the query goes on and its answer is
    // kept), except for the first read after the user acted on keys: that prompt is the user's
    // own doing, and the main thread waits for their answer (up to SecretStore::waitLimitMs).
    static std::optional<QString> get(const QString &account);

    // Stores the value (an empty value removes the item) and answers whether the keyring took
    // it. The cache changes only when it did, so a failed write keeps the previous key. A stored
    // key is the user acting on keys.
    static bool set(const QString &value, const QString &account);

    // Starts reading the accounts not in the cache yet, one after another on a thread of their
    // own, and returns at once: the launch asks for them before anything else, and the keyring's
    // first answer (its session, its key exchange) takes a while that the launch spends on other
    // work. A get() of one of them meanwhile waits for this query instead of starting its own.
    // Does nothing while another query runs or after the keyring could not answer.
    static void prefetch(const QStringList &accounts);

    // The user acts on keys (the settings window checks them): a keyring that could not answer
    // may be asked, and may prompt, once more.
    static void userActedOnKeys();

    // A keyring query is still running and the account's value is not known yet: get() answered
    // nothing only because the keyring is slow, which says nothing about the key. Callers wait
    // and ask again rather than tell the user that the key is missing; KeychainAnswers tells
    // when the query has ended.
    static bool waiting(const QString &account);

    // Drops what the cache knows of one account, so the next get() asks the keyring. For tests.
    static void forget(const QString &account);

    // How long the main thread waits for a keyring answer that is not in the cache, in ms.
    static inline int mainThreadWaitMs = 2000;

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
    static void startQuery(const QStringList &accounts);
};
