// Readers of what the service sends back: one server-sent-event line at a time while the answer
// streams, and the finished two-line answers of the caption prompts. None of them fails: anything
// unexpected reads as "nothing here" or as plain text.
#include "translation/DeepSeek.h"

#include <QJsonDocument>
#include <QTextBoundaryFinder>

#include <array>
#include <cmath>
#include <limits>

namespace {

const QString dataField = QStringLiteral("data:");

const std::array<QString, 3> correctionLabels{
    QStringLiteral("校对："), QStringLiteral("校对:"), QStringLiteral("校对 :")};
const std::array<QString, 6> alternateLabels{
    QStringLiteral("EN:"),      QStringLiteral("EN："),  QStringLiteral("En:"),
    QStringLiteral("English:"), QStringLiteral("英文："), QStringLiteral("英文:")};

// A blank is a tab or any space separator (U+3000 included); line breaks are not blanks.
bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QStringView trimBlanks(QStringView text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.sliced(start, end - start);
}

// The JSON object after "data:", when the line is a data line holding one.
std::optional<QJsonObject> payloadObject(QStringView payload)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// A JSON number that is a whole number within int; anything else is not an integer.
std::optional<int> integer(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number
        || number < double(std::numeric_limits<int>::min())
        || number > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return int(number);
}

int characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString joinedOnOneLine(QStringView text)
{
    QString line = text.toString();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return trimBlanks(line).toString();
}

} // namespace

DeepSeek::Chunk DeepSeek::parse(QStringView line)
{
    if (!line.startsWith(dataField))
        return Chunk::skip();
    const QStringView payload = trimBlanks(line.sliced(dataField.size()));
    if (payload == u"[DONE]")
        return Chunk::done();
    const std::optional<QJsonObject> object = payloadObject(payload);
    if (!object)
        return Chunk::skip();
    const QJsonValue choices = object->value(QStringLiteral("choices"));
    if (!choices.isArray())
        return Chunk::skip();
    const QJsonArray list = choices.toArray();
    if (list.isEmpty())
        return Chunk::skip();
    for (const QJsonValue &choice : list) {
        if (!choice.isObject())
            return Chunk::skip();
    }
    const QJsonValue delta = list.first().toObject().value(QStringLiteral("delta"));
    if (!delta.isObject())
        return Chunk::skip();
    const QJsonValue content = delta.toObject().value(QStringLiteral("content"));
    if (!content.isString() || content.toString().isEmpty())
        return Chunk::skip();
    return Chunk::delta(content.toString());
}

std::optional<DeepSeek::Usage> DeepSeek::usage(QStringView line)
{
    if (!line.startsWith(dataField) || !line.contains(u"\"usage\""))
        return std::nullopt;
    const std::optional<QJsonObject> object =
        payloadObject(trimBlanks(line.sliced(dataField.size())));
    if (!object)
        return std::nullopt;
    const QJsonValue usageValue = object->value(QStringLiteral("usage"));
    if (!usageValue.isObject())
        return std::nullopt;
    const QJsonObject counts = usageValue.toObject();
    const std::optional<int> prompt = integer(counts.value(QStringLiteral("prompt_tokens")));
    if (!prompt)
        return std::nullopt;
    Usage result;
    result.prompt = *prompt;
    result.completion = integer(counts.value(QStringLiteral("completion_tokens"))).value_or(0);
    if (const auto hit = integer(counts.value(QStringLiteral("prompt_cache_hit_tokens"))))
        result.cached = *hit;
    else
        result.cached = integer(counts.value(QStringLiteral("prompt_tokens_details"))
                                    .toObject()
                                    .value(QStringLiteral("cached_tokens")))
                            .value_or(0);
    return result;
}

std::optional<DeepSeek::CorrectionHead> DeepSeek::correctionHead(const QString &text)
{
    qsizetype start = 0;
    while (start < text.size() && text[start].isSpace())
        ++start;
    const QStringView rest = QStringView(text).sliced(start);
    qsizetype labelEnd = -1;
    for (const QString &label : correctionLabels) {
        if (rest.startsWith(label)) {
            labelEnd = start + label.size();
            break;
        }
    }
    if (labelEnd < 0)
        return std::nullopt;
    // The line is complete only once its line feed has arrived.
    const qsizetype lineFeed = text.indexOf(QLatin1Char('\n'), labelEnd);
    if (lineFeed < 0)
        return std::nullopt;
    CorrectionHead head;
    head.corrected = trimBlanks(QStringView(text).sliced(labelEnd, lineFeed - labelEnd)).toString();
    head.end = lineFeed + 1;
    head.consumed = characterCount(text.left(head.end));
    return head;
}

DeepSeek::CorrectionSplit DeepSeek::splitCorrection(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (const std::optional<CorrectionHead> head = correctionHead(trimmed))
        return {head->corrected, joinedOnOneLine(QStringView(trimmed).sliced(head->end))};
    return {std::nullopt, joinedOnOneLine(trimmed)};
}

DeepSeek::AlternateSplit DeepSeek::splitAlternate(const QString &text)
{
    const QString trimmed = text.trimmed();
    const qsizetype lineFeed = trimmed.indexOf(QLatin1Char('\n'));
    if (lineFeed < 0)
        return {trimmed, std::nullopt};
    const QString main = trimBlanks(QStringView(trimmed).first(lineFeed)).toString();
    const QString alt = joinedOnOneLine(cleanAlternate(trimmed.sliced(lineFeed + 1).trimmed()));
    if (alt.isEmpty())
        return {main, std::nullopt};
    return {main, alt};
}

QString DeepSeek::cleanAlternate(const QString &text)
{
    for (const QString &label : alternateLabels) {
        if (text.startsWith(label))
            return text.sliced(label.size());
    }
    return text;
}
