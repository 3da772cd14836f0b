#include "translation/DeepSeek.h"

#include <QJsonDocument>

namespace {

QJsonObject message(const QString &role, const QString &content)
{
    return QJsonObject{{QStringLiteral("role"), role}, {QStringLiteral("content"), content}};
}

QJsonArray webSearchTools()
{
    return QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("deepseek_web_search")}}};
}

QJsonObject jsonAnswer()
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("json_object")}};
}

} // namespace

QString DeepSeek::model()
{
    return QStringLiteral("deepseek-flash");
}

QByteArray DeepSeek::serialize(const QJsonArray &messages, double temperature, int maxTokens,
                               const QJsonObject &extra)
{
    QJsonObject object{
        {QStringLiteral("model"), model()},
        {QStringLiteral("messages"), messages},
        {QStringLiteral("stream"), true},
        {QStringLiteral("thinking"), QJsonObject{{QStringLiteral("type"), QStringLiteral("disabled")}}},
        {QStringLiteral("temperature"), temperature},
        // An int QJsonValue is written without a decimal point, as the service expects.
        {QStringLiteral("max_tokens"), maxTokens},
    };
    for (auto it = extra.begin(); it != extra.end(); ++it)
        object.insert(it.key(), it.value());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray DeepSeek::researchBody(const QString &system, const QString &user, bool webSearch)
{
    const QJsonArray messages{message(QStringLiteral("system"), system),
                              message(QStringLiteral("user"), user)};
    const QJsonObject extra = webSearch
        ? QJsonObject{{QStringLiteral("tools"), webSearchTools()}}
        : QJsonObject{{QStringLiteral("response_format"), jsonAnswer()}};
    return serialize(messages, 0.2, 1500, extra);
}

QByteArray DeepSeek::chatBody(const QString &system, const QList<QJsonObject> &messages,
                              bool webSearch)
{
    QJsonArray all{message(QStringLiteral("system"), system)};
    for (const QJsonObject &each : messages)
        all.append(each);
    QJsonObject extra;
    if (webSearch)
        extra.insert(QStringLiteral("tools"), webSearchTools());
    return serialize(all, 0.3, 2500, extra);
}

QByteArray DeepSeek::agentBody(const QString &system, const QString &user, int maxTokens)
{
    const QJsonArray messages{message(QStringLiteral("system"), system),
                              message(QStringLiteral("user"), user)};
    return serialize(messages, 0.2, maxTokens,
                     QJsonObject{{QStringLiteral("response_format"), jsonAnswer()}});
}

QByteArray DeepSeek::prepared(const QByteArray &body, bool includeUsage, bool compat)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return body;
    QJsonObject object = document.object();

    object.insert(QStringLiteral("model"), model());
    object.remove(QStringLiteral("thinking"));
    object.remove(QStringLiteral("enable_thinking"));
    object.insert(QStringLiteral("thinking"),
                  QJsonObject{{QStringLiteral("type"), QStringLiteral("disabled")}});

    if (compat) {
        object.remove(QStringLiteral("temperature"));
        if (object.contains(QStringLiteral("max_tokens"))) {
            const QJsonValue limit = object.take(QStringLiteral("max_tokens"));
            object.insert(QStringLiteral("max_completion_tokens"), limit);
        }
    }

    const QJsonValue stream = object.value(QStringLiteral("stream"));
    if (includeUsage && stream.isBool() && stream.toBool())
        object.insert(QStringLiteral("stream_options"),
                      QJsonObject{{QStringLiteral("include_usage"), true}});
    else
        object.remove(QStringLiteral("stream_options"));

    const QByteArray out = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return out.isEmpty() ? body : out;
}
