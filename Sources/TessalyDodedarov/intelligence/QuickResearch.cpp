#include "intelligence/QuickResearch.h"

#include "translation/ModelReply.h"
#include "intelligence/Overlap.h"
#include "intelligence/TextCut.h"
#include "speech/Fillers.h"
#include "translation/Glossary.h"

#include <QJsonArray>

namespace {

constexpr qsizetype kBatchItems = 10;
constexpr qsizetype kNameCount = 40;
constexpr qsizetype kNotesLimit = 1500;

// Kinds of item whose correct spelling is a name to keep as written, not a term to translate.
const QStringList &nameKinds()
{
    static const QStringList kinds{
        QStringLiteral("人名"), QStringLiteral("机构"), QStringLiteral("试验"), QStringLiteral("研究"),
        QStringLiteral("会议"), QStringLiteral("产品"), QStringLiteral("医院"), QStringLiteral("大学"),
        QStringLiteral("学会"), QStringLiteral("公司"), QStringLiteral("期刊"),
    };
    return kinds;
}

bool isApostrophe(QChar c)
{
    return c == u'\'' || c == u'’';
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool allUpper(const QString &word)
{
    for (const QChar c : word) {
        if (!(c >= u'A' && c <= u'Z'))
            return false;
    }
    return true;
}

QString systemText(bool webSearch)
{
    const QStringList lines{
        QStringLiteral("你在帮一个实时字幕翻译软件确认几个拿不准的词。每个词后面是它所在的原句（语音识别结果，常把发音相近的人名、术语听错）。"),
        QStringLiteral("结合本场领域、已知的名字和原句判断每个词："),
        QStringLiteral("- 是不是被听错了，讲话人实际说的正确写法（拼写、大小写）是什么；"),
        QStringLiteral("- 它是什么：人名、机构、试验或研究、会议、药物或器械、术语缩写、普通词；"),
        QStringLiteral("- 该领域通行的中文译法（人名、机构、试验名保留原文的，zh 留空）。"),
        QStringLiteral("只输出 JSON：{\"items\":[{\"heard\":\"原样照抄这个词或包含它的短语\",\"correct\":\"正确写法\",\"kind\":\"类别\",\"zh\":\"中文译法\",\"sure\":true}]}"),
        QStringLiteral("没被听错就 correct 和 heard 一样；拿不准就 sure 写 false，不要猜。"),
    };
    QString text = lines.join(u'\n');
    if (webSearch)
        text += QStringLiteral("\n可以联网搜索确认（用领域 + 这个词 + 原句里的线索去搜），每个词最多搜一次；普通词不要搜。");
    return text;
}

} // namespace

QStringList QuickResearch::suspects(const QString &text, const QSet<QString> &known,
                                    const QSet<QString> &asked,
                                    const std::function<bool(const QString &)> &isWord)
{
    QStringList picked;
    QSet<QString> pickedLower;

    auto examine = [&](QString word) {
        while (!word.isEmpty() && isApostrophe(word.front()))
            word.remove(0, 1);
        while (!word.isEmpty() && isApostrophe(word.back()))
            word.chop(1);
        if (word.size() >= 2 && word.back() == u's' && isApostrophe(word.at(word.size() - 2)))
            word.chop(2);
        if (word.isEmpty() || std::any_of(word.cbegin(), word.cend(), isApostrophe))
            return;
        const bool capitals = word.size() >= 3 && allUpper(word);
        if (word.size() <= 3 && !capitals)
            return;
        const QString lower = word.toLower();
        if (known.contains(lower) || asked.contains(lower) || pickedLower.contains(lower))
            return;
        if (isWord && (isWord(word) || isWord(lower)
                       || (capitals && isWord(word.left(1) + lower.mid(1)))))
            return;
        if (Fillers::isNoise(word))
            return;
        if (!word.front().isUpper())
            return;
        pickedLower.insert(lower);
        picked.append(word);
    };

    QString current;
    for (const QChar c : text) {
        if (isAsciiLetter(c) || (isApostrophe(c) && !current.isEmpty())) {
            current += c;
            continue;
        }
        if (!current.isEmpty())
            examine(current);
        current.clear();
    }
    if (!current.isEmpty())
        examine(current);
    return picked;
}

Research::Prompt QuickResearch::prompt(const QList<Suspect> &batch, const QString &domain,
                                       const QStringList &names, const QString &notes,
                                       bool webSearch)
{
    QString user;
    if (!domain.isEmpty())
        user += QStringLiteral("【领域】") + domain + u'\n';
    if (!names.isEmpty())
        user += QStringLiteral("【已知的名字】") + names.mid(0, kNameCount).join(QStringLiteral("、")) + u'\n';
    if (!notes.isEmpty())
        user += QStringLiteral("【用户提供的本场说明】\n") + TextCut::left(notes, kNotesLimit) + u'\n';
    QStringList lines;
    for (const Suspect &suspect : batch)
        lines.append(suspect.term + QStringLiteral("    原句：") + suspect.sentence);
    user += QStringLiteral("\n【拿不准的词】\n") + lines.join(u'\n');
    return {systemText(webSearch), user};
}

std::optional<ResearchResult> QuickResearch::parse(const QString &reply, const QString &context)
{
    const std::optional<QJsonObject> object = ModelReply::object(reply);
    if (!object)
        return std::nullopt;
    const QJsonValue itemsValue = object->value(QStringLiteral("items"));
    if (!itemsValue.isArray())
        return std::nullopt;
    const QJsonArray items = itemsValue.toArray();
    for (const QJsonValue &item : items) {
        if (!item.isObject())
            return std::nullopt;
    }

    const QString padded = u' ' + Glossary::normalize(context) + u' ';
    ResearchResult result;
    for (qsizetype i = 0; i < std::min(items.size(), kBatchItems); ++i) {
        const QJsonObject item = items.at(i).toObject();
        const QString heard = Research::field(item, QStringLiteral("heard"));
        const QString correct = Research::field(item, QStringLiteral("correct"));
        const QString kind = Research::field(item, QStringLiteral("kind"));
        const QString zh = Research::cleanChinese(Research::field(item, QStringLiteral("zh")));
        const QString normalizedHeard = Glossary::normalize(heard);
        if (item.value(QStringLiteral("sure")) != QJsonValue(true) || heard.isEmpty()
            || correct.isEmpty() || TextCut::longerThan(heard, 60) || TextCut::longerThan(correct, 60)
            || Glossary::containsChinese(correct) || normalizedHeard.isEmpty()
            || !padded.contains(u' ' + normalizedHeard + u' '))
            continue;

        if (normalizedHeard != Glossary::normalize(correct) && !Overlap::isDisfluency(heard, correct))
            result.fixes.append({heard, correct});
        const bool isName = std::any_of(nameKinds().cbegin(), nameKinds().cend(),
                                        [&kind](const QString &word) { return kind.contains(word); });
        if (isName) {
            if (!result.names.contains(correct))
                result.names.append(correct);
            continue;
        }
        if (!zh.isEmpty() && !TextCut::longerThan(zh, 30) && !kind.contains(QStringLiteral("普通")))
            result.terms.append(GlossaryEntry(correct, zh));
    }
    return result;
}
