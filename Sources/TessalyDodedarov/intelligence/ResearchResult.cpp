#include "intelligence/ResearchResult.h"

#include "intelligence/CharacterKeys.h"
#include "translation/Glossary.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

// Newest kept: the caps keep the prompt block and the key terms small in a long meeting.
constexpr qsizetype kNameCap = 30;
constexpr qsizetype kTermCap = 40;
constexpr qsizetype kFixCap = 20;

template <typename T>
void keepNewest(QList<T> &list, qsizetype cap)
{
    if (list.size() > cap)
        list.remove(0, list.size() - cap);
}

QString fixText(const ResearchResult::Fix &fix)
{
    return fix.heard + QStringLiteral("→") + fix.correct;
}

QStringList characters(const QString &text)
{
    QStringList out;
    for (const QStringView c : CharacterKeys::split(text))
        out.append(c.toString());
    return out;
}

// The first characters of two words that are equal.
qsizetype commonPrefix(const QStringList &a, const QStringList &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    qsizetype i = 0;
    while (i < n && a.at(i) == b.at(i))
        ++i;
    return i;
}

// A long word of a name that comes too close to a known or corrected spelling without being it.
bool misheardAgainst(const QString &word, const QString &target)
{
    const QStringList w = characters(word);
    const QStringList t = characters(target);
    const qsizetype lw = w.size();
    const qsizetype lt = t.size();
    const qsizetype gap = std::abs(lw - lt);
    const bool inflected = NameFix::inflection(word, target) || NameFix::inflection(target, word);
    if (!w.isEmpty() && !t.isEmpty() && w.first() == t.first() && gap <= 2 && !inflected) {
        const int allowed = (lw > 7 && lt > 7) ? 2 : 1;
        if (NameFix::distance(word, target) <= allowed)
            return true;
    }
    if (gap <= 3 && word != target && !inflected) {
        const qsizetype shorter = std::min(lw, lt);
        const qsizetype needed = std::max<qsizetype>(6, qsizetype(std::ceil(0.75 * double(shorter))));
        if (commonPrefix(w, t) >= needed)
            return true;
    }
    return false;
}

// The words of a name: runs of letters, any script.
QStringList letterWords(const QString &name)
{
    QStringList words;
    QString current;
    for (const QStringView c : CharacterKeys::split(name)) {
        if (QChar::isLetter(c.toUcs4().value(0))) {
            current += c;
        } else if (!current.isEmpty()) {
            words.append(current);
            current.clear();
        }
    }
    if (!current.isEmpty())
        words.append(current);
    return words;
}

} // namespace

bool ResearchResult::operator==(const ResearchResult &other) const
{
    if (domain != other.domain || names != other.names || terms != other.terms
        || fixes.size() != other.fixes.size())
        return false;
    for (qsizetype i = 0; i < fixes.size(); ++i) {
        if (fixText(fixes.at(i)) != fixText(other.fixes.at(i)))
            return false;
    }
    return true;
}

bool ResearchResult::isEmpty() const
{
    return domain.isEmpty() && names.isEmpty() && terms.isEmpty() && fixes.isEmpty();
}

void ResearchResult::merge(const ResearchResult &other)
{
    if (!other.domain.isEmpty())
        domain = other.domain;

    QSet<QString> seenNames;
    for (const QString &name : std::as_const(names))
        seenNames.insert(Glossary::normalize(name));
    for (const QString &name : other.names) {
        const QString key = Glossary::normalize(name);
        if (seenNames.contains(key))
            continue;
        seenNames.insert(key);
        names.append(name);
    }

    for (const GlossaryEntry &term : other.terms) {
        const QString key = Glossary::normalize(term.english);
        terms.removeIf([&key](const GlossaryEntry &present) {
            return Glossary::normalize(present.english) == key;
        });
        terms.append(term);
    }

    QSet<QString> heard;
    for (const Fix &fix : std::as_const(fixes))
        heard.insert(Glossary::normalize(fix.heard));
    for (const Fix &fix : other.fixes) {
        const QString key = Glossary::normalize(fix.heard);
        if (heard.contains(key))
            continue;
        heard.insert(key);
        fixes.append(fix);
    }

    keepNewest(names, kNameCap);
    keepNewest(terms, kTermCap);
    keepNewest(fixes, kFixCap);
}

