#pragma once

#include "accounts/ElevenLabsQuota.h"

#include <QByteArray>
#include <QString>

#include <optional>

// What is left on an account: a recognition quota, a translation balance already rendered, or
// why it cannot be read.
struct BalanceInfo final {
    enum class Kind { quota, money, unavailable };

    Kind kind = Kind::unavailable;
    ElevenLabsQuota quotaValue; // Kind::quota
    QString message;            // Kind::money (the amounts) or Kind::unavailable (why)

    bool operator==(const BalanceInfo &) const = default;

    static BalanceInfo quota(const ElevenLabsQuota &q) { return {Kind::quota, q, {}}; }
    static BalanceInfo money(const QString &m) { return {Kind::money, {}, m}; }
    static BalanceInfo unavailable(const QString &t) { return {Kind::unavailable, {}, t}; }

    // The translation service's balance answer; none when it holds no readable entry.
    static std::optional<BalanceInfo> deepSeek(const QByteArray &body);
    QString text() const;
    bool warning() const;
};
