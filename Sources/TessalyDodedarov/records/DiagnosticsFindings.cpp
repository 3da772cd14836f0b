#include "records/Diagnostics.h"

#include "intelligence/LatinWords.h"
#include "intelligence/NameFix.h"
#include "intelligence/Overlap.h"
#include "speech/Graphemes.h"
#include "translation/Glossary.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

const QStringList Diagnostics::categories = {
    QStringLiteral("校对改了识别"),
    QStringLiteral("校对改了翻译"),
    QStringLiteral("译文过短（可能漏译）"),
    QStringLiteral("译文残留英文"),
    QStringLiteral("相邻重复"),
    QStringLiteral("碎片段落"),
    QStringLiteral("出字慢"),
    QStringLiteral("其他语言片段"),
    QStringLiteral("名字写法不一致"),
    QStringLiteral("研究收了原文没有的名字"),
    QStringLiteral("会中纠正又被校对改动"),
    QStringLiteral("研究回复解析失败"),
};

const QSet<QString> Diagnostics::shortReplies = {
    QStringLiteral("yeah"),     QStringLiteral("yes"),        QStringLiteral("no"),
    QStringLiteral("okay"),     QStringLiteral("ok"),         QStringLiteral("right"),
    QStringLiteral("sure"),     QStringLiteral("thanks"),     QStringLiteral("thank you"),
    QStringLiteral("sorry"),    QStringLiteral("oh"),         QStringLiteral("well"),
    QStringLiteral("hello"),    QStringLiteral("hi"),         QStringLiteral("bye"),
    QStringLiteral("wow"),      QStringLiteral("great"),      QStringLiteral("exactly"),
    QStringLiteral("absolutely"), QStringLiteral("come on"),  QStringLiteral("all right"),
    QStringLiteral("go on"),    QStringLiteral("please"),     QStringLiteral("good"),
    QStringLiteral("fine"),     QStringLiteral("indeed"),     QStringLiteral("true"),
    QStringLiteral("mm"),       QStringLiteral("uh huh"),
};

const QSet<QString> Diagnostics::keptInEnglish = {
    QStringLiteral("token"),  QStringLiteral("tokens"),  QStringLiteral("prompt"),
    QStringLiteral("prompts"), QStringLiteral("agent"),  QStringLiteral("agents"),
    QStringLiteral("app"),    QStringLiteral("apps"),    QStringLiteral("api"),
    QStringLiteral("chatbot"), QStringLiteral("demo"),   QStringLiteral("bug"),
    QStringLiteral("bugs"),   QStringLiteral("email"),   QStringLiteral("wifi"),
    QStringLiteral("blog"),   QStringLiteral("podcast"), QStringLiteral("vlog"),
};

namespace {

const QString kEnglish = QStringLiteral("en");

enum Category {
    sourceProofread,
    translationProofread,
    tooShort,
    englishLeft,
    repeated,
    fragment,
    slowLine,
    otherLanguage,
    nameSpellings,
    researchNameUnheard,
    correctionChanged,
    researchUnparsed,
};

bool isAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
}

bool isSentenceEnd(QStringView character)
{
    return character == u"." || character == u"?" || character == u"!";
}

// A spelling kept for the name comparison: its first occurrence, and the
// counts of its letters for the quick test below.
struct Spelling {
    QString word;
    QString lower;
    QString time;
    qsizetype line = 0;
    std::array<quint8, 26> letters{};
};

// Whether NameFix::variant could hold for two lower-case ASCII words. It
// holds only for lengths at most 3 apart and, then, for spellings at most 2
// edits apart (soundsLike) or sharing their first 6 letters. Counting the
// letters one word has more of than the other gives a lower bound of the
// edit distance, so most pairs are ruled out without computing it.
bool mayBeVariant(const Spelling &a, const Spelling &b)
{
    const qsizetype gap = a.lower.size() - b.lower.size();
    if (gap > 3 || gap < -3)
        return false;
    if (a.lower.size() >= 6 && b.lower.size() >= 6 && QStringView(a.lower).first(6) == QStringView(b.lower).first(6))
        return true;
    int more = 0;
    int fewer = 0;
    for (size_t i = 0; i < a.letters.size(); ++i) {
        const int d = int(a.letters[i]) - int(b.letters[i]);
        (d > 0 ? more : fewer) += d > 0 ? d : -d;
    }
    return std::max(more, fewer) <= 2;
}

