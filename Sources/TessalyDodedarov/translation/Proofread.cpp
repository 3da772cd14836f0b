#include "translation/Proofread.h"

#include "translation/ModelReply.h"

#include "speech/Segmenter.h"
#include "speech/SpeechLanguage.h"
#include "translation/Glossary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

// The model's texts may span lines; a fix is compared and shown as one line.
QString oneLine(const QJsonValue &value)
{
    if (!value.isString())
        return {};
    QString text = value.toString();
    text.replace(u'\n', u' ');
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto isSpaceOrTab = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && isSpaceOrTab(text[begin]))
        ++begin;
    while (end > begin && isSpaceOrTab(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

bool isChineseText(const QString &text)
{
    return SpeechLanguage(text) == SpeechLanguage::chinese;
}

double lengthRatio(const QString &updated, const QString &current)
{
    return double(Glossary::length(updated)) / std::max(Glossary::length(current), 1);
}

QString firstCharacters(const QString &text, int count)
{
    const QStringList chars = Glossary::characters(text);
    return chars.mid(0, count).join(QString());
}

QString spanText(const QStringList &tokens, qsizetype from, qsizetype to, bool characterMode)
{
    const QString joined = tokens.mid(from, to - from).join(characterMode ? QString() : QStringLiteral(" "));
    if (joined.isEmpty())
        return QStringLiteral("（无）");
    if (Glossary::length(joined) > 60)
        return firstCharacters(joined, 60) + QStringLiteral("…");
    return joined;
}

bool isStopMark(const QString &token)
{
    static const QString marks = QStringLiteral("，。、；：！？");
    return token.size() == 1 && marks.contains(token.front());
}

} // namespace

QString Proofread::systemPrompt()
{
    return QStringLiteral(
        "你是会议记录的校对员。下面是一场会议记录的一段，每段三行：编号、原文 SRC（语音识别结果，常有发音相近的错词）、译文 TR（实时机器翻译，可能为空）。\n"
        "请：\n"
        "1. 改正原文里的语音识别错误：结合上下文和背景，把讲不通的词换成发音相近、真正说的词（人名、术语、地名最常见）。不要润色，不要改说法，不要补全没说完的话。不要按你的知识把讲话人说的名称换成你认为更常见或更新的说法（比如 Department of War、DOW 不要改成 Department of Defense、DOD），只改发音相近的识别错误。\n"
        "2. 改正译文里的明显错误：错译、漏译、术语或人名译错、因为原文识别错而译错的。译文本来通顺的不要改风格。\n"
        "3. 背景里给出的人名、试验名、机构名是正确写法；原文或译文里发音相近的写法（比如 Synchronys 对 SYNCHRONOUS）一律改成背景里的写法。同一个人名、会议名、机构名在整场里常被识别成好几种写法（比如 Brannock 被听成 Brannick、Branna、Prannock）：按本场说明、前情提要和上下文统一成正确的写法，原文和译文都改。\n"
        "只输出 JSON：{\"fixes\":[{\"i\":编号,\"src\":\"改正后的完整原文\",\"tr\":\"改正后的完整译文\",\"why\":\"为什么改，中文，15 字以内\"}]}\n"
        "没改的字段省略；整段都没问题的编号不要出现。没有要改的就给 {\"fixes\":[]}。");
}

Proofread::Chunks Proofread::chunks(const QList<Line> &lines, int maxWords, int maxLines,
                                    int maxChunks)
{
    Chunks out;
    const int count = int(lines.size());
    if (maxChunks <= 0) {
        out.unproofread = count;
        return out;
    }
    int start = 0;
    int words = 0;
    for (int i = 0; i < count; ++i) {
        const int lineWords = int(Segmenter::words(lines[i].source).size());
        if (start < i && (words + lineWords > maxWords || i - start >= maxLines)) {
            out.ranges.append(Range{start, i});
            if (out.ranges.size() >= maxChunks) {
                out.unproofread = count - i;
                return out;
            }
            start = i;
            words = 0;
        }
        words += lineWords;
    }
    if (start < count)
        out.ranges.append(Range{start, count});
    return out;
}

Proofread::Prompt Proofread::prompt(const QList<Line> &lines, Range range, const QString &context)
{
    Prompt out;
    out.system = systemPrompt() + context;
    for (int i = range.lower; i < range.upper; ++i) {
        const Line &line = lines.at(i);
        out.user += u'#' + QString::number(i) + QStringLiteral("\nSRC: ") + line.source
                    + QStringLiteral("\nTR: ") + line.translation + u'\n';
    }
    return out;
}

std::optional<int> Proofread::intValue(const QJsonValue &value)
{
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (!std::isfinite(number))
            return std::nullopt;
        const double truncated = std::trunc(number);
        // An index beyond Int lies outside every chunk anyway.
        if (truncated < double(std::numeric_limits<int>::min())
            || truncated > double(std::numeric_limits<int>::max()))
            return std::nullopt;
        return int(truncated);
    }
    if (value.isString()) {
        QString text = value.toString();
        auto trimmable = [](QChar c) { return c == u'#' || Glossary::isBlank(c.unicode()); };
        qsizetype begin = 0;
        qsizetype end = text.size();
        while (begin < end && trimmable(text[begin]))
            ++begin;
        while (end > begin && trimmable(text[end - 1]))
            --end;
        text = text.mid(begin, end - begin);
        qsizetype digitsFrom = (text.startsWith(u'+') || text.startsWith(u'-')) ? 1 : 0;
        if (digitsFrom >= text.size())
            return std::nullopt;
        for (qsizetype i = digitsFrom; i < text.size(); ++i)
            if (text[i] < u'0' || text[i] > u'9')
                return std::nullopt;
        bool ok = false;
        const int parsed = text.toInt(&ok, 10);
        if (!ok)
            return std::nullopt;
        return parsed;
    }
    return std::nullopt;
}

