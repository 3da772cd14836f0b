#include "accounts/KeyProvider.h"

const QList<KeyProvider> &KeyProviders::all()
{
    static const QList<KeyProvider> list {KeyProvider::elevenLabs, KeyProvider::deepSeek};
    return list;
}

QString KeyProviders::toString(KeyProvider provider)
{
    switch (provider) {
    case KeyProvider::elevenLabs: return QStringLiteral("elevenLabs");
    case KeyProvider::deepSeek: return QStringLiteral("deepSeek");
    }
    return {};
}

std::optional<KeyProvider> KeyProviders::fromString(const QString &raw)
{
    for (KeyProvider provider : all())
        if (toString(provider) == raw)
            return provider;
    return std::nullopt;
}
