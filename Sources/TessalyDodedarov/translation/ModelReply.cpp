#include "translation/ModelReply.h"

#include <QJsonDocument>
#include <QJsonParseError>

std::optional<QJsonObject> ModelReply::object(const QString &reply)
{
    const qsizetype open = reply.indexOf(u'{');
    const qsizetype close = reply.lastIndexOf(u'}');
    if (open < 0 || close < 0 || close < open)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QStringView(reply).mid(open, close - open + 1).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}
