#include "speech/CaptionPipeline.h"

#include "speech/Graphemes.h"

#include <algorithm>

namespace {

using Output = CaptionPipeline::Output;

QString slice(const QStringList &words, qsizetype from, qsizetype to)
{
    if (from >= to)
        return {};
    return Segmenter::join(std::span(words.constData() + from, size_t(to - from)));
}

bool isDash(QChar c) { return c == u'-' || c == u'\u2014' || c == u'\u2013'; }

void appendUnits(QList<Output> &outputs, const QStringList &units)
{
    for (const QString &unit : units)
        outputs.append(Output::translate(unit));
}

std::optional<SpeechLanguage> wordLanguage(const QString &word)
{
    if (SpeechLanguage::isForeignWord(word))
        return SpeechLanguage::other;
    if (Segmenter::isCJK(word))
        return SpeechLanguage::chinese;
    if (Graphemes::anyScalar(word, [](char32_t c) { return QChar::isLetter(c); }))
        return SpeechLanguage::english;
    return std::nullopt;
}

}

CaptionPipeline::CaptionPipeline(std::optional<SpeechLanguage> rawLanguage)
    : m_englishOnly(rawLanguage == SpeechLanguage::english)
    , m_rawLanguage(rawLanguage)
{
}

// Recognisers mark hesitation with dots and dashes ("…and", "so--"); those marks are not words.
CaptionPipeline::Cleaned CaptionPipeline::clean(const QStringList &words, const std::optional<SpeakerLabels> &speakers)
{
    const bool labelled = speakers && speakers->size() == words.size();
    Cleaned result;
    if (labelled)
        result.labels.emplace();
    for (qsizetype i = 0; i < words.size(); ++i) {
        QStringView word = words.at(i);
        while (!word.isEmpty() && (word.front() == u'.' || word.front() == u'\u2026'))
            word = word.sliced(1);
        while (word.size() > 1 && isDash(word.back()))
            word.chop(1);
        if (!Graphemes::anyScalar(word, [](char32_t c) { return QChar::isLetterOrNumber(c); }))
            continue;
        result.words.append(word.toString());
        if (labelled)
            result.labels->append(speakers->at(i));
    }
    return result;
}

// The run of one language at the end of the words. A few ideographs after Japanese belong to it,
// and Japanese text borrows ideographs freely, so those do not end a run of "other".
CaptionPipeline::Run CaptionPipeline::tailRun(const QStringList &words, int from)
{
    Run run;
    for (qsizetype i = words.size() - 1; i >= from; --i) {
        const std::optional<SpeechLanguage> language = wordLanguage(words.at(i));
        if (!language)
            continue;
        if (!run.language || *run.language == *language) {
            run.language = language;
            ++run.count;
        } else if (*run.language == SpeechLanguage::chinese && run.count < 4 && *language == SpeechLanguage::other) {
            run.language = SpeechLanguage::other;
            ++run.count;
        } else if (*run.language == SpeechLanguage::other && *language == SpeechLanguage::chinese) {
            ++run.count;
        } else {
            break;
        }
    }
    return run;
}

int CaptionPipeline::doneWords() const
{
    return m_offset + (m_englishOnly ? m_stabilizer.emitted() : m_segmenter.emitted());
}

CaptionPipeline::Split CaptionPipeline::splitLanguage(const QStringList &words, bool final, double at)
{
    const int count = int(words.size());
    if (!m_autoRaw || m_offset >= count)
        return {};
    const Run run = tailRun(words, m_offset);
    if (!run.language || *run.language == m_language)
        return {};
    const int start = count - run.count;
    const int done = doneWords();
    // A short run may be a borrowed word: hold it back from a partial until it grows, and on a
    // commit switch only when nothing before it is still waiting.
    if (run.count < 4) {
        if (!final)
            return {{}, run.count};
        if (run.count < 2 || done < start)
            return {};
    }
    const int cut = std::min(std::max(start, done), count);
    Split split;
    split.outputs = committedCore(slice(words, m_offset, cut), at, true);
    if (!m_englishOnly)
        appendUnits(split.outputs, m_segmenter.flush());
    m_offset = cut;
    m_language = *run.language;
    m_englishOnly = m_rawLanguage && *m_rawLanguage == m_language;
    m_segmenter = Segmenter();
    m_stabilizer = WordStabilizer(1);
    m_englishTail.clear();
    return split;
}

QList<Output> CaptionPipeline::splitTurns(const QStringList &words, const SpeakerLabels &speakers,
                                          bool requireStable, double at)
{
    QList<Output> outputs;
    m_unconfirmedTurn.reset();
    std::optional<QString> current = m_lastSpeaker;
    const int count = int(words.size());
    if (m_offset >= count)
        return outputs;
    const qsizetype agreed = Segmenter::commonPrefix(words, m_previousWords);
    int i = m_offset;
    while (i < count) {
        const std::optional<QString> &label = speakers.at(i);
        if (!label || !current || *label == *current) {
            if (label && !current)
                current = label;
            ++i;
            continue;
        }
        if (requireStable) {
            // A new speaker counts once a second partial shows the same label on the same words.
            const bool confirmed = i != count - 1 && i < m_previousWords.size() && i < agreed
                && m_previousSpeakers && i < m_previousSpeakers->size() && m_previousSpeakers->at(i) == label;
            if (!confirmed) {
                m_unconfirmedTurn = i;
                break;
            }
        }
        const int cut = std::min(std::max(i, doneWords()), count);
        outputs += committedCore(slice(words, m_offset, cut), at, true);
        if (!m_englishOnly) {
            if (!m_segmenter.carry().isEmpty())
                outputs.append(Output::translate(m_segmenter.carry()));
            m_segmenter = Segmenter();
        }
        outputs.append(Output::turn());
        m_offset = cut;
        m_lastSpeaker = current = label;
        i = std::max(i + 1, cut);
    }
    return outputs;
}

