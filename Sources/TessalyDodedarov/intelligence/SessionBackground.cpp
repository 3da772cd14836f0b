#include "intelligence/SessionBackground.h"

#include "translation/Glossary.h"

namespace {

// Terms whose Chinese side or alias occurs in a sentence; bounded so that a
// long term list never bloats a translation request.
constexpr int kTermLimit = 20;

QString termLines(const QList<GlossaryEntry> &terms)
{
    QStringList lines;
    lines.reserve(terms.size());
    for (const GlossaryEntry &term : terms)
        lines.append(term.english + QStringLiteral(" = ") + term.chinese);
    return lines.join(u'；');
}

} // namespace

bool SessionBackground::isEmpty() const
{
    return title.isEmpty() && summary.isEmpty() && names.isEmpty() && terms.isEmpty();
}

QString SessionBackground::description() const
{
    QStringList parts;
    if (!title.isEmpty())
        parts.append(title);
    if (!names.isEmpty())
        parts.append(QStringLiteral("人名等 %1 个：").arg(names.size()) + names.join(u'、'));
    if (!terms.isEmpty())
        parts.append(QStringLiteral("术语 %1 条").arg(terms.size()));
    return parts.join(u'；');
}

QString SessionBackground::stableBlock() const
{
    if (isEmpty())
        return {};
    QString block = QStringLiteral("\n\n【本场背景】（用户提前给的这场会议的介绍）");
    if (!title.isEmpty())
        block += QStringLiteral("\n主题：") + title;
    if (!summary.isEmpty())
        block += QStringLiteral("\n背景：") + summary;
    if (!names.isEmpty()) {
        block += QStringLiteral("\n人名和专有名词（语音识别常把它们写错；从读音和上下文认出是它们时，用这里的写法，保留原文）：")
            + names.join(u'、');
    }
    return block;
}

QString SessionBackground::promptBlock(const QString &sentence) const
{
    QString block = stableBlock();
    if (block.isEmpty())
        return block;
    const QList<GlossaryEntry> matching = Glossary::matches(terms, sentence, kTermLimit);
    if (!matching.isEmpty())
        block += QStringLiteral("\n本场术语：") + termLines(matching);
    return block;
}

QString SessionBackground::sentenceBlock(const QString &sentence) const
{
    const QList<GlossaryEntry> matching = Glossary::matches(terms, sentence, kTermLimit);
    if (matching.isEmpty())
        return {};
    return QStringLiteral("\n\n【本场术语】") + termLines(matching);
}

QStringList SessionBackground::keyterms() const
{
    QStringList result;
    for (const QString &name : names) {
        result.append(name);
        // "Jensen Huang" is often heard as just "Huang": give the recogniser
        // the family name too, unless it is a short word or lower-case particle.
        const QStringList pieces = name.split(u' ', Qt::SkipEmptyParts);
        if (pieces.size() >= 2) {
            const QString &last = pieces.last();
            if (Glossary::length(last) >= 3 && QChar::isUpper(last.toUcs4().first()))
                result.append(last);
        }
    }
    for (const GlossaryEntry &term : terms)
        result.append(term.aliases());
    return result;
}
