#include "intelligence/BackgroundLogic.h"

#include "translation/ModelReply.h"
#include "intelligence/TextCut.h"
#include "translation/Glossary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <array>

namespace {

constexpr qsizetype kPageTextLimit = 8000;
constexpr qsizetype kMaterialLimit = 12000;
constexpr qsizetype kReplyItems = 30;

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

bool isBlankOrTab(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Line feeds become blanks; blanks and tabs go from both ends.
QString cleaned(const QJsonValue &value)
{
    if (!value.isString())
        return QString();
    QString text = value.toString();
    text.replace(u'\n', u' ');
    return Glossary::trimBlanks(text);
}

bool hasHan(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    }
    return false;
}

bool hasLetter(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        if (QChar::isLetter(c))
            return true;
    }
    return false;
}

// Where `tag` (in lower case) starts in `text` at or after `from`, compared without case; -1
// when it is not there. Scans for "<" and compares only there: much quicker on a page of
// megabytes than a general caseless search.
qsizetype findTag(QStringView text, qsizetype from, QStringView tag)
{
    const qsizetype last = text.size() - tag.size();
    for (qsizetype at = text.indexOf(u'<', from); at >= 0 && at <= last;
         at = text.indexOf(u'<', at + 1)) {
        qsizetype i = 1;
        while (i < tag.size() && text[at + i].toCaseFolded() == tag[i])
            ++i;
        if (i == tag.size())
            return at;
    }
    return -1;
}

// Drops every element `name` from its opening tag to its closing tag, copying the kept spans
// once. A span that the removal joins up is searched again, as if the text had been cut in place.
QString withoutElements(const QString &html, QLatin1StringView name)
{
    const QString open = u'<' + name;
    const QString close = QStringLiteral("</") + name + u'>';
    QString out;
    qsizetype pos = 0; // the rest of `html` still to be copied starts here
    for (;;) {
        // An opening match may straddle the end of what was kept and the rest of the page.
        qsizetype startInOut = -1;
        qsizetype openEnd = -1; // in `html`, just after the opening match
        if (!out.isEmpty() && pos < html.size()) {
            const qsizetype tail = std::min<qsizetype>(open.size() - 1, out.size());
            const QString seam = out.right(tail) + html.mid(pos, open.size() - 1);
            const qsizetype at = findTag(seam, 0, open);
            if (at >= 0 && at < tail) {
                startInOut = out.size() - tail + at;
                openEnd = pos + (open.size() - (tail - at));
            }
        }
        qsizetype start = -1;
        if (startInOut < 0) {
            start = findTag(html, pos, open);
            if (start < 0)
                break;
            openEnd = start + open.size();
        }
        const qsizetype end = findTag(html, openEnd, close);
        if (end < 0)
            break; // an unclosed element stays
        if (startInOut >= 0)
            out.truncate(startInOut);
        else
            out += QStringView(html).mid(pos, start - pos);
        pos = end + close.size();
    }
    if (pos == 0)
        return html;
    out += QStringView(html).mid(pos);
    return out;
}

// The six entities a page's text decodes, in one pass; every other "&" stays as written.
void decodeEntities(QString &text)
{
    static const std::array<std::pair<QLatin1StringView, QChar>, 6> entities{{
        {QLatin1StringView("&nbsp;"), u' '},
        {QLatin1StringView("&amp;"), u'&'},
        {QLatin1StringView("&lt;"), u'<'},
        {QLatin1StringView("&gt;"), u'>'},
        {QLatin1StringView("&quot;"), u'"'},
        {QLatin1StringView("&#39;"), u'\''},
    }};
    if (!text.contains(u'&'))
        return;
    QChar *data = text.data();
    const qsizetype n = text.size();
    qsizetype write = 0;
    for (qsizetype read = 0; read < n;) {
        if (data[read] == u'&') {
            const QStringView rest(data + read, n - read);
            bool decoded = false;
            for (const auto &[entity, character] : entities) {
                if (rest.startsWith(entity)) {
                    data[write++] = character;
                    read += entity.size();
                    decoded = true;
                    break;
                }
            }
            if (decoded)
                continue;
        }
        data[write++] = data[read++];
    }
    text.truncate(write);
}

} // namespace

