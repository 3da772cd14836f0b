#include "records/Subtitles.h"

#include "speech/Graphemes.h"
#include "speech/Segmenter.h"
#include "translation/ModelReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace {
// A time as the documents can write it: negative times as zero, and a time no media can have
// (the service's reply is outside input) held at 100,000 hours, so the whole milliseconds
// always fit their integer instead of wrapping into nonsense.
double heldInRange(double seconds)
{
    constexpr double latest = 100000.0 * 3600.0;
    if (!(seconds > 0))
        return 0;
    return std::min(seconds, latest);
}


bool isSpaceOrTab(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

// Zs spaces and tabs at both ends go; line breaks stay.
QString trimSpaces(QStringView text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isSpaceOrTab(text[from]))
        ++from;
    while (to > from && isSpaceOrTab(text[to - 1]))
        --to;
    return text.mid(from, to - from).toString();
}

bool isJoinMark(QStringView character)
{
    static const QString marks = QStringLiteral("，。！？；：、（）《》「」『』“”‘’…—·");
    return character.size() == 1 && marks.contains(character[0]);
}

bool joinsTight(QStringView character)
{
    return Graphemes::isWhitespace(character) || Segmenter::isCJK(character)
        || Segmenter::isKana(character) || isJoinMark(character);
}

bool endsWithOneOf(const QString &text, QStringView marks)
{
    return !text.isEmpty() && marks.contains(text.back());
}

bool hasIdeograph(QStringView text)
{
    return Graphemes::anyScalar(text, [](char32_t c) { return c >= 0x4E00 && c <= 0x9FFF; });
}

// A subtitle line is one line: every kind of line break inside a text becomes one blank.
QString oneLine(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            out.append(u' ');
        } else if (c == u'\n' || c == QChar(0x0085) || c == QChar(0x2028) || c == QChar(0x2029)) {
            out.append(u' ');
        } else {
            out.append(c);
        }
    }
    return out;
}

bool sameText(const QString &a, const QString &b)
{
    return a == b || a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

bool sameSpeaker(const std::optional<QString> &a, const std::optional<QString> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || sameText(*a, *b);
}

} // namespace

bool Subtitles::Word::operator==(const Word &other) const
{
    return start == other.start && end == other.end && sameText(text, other.text)
        && sameSpeaker(speaker, other.speaker);
}

bool Subtitles::Cue::operator==(const Cue &other) const
{
    return start == other.start && end == other.end && sameText(text, other.text)
        && sameSpeaker(speaker, other.speaker) && sameText(translation, other.translation);
}

QStringList Subtitles::keyterms(const QStringList &terms)
{
    QStringList kept;
    QSet<QString> taken;
    for (const QString &term : terms) {
        if (term.isEmpty() || Graphemes::count(term) > 50)
            continue;
        if (term.split(u' ', Qt::SkipEmptyParts).size() > 5)
            continue;
        const QString folded = term.toLower();
        if (taken.contains(folded))
            continue;
        taken.insert(folded);
        kept.append(term);
        if (kept.size() == 100)
            break;
    }
    return kept;
}

std::optional<Subtitles::Transcription> Subtitles::parseWords(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue wordsValue = object.value(QLatin1String("words"));
    if (!wordsValue.isArray())
        return std::nullopt;
    const QJsonArray elements = wordsValue.toArray();
    for (const QJsonValue &element : elements) {
        if (!element.isObject())
            return std::nullopt;
    }
    Transcription result;
    const QJsonValue language = object.value(QLatin1String("language_code"));
    if (language.isString())
        result.language = language.toString();
    for (const QJsonValue &element : elements) {
        const QJsonObject item = element.toObject();
        const QJsonValue type = item.value(QLatin1String("type"));
        if (type.isString() && type.toString() != QLatin1String("word"))
            continue;
        const QJsonValue text = item.value(QLatin1String("text"));
        const QJsonValue start = item.value(QLatin1String("start"));
        const QJsonValue end = item.value(QLatin1String("end"));
        if (!text.isString() || !start.isDouble() || !end.isDouble())
            continue;
        Word word;
        word.text = trimSpaces(text.toString());
        if (word.text.isEmpty())
            continue;
        word.start = start.toDouble();
        word.end = std::max(end.toDouble(), word.start);
        const QJsonValue speaker = item.value(QLatin1String("speaker_id"));
        if (speaker.isString())
            word.speaker = speaker.toString();
        result.words.append(std::move(word));
    }
    return result;
}

void Subtitles::appendWord(QString &text, const QString &word)
{
    if (!text.isEmpty() && !word.isEmpty() && !joinsTight(Graphemes::last(text))
        && !joinsTight(Graphemes::first(word)))
        text.append(u' ');
    text.append(word);
}