QList<Output> CaptionPipeline::partial(const QString &text, const std::optional<SpeakerLabels> &speakers, double at)
{
    const Cleaned cleaned = clean(Segmenter::words(text), speakers);
    const QStringList &words = cleaned.words;
    const int count = int(words.size());
    Split split = splitLanguage(words, false, at);
    QList<Output> outputs = std::move(split.outputs);

    int settled = count;
    if (count > 0) {
        if (!cleaned.labels) {
            m_previousWords = words;
            m_previousSpeakers.reset();
        } else {
            const SpeakerLabels &labels = *cleaned.labels;
            if (std::any_of(labels.begin(), labels.end(), [](const auto &label) { return label.has_value(); }))
                m_diarizing = true;
            outputs += splitTurns(words, labels, true, at);
            m_previousWords = words;
            m_previousSpeakers = labels;
            if (m_diarizing) {
                // Words whose speaker is not known yet (or may have changed) wait a little,
                // so they are not shown under the wrong speaker.
                int known = count;
                for (int i = m_offset; i < count; ++i) {
                    if (!labels.at(i)) {
                        known = i;
                        break;
                    }
                }
                if (known != m_knownEnd) {
                    m_knownEnd = known;
                    m_knownEndTime = at;
                }
                const int boundary = std::min(m_unconfirmedTurn.value_or(count), known);
                if (boundary < count && at - m_knownEndTime < m_unknownWait) {
                    // One held word on the raw road, two uncut words in the segmenter.
                    const int lookAhead = m_englishOnly ? 1 : 2;
                    settled = std::min(boundary + lookAhead, count);
                }
            }
        }
    }
    const int end = std::min(count - split.hold, settled);
    outputs += partialCore(m_offset < end ? slice(words, m_offset, end) : QString(), at);
    return outputs;
}

QList<Output> CaptionPipeline::partialCore(const QString &text, double at)
{
    QList<Output> outputs;
    if (m_englishOnly) {
        const QString settled = m_stabilizer.partial(text);
        const QStringList words = Segmenter::words(settled);
        if (!words.isEmpty())
            m_englishTail = words.last();
        if (!settled.isEmpty())
            outputs.append(Output::english(settled));
    } else {
        appendUnits(outputs, m_segmenter.partial(text, at));
    }
    return outputs;
}

QList<Output> CaptionPipeline::committed(const QString &text, double at)
{
    const QStringList words = clean(Segmenter::words(text), std::nullopt).words;
    const int count = int(words.size());
    QList<Output> outputs = splitLanguage(words, true, at).outputs;
    // The last partial's labels stand for the commit when the words line up; a change first
    // seen in that partial still makes a turn.
    if (m_previousSpeakers && m_previousSpeakers->size() == count) {
        const SpeakerLabels labels = *m_previousSpeakers;
        outputs += splitTurns(words, labels, false, at);
        for (int i = count - 1; i >= m_offset; --i) {
            if (labels.at(i)) {
                m_lastSpeaker = labels.at(i);
                break;
            }
        }
    }
    outputs += committedCore(m_offset < count ? slice(words, m_offset, count) : QString(), at, false);
    m_offset = 0;
    m_knownEnd = -1;
    m_previousWords.clear();
    m_previousSpeakers.reset();
    return outputs;
}

QList<Output> CaptionPipeline::committedCore(const QString &text, double at, bool forceClose)
{
    QList<Output> outputs;
    if (!m_englishOnly) {
        appendUnits(outputs, m_segmenter.committed(text, at));
        return outputs;
    }
    const QStringList words = Segmenter::words(text);
    const QString rest = slice(words, std::min<qsizetype>(m_stabilizer.emitted(), words.size()), words.size());
    m_stabilizer.restartSegment();
    const QStringList restWords = Segmenter::words(rest);
    if (!restWords.isEmpty())
        m_englishTail = restWords.last();
    if (!rest.isEmpty())
        outputs.append(Output::english(rest));
    // A segment that stops mid-sentence leaves the raw line open for the next one.
    if (!forceClose && !m_englishTail.isEmpty() && !Segmenter::endsSentence(m_englishTail))
        return outputs;
    outputs.append(Output::closeEnglish());
    m_englishTail.clear();
    return outputs;
}

QList<Output> CaptionPipeline::tick(double at)
{
    QList<Output> outputs;
    if (!m_englishOnly)
        appendUnits(outputs, m_segmenter.tick(at));
    return outputs;
}

QList<Output> CaptionPipeline::flush()
{
    m_offset = 0;
    m_knownEnd = -1;
    m_previousWords.clear();
    m_previousSpeakers.reset();
    QList<Output> outputs;
    if (m_englishOnly) {
        m_stabilizer = WordStabilizer(1);
        m_englishTail.clear();
        outputs.append(Output::closeEnglish());
    } else {
        appendUnits(outputs, m_segmenter.flush());
        m_segmenter = Segmenter();
    }
    return outputs;
}

QString CaptionPipeline::pendingEnglish(const QString &text) const
{
    const QStringList words = clean(Segmenter::words(text), std::nullopt).words;
    const QString rest = slice(words, doneWords(), words.size());
    if (m_englishOnly)
        return rest;
    const QString &carry = m_segmenter.carry();
    if (carry.isEmpty())
        return rest;
    if (rest.isEmpty())
        return carry;
    return Segmenter::needsSpace(Graphemes::last(carry), Graphemes::first(rest)) ? carry + u' ' + rest : carry + rest;
}
