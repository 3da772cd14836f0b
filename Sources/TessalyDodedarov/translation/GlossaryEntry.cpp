#include "translation/GlossaryEntry.h"

#include "translation/Glossary.h"

#include <QRegularExpression>

GlossaryEntry::GlossaryEntry(QString english, QString chinese, QString source)
    : english(std::move(english)), chinese(std::move(chinese)), source(std::move(source))
{
}

QStringList GlossaryEntry::aliases() const
{
    static const QRegularExpression parentheses(QStringLiteral("[()（）]"));
    QStringList out;
    for (const QString &piece : english.split(parentheses)) {
        const QString trimmed = Glossary::trimBlanks(piece);
        if (!trimmed.isEmpty())
            out.append(trimmed);
    }
    return out;
}