QList<Subtitles::Cue> Subtitles::cues(const QList<Word> &words, double maxDuration,
                                      int maxCharacters, int maxChinese)
{
    static constexpr QStringView clauseMarks = u",;:，；：、";
    static constexpr QStringView sentenceMarks = u".?!。？！";

    QList<Cue> result;
    QList<Word> group;
    QString groupText; // always the join of `group`

    const auto closeFirst = [&](qsizetype n) {
        if (n <= 0)
            return;
        Cue cue;
        cue.start = group.front().start;
        // The service's times need not be in order: the cue lasts until its last word has
        // ended, never ending before it starts.
        cue.end = group.front().end;
        for (qsizetype i = 1; i < n; ++i)
            cue.end = std::max(cue.end, group.at(i).end);
        cue.speaker = group.front().speaker;
        if (n == group.size()) {
            cue.text = groupText;
            group.clear();
            groupText.clear();
        } else {
            for (qsizetype i = 0; i < n; ++i)
                appendWord(cue.text, group.at(i).text);
            group.remove(0, n);
            groupText.clear();
            for (const Word &rest : std::as_const(group))
                appendWord(groupText, rest.text);
        }
        result.append(std::move(cue));
    };

    for (const Word &word : words) {
        if (!group.isEmpty()) {
            const Word &last = group.back();
            const bool turn = word.speaker && last.speaker && *word.speaker != *last.speaker;
            const bool pause = word.start - last.end > 0.8;
            if (turn || pause) {
                closeFirst(group.size());
            } else {
                QString candidate = groupText;
                appendWord(candidate, word.text);
                const int limit = hasIdeograph(candidate) ? maxChinese : maxCharacters;
                const bool tooLong = word.end - group.front().start > maxDuration
                    || Graphemes::count(candidate) > limit;
                if (tooLong) {
                    const qsizetype count = group.size();
                    qsizetype split = 0;
                    for (qsizetype i = count; i >= 1; --i) {
                        if (endsWithOneOf(group.at(i - 1).text, clauseMarks)) {
                            split = i;
                            break;
                        }
                    }
                    if (split > count / 2 && split < count)
                        closeFirst(split);
                    else
                        closeFirst(count);
                }
            }
        }
        group.append(word);
        appendWord(groupText, word.text);
        if (endsWithOneOf(word.text, sentenceMarks))
            closeFirst(group.size());
    }
    closeFirst(group.size());
    return result;
}

std::optional<QStringList> Subtitles::parseTranslations(const QString &reply, int count)
{
    const std::optional<QJsonObject> object = ModelReply::object(reply);
    if (!object)
        return std::nullopt;
    const QJsonValue list = object->value(QLatin1String("t"));
    if (!list.isArray())
        return std::nullopt;
    const QJsonArray items = list.toArray();
    QStringList result;
    for (qsizetype i = 0; i < items.size() && result.size() < count; ++i) {
        const QJsonValue item = items.at(i);
        if (item.isString())
            result.append(trimSpaces(item.toString().replace(u'\n', u' ')));
        else
            result.append(QString());
    }
    while (result.size() < count)
        result.append(QString());
    return result;
}

QString Subtitles::timestamp(double seconds)
{
    const long long ms = std::llround(heldInRange(seconds) * 1000.0);
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, (ms / 60000) % 60,
                             (ms / 1000) % 60, ms % 1000);
}

QString Subtitles::clock(double seconds)
{
    const long long s = static_cast<long long>(heldInRange(seconds));
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
}

QString Subtitles::srt(const QList<Cue> &cues, bool bilingual)
{
    QString out;
    for (qsizetype i = 0; i < cues.size(); ++i) {
        const Cue &cue = cues.at(i);
        out += QString::number(i + 1) + u'\n';
        // Times are held in range first: a cue before the start of the media still lasts 0.3 s
        // from zero rather than ending where it begins.
        const double start = heldInRange(cue.start);
        const double end = std::max(heldInRange(cue.end), start + 0.3);
        out += timestamp(start) + QStringLiteral(" --> ") + timestamp(end) + u'\n';
        if (bilingual && !cue.translation.isEmpty())
            out += oneLine(cue.translation) + u'\n';
        out += oneLine(cue.text) + QStringLiteral("\n\n");
    }
    return out;
}

QString Subtitles::transcript(const QList<Cue> &cues, const QString &title)
{
    QString out = QStringLiteral("泰萨利字幕 字幕文稿\n来源：") + title + QStringLiteral("\n\n");
    for (qsizetype k = 0; k < cues.size(); ++k) {
        const Cue &cue = cues.at(k);
        if (k > 0 && cue.speaker && cue.speaker != cues.at(k - 1).speaker)
            out += QStringLiteral("—— 换人 ——\n\n");
        const QString time = clock(cue.start);
        out += time + QStringLiteral("  ");
        if (!cue.translation.isEmpty())
            out += oneLine(cue.translation) + u'\n' + QString(time.size() + 2, u' ');
        out += oneLine(cue.text) + QStringLiteral("\n\n");
    }
    return out;
}
