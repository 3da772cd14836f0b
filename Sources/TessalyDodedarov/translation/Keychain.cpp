#include "translation/Keychain.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QStringDecoder>

namespace {

// Account -> value; an empty optional is a known absence, a missing entry means "not asked".
// Created on first use and never cleared. The mutex guards the map only, never a keyring call.
// `writes` counts the stores of each account, so a read that overlapped a store can tell that
// its answer is older than what the cache now holds.
struct Cache {
    QMutex mutex;
    QHash<QString, std::optional<QString>> values;
    QHash<QString, quint64> writes;
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

} // namespace

QString Keychain::service()
{
    return QStringLiteral("com.tessalab.dodedarov");
}

std::optional<QString> Keychain::get(const QString &account)
{
    quint64 writesBefore = 0;
    {
        QMutexLocker locker(&cache().mutex);
        const auto &values = cache().values;
        if (!values.isEmpty()) {
            const auto found = values.constFind(account);
            if (found != values.constEnd())
                return *found;
        }
        writesBefore = cache().writes.value(account);
    }
    const Lookup lookup = read(account);

    QMutexLocker locker(&cache().mutex);
    // A set() that finished while the keyring was being read holds the newer value; the read
    // must not put the older one back over it.
    if (cache().writes.value(account) != writesBefore)
        return cache().values.value(account);
    // A keyring that could not answer (locked, not running yet, refused) says nothing about the
    // key: caching that as "no key" would hide a stored key for the rest of the process.
    if (lookup.known)
        cache().values.insert(account, lookup.value);
    return lookup.value;
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
    if (stored)
        remember(account, value);
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
