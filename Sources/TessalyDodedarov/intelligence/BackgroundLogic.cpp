#include "intelligence/BackgroundLogic.h"

#include <QRegularExpression>

std::optional<QString> BackgroundLogic::linkText(const QString &text)
{
    // Chinese punctuation and quotes end a link: notes are pasted from chat
    // messages where a link runs straight into "，" or "。".
    static const QRegularExpression pattern(
        QStringLiteral("https?://[^\\s，。、；“”\"'<>]+"),
        QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    QString found = match.captured(0);
    static const QString trailing = QStringLiteral(".,;:!?)）");
    while (!found.isEmpty() && trailing.contains(found.back()))
        found.chop(1);
    const QUrl url(found);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return found;
}

std::optional<QUrl> BackgroundLogic::link(const QString &text)
{
    const std::optional<QString> found = linkText(text);
    if (!found)
        return std::nullopt;
    return QUrl(*found);
}
