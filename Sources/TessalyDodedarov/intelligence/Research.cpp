#include "intelligence/Research.h"

#include "translation/ModelReply.h"
#include "intelligence/Overlap.h"
#include "intelligence/TextCut.h"
#include "translation/Glossary.h"

#include <QJsonArray>
#include <QSet>

namespace {

// The prompt asks for at most 10 names, 10 terms and 8 fixes; a little more is accepted.
constexpr qsizetype kNames = 12;
constexpr qsizetype kTerms = 12;
constexpr qsizetype kFixes = 10;
constexpr qsizetype kRecentLimit = 6000;

const QString kEightBlanks = QStringLiteral("        ");

QString systemText(bool webSearch)
{
    QStringList lines{
        QStringLiteral("你在帮一个实时字幕翻译软件理解正在进行的会议或视频。下面是最近一段语音识别结果（可能有发音相近的错词）和已有的译文。"),
        QStringLiteral("请分析并只输出 JSON："),
        QStringLiteral("{\"domain\":\"一句话：这是什么领域、什么场合（中文）\",\"names\":[\"人名、机构、会议、产品的正确写法（原文）\"],\"terms\":[{\"en\":\"术语原文\",\"zh\":\"通行的中文译法\"}],\"fixes\":[{\"heard\":\"识别出的错误写法（必须是原文里出现的）\",\"correct\":\"正确写法\"}]}"),
        QStringLiteral("要求："),
        QStringLiteral("1. names：只收原文里提到的，必须是正确写法（被听错的写成正确的，听错的写法放进 fixes，不要放进 names），去掉头衔，最多 10 个。和【已经知道的】名字只是写法不同的（比如已知 SYNCHRONOUS trial，原文里是 Synchrony trial）不是新名字：放进 fixes，正确写法用已知的。"),
        QStringLiteral("2. terms：只收会反复出现、译法容易不统一或拿不准的专业术语和缩写，给出该领域中文里实际通行的一种说法（只写一种，不加括号解释），最多 10 条；")
            + kEightBlanks
            + QStringLiteral("人人都懂的普通词不要；行内习惯直接用英文的（比如 AI 领域的 token、prompt、agent）zh 就写原文。"),
        QStringLiteral("3. fixes：只收明显被听错的人名、术语（比如 Dunnel → Donnell），heard 必须原样出现在原文里，最多 8 条；拿不准的不要收。")
            + kEightBlanks
            + QStringLiteral("不要按你的知识去“更新”讲话人说的名称（比如 Department of War 是 2025 年起美国国防部的正式名称之一，讲者说 DOW 就是对的），只收发音相近的识别错误。")
            + kEightBlanks
            + QStringLiteral("讲话人的口吃、重复、说了一半的词（con coherent、smooth ex exponential）不是识别错误，不要收；只是补全名字（Pellworth → Corwin Pellworth）也不要收。"),
        QStringLiteral("names 只收能确认的人名、机构；从听不清的片段里猜出来的单个名字（比如句子讲不通时冒出来的 Trent）不要收。"),
        QStringLiteral("4. 已经知道的不用重复。没有就给空数组。"),
    };
    QString text = lines.join(u'\n');
    if (webSearch)
        text += QStringLiteral("\n5. 遇到拿不准的人名、机构、新术语或缩写，可以联网搜索确认正确写法和中文译法；不要为普通词搜索。");
    return text;
}

// An array whose elements are all objects; any other value counts as no array.
QJsonArray objectArray(const QJsonValue &value)
{
    if (!value.isArray())
        return {};
    const QJsonArray array = value.toArray();
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            return {};
    }
    return array;
}

// Removes every span from an opening bracket to the first closing one after it.
QString withoutBracketed(QString text, QChar open, QChar close)
{
    for (;;) {
        const qsizetype start = text.indexOf(open);
        if (start < 0)
            return text;
        const qsizetype end = text.indexOf(close, start + 1);
        if (end < 0)
            return text;
        text.remove(start, end - start + 1);
    }
}

// A string value as the parsers read it; any other JSON value reads as the empty text.
QString cleaned(const QJsonValue &value)
{
    if (!value.isString())
        return QString();
    QString text = value.toString();
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    return text.trimmed();
}

} // namespace

QString Research::field(const QJsonObject &object, const QString &key)
{
    return cleaned(object.value(key));
}

QString Research::cleanChinese(const QString &zh)
{
    QString text = zh;
    const qsizetype slash = text.indexOf(u'/');
    const qsizetype wideSlash = text.indexOf(u'／');
    qsizetype cut = -1;
    if (slash >= 0 && wideSlash >= 0)
        cut = std::min(slash, wideSlash);
    else
        cut = std::max(slash, wideSlash);
    if (cut >= 0)
        text.truncate(cut);
    text = withoutBracketed(text, u'（', u'）');
    text = withoutBracketed(text, u'(', u')');
    return Glossary::trimBlanks(text);
}

