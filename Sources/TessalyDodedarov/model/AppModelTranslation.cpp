// Streamed translations into caption lines: the translator's handlers that begin, fill, finish,
// continue and annotate lines, the batched flush of streamed pieces, and the live source text
// that has no line yet.
#include "model/AppModel.h"

#include "common/Clock.h"
#include "speech/Graphemes.h"
#include "speech/Segmenter.h"

#include <QMutexLocker>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

// The last `n` characters of a text, never splitting one.
QString lastCharacters(const QString &text, qsizetype n)
{
    if (text.size() <= n)
        return text;
    const QList<QStringView> characters = Graphemes::split(text);
    if (characters.size() <= n)
        return text;
    const QStringView from = characters.at(characters.size() - n);
    return text.sliced(from.data() - text.constData());
}

bool needsSpaceBetween(QStringView left, QStringView right)
{
    if (left.isEmpty() || right.isEmpty())
        return false;
    return Segmenter::needsSpace(Graphemes::last(left), Graphemes::first(right));
}

} // namespace

void AppModel::installTranslatorHandlers()
{
    // Each handler holds the model weakly: the translator may outlive a call into a model that
    // is being torn down.
    QPointer<AppModel> self(this);
    Translator::Handlers &h = m_translator->handlers;
    h.begin = [self](const QString &text, bool newTurn) { return self ? self->begin(text, newTurn) : 0; };
    h.append = [self](int id, const QString &piece) {
        if (self)
            self->append(id, piece);
    };
    h.finish = [self](int id, bool ok) {
        if (self)
            self->finish(id, ok);
    };
    h.corrected = [self](int id, const QString &text) {
        if (self)
            self->corrected(id, text);
    };
    h.backfillDone = [self](int id, const std::optional<QString> &translation) {
        if (self)
            self->backfillDone(id, translation);
    };
    h.fatal = [self](const QString &message) {
        if (self)
            self->fatal(message);
    };
    h.latency = [self](int id, double total, double translate) {
        if (self)
            self->latency(id, total, translate);
    };
    h.rechecked = [self](int id, const QString &sent, const std::optional<QString> &translation,
                         const QString &alt) {
        if (self)
            self->rechecked(id, sent, translation, alt);
    };
    h.merged = [self](const QList<int> &ids, const QString &sent, const QString &source,
                      const std::optional<QString> &translation, const QString &alt) {
        if (self)
            self->merged(ids, sent, source, translation, alt);
    };
    h.continueLine = [self](int id, const QString &text) {
        if (self)
            self->continueLine(id, text);
    };
    h.language = [self](int id, SpeechLanguage language) {
        if (self)
            self->language(id, language);
    };
    h.alternate = [self](int id, const QString &text) {
        if (self)
            self->alternate(id, text);
    };
    h.refixed = [self](int id, const QString &sent, const std::optional<QString> &translation,
                       const QString &alt) {
        if (self)
            self->refixed(id, sent, translation, alt);
    };
}

void AppModel::feedLayout(const QString &text)
{
    if (text.isEmpty())
        return;
    m_layout.lastCharacter = Graphemes::last(text).toString();
    m_layout.feed(text);
}

void AppModel::linesEdited()
{
    emit linesChanged();
}

SpeechLanguage AppModel::lineLanguage(const CaptionLine &line) const
{
    return line.language ? *line.language : SpeechLanguage(line.english);
}

int AppModel::begin(const QString &text, bool newTurn)
{
    const int id = int(m_lines.size());
    CaptionLine line;
    line.id = id;
    line.english = text;
    line.newTurn = newTurn && id > 0;
    line.time = m_platform.wallClock();
    m_lines.append(line);
    markFixed(id);
    linesEdited();
    // A new speaker starts a new row even at the first line; the flag itself never marks it.
    if (newTurn)
        feedLayout(QStringLiteral("\n"));
    else
        m_layout.separateUnits();
    publishRows();
    refreshLiveEnglish();
    return id;
}

void AppModel::append(int id, const QString &piece)
{
    if (id < 0 || id >= m_lines.size() || piece.isEmpty())
        return;
    QString text = piece;
    if (m_joinPending.remove(id)) {
        // The first piece of a continuation: it joins text already shown.
        const QString before = m_lines.at(id).chinese + m_meeting.pendingDeltas.value(id);
        if (needsSpaceBetween(before, text))
            text.prepend(u' ');
    }
    m_meeting.pendingDeltas[id] += text;
    scheduleDeltaFlush();
}

