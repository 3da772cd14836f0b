#include "intelligence/Recap.h"

#include "intelligence/CharacterKeys.h"
#include "translation/ModelReply.h"
#include "speech/Segmenter.h"
#include "translation/Glossary.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace {

const char16_t *const systemLines[] = {
        u"你在给会议同声传译员写“前情提要”：译员翻译后面每一句时都会先看它，用来理解指代、统一译法；听众中途进来也会看它。",
        u"根据上一版提要和这段时间新转录的内容（语音识别结果，可能有错词），写出新的提要。只输出 JSON：",
        u"{\"topic\":\"一句话：会议主题和场合\",\"speakers\":[\"人名（身份、机构）\"],\"points\":[\"一条要点一句话\"],\"terms\":[\"英文 = 中文译法或含义\"]}",
        u"要求：",
        u"1. 中文，全部加起来不超过 400 字（宁短勿长，超出会被截掉）。人名、机构名保留原文。",
        u"2. points 按讲的顺序，每条一句、20–40 字，最多 8 条；要点多了把早先的几条合并成一条概括。只增不乱：保留仍然有用的，合并新的，删掉过时的细节。",
        u"3. terms 写讲者定义过的缩写、特殊说法和后面可能被指代的东西（例如 \"the project = 上文提到的某个项目名\"），最多 8 条。",
        u"4. 只写原文里有的，不要推测；识别明显出错的词按上下文写成正确的。没有的项给空数组或空字符串。",
};

// A reply field as one line: line feeds become blanks, white space trimmed.
QString cleaned(const QJsonValue &value)
{
    return value.toString().replace(u'\n', u' ').trimmed();
}

QStringList cleanedList(const QJsonValue &value)
{
    QStringList out;
    for (const QJsonValue &element : value.toArray()) {
        const QString text = cleaned(element);
        if (!text.isEmpty())
            out.append(text);
    }
    return out;
}

QString render(const QString &topic, const QStringList &speakers, const QStringList &points,
               const QStringList &terms)
{
    QStringList lines;
    if (!topic.isEmpty())
        lines.append(QStringLiteral("主题：") + topic);
    if (!speakers.isEmpty())
        lines.append(QStringLiteral("讲者：") + speakers.join(u'；'));
    if (!points.isEmpty()) {
        lines.append(QStringLiteral("要点："));
        for (const QString &point : points)
            lines.append(QStringLiteral("· ") + point);
    }
    if (!terms.isEmpty()) {
        lines.append(QStringLiteral("术语和缩写："));
        for (const QString &term : terms)
            lines.append(QStringLiteral("· ") + term);
    }
    return lines.join(u'\n');
}

bool isBreak(QStringView character)
{
    return character.size() == 1 && QStringView(u"。；！？!?\n").contains(character[0]);
}

}

QString Recap::material(const QList<Line> &lines, int maxWords)
{
    QStringList taken;
    qsizetype total = 0;
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        const Line &line = lines[i];
        total += Segmenter::words(line.source).size();
        if (total > maxWords && !taken.isEmpty())
            break;
        taken.append(line.translation.isEmpty() ? line.source
                                                : line.source + u'（' + line.translation + u'）');
    }
    std::reverse(taken.begin(), taken.end());
    return taken.join(u'\n');
}

Recap::Prompt Recap::prompt(const QString &previous, const QString &newText)
{
    QStringList system;
    for (const char16_t *line : systemLines)
        system.append(QString::fromUtf16(line));
    QString user;
    if (!previous.isEmpty())
        user = QStringLiteral("【上一版提要】\n") + previous + QStringLiteral("\n\n");
    user += QStringLiteral("【新转录的内容】\n") + newText;
    return {system.join(u'\n'), user};
}

std::optional<QString> Recap::parse(const QString &reply)
{
    const std::optional<QJsonObject> object = ModelReply::object(reply);
    if (!object)
        return std::nullopt;
    const QJsonValue recap = object->value(QStringLiteral("recap"));
    if (recap.isString()) {
        const QString text = recap.toString().trimmed();
        if (CharacterKeys::count(text) < 10)
            return std::nullopt;
        return trimmed(text);
    }
    const QString composed = compose(cleaned(object->value(QStringLiteral("topic"))),
                                     cleanedList(object->value(QStringLiteral("speakers"))),
                                     cleanedList(object->value(QStringLiteral("points"))),
                                     cleanedList(object->value(QStringLiteral("terms"))));
    if (CharacterKeys::count(composed) <= 9)
        return std::nullopt;
    return composed;
}

QString Recap::compose(const QString &topic, const QStringList &speakers, const QStringList &points,
                       const QStringList &terms)
{
    QStringList keptPoints = points;
    QStringList keptTerms = terms;
    QString text = render(topic, speakers, keptPoints, keptTerms);
    // Terms go first, then the oldest points; the topic, the speakers and the last three points
    // are only ever cut.
    while (CharacterKeys::count(text) > maxLength) {
        if (!keptTerms.isEmpty()) {
            keptTerms.removeLast();
        } else if (keptPoints.size() >= 4) {
            keptPoints.removeFirst();
        } else {
            return trimmed(text);
        }
        text = render(topic, speakers, keptPoints, keptTerms);
    }
    return text;
}

QString Recap::trimmed(const QString &text)
{
    const QList<QStringView> characters = CharacterKeys::split(text);
    if (characters.size() <= maxLength)
        return text;
    for (qsizetype i = maxLength - 1; i > 349; --i) {
        if (isBreak(characters[i])) {
            const qsizetype end = characters[i].data() + characters[i].size() - text.constData();
            return text.first(end).trimmed();
        }
    }
    return text.first(characters[maxLength - 1].data() - text.constData()) + u'…';
}

QList<Recap::Section> Recap::sections(const QString &text)
{
    QList<Section> out;
    for (const QString &raw : text.split(u'\n')) {
        const QString line = Glossary::trimBlanks(raw);
        if (line.isEmpty())
            continue;
        if (line.startsWith(QStringLiteral("· ")) && !out.isEmpty() && out.last().isList) {
            out.last().items.append(line.mid(2));
        } else if (line == u"要点：" || line == u"术语和缩写：") {
            out.append({line.chopped(1), {}, true});
        } else if (line.startsWith(QStringLiteral("主题："))) {
            out.append({QStringLiteral("主题"), {line.mid(3)}, false});
        } else if (line.startsWith(QStringLiteral("讲者："))) {
            out.append({QStringLiteral("讲者"), line.mid(3).split(u'；', Qt::SkipEmptyParts), true});
        } else {
            QStringList items;
            for (const QString &part : line.split(u'。', Qt::SkipEmptyParts))
                items.append(Glossary::trimBlanks(part) + u'。');
            out.append({QString(), items, true});
        }
    }
    return out;
}
