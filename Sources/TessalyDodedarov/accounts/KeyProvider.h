#pragma once

#include <QList>
#include <QString>

#include <optional>

// The service a key belongs to; the model keys its per-provider maps by it.
enum class KeyProvider {
    elevenLabs, // recognition
    deepSeek,   // translation
};

namespace KeyProviders {
const QList<KeyProvider> &all();
QString toString(KeyProvider provider);
// Exactly "elevenLabs" or "deepSeek"; anything else is no provider.
std::optional<KeyProvider> fromString(const QString &raw);
}
