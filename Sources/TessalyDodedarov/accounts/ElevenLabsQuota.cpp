#include "accounts/ElevenLabsQuota.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

// JSON numbers arrive as doubles; a count is only a whole one within the exact range.
std::optional<qint64> whole(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || std::abs(d) > 9.0e15)
        return std::nullopt;
    return qint64(d);
}

} // namespace

std::optional<ElevenLabsQuota> ElevenLabsQuota::parse(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto used = whole(object.value(QStringLiteral("character_count")));
    const auto limit = whole(object.value(QStringLiteral("character_limit")));
    if (!used || !limit)
        return std::nullopt;
    ElevenLabsQuota quota;
    quota.used = *used;
    quota.limit = *limit;
    const QJsonValue reset = object.value(QStringLiteral("next_character_count_reset_unix"));
    // A reset time no calendar reaches (the milliseconds would not fit their integer) is no date.
    if (const double seconds = reset.toDouble(); reset.isDouble() && std::abs(seconds) <= 9.0e12)
        quota.resetAt = QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000.0), Qt::UTC);
    const QJsonValue tier = object.value(QStringLiteral("tier"));
    quota.tier = tier.isString() ? tier.toString() : QString();
    return quota;
}

QString ElevenLabsQuota::number(qint64 n)
{
    QLocale grouped(QLocale::English, QLocale::UnitedStates);
    grouped.setNumberOptions(QLocale::DefaultNumberOptions);
    const QString text = grouped.toString(n);
    return text.isEmpty() ? QString::number(n) : text;
}

QString ElevenLabsQuota::summary() const
{
    QString out = QStringLiteral("剩 ") + number(std::max<qint64>(limit - used, 0))
        + QStringLiteral(" / 共 ") + number(limit) + QStringLiteral(" 积分");
    if (resetAt)
        out += QStringLiteral(" · ")
            + QLocale(QLocale::Chinese, QLocale::China).toString(resetAt->toLocalTime(), QStringLiteral("M月d日"))
            + QStringLiteral("重置");
    if (!tier.isEmpty())
        out += QStringLiteral("（") + tier + QStringLiteral("）");
    return out;
}