QList<Proofread::Fix> Proofread::parse(const QString &reply, const QList<Line> &lines, Range range)
{
    QList<Fix> fixes;
    const std::optional<QJsonObject> object = ModelReply::object(reply);
    if (!object)
        return fixes;
    const QJsonValue list = object->value(QStringLiteral("fixes"));
    if (!list.isArray())
        return fixes;
    // An answer whose list mixes in anything but objects is not in the asked shape at all.
    const QJsonArray elements = list.toArray();
    for (const QJsonValue &element : elements) {
        if (!element.isObject())
            return fixes;
    }

    for (const QJsonValue &element : elements) {
        const QJsonObject object = element.toObject();
        const std::optional<int> i = intValue(object.value(QStringLiteral("i")));
        // The index must belong to the chunk asked about and to no fix accepted before.
        if (!i || !range.contains(*i) || *i < 0 || *i >= lines.size())
            continue;
        bool taken = false;
        for (const Fix &fix : std::as_const(fixes))
            taken = taken || fix.index == *i;
        if (taken)
            continue;
        const Line &line = lines.at(*i);

        const QString why = oneLine(object.value(QStringLiteral("why")));

        std::optional<QString> source = oneLine(object.value(QStringLiteral("src")));
        if (source->isEmpty() || *source == line.source
            || isChineseText(*source) != isChineseText(line.source)) {
            source.reset();
        } else {
            const double ratio = lengthRatio(*source, line.source);
            if (ratio < 0.5 || ratio > 2.0)
                source.reset();
        }

        std::optional<QString> translation = oneLine(object.value(QStringLiteral("tr")));
        if (translation->isEmpty()) {
            translation.reset();
        } else if (!line.translation.isEmpty()) {
            if (*translation == line.translation
                || isChineseText(*translation) != isChineseText(line.translation)) {
                translation.reset();
            } else {
                const double ratio = lengthRatio(*translation, line.translation);
                if (ratio < 0.4 || ratio > 2.5)
                    translation.reset();
            }
        }

        if (source || translation)
            fixes.append(Fix{*i, source, translation, firstCharacters(why, 40)});
    }
    return fixes;
}

QString Proofread::note(const Fix &fix, const Line &original)
{
    QStringList parts;
    if (fix.source) {
        const auto [before, after] = difference(original.source, *fix.source);
        parts.append(QStringLiteral("原文：") + before + QStringLiteral(" → ") + after);
    }
    if (fix.translation) {
        if (!original.translation.isEmpty()) {
            const auto [before, after] = difference(original.translation, *fix.translation);
            parts.append(QStringLiteral("译文：") + before + QStringLiteral(" → ") + after);
        } else {
            parts.append(QStringLiteral("补上了译文"));
        }
    }
    QString text = QStringLiteral("〔校对〕") + parts.join(QStringLiteral("；"));
    if (!fix.why.isEmpty())
        text += QStringLiteral("（") + fix.why + QStringLiteral("）");
    return text;
}

std::pair<QString, QString> Proofread::difference(const QString &old, const QString &updated)
{
    const bool characterMode = Glossary::containsChinese(old) || Glossary::containsChinese(updated);
    const QStringList a = characterMode ? Glossary::characters(old)
                                        : old.split(u' ', Qt::SkipEmptyParts);
    const QStringList b = characterMode ? Glossary::characters(updated)
                                        : updated.split(u' ', Qt::SkipEmptyParts);

    qsizetype p = 0;
    while (p < a.size() && p < b.size() && a[p] == b[p])
        ++p;
    qsizetype s = 0;
    while (s < a.size() - p && s < b.size() - p && a[a.size() - 1 - s] == b[b.size() - 1 - s])
        ++s;

    if (characterMode) {
        // Up to two unchanged characters of context each side, never past a punctuation mark.
        for (int step = 0; step < 2 && p > 0 && !isStopMark(a[p - 1]); ++step)
            --p;
        for (int step = 0; step < 2 && s > 0 && !isStopMark(a[a.size() - s]); ++step)
            --s;
    }
    return {spanText(a, p, a.size() - s, characterMode),
            spanText(b, p, b.size() - s, characterMode)};
}
