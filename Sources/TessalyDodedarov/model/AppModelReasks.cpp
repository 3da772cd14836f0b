// Re-asks, merges and revisions: when a finished line is translated again in the background,
// and which answers may change it. An answer that fails a check is dropped without a trace, and
// so is one for a line whose source grew after the question was sent.
#include "model/AppModel.h"

#include "intelligence/NumberCheck.h"
#include "intelligence/Overlap.h"
#include "intelligence/SentenceMerge.h"
#include "platform/Keychain.h"
#include "speech/Graphemes.h"
#include "speech/Segmenter.h"
#include "translation/Proofread.h"

#include <algorithm>

namespace {

// Where two alternates meet without a blank: white space, CJK, kana and this punctuation.
bool joinsTight(QStringView character)
{
    static const QString punctuation = QStringLiteral("，。！？；：、（）《》「」『』“”‘’…—·");
    if (character.isEmpty())
        return true;
    return Graphemes::isWhitespace(character) || Segmenter::isCJK(character)
        || Segmenter::isKana(character) || (character.size() == 1 && punctuation.contains(character.at(0)));
}

} // namespace

QStringList AppModel::contextBefore(int id, bool withoutMerged) const
{
    QStringList out;
    for (int i = std::max(id - 2, 0); i < id && i < m_lines.size(); ++i)
        if (!withoutMerged || !m_lines.at(i).merged)
            out.append(m_lines.at(i).english);
    return out;
}

void AppModel::startReasks(int id, bool success)
{
    const CaptionLine line = m_lines.at(id);
    const QStringList words = Segmenter::words(line.english);
    if (success && line.pieces > 1 && !line.chinese.isEmpty() && !m_meeting.smoothing.contains(id)
        && !words.isEmpty() && Segmenter::endsSentence(words.last())
        && !Segmenter::isOpenEnding(line.english)) {
        m_meeting.smoothing.insert(id, line.english);
        m_meeting.shortRetried.insert(id);
        log(QStringLiteral("smooth_request"), {{QStringLiteral("id"), QString::number(id)},
                                               {QStringLiteral("text"), line.english},
                                               {QStringLiteral("zh"), line.chinese}});
        m_translator->refix(Translator::BackfillItem(id, line.english, contextBefore(id)),
                            QStringLiteral("\n\n【整句重译】这一段话是边听边分几次译出来的，现在字幕上是：“")
                                + line.chinese + QStringLiteral("”，读起来不连贯。")
                                + QStringLiteral("请把这一段原文重新译成完整、通顺的一句（不要遗漏，也不要把上文的内容加进来）。"));
    }
    if (lineLanguage(line) == SpeechLanguage::english && !line.chinese.isEmpty()
        && !m_meeting.shortRetried.contains(id) && Overlap::looksTruncated(line.english, line.chinese)) {
        m_meeting.shortRetried.insert(id);
        log(QStringLiteral("short_translation"), {{QStringLiteral("text"), line.english},
                                                  {QStringLiteral("zh"), line.chinese}});
        m_translator->refix(Translator::BackfillItem(id, line.english, contextBefore(id)),
                            QStringLiteral("\n\n【上次的译文漏了内容】上一次只译出了“") + line.chinese
                                + QStringLiteral("”。请把这一段完整译出来，不要省略任何半句。"));
    }
}

void AppModel::checkNumbers(int id)
{
    const CaptionLine &line = m_lines.at(id);
    const QStringList missing = NumberCheck::missing(line.english, line.chinese);
    if (missing.isEmpty())
        return;
    m_meeting.stats.numberRechecks += 1;
    log(QStringLiteral("number_recheck"), {{QStringLiteral("text"), line.english},
                                           {QStringLiteral("missing"), missing.join(QStringLiteral(", "))}});
    m_translator->recheck(Translator::BackfillItem(id, line.english, contextBefore(id)),
                          QStringLiteral("\n【注意】上一次的译文漏掉或译错了原文里的数字（")
                              + missing.join(QStringLiteral("、"))
                              + QStringLiteral("）。原文里的每个数字、单位、百分比都要一个不差地译出来。"));
}

void AppModel::maybeMergeSentences(bool final)
{
    if (m_meeting.mergeCursor >= m_lines.size() || !Keychain::get(Keychain::deepSeekAccount))
        return;
    // Lines before the cursor are settled; only the rest is described.
    const int from = m_meeting.mergeCursor;
    QList<SentenceMerge::Item> items;
    items.reserve(m_lines.size() - from);
    for (int i = from; i < m_lines.size(); ++i) {
        const CaptionLine &line = m_lines.at(i);
        items.append({line.english, !line.chinese.isEmpty() && !line.failed && !line.merged,
                      line.finished, line.newTurn, line.pieces});
    }
    const SentenceMerge::Result result = SentenceMerge::groups(items, 0, final);
    m_meeting.mergeCursor = std::max(m_meeting.mergeCursor, from + int(result.next));
    for (const SentenceMerge::Group &group : result.groups) {
        const int first = from + int(group.start);
        const int end = from + int(group.end);
        if (end - first == 1 && m_meeting.smoothing.contains(first))
            continue;
        QList<int> ids;
        QStringList sources;
        for (int i = first; i < end; ++i) {
            ids.append(i);
            sources.append(m_lines.at(i).english);
        }
        const QString joined = Segmenter::join(sources);
        m_meeting.stats.sentenceMerges += 1;
        log(QStringLiteral("merge"), {{QStringLiteral("text"), joined}});
        m_translator->merge(ids, joined, contextBefore(first));
    }
}