Research::Prompt Research::prompt(const QString &recent, const QString &recap,
                                  const ResearchResult &known, const QString &notes, bool webSearch)
{
    QString user;
    if (!notes.isEmpty())
        user += QStringLiteral("【用户提供的本场说明】\n") + notes + QStringLiteral("\n\n");
    if (!recap.isEmpty())
        user += QStringLiteral("【前情提要】\n") + recap + QStringLiteral("\n\n");
    if (!known.isEmpty()) {
        user += QStringLiteral("【已经知道的】");
        if (!known.domain.isEmpty())
            user += QStringLiteral("领域：") + known.domain + QStringLiteral("；");
        if (!known.names.isEmpty())
            user += QStringLiteral("人名：") + known.names.join(QStringLiteral("、")) + QStringLiteral("；");
        if (!known.terms.isEmpty()) {
            QStringList terms;
            for (const GlossaryEntry &term : known.terms) {
                if (Glossary::trimBlanks(term.chinese).isEmpty())
                    terms.append(term.english);
                else
                    terms.append(term.english + QStringLiteral(" = ") + term.chinese);
            }
            user += QStringLiteral("术语：") + terms.join(QStringLiteral("、"));
        }
        user += QStringLiteral("\n\n");
    }
    user += QStringLiteral("【最近的内容】\n") + TextCut::right(recent, kRecentLimit);
    return {systemText(webSearch), user};
}

std::optional<ResearchResult> Research::parse(const QString &reply, const QString &recent)
{
    const std::optional<QJsonObject> object = ModelReply::object(reply);
    if (!object)
        return std::nullopt;
    const QString padded = u' ' + Glossary::normalize(recent) + u' ';
    auto occurs = [&padded](const QString &normalized) {
        return !normalized.isEmpty() && padded.contains(u' ' + normalized + u' ');
    };

    ResearchResult result;
    result.domain = TextCut::left(field(*object, QStringLiteral("domain")), 60);

    // Corrections vouch for names: a name the recogniser never wrote correctly is still real
    // when research corrected a mishearing to it.
    const QJsonArray fixes = objectArray(object->value(QStringLiteral("fixes")));
    QSet<QString> corrections;
    QSet<QString> correctionWords;
    for (const QJsonValue &fix : fixes) {
        const QString normalized = Glossary::normalize(field(fix.toObject(), QStringLiteral("correct")));
        corrections.insert(normalized);
        for (const QString &word : normalized.split(u' ', Qt::SkipEmptyParts))
            correctionWords.insert(word);
    }

    const QJsonArray names = object->value(QStringLiteral("names")).toArray();
    for (qsizetype i = 0; i < std::min(names.size(), kNames); ++i) {
        const QString name = cleaned(names.at(i));
        if (name.isEmpty() || TextCut::longerThan(name, 60) || result.names.contains(name))
            continue;
        const QString normalized = Glossary::normalize(name);
        bool accepted = corrections.contains(normalized);
        for (const QString &word : normalized.split(u' ', Qt::SkipEmptyParts)) {
            if (accepted)
                break;
            if (TextCut::longerThan(word, 2) && (occurs(word) || correctionWords.contains(word)))
                accepted = true;
        }
        if (accepted)
            result.names.append(name);
    }

    const QJsonArray terms = objectArray(object->value(QStringLiteral("terms")));
    for (qsizetype i = 0; i < std::min(terms.size(), kTerms); ++i) {
        const QJsonObject term = terms.at(i).toObject();
        const QString en = field(term, QStringLiteral("en"));
        const QString zh = cleanChinese(field(term, QStringLiteral("zh")));
        if (en.isEmpty() || TextCut::longerThan(en, 80) || Glossary::containsChinese(en)
            || TextCut::longerThan(zh, 30))
            continue;
        result.terms.append(GlossaryEntry(en, zh));
    }

    for (qsizetype i = 0; i < std::min(fixes.size(), kFixes); ++i) {
        const QJsonObject fix = fixes.at(i).toObject();
        const QString heard = field(fix, QStringLiteral("heard"));
        const QString correct = field(fix, QStringLiteral("correct"));
        if (heard.isEmpty() || correct.isEmpty() || TextCut::longerThan(heard, 40))
            continue;
        const QString normalizedHeard = Glossary::normalize(heard);
        if (normalizedHeard == Glossary::normalize(correct) || Overlap::isDisfluency(heard, correct)
            || !occurs(normalizedHeard))
            continue;
        result.fixes.append({heard, correct});
    }
    return result;
}