void AppModel::scheduleDeltaFlush()
{
    if (m_deltaFlushScheduled)
        return;
    m_deltaFlushScheduled = true;
    if (!m_deltaTimer) {
        m_deltaTimer = new QTimer(this);
        m_deltaTimer->setSingleShot(true);
        connect(m_deltaTimer, &QTimer::timeout, this, &AppModel::flushDeltas);
    }
    m_deltaTimer->start(int(m_platform.timings.deltaFlushDelay * 1000));
}

void AppModel::flushDeltas()
{
    m_deltaFlushScheduled = false;
    if (m_deltaTimer)
        m_deltaTimer->stop();
    if (m_meeting.pendingDeltas.isEmpty())
        return;
    // QMap iterates in ascending id order.
    const QMap<int, QString> pending = std::exchange(m_meeting.pendingDeltas, {});
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        if (it.key() < 0 || it.key() >= m_lines.size())
            continue;
        m_lines[it.key()].chinese += it.value();
        feedLayout(it.value());
    }
    linesEdited();
    publishRows();
}

void AppModel::finish(int id, bool success)
{
    if (id < 0 || id >= m_lines.size())
        return;
    flushDeltas();
    {
        CaptionLine &line = m_lines[id];
        line.finished = true;
        line.failed = !success;
    }
    if (success && lineLanguage(m_lines.at(id)) == SpeechLanguage::english) {
        const QString kept = withoutRepeatedLead(m_lines.at(id).chinese, id, m_lines.at(id).english);
        m_lines[id].chinese = kept;
    }
    const CaptionLine &line = m_lines.at(id);
    log(QStringLiteral("translated"), {{QStringLiteral("id"), QString::number(id)},
                                       {QStringLiteral("pieces"), QString::number(line.pieces)},
                                       {QStringLiteral("success"), success ? QStringLiteral("1") : QStringLiteral("0")},
                                       {QStringLiteral("text"), lastCharacters(line.english, 300)},
                                       {QStringLiteral("zh"), lastCharacters(line.chinese, 300)}});
    startReasks(id, success);
    // Without a translation the source itself stands in the live rows.
    if (!success)
        feedLayout(m_lines.at(id).english);
    scheduleSave();
    m_layout.placePendingWord();
    flushEnglishBacklog();
    linesEdited();
    publishRows();
    if (success) {
        checkNumbers(id);
        const CaptionLine &done = m_lines.at(id);
        const SpeechLanguage language = lineLanguage(done);
        if (done.alt.isEmpty() && language == SpeechLanguage::other)
            m_translator->requestEnglish(Translator::BackfillItem(id, done.english, contextBefore(id, false)));
    }
    maybeMergeSentences(false);
}

void AppModel::flushEnglishBacklog()
{
    if (m_meeting.englishBacklog.isEmpty())
        return;
    feedLayout(m_meeting.englishBacklog);
    m_layout.placePendingWord();
    m_meeting.englishBacklog.clear();
}

void AppModel::continueLine(int id, const QString &text)
{
    if (id < 0 || id >= m_lines.size())
        return;
    CaptionLine &line = m_lines[id];
    if (needsSpaceBetween(line.english, text))
        line.english += u' ';
    line.english += text;
    markFixed(id);
    m_lines[id].finished = false;
    m_lines[id].pieces += 1;
    m_joinPending.insert(id);
    m_altJoinPending.insert(id);
    linesEdited();
    refreshLiveEnglish();
}

void AppModel::corrected(int id, const QString &text)
{
    if (id < 0 || id >= m_lines.size())
        return;
    m_lines[id].english = text;
    linesEdited();
    scheduleSave();
}

void AppModel::backfillDone(int id, const std::optional<QString> &translation)
{
    if (id < 0 || id >= m_lines.size())
        return;
    if (m_backfillPending.contains(id)) {
        QSet<int> pending = m_backfillPending;
        pending.remove(id);
        setBackfillPending(pending);
    }
    // A late translation fills a gap; it never replaces one already shown.
    if (translation && !translation->isEmpty() && m_lines.at(id).chinese.isEmpty()) {
        m_lines[id].chinese = *translation;
        m_lines[id].failed = false;
        linesEdited();
        scheduleSave();
    }
}

