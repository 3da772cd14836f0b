#include "accounts/ElevenLabsKeys.h"

#include <QJsonArray>
#include <QJsonDocument>

std::optional<int> ElevenLabsKeys::add(const QString &key)
{
    const QString trimmed = key.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    if (const qsizetype at = keys.indexOf(trimmed); at >= 0)
        return int(at);
    keys.append(trimmed);
    return int(keys.size() - 1);
}

std::optional<int> ElevenLabsKeys::next(const QSet<QString> &excluding) const
{
    const qsizetype n = keys.size();
    for (qsizetype i = 1; i <= n; ++i) {
        const qsizetype index = ((active + i) % n + n) % n;
        if (!excluding.contains(keys.at(index)))
            return int(index);
    }
    return std::nullopt;
}

QStringList ElevenLabsKeys::decode(const std::optional<QString> &text)
{
    if (!text)
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(text->toUtf8());
    if (!document.isArray())
        return {};
    QStringList out;
    for (const QJsonValue &item : document.array()) {
        if (!item.isString())
            return {};
        if (!item.toString().isEmpty())
            out << item.toString();
    }
    return out;
}

QString ElevenLabsKeys::encode(const QStringList &keys)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(keys)).toJson(QJsonDocument::Compact));
}
