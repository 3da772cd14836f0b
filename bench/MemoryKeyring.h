#pragma once

#include "platform/Keychain.h"
#include "platform/SecretStore.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// The keyring kept in memory, so a benchmark measures the model and runs without a Secret
// Service. Installed once, before the first model is made.
inline void useMemoryKeyring()
{
    static QHash<QString, QByteArray> items;
    Keychain::readItem = [](const QString &, const QString &account) {
        SecretStore::Reading reading;
        reading.status = items.contains(account) ? SecretStore::Reading::Status::found
                                                 : SecretStore::Reading::Status::notFound;
        reading.data = items.value(account);
        return reading;
    };
    Keychain::writeItem = [](const QString &, const QString &account, const QByteArray &data) {
        items.insert(account, data);
        return true;
    };
    Keychain::removeItem = [](const QString &, const QString &account) {
        items.remove(account);
        return true;
    };
}
