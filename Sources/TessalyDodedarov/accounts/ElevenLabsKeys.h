#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The recognition keys in the order the user added them, with the one in use. Whenever the
// list is not empty, `active` is a valid index of it.
struct ElevenLabsKeys final {
    QStringList keys;
    int active = 0;

    bool operator==(const ElevenLabsKeys &) const = default;

    bool hasActive() const { return active >= 0 && active < keys.size(); }

    // Trims the key and appends it unless listed; its index, or none for a blank text.
    std::optional<int> add(const QString &key);
    // The failover order: the keys after the active one, wrapping round, the active one last.
    std::optional<int> next(const QSet<QString> &excluding) const;
    // A stored JSON array of texts, empty texts dropped; anything else gives no keys.
    static QStringList decode(const std::optional<QString> &text);
    // Compact JSON array of the keys.
    static QString encode(const QStringList &keys);
};