std::optional<QString> BackgroundLogic::linkText(const QString &text)
{
    // Chinese punctuation and quotes end a link: notes are pasted from chat
    // messages where a link runs straight into "，" or "。".
    static const QRegularExpression pattern(
        QStringLiteral("https?://[^\\s，。、；“”\"'<>]+"),
        QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    QString found = match.captured(0);
    static const QString trailing = QStringLiteral(".,;:!?)）");
    while (!found.isEmpty() && trailing.contains(found.back()))
        found.chop(1);
    const QUrl url(found);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return found;
}

std::optional<QUrl> BackgroundLogic::link(const QString &text)
{
    const std::optional<QString> found = linkText(text);
    if (!found)
        return std::nullopt;
    return QUrl(*found);
}

std::optional<QString> BackgroundLogic::jsonString(const QString &marker, const QString &html)
{
    const qsizetype at = html.indexOf(marker);
    if (at < 0 || marker.isEmpty())
        return std::nullopt;
    const qsizetype start = at + marker.size();
    qsizetype end = start;
    bool escaped = false;
    for (; end < html.size(); ++end) {
        const QChar c = html.at(end);
        if (escaped) {
            escaped = false;
        } else if (c == u'\\') {
            escaped = true;
        } else if (c == u'"') {
            break;
        }
    }
    // A one-element array: the JSON reader takes no bare string at the top.
    const QByteArray literal =
        "[\"" + QStringView(html).mid(start, end - start).toUtf8() + "\"]";
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(literal, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    if (array.size() != 1 || !array.at(0).isString())
        return std::nullopt;
    return array.at(0).toString();
}

std::optional<BackgroundLogic::Video> BackgroundLogic::youtube(const QString &html)
{
    static const QString descriptionMarker = QStringLiteral("\"shortDescription\":\"");
    static const QString titleMarker = QStringLiteral("\"title\":{\"runs\":[{\"text\":\"");
    const std::optional<QString> description = jsonString(descriptionMarker, html);
    if (!description)
        return std::nullopt;
    Video video;
    video.description = *description;
    if (const std::optional<QString> title = jsonString(titleMarker, html)) {
        video.title = *title;
    } else {
        const qsizetype open = html.indexOf(QStringLiteral("<title>"));
        const qsizetype close = open < 0 ? -1 : html.indexOf(QStringLiteral("</title>"), open + 7);
        if (close >= 0) {
            video.title = html.mid(open + 7, close - open - 7);
            video.title.remove(QStringLiteral(" - YouTube"));
        }
    }
    return video;
}

QString BackgroundLogic::pageText(const QString &html)
{
    QString text = html;
    for (const QLatin1StringView name : {QLatin1StringView("script"), QLatin1StringView("style"),
                                         QLatin1StringView("noscript"), QLatin1StringView("svg")})
        text = withoutElements(text, name);

    // Tags out, in place: the text only ever shrinks ("<" becomes one blank).
    QChar *data = text.data();
    const qsizetype size = text.size();
    qsizetype kept = 0;
    bool inTag = false;
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = data[i];
        if (c == u'<') {
            data[kept++] = u' ';
            inTag = true;
        } else if (c == u'>') {
            inTag = false;
        } else if (!inTag) {
            data[kept++] = c;
        }
    }
    text.truncate(kept);
    // After the tags, so "&lt;" gives text, not a tag; "&amp;lt;" is decoded once, to "&lt;".
    decodeEntities(text);
    const QString &visible = text;

    QString out;
    qsizetype checkAt = kPageTextLimit; // code units; a character takes at least one
    qsizetype lineStart = 0;
    const qsizetype n = visible.size();
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && !isLineBreak(visible.at(i)))
            continue;
        qsizetype a = lineStart;
        qsizetype b = i;
        while (a < b && isBlankOrTab(visible.at(a)))
            ++a;
        while (b > a && isBlankOrTab(visible.at(b - 1)))
            --b;
        if (b > a) {
            if (!out.isEmpty())
                out += u'\n';
            out += QStringView(visible).mid(a, b - a);
            // Stop once the cut below has all it keeps; counted at doubling sizes to stay linear.
            if (out.size() > checkAt) {
                if (TextCut::longerThan(out, kPageTextLimit))
                    break;
                checkAt = out.size() * 2;
            }
        }
        lineStart = i + 1;
    }
    return TextCut::left(out, kPageTextLimit);
}