void ResearchResult::dropMisheardNames(const QStringList &known)
{
    QSet<QString> heard;
    QStringList corrections;
    for (const Fix &fix : std::as_const(fixes)) {
        heard.insert(Glossary::normalize(fix.heard));
        corrections.append(fix.correct);
    }
    const QStringList knownTargets = NameFix::targets(known);

    QStringList surviving;
    for (const QString &name : std::as_const(names)) {
        if (heard.contains(Glossary::normalize(name)))
            continue;
        const QStringList targets = knownTargets + corrections + surviving;
        bool misheard = false;
        for (const QString &word : letterWords(name)) {
            if (CharacterKeys::count(word) <= 4)
                continue;
            const QString lower = word.toLower();
            bool accepted = false;
            for (const QString &target : targets) {
                if (target.toLower() == lower) {
                    accepted = true;
                    break;
                }
            }
            if (accepted)
                continue;
            for (const QString &target : targets) {
                if (misheardAgainst(lower, target.toLower())) {
                    misheard = true;
                    break;
                }
            }
            if (misheard)
                break;
        }
        if (!misheard)
            surviving.append(name);
    }
    names = surviving;
}

std::optional<QString> ResearchResult::logText(const ResearchResult &previous, bool webSearch,
                                               const QString &label) const
{
    QStringList lines;
    if (!domain.isEmpty() && domain != previous.domain)
        lines.append(QStringLiteral("判断领域：") + domain);

    QSet<QString> oldNames;
    for (const QString &name : previous.names)
        oldNames.insert(Glossary::normalize(name));
    QStringList newNames;
    for (const QString &name : names) {
        if (!oldNames.contains(Glossary::normalize(name)))
            newNames.append(name);
    }
    if (!newNames.isEmpty())
        lines.append(QStringLiteral("认出的人名、机构：") + newNames.join(QStringLiteral("、"))
                     + QStringLiteral("（已加进识别关键词）"));

    QStringList newTerms;
    for (const GlossaryEntry &term : terms) {
        const QString key = Glossary::normalize(term.english);
        const bool old = std::any_of(previous.terms.cbegin(), previous.terms.cend(),
                                     [&](const GlossaryEntry &p) {
                                         return Glossary::normalize(p.english) == key
                                                && p.chinese == term.chinese;
                                     });
        if (!old)
            newTerms.append(term.english + QStringLiteral(" = ") + term.chinese);
    }
    if (!newTerms.isEmpty())
        lines.append(QStringLiteral("术语译法：") + newTerms.join(QStringLiteral("；")));

    QSet<QString> oldHeard;
    for (const Fix &fix : previous.fixes)
        oldHeard.insert(Glossary::normalize(fix.heard));
    QStringList newFixes;
    for (const Fix &fix : fixes) {
        if (!oldHeard.contains(Glossary::normalize(fix.heard)))
            newFixes.append(fix.heard + QStringLiteral(" → ") + fix.correct);
    }
    if (!newFixes.isEmpty())
        lines.append(QStringLiteral("纠正听错的词：") + newFixes.join(QStringLiteral("；")));

    if (lines.isEmpty())
        return std::nullopt;
    return QStringLiteral("〔") + label + (webSearch ? QStringLiteral("·可联网搜索") : QString())
           + QStringLiteral("〕后面的翻译会用上这些：\n") + lines.join(u'\n');
}

QString ResearchResult::summary() const
{
    QStringList parts;
    if (!domain.isEmpty())
        parts.append(QStringLiteral("领域：") + domain);
    if (!names.isEmpty())
        parts.append(QStringLiteral("人名等 %1 个").arg(names.size()));
    if (!terms.isEmpty())
        parts.append(QStringLiteral("术语 %1 条").arg(terms.size()));
    if (!fixes.isEmpty())
        parts.append(QStringLiteral("纠正听错的词 %1 处").arg(fixes.size()));
    return parts.join(QStringLiteral("，"));
}

QString ResearchResult::promptBlock() const
{
    // Names and terms reach the translator through the key terms and the background.
    QString block;
    if (!domain.isEmpty())
        block += QStringLiteral("\n\n【自动研究】这场会议的领域：") + domain;
    if (fixes.isEmpty())
        return block;
    block += block.isEmpty() ? QStringLiteral("\n\n【自动研究】") : QStringLiteral("\n");
    block += QStringLiteral("语音识别可能听错的词（左边是识别出的写法，讲话人实际说的是右边，结合上下文判断）：");
    QStringList pairs;
    for (const Fix &fix : fixes)
        pairs.append(fix.heard + QStringLiteral(" → ") + fix.correct);
    return block + pairs.join(QStringLiteral("；"));
}
