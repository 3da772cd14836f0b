#include "translation/GlossaryEntry.h"

#include "translation/Glossary.h"


GlossaryEntry::GlossaryEntry(QString english, QString chinese, QString source)
    : english(std::move(english)), chinese(std::move(chinese)), source(std::move(source))
{
}

QStringList GlossaryEntry::aliases() const
{
    QStringList out;
    qsizetype start = 0;
    auto take = [&](qsizetype end) {
        const QString piece = Glossary::trimBlanks(QStringView(english).mid(start, end - start));
        if (!piece.isEmpty())
            out.append(piece);
    };
    for (qsizetype i = 0; i < english.size(); ++i) {
        const QChar c = english[i];
        if (c == u'(' || c == u')' || c == u'（' || c == u'）') {
            take(i);
            start = i + 1;
        }
    }
    take(english.size());
    return out;
}
