#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// A recognition account's credits in the current period.
struct ElevenLabsQuota final {
    qint64 used = 0;
    qint64 limit = 0;
    std::optional<QDateTime> resetAt;
    QString tier;

    bool operator==(const ElevenLabsQuota &) const = default;

    // The subscription answer; none unless both counts are whole numbers.
    static std::optional<ElevenLabsQuota> parse(const QByteArray &body);
    QString summary() const;
    // Grouped with ",": 12345 gives "12,345".
    static QString number(qint64 n);
};