void AppModel::language(int id, SpeechLanguage language)
{
    if (id < 0 || id >= m_lines.size())
        return;
    m_lines[id].language = language;
    linesEdited();
}

void AppModel::alternate(int id, const QString &text)
{
    if (id < 0 || id >= m_lines.size())
        return;
    const bool joining = m_altJoinPending.remove(id);
    CaptionLine &line = m_lines[id];
    line.alt = joining && !line.alt.isEmpty() ? joinEnglish(line.alt, text) : text;
    linesEdited();
    scheduleSave();
}

QString AppModel::joinEnglish(const QString &a, const QString &b)
{
    static const QSet<QString> leads {
        QStringLiteral("The"), QStringLiteral("A"), QStringLiteral("An"), QStringLiteral("And"),
        QStringLiteral("But"), QStringLiteral("Or"), QStringLiteral("So"), QStringLiteral("On"),
        QStringLiteral("In"), QStringLiteral("At"), QStringLiteral("Of"), QStringLiteral("To"),
        QStringLiteral("For"), QStringLiteral("With"), QStringLiteral("From"), QStringLiteral("By"),
        QStringLiteral("As"), QStringLiteral("That"), QStringLiteral("Which"), QStringLiteral("Who"),
        QStringLiteral("Then"), QStringLiteral("While"), QStringLiteral("When"), QStringLiteral("After"),
        QStringLiteral("Before")};
    auto isBlank = [](QChar c) { return c == u' ' || c == u'\t'; };

    QString tail = b;
    qsizetype end = a.size();
    while (end > 0 && isBlank(a.at(end - 1)))
        --end;
    qsizetype start = 0;
    while (start < end && isBlank(a.at(start)))
        ++start;
    if (end > start) {
        const QChar last = a.at(end - 1);
        if (last != u'.' && last != u'?' && last != u'!') {
            // The continuation's capital opened a sentence of its own; mid-sentence it is lower.
            qsizetype from = 0;
            while (from < tail.size() && isBlank(tail.at(from)))
                ++from;
            qsizetype to = from;
            while (to < tail.size() && !isBlank(tail.at(to)))
                ++to;
            if (to > from && leads.contains(tail.mid(from, to - from)))
                tail[from] = tail.at(from).toLower();
        }
    }
    if (needsSpaceBetween(a, tail))
        return a + u' ' + tail;
    return a + tail;
}

void AppModel::refreshLiveEnglish()
{
    QString live;
    if (m_pipeline->englishOnly()) {
        live = m_pipeline->pendingEnglish(m_meeting.lastPartialText);
    } else if (m_mode == DisplayMode::both) {
        const QString queued = m_translator->queuedText();
        const QString pending = m_pipeline->pendingEnglish(m_meeting.lastPartialText);
        live = needsSpaceBetween(queued, pending) ? queued + u' ' + pending : queued + pending;
    }
    setLiveInline(m_pipeline->englishOnly());
    if (live != m_liveEnglish) {
        setLiveEnglish(live);
        publishRows();
    }
}

void AppModel::setLiveEnglish(const QString &text)
{
    publishChanged(m_liveEnglish, text, &AppModel::liveEnglishChanged);
}

void AppModel::setLiveInline(bool on)
{
    publishChanged(m_liveInline, on, &AppModel::liveInlineChanged);
}

void AppModel::fatal(const QString &message)
{
    setBackfillPending({});
    // English captions need no translation: nothing to report or stop.
    if (m_mode == DisplayMode::english)
        return;
    if (!m_running)
        setNotice(message);
    else
        m_engine->stop(message);
}

void AppModel::latency(int id, double total, double translate)
{
    const double now = Clock::uptime();
    std::optional<double> speechEnd;
    {
        QMutexLocker lock(&m_engine->timelineLock());
        speechEnd = m_engine->timeline().stopped(now - total);
    }
    std::optional<double> recognition;
    if (speechEnd)
        recognition = (now - total) - *speechEnd;
    m_meeting.stats.addLatency(total, translate, recognition);
    // A line's own figure runs from the end of the speech to its first shown text, the same
    // span as the statistics' end-to-end figure; without a measured stop there is none. The
    // first answer of a line sets it; a continued line keeps it.
    if (recognition && id >= 0 && id < m_lines.size() && !m_meeting.lineLatency.contains(id))
        m_meeting.lineLatency.insert(id, total + *recognition);
}