void nameSpellingFindings(const QList<Diagnostics::Line> &lines, QList<Diagnostics::Finding> &out)
{
    QList<Spelling> kept;
    QSet<QString> seen;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Diagnostics::Line &line = lines[i];
        if (line.language != kEnglish)
            continue;
        for (const QString &word : Diagnostics::midSentenceCapitalized(line.source)) {
            if (word.size() < 5)
                continue;
            QString lower = word.toLower();
            if (seen.contains(lower))
                continue;
            seen.insert(lower);
            Spelling spelling{word, std::move(lower), line.time, i, {}};
            for (QChar c : spelling.lower) {
                quint8 &n = spelling.letters[size_t(c.unicode() - u'a')];
                n = quint8(std::min(255, n + 1));
            }
            kept.append(std::move(spelling));
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Spelling &a, const Spelling &b) { return a.word < b.word; });

    // Two spellings of one name share their first letter (NameFix::variant
    // holds for nothing else), and every kept word begins with a capital
    // ASCII letter, so the words of one letter sit together in this order:
    // each word needs comparing only with the words after it up to the next
    // letter, not with all of them.
    for (qsizetype a = 0; a < kept.size(); ++a) {
        const Spelling &first = kept[a];
        for (qsizetype b = a + 1; b < kept.size() && kept[b].word[0] == first.word[0]; ++b) {
            const Spelling &second = kept[b];
            if (!mayBeVariant(first, second) || !NameFix::variant(first.word, second.word)
                || NameFix::inflection(first.lower, second.lower))
                continue;
            // The earlier line, not the smaller clock text: a meeting can run
            // past midnight.
            const QString &time = first.line <= second.line ? first.time : second.time;
            out.append({Diagnostics::categories[nameSpellings], time,
                        first.word + QStringLiteral(" / ") + second.word});
        }
    }
}

void researchNameFindings(const QList<Diagnostics::Line> &lines, const QStringList &researchNames,
                          const QStringList &knownNames, QList<Diagnostics::Finding> &out)
{
    if (researchNames.isEmpty())
        return;
    QStringList sources;
    sources.reserve(lines.size());
    for (const Diagnostics::Line &line : lines)
        sources.append(line.source);
    const QString heard = Glossary::normalize(sources.join(u' '));
    // A single word occurs in " " + heard + " " between blanks exactly when it
    // is one of heard's words. A whole name heard means its words were heard
    // too, so the words alone decide, without searching the whole meeting's
    // text once per name; only an empty name is "heard" in an empty meeting.
    QSet<QStringView> heardWords;
    for (QStringView word : QStringView(heard).split(u' ', Qt::SkipEmptyParts))
        heardWords.insert(word);
    QSet<QString> known;
    for (const QString &name : knownNames)
        known.insert(Glossary::normalize(name));

    for (const QString &name : researchNames) {
        const QString m = Glossary::normalize(name);
        if (known.contains(m))
            continue;
        const QList<QStringView> words = QStringView(m).split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty() ? heard.isEmpty()
                            : std::any_of(words.cbegin(), words.cend(),
                                          [&heardWords](QStringView w) { return heardWords.contains(w); }))
            continue;
        out.append({Diagnostics::categories[researchNameUnheard], QString(), name});
    }
}

} // namespace

QString Diagnostics::eventTime(double t)
{
    // Event times are differences of uptime readings; anything else is read
    // as the start rather than cast out of range.
    const double whole = std::isfinite(t) ? std::clamp(std::trunc(t), double(INT_MIN), double(INT_MAX)) : 0;
    const int seconds = int(whole);
    return QString::asprintf("+%d:%02d", seconds / 60, seconds % 60);
}

QStringList Diagnostics::midSentenceCapitalized(QStringView text)
{
    QStringList kept;
    QString word;
    bool sentenceStart = true;
    const auto endWord = [&] {
        if (word.isEmpty())
            return;
        if (!sentenceStart && word[0].isUpper())
            kept.append(word);
        word.clear();
        sentenceStart = false;
    };
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.toString());
    qsizetype start = 0;
    for (qsizetype next = text.isEmpty() ? -1 : finder.toNextBoundary(); next > 0;
         next = finder.toNextBoundary()) {
        const QStringView character = text.sliced(start, next - start);
        start = next;
        if (character.size() == 1 && isAsciiLetter(character[0])) {
            word += character[0];
            continue;
        }
        endWord();
        if (isSentenceEnd(character))
            sentenceStart = true;
    }
    // The walk runs over the text and one trailing blank: a last word ends there.
    endWord();
    return kept;
}