QString BackgroundLogic::material(const QString &note, const QString &html)
{
    const std::optional<QString> written = linkText(note);
    if (!written)
        return TextCut::left(note.trimmed(), kMaterialLimit);
    QString page;
    if (const std::optional<Video> video = youtube(html))
        page = QStringLiteral("标题：") + video->title + QStringLiteral("\n简介：") + video->description;
    else
        page = pageText(html);
    QString words = note;
    words.remove(*written);
    words = words.trimmed();
    const QString all = words.isEmpty() ? page : words + QStringLiteral("\n\n") + page;
    return TextCut::left(all, kMaterialLimit);
}

QString BackgroundLogic::extractionPrompt()
{
    const QStringList lines{
        QStringLiteral("用户在看一场英文会议或访谈的实时翻译字幕，下面是他提前给的介绍（视频简介、议程或网页内容）。请提取能让语音识别和翻译更准的信息，只输出 JSON："),
        QStringLiteral("{\"title\":\"会议或访谈的主题（中文，一句话）\",\"background\":\"一两句中文背景：什么场合、谁和谁在谈什么\",\"names\":[\"人名、机构、会议名、产品名，写准英文原文\"],\"terms\":[{\"en\":\"英文术语\",\"zh\":\"通行的中文译法\"}]}"),
        QStringLiteral("要求："),
        QStringLiteral("1. names：人名去掉头衔和学位（\"Martin J. Calloway, MD, FACS\" 写成 \"Martin J. Calloway\"）。只收介绍里真的出现的，最多 20 个。"),
        QStringLiteral("2. terms：介绍里出现、会上很可能说到的专业术语和缩写，最多 20 条；拿不准中文译法的不要收。"),
        QStringLiteral("3. 介绍里没有的不要编造。没有的字段给空字符串或空数组。"),
    };
    return lines.join(u'\n');
}

std::optional<SessionBackground> BackgroundLogic::parse(const QString &reply)
{
    const std::optional<QJsonObject> object = ModelReply::object(reply);
    if (!object)
        return std::nullopt;
    SessionBackground background;
    background.title = TextCut::left(cleaned(object->value(QStringLiteral("title"))), 80);
    background.summary = TextCut::left(cleaned(object->value(QStringLiteral("background"))), 200);

    const QJsonArray names = object->value(QStringLiteral("names")).toArray();
    QSet<QString> seen;
    for (qsizetype i = 0; i < std::min(names.size(), kReplyItems); ++i) {
        const QString name = cleaned(names.at(i));
        if (name.isEmpty() || TextCut::longerThan(name, 60) || !hasLetter(name))
            continue;
        const QString key = Glossary::normalize(name);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        background.names.append(name);
    }

    const QJsonValue termsValue = object->value(QStringLiteral("terms"));
    const QJsonArray terms = termsValue.toArray();
    const bool allObjects = std::all_of(terms.begin(), terms.end(),
                                        [](const QJsonValue &v) { return v.isObject(); });
    if (termsValue.isArray() && allObjects) {
        for (qsizetype i = 0; i < std::min(terms.size(), kReplyItems); ++i) {
            const QJsonObject term = terms.at(i).toObject();
            const QString en = cleaned(term.value(QStringLiteral("en")));
            const QString zh = cleaned(term.value(QStringLiteral("zh")));
            if (en.isEmpty() || zh.isEmpty() || TextCut::longerThan(en, 80) || hasHan(en)
                || TextCut::longerThan(zh, 30) || !hasHan(zh))
                continue;
            background.terms.append(GlossaryEntry(en, zh));
        }
    }
    if (background.isEmpty())
        return std::nullopt;
    return background;
}