QString AppModel::withoutRepeatedLead(const QString &text, int id, const QString &source)
{
    if (id < 0 || id >= m_lines.size() || lineLanguage(m_lines.at(id)) == SpeechLanguage::chinese)
        return text;
    QStringList previous;
    QStringList previousSources;
    for (int i = std::max(id - 2, 0); i < id; ++i) {
        const CaptionLine &line = m_lines.at(i);
        previous.append(line.chinese);
        previous.append(line.revised ? line.revised->translation : QString());
        previousSources.append(line.english);
    }
    const std::optional<QString> shorter = Overlap::dropRepeatedLeads(text, previous, source, previousSources);
    if (!shorter || shorter->size() >= text.size())
        return text;
    log(QStringLiteral("lead_dropped"), {{QStringLiteral("text"), text}, {QStringLiteral("after"), *shorter}});
    return *shorter;
}

bool AppModel::swallowsContext(const QString &text, int before) const
{
    for (int i = std::max(before - 2, 0); i < before && i < m_lines.size(); ++i) {
        const QString chinese = m_lines.at(i).chinese.trimmed();
        if (chinese.isEmpty())
            continue;
        const QList<QStringView> characters = Graphemes::split(chinese);
        if (characters.size() < 6)
            continue;
        const qsizetype n = std::min<qsizetype>(characters.size(), 12);
        const QStringView last = characters.at(n - 1);
        const QString head = chinese.first(last.data() + last.size() - chinese.constData());
        if (text.contains(head))
            return true;
    }
    return false;
}

void AppModel::rechecked(int id, const QString &sent, const std::optional<QString> &translation,
                         const QString &alt)
{
    if (id < 0 || id >= m_lines.size())
        return;
    const CaptionLine &line = m_lines.at(id);
    if (line.merged || line.revised || !translation || translation->isEmpty()
        || swallowsContext(*translation, id))
        return;
    // Asked about a shorter source: the answer would pair the grown line with half of it.
    if (sent != line.english)
        return;
    if (!NumberCheck::missing(line.english, *translation).isEmpty())
        return;
    const QString kept = withoutRepeatedLead(*translation, id, line.english);
    CaptionLine &edited = m_lines[id];
    edited.revised = CaptionLine::Revision {edited.english, kept, alt.isEmpty() ? edited.alt : alt};
    linesEdited();
    scheduleSave();
}

void AppModel::refixed(int id, const QString &sent, const std::optional<QString> &translation,
                       const QString &alt)
{
    if (id < 0 || id >= m_lines.size())
        return;
    // Whichever question this answers, it is for the source sent with it: a line that grew
    // meanwhile would be paired with half a translation.
    if (sent != m_lines.at(id).english)
        return;
    if (!translation || translation->isEmpty() || swallowsContext(*translation, id))
        return;
    const QString updated = withoutRepeatedLead(*translation, id, m_lines.at(id).english);
    if (updated == m_lines.at(id).chinese)
        return;
    CaptionLine &line = m_lines[id];
    const QString old = line.chinese;
    if (m_meeting.smoothing.value(id) == sent) {
        line.chinese = updated;
        if (!alt.isEmpty())
            line.alt = alt;
        if (line.revised)
            line.revised->translation = updated;
        log(QStringLiteral("smoothed"), {{QStringLiteral("id"), QString::number(id)},
                                         {QStringLiteral("text"), old},
                                         {QStringLiteral("after"), updated}});
    } else {
        line.chinese = updated;
        if (!alt.isEmpty())
            line.alt = alt;
        if (line.revised)
            line.revised->translation = updated;
        // What the re-ask added, shown highlighted when it is short enough to be a word or two.
        const QString span = Proofread::difference(old, updated).second.trimmed();
        if (!span.isEmpty() && Graphemes::count(span) <= 24 && !span.contains(u'…')
            && !line.fixed.contains(span))
            line.fixed.append(span);
    }
    linesEdited();
    scheduleSave();
}

void AppModel::merged(const QList<int> &ids, const QString &sent, const QString &source,
                      const std::optional<QString> &translation, const QString &alt)
{
    if (!translation || translation->isEmpty() || ids.isEmpty())
        return;
    for (int id : ids)
        if (id < 0 || id >= m_lines.size() || m_lines.at(id).merged)
            return;
    if (QSet<int>(ids.cbegin(), ids.cend()).size() != ids.size())
        return; // a line named twice would be merged into itself
    if (swallowsContext(*translation, ids.first()))
        return;
    if (!NumberCheck::missing(source, *translation).isEmpty())
        return;
    // The lines must still read as the text that was sent joined; one that grew would be
    // paired with a translation of less than it says.
    QStringList now;
    for (int id : ids)
        now.append(m_lines.at(id).english);
    if (Segmenter::join(now) != sent)
        return;
    const QString kept = withoutRepeatedLead(*translation, ids.first(), source);
    QString mergedAlt = alt;
    if (mergedAlt.isEmpty()) {
        QList<int> ordered = ids;
        std::sort(ordered.begin(), ordered.end());
        for (int id : ordered) {
            const QString &piece = m_lines.at(id).alt;
            if (piece.isEmpty())
                continue;
            if (!mergedAlt.isEmpty() && !joinsTight(Graphemes::last(mergedAlt))
                && !joinsTight(Graphemes::first(piece)))
                mergedAlt += u' ';
            mergedAlt += piece;
        }
    }
    m_lines[ids.first()].revised = CaptionLine::Revision {source, kept, mergedAlt};
    for (qsizetype i = 1; i < ids.size(); ++i)
        m_lines[ids.at(i)].merged = true;
    linesEdited();
    scheduleSave();
}
