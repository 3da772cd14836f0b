#include "intelligence/BrowserTabs.h"

#include "translation/ModelReply.h"
#include "intelligence/SessionNotes.h"
#include "speech/Graphemes.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QSet>

#include <cmath>

namespace {

bool isNewline(QChar c)
{
    switch (c.unicode()) {
    case 0x000A: case 0x000B: case 0x000C: case 0x000D: case 0x0085: case 0x2028: case 0x2029:
        return true;
    default:
        return false;
    }
}

bool isBlankOrTab(QChar c) { return c == u' ' || c == u'\t'; }

QStringView trimBlanksAndTabs(QStringView text)
{
    while (!text.isEmpty() && isBlankOrTab(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlankOrTab(text.back()))
        text.chop(1);
    return text;
}

std::optional<QUrl> httpUrl(QStringView address)
{
    const QUrl url(address.toString());
    if (!url.isValid() || url.scheme().isEmpty() || !url.scheme().startsWith(QLatin1String("http")))
        return std::nullopt;
    return url;
}

QString addressText(const QUrl &url) { return url.toString(QUrl::FullyEncoded); }

QString firstCharacters(const QString &text, qsizetype count)
{
    const QList<QStringView> characters = Graphemes::split(text);
    if (characters.size() <= count)
        return text;
    const QStringView last = characters.at(count - 1);
    return text.left(last.data() + last.size() - text.constData());
}

QString lastCharacters(const QString &text, qsizetype count)
{
    const QList<QStringView> characters = Graphemes::split(text);
    if (characters.size() <= count)
        return text;
    const QStringView first = characters.at(characters.size() - count);
    return text.mid(first.data() - text.constData());
}

} // namespace

const QStringList BrowserTabs::videoSites{
    QStringLiteral("youtube.com"),        QStringLiteral("youtu.be"),
    QStringLiteral("vimeo.com"),          QStringLiteral("bilibili.com"),
    QStringLiteral("b23.tv"),             QStringLiteral("v.qq.com"),
    QStringLiteral("youku.com"),          QStringLiteral("iqiyi.com"),
    QStringLiteral("douyin.com"),         QStringLiteral("ixigua.com"),
    QStringLiteral("twitch.tv"),          QStringLiteral("zoom.us"),
    QStringLiteral("meet.google.com"),    QStringLiteral("teams.microsoft.com"),
    QStringLiteral("webex.com"),          QStringLiteral("meeting.tencent.com"),
    QStringLiteral("ted.com/talks"),      QStringLiteral("linkedin.com/events"),
};

std::optional<BrowserTabs::Tab> BrowserTabs::tab(const QString &address, const QString &title)
{
    const std::optional<QUrl> url = httpUrl(trimBlanksAndTabs(address));
    if (!url)
        return std::nullopt;
    // A browser's title may hold tabs and line breaks; the prompt lists one tab per line.
    QString cleaned = title;
    for (QChar &c : cleaned) {
        if (isNewline(c) || c == u'\t')
            c = u' ';
    }
    return Tab{*url, trimBlanksAndTabs(cleaned).toString()};
}

QList<BrowserTabs::Tab> BrowserTabs::parse(const QString &text)
{
    QList<Tab> tabs;
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start < n) {
        qsizetype end = start;
        while (end < n && !isNewline(text.at(end)))
            ++end;
        const QStringView line = QStringView(text).sliced(start, end - start);
        // A carriage return with a line feed is one break; the empty piece between them would
        // be dropped anyway, like every empty line.
        start = end + 1;
        if (line.isEmpty())
            continue;
        const qsizetype tabAt = line.indexOf(u'\t');
        const QStringView address = tabAt < 0 ? line : line.first(tabAt);
        const std::optional<QUrl> url = httpUrl(trimBlanksAndTabs(address));
        if (!url)
            continue;
        const QStringView title = tabAt < 0 ? QStringView() : trimBlanksAndTabs(line.sliced(tabAt + 1));
        tabs.append({*url, title.toString()});
    }
    return tabs;
}

bool BrowserTabs::isVideo(const QUrl &url)
{
    const QString place = (url.host() + url.path()).toLower();
    for (const QString &site : videoSites) {
        if (place.contains(site))
            return true;
    }
    return false;
}

QList<BrowserTabs::Tab> BrowserTabs::candidates(const QList<Tab> &tabs)
{
    QList<Tab> videos;
    QList<Tab> others;
    QSet<QString> seen;
    for (const Tab &tab : tabs) {
        if (!SessionNotes::autoReadable(tab.url))
            continue;
        const QString address = addressText(tab.url);
        if (seen.contains(address))
            continue;
        seen.insert(address);
        (isVideo(tab.url) ? videos : others).append(tab);
    }
    videos.append(others);
    if (videos.size() > maxCandidates)
        videos.resize(maxCandidates);
    return videos;
}

BrowserTabs::Prompt BrowserTabs::prompt(const QList<Tab> &tabs, const QString &recent)
{
    Prompt prompt;
    prompt.system = QStringLiteral(
        "用户正在用实时字幕软件听一段讲话（多半是浏览器里的视频或线上会议）。下面是最近识别出的讲话内容，和浏览器里打开着的标签页（编号、标题、网址）。\n"
        "判断用户正在听的是哪一个标签页：标题、讲者、话题要和讲话内容对得上。对不上、拿不准就给 -1，不要猜。\n"
        "只输出 JSON：{\"index\":编号或-1,\"sure\":true或false,\"why\":\"中文，15 字以内\"}");
    QString user = QStringLiteral("【最近的讲话】\n") + lastCharacters(recent, maxRecentLength)
                   + QStringLiteral("\n\n【标签页】\n");
    for (qsizetype i = 0; i < tabs.size(); ++i) {
        const Tab &tab = tabs.at(i);
        user += QString::number(i) + QStringLiteral(". ")
                + (tab.title.isEmpty() ? QStringLiteral("（无标题）") : firstCharacters(tab.title, maxTitleLength))
                + QStringLiteral("  ") + firstCharacters(addressText(tab.url), maxAddressLength) + u'\n';
    }
    prompt.user = user;
    return prompt;
}

BrowserTabs::Answer BrowserTabs::parse(const QString &reply, const QList<Tab> &tabs)
{
    const std::optional<QJsonObject> object = ModelReply::object(reply);
    if (!object)
        return {};
    // JSON numbers are doubles; a fractional index counts by its integer part.
    const QJsonValue indexValue = object->value(QLatin1String("index"));
    const double index = indexValue.isDouble() ? std::trunc(indexValue.toDouble()) : -1.0;
    const QJsonValue sure = object->value(QLatin1String("sure"));
    if (!sure.isBool() || !sure.toBool())
        return {};
    Answer answer;
    answer.decided = true;
    if (index >= 0 && index < double(tabs.size()))
        answer.tab = tabs.at(qsizetype(index));
    return answer;
}
