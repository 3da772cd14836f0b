#include "platform/Keychain.h"

#include "platform/KeychainAnswers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QStringDecoder>
#include <QThread>
#include <QWaitCondition>

#include <thread>

namespace {

// Account -> value; an empty optional is a known absence, a missing entry means "not asked".
// Created on first use and never cleared. The mutex guards the state only, never a keyring call.
// `writes` counts the stores of each account, so a read that overlapped a store can tell that
// its answer is older than what the cache now holds.
struct Cache {
    QMutex mutex;
    QHash<QString, std::optional<QString>> values;
    QHash<QString, quint64> writes;
    // The keyring could not answer: not asked again until the user acts on keys.
    bool unanswered = false;
    // A keyring query is running (on its own thread); `answered` is signalled when it ends.
    bool querying = false;
    QWaitCondition answered;
    // The user acted on keys: the next query's prompt is theirs, and the main thread waits for it.
    bool userAsked = false;
};

Cache &cache()
{
    static Cache instance;
    return instance;
}

void remember(const QString &account, const std::optional<QString> &value)
{
    QMutexLocker locker(&cache().mutex);
    cache().values.insert(account, value);
    cache().writes[account] += 1;
}

bool onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

QString Keychain::service()
{
    return QStringLiteral("com.tessalab.dodedarov");
}

// Reads the accounts one after another on a thread of its own, so a caller that stops waiting
// leaves the query running: its answers still reach the cache, and no second prompt is raised.
// The caller holds the cache's mutex and no query runs.
void Keychain::startQuery(const QStringList &accounts)
{
    Cache &state = cache();
    state.querying = true;
    QList<std::pair<QString, quint64>> wanted;
    for (const QString &account : accounts)
        wanted.append({account, state.writes.value(account)});
    std::thread([wanted] {
        for (qsizetype i = 0; i < wanted.size(); ++i) {
            const auto &[account, writesBefore] = wanted.at(i);
            const Lookup lookup = read(account);
            QMutexLocker locker(&cache().mutex);
            Cache &state = cache();
            // A set() that finished while the keyring was being read holds the newer value;
            // the read must not put the older one back over it.
            if (state.writes.value(account) == writesBefore) {
                if (lookup.known)
                    state.values.insert(account, lookup.value);
                else
                    state.unanswered = true;
            }
            const bool last = state.unanswered || i == wanted.size() - 1;
            if (last) {
                state.querying = false;
                state.userAsked = false;
            }
            state.answered.wakeAll();
            if (last) {
                locker.unlock();
                emit KeychainAnswers::shared()->queryEnded();
                return;
            }
        }
    }).detach();
}

std::optional<QString> Keychain::get(const QString &account)
{
    QMutexLocker locker(&cache().mutex);
    Cache &state = cache();
    const bool mainThread = onMainThread();
    QDeadlineTimer deadline(mainThread && !state.userAsked ? mainThreadWaitMs
                                                           : SecretStore::waitLimitMs + 1000);
    for (;;) {
        if (!state.values.isEmpty()) {
            const auto found = state.values.constFind(account);
            if (found != state.values.constEnd())
                return *found;
        }
        if (state.unanswered)
            return std::nullopt;
        if (!state.querying)
            startQuery({account});
        if (!state.answered.wait(&state.mutex, deadline))
            return std::nullopt; // not known yet; asked nothing more meanwhile
    }
}

void Keychain::prefetch(const QStringList &accounts)
{
    QMutexLocker locker(&cache().mutex);
    Cache &state = cache();
    if (state.querying || state.unanswered)
        return;
    QStringList wanted;
    for (const QString &account : accounts) {
        if (!state.values.contains(account))
            wanted.append(account);
    }
    if (!wanted.isEmpty())
        startQuery(wanted);
}

void Keychain::userActedOnKeys()
{
    QMutexLocker locker(&cache().mutex);
    cache().unanswered = false;
    cache().userAsked = true;
}

bool Keychain::waiting(const QString &account)
{
    QMutexLocker locker(&cache().mutex);
    return cache().querying && !cache().values.contains(account);
}

void Keychain::forget(const QString &account)
{
    QMutexLocker locker(&cache().mutex);
    cache().values.remove(account);
    // A read that is still running for the account must not put its older answer back.
    cache().writes[account] += 1;
}

bool Keychain::set(const QString &value, const QString &account)
{
    if (value.isEmpty()) {
        const bool removed = removeItem(service(), account);
        if (removed)
            remember(account, std::nullopt);
        return removed;
    }
    // The item is replaced in place, so the old key survives a write the keyring refuses; the
    // cache follows only a stored value.
    const bool stored = writeItem(service(), account, value.toUtf8());
    if (stored) {
        remember(account, value);
        userActedOnKeys();
    }
    return stored;
}

Keychain::Lookup Keychain::read(const QString &account)
{
    const SecretStore::Reading reading = readItem(service(), account);
    switch (reading.status) {
    case SecretStore::Reading::Status::failed:
        return {std::nullopt, false};
    case SecretStore::Reading::Status::notFound:
        return {std::nullopt, true};
    case SecretStore::Reading::Status::found:
        break;
    }
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(reading.data);
    // An item that is not UTF-8 text, or holds nothing, is no usable key.
    if (decoder.hasError() || text.isEmpty())
        return {std::nullopt, true};
    return {text, true};
}