QList<Diagnostics::Finding> Diagnostics::findings(const QList<Line> &lines, const QStringList &researchNames,
                                                  const QStringList &knownNames,
                                                  const QList<DiagnosticEvent> &events, double slow)
{
    QList<Finding> out;
    const qsizetype n = lines.size();
    const qsizetype en = std::count_if(lines.cbegin(), lines.cend(),
                                       [](const Line &l) { return l.language == kEnglish; });
    const bool mostlyEnglish = n > 0 && double(en) / double(n) >= 0.85;

    for (qsizetype i = 0; i < n; ++i) {
        const Line &line = lines[i];
        const bool english = line.language == kEnglish;
        const auto add = [&](Category category, QString detail) {
            out.append({categories[category], line.time, std::move(detail)});
        };

        if (line.sourceFixed || line.translationFixed) {
            add(line.sourceFixed ? sourceProofread : translationProofread,
                line.proofreadNote + QStringLiteral("｜原文：") + line.source);
        }

        if (english && Overlap::looksTruncated(line.source, line.translation)) {
            add(tooShort, QStringLiteral("原文：") + line.source + QStringLiteral("｜译文：") + line.translation);
        }

        if (english) {
            QStringList left;
            for (const QString &word : LatinWords::in(line.translation)) {
                // Capitalised words are names and stay in English on purpose.
                if (!word[0].isLower() || word.size() < 4 || line.fixedWords.contains(word)
                    || keptInEnglish.contains(word.toLower()))
                    continue;
                left.append(word);
            }
            if (!left.isEmpty())
                add(englishLeft, left.join(QStringLiteral("、")) + QStringLiteral("｜译文：") + line.translation);
        }

        if (i > 0) {
            const Line &previous = lines[i - 1];
            if (Overlap::isEcho(line.source, previous.source)) {
                add(repeated, QStringLiteral("“") + line.source + QStringLiteral("”和上一段结尾一样"));
            } else if (english && Overlap::dropRepeatedLead(line.translation, previous.translation)) {
                add(repeated, QStringLiteral("译文开头重复了上一句｜") + line.translation);
            }
        }

        if (english) {
            const QStringList words = Glossary::normalize(line.source).split(u' ', Qt::SkipEmptyParts);
            if (!words.isEmpty() && words.size() <= 2 && !shortReplies.contains(words.join(u' '))
                && !isSentenceEnd(Graphemes::last(line.source))) {
                add(fragment, QStringLiteral("“") + line.source + QStringLiteral("”→“") + line.translation
                                  + QStringLiteral("”"));
            }
        }

        // A latency that is not a finite number was never really measured.
        if (line.latency && std::isfinite(*line.latency) && *line.latency >= slow)
            add(slowLine, QString::asprintf("%.1f 秒｜", *line.latency) + line.source);

        if (mostlyEnglish && line.language == QLatin1String("other"))
            add(otherLanguage, QStringLiteral("英文为主的会议里出现其他语言：") + line.source);

        if (!line.fixedWords.isEmpty() && line.sourceFixed) {
            add(correctionChanged, QStringLiteral("会中改成 ") + line.fixedWords.join(QStringLiteral("、"))
                                       + u'｜' + line.proofreadNote);
        }
    }

    nameSpellingFindings(lines, out);
    researchNameFindings(lines, researchNames, knownNames, out);

    for (const DiagnosticEvent &event : events) {
        if (event.kind != QLatin1String("research_unparsed"))
            continue;
        out.append({categories[researchUnparsed], eventTime(event.t),
                    DiagnosticLog::firstCharacters(event.fields.value(QStringLiteral("reply")), 200)});
    }
    return out;
}

QMap<QString, int> Diagnostics::counts(const QList<Finding> &findings)
{
    QMap<QString, int> result;
    for (const QString &category : categories)
        result.insert(category, 0);
    for (const Finding &finding : findings)
        ++result[finding.category];
    return result;
}
