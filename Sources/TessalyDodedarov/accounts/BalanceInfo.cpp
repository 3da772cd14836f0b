#include "accounts/BalanceInfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

std::optional<BalanceInfo> BalanceInfo::deepSeek(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonValue infos = document.object().value(QStringLiteral("balance_infos"));
    if (!infos.isArray())
        return std::nullopt;
    QStringList entries;
    for (const QJsonValue &item : infos.toArray()) {
        if (!item.isObject())
            continue;
        const QJsonObject info = item.toObject();
        const QJsonValue total = info.value(QStringLiteral("total_balance"));
        QString amount;
        if (total.isString())
            amount = total.toString();
        else if (total.isDouble())
            amount = QString::asprintf("%.2f", total.toDouble());
        else
            continue;
        const QJsonValue currencyValue = info.value(QStringLiteral("currency"));
        const QString currency = currencyValue.isString() ? currencyValue.toString() : QString();
        QString prefix;
        if (currency == QLatin1String("CNY"))
            prefix = QStringLiteral("¥");
        else if (currency == QLatin1String("USD"))
            prefix = QStringLiteral("$");
        else
            prefix = currency + QLatin1Char(' ');
        entries << prefix + amount;
    }
    if (entries.isEmpty())
        return std::nullopt;
    return money(entries.join(QStringLiteral("，")));
}

QString BalanceInfo::text() const
{
    switch (kind) {
    case Kind::quota: return quotaValue.summary();
    case Kind::money: return QStringLiteral("余额：") + message;
    case Kind::unavailable: return message;
    }
    return {};
}

bool BalanceInfo::warning() const
{
    if (kind != Kind::quota)
        return false;
    const qint64 remaining = quotaValue.limit - quotaValue.used;
    if (quotaValue.limit >= 1)
        return double(std::max<qint64>(remaining, 0)) < 0.1 * double(quotaValue.limit)
            || remaining < 1;
    return remaining < 1;
}
