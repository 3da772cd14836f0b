#include "translation/Translator.h"

#include "common/Clock.h"
#include "platform/Keychain.h"
#include "speech/Segmenter.h"
#include "translation/Glossary.h"

#include <QPointer>
#include <QTimer>

namespace {

const QString kMissingKey = QStringLiteral("请先在设置里填写 DeepSeek 密钥。");

// Letters and numbers only, lower-cased: two lines that differ only in case, spacing or
// punctuation say the same thing.
QString lettersAndDigits(const QString &text)
{
    QString out;
    for (const QString &c : Glossary::characters(text.toLower())) {
        const char32_t first = c.toUcs4().value(0);
        if (QChar::isLetter(first) || QChar::isNumber(first))
            out.append(c);
    }
    return out;
}

QString withoutLeadingWhitespace(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    return text.mid(i);
}

} // namespace

// The state of one live request, shared by every streamed piece and by the one retry.
struct Translator::LiveRun {
    QString english;
    int line = 0;
    QString key;
    int generation = 0;
    double spokenAt = 0;
    SpeechLanguage language;
    QByteArray body;
    double start = 0;

    QString output;                   // the visible translation so far
    QString source;                   // english, or the accepted corrected Chinese
    std::optional<QString> head;      // a "校对：" line still being received
    std::optional<QString> alternate; // everything after the first line break of a to-Chinese answer
    int attempt = 0;
    bool cancelled = false;
};

Translator::Translator(Streamer streamer, QObject *parent)
    : QObject(parent), streamer(std::move(streamer)), clock([] { return Clock::uptime(); })
{
}

Translator::~Translator()
{
    if (m_live)
        m_live->cancelled = true;
    m_task.cancel();
}

QString Translator::otherLanguageFormat()
{
    return QStringLiteral("【格式】这一段不是英语：输出两行，第一行中文译文，第二行以“EN: ”开头的英文译文。");
}

void Translator::pump()
{
    if (m_running || queue.isEmpty())
        return;
    // A keyring that has not answered yet is not a missing key: the speech keeps its place in
    // the queue until the answer is in. Asking get() meanwhile would only block again.
    if (Keychain::waiting(Keychain::deepSeekAccount)) {
        retryWhenKeyringAnswers();
        return;
    }
    // Answered from the keychain's cache after the first read; that read blocks briefly on the
    // Secret Service but runs no event loop, so nothing here can change meanwhile.
    const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
    if (!key || key->isEmpty()) {
        if (Keychain::waiting(Keychain::deepSeekAccount)) {
            retryWhenKeyringAnswers();
            return;
        }
        abandonQueue();
        handlers.fatal(kMissingKey);
        return;
    }
    m_running = true;

    // A batch is the first unit and every following one of the same turn and language.
    const QueueEntry &first = queue.front();
    const SpeechLanguage language = first.language;
    const bool newTurn = first.newTurn;
    QStringList texts{first.text};
    double spokenAt = first.spokenAt;
    qsizetype count = 1;
    while (count < queue.size() && !queue[count].newTurn && queue[count].language == language) {
        texts.append(queue[count].text);
        spokenAt = std::min(spokenAt, queue[count].spokenAt);
        ++count;
    }
    queue.remove(0, count);
    const QString text = Segmenter::join(texts);

    const int generation = m_generation;
    int line = 0;
    if (!newTurn && openLine && openLine->language == language && clock() - openLine->at < 8.0) {
        line = openLine->id;
        handlers.continueLine(line, text);
    } else {
        line = handlers.begin(text, newTurn);
    }
    if (generation != m_generation)
        return;
    openLine.reset();
    handlers.language(line, language);
    if (generation != m_generation)
        return;

    // Like a task that is scheduled, not run inline: the caller's handler work finishes first.
    QTimer::singleShot(0, this, [this, text, line, key = *key, generation, spokenAt, language] {
        if (generation == m_generation)
            run(text, line, key, generation, spokenAt, language);
    });
}

void Translator::retryWhenKeyringAnswers()
{
    // The keyring tells no one when it answers; a short timer asks the cache again.
    if (m_keyRetryArmed)
        return;
    m_keyRetryArmed = true;
    QTimer::singleShot(keyRetryMs, this, [this] {
        m_keyRetryArmed = false;
        pump();
        pumpBackfill();
    });
}

void Translator::abandonQueue()
{
    // Units that can no longer be translated still become lines, so the captions and the
    // record keep what was said.
    const QList<QueueEntry> dropped = std::exchange(queue, {});
    openLine.reset();
    const int generation = m_generation;
    for (const QueueEntry &entry : dropped) {
        const int line = handlers.begin(entry.text, entry.newTurn);
        if (generation != m_generation)
            return;
        handlers.language(line, entry.language);
        handlers.finish(line, false);
        if (generation != m_generation)
            return;
    }
}

void Translator::reset()
{
    ++m_generation;
    if (m_live)
        m_live->cancelled = true;
    m_live.reset();
    m_task.cancel();
    m_task = {};
    queue.clear();
    m_context.clear();
    m_running = false;
    m_backfillItems.clear();
    m_backfillInFlight.clear();
    openLine.reset();
}

QStringList Translator::drainQueue()
{
    QStringList texts;
    for (const QueueEntry &entry : std::as_const(queue))
        texts.append(entry.text);
    queue.clear();
    return texts;
}

QString Translator::queuedText() const
{
    QStringList texts;
    for (const QueueEntry &entry : queue)
        texts.append(entry.text);
    return Segmenter::join(texts);
}

void Translator::run(const QString &english, int line, const QString &key, int generation,
                     double spokenAt, SpeechLanguage language)
{
    auto live = std::make_shared<LiveRun>();
    live->english = english;
    live->line = line;
    live->key = key;
    live->generation = generation;
    live->spokenAt = spokenAt;
    live->language = language;
    live->start = clock();
    live->source = english;
    if (language == SpeechLanguage::chinese)
        live->head = QString();

    // Chinese speech sees only Chinese-source history, other speech only the rest.
    const bool toEnglish = language == SpeechLanguage::chinese;
    QList<DeepSeek::Pair> history;
    for (const DeepSeek::Pair &pair : std::as_const(m_context))
        if ((SpeechLanguage(pair.english) == SpeechLanguage::chinese) == toEnglish)
            history.append(pair);

    const QString memoryText = stableMemory();
    QString hints = sentenceHints(english);
    if (language == SpeechLanguage::other)
        hints += QStringLiteral("\n\n") + otherLanguageFormat();
    live->body = DeepSeek::body(english, history, memoryText, hints, toEnglish, traditional());

    m_live = live;
    sendLive(live);
}

void Translator::sendLive(const std::shared_ptr<LiveRun> &live)
{
    QPointer<Translator> self(this);
    std::weak_ptr<LiveRun> weak = live;
    m_task = streamer(
        live->body, live->key,
        [self, weak](const QString &piece) {
            const std::shared_ptr<LiveRun> run = weak.lock();
            if (self && run)
                self->livePiece(*run, piece);
        },
        [self, live](const DeepSeekTransport::Outcome &outcome) {
            if (self)
                self->liveEnded(live, outcome);
        });
}

void Translator::livePiece(LiveRun &live, const QString &received)
{
    if (live.generation != m_generation)
        return;
    QString piece = received;

    if (live.head) {
        live.head->append(piece);
        if (const std::optional<DeepSeek::CorrectionHead> head = DeepSeek::correctionHead(*live.head)) {
            const QString buffer = *std::exchange(live.head, std::nullopt);
            piece = buffer.mid(head->end);
            if (plausibleCorrection(head->corrected, live.english)) {
                live.source = head->corrected;
                handlers.corrected(live.line, head->corrected);
                if (live.generation != m_generation)
                    return;
            }
        } else if (mayBeCorrectionHead(*live.head)) {
            return; // nothing to show until the head line is complete or clearly absent
        } else {
            piece = *std::exchange(live.head, std::nullopt);
        }
    }

    if (live.alternate) {
        live.alternate->append(piece);
        return;
    }

    if (live.language != SpeechLanguage::chinese) {
        const qsizetype breakAt = piece.indexOf(u'\n');
        if (breakAt >= 0) {
            const QString before = piece.left(breakAt);
            const QString after = piece.mid(breakAt + 1);
            if (!live.output.isEmpty() || !before.trimmed().isEmpty()) {
                // The second line of a to-Chinese answer is the English line.
                live.alternate = after;
                piece = before;
            } else {
                piece = after;
            }
        }
    }

    piece.replace(u'\n', u' ');
    if (live.output.isEmpty()) {
        qsizetype spaces = 0;
        while (spaces < piece.size() && piece[spaces] == u' ')
            ++spaces;
        piece.remove(0, spaces);
    }
    if (piece.isEmpty())
        return;
    if (live.output.isEmpty()) {
        const double now = clock();
        handlers.latency(live.line, now - live.spokenAt, now - live.start);
        if (live.generation != m_generation)
            return;
    }
    live.output.append(piece);
    handlers.append(live.line, piece);
}

void Translator::liveEnded(const std::shared_ptr<LiveRun> &live,
                           const DeepSeekTransport::Outcome &outcome)
{
    // A late end of an older meeting's request reports nothing at all, not even a head that
    // was still held back.
    if (live->generation != m_generation || live != m_live)
        return;

    if (outcome.ok()) {
        if (live->head && !live->head->isEmpty() && live->output.isEmpty()) {
            // The answer ended inside the held text: a complete label line is the corrected
            // source even without its line feed; anything else is the translation.
            const QString held = *std::exchange(live->head, std::nullopt);
            const std::optional<DeepSeek::CorrectionHead> head =
                DeepSeek::correctionHead(held + u'\n');
            const DeepSeek::CorrectionSplit split = DeepSeek::splitCorrection(held);
            if (head) {
                if (plausibleCorrection(head->corrected, live->english)) {
                    live->source = head->corrected;
                    handlers.corrected(live->line, head->corrected);
                }
            } else if (!split.translation.isEmpty()) {
                const double now = clock();
                handlers.latency(live->line, now - live->spokenAt, now - live->start);
                live->output = split.translation;
                if (live->generation == m_generation)
                    handlers.append(live->line, split.translation);
            }
            if (live->generation != m_generation)
                return;
        }
        endLive(*live, std::nullopt);
        return;
    }

    if (outcome.kind == DeepSeekTransport::Outcome::Kind::failure && outcome.failure.fatal) {
        endLive(*live, outcome.failure.message);
        return;
    }
    const bool cancelled = live->cancelled || outcome.kind == DeepSeekTransport::Outcome::Kind::cancelled;
    if (live->output.isEmpty() && live->attempt < 1 && !cancelled) {
        live->attempt = 1;
        // The retry is a fresh answer: a half-received head or English line of the failed
        // attempt would otherwise be glued to the new one.
        live->head = live->language == SpeechLanguage::chinese ? std::optional<QString>(QString())
                                                                : std::nullopt;
        live->alternate.reset();
        sendLive(live);
        return;
    }
    endLive(*live, std::nullopt);
}

void Translator::endLive(LiveRun &live, const std::optional<QString> &fatalMessage)
{
    const int generation = live.generation;
    m_live.reset();
    m_task = {};

    if (!live.output.isEmpty()) {
        const QStringList words = Segmenter::words(live.source);
        if ((!words.isEmpty() && !Segmenter::endsSentence(words.last()))
            || Segmenter::isOpenEnding(live.source))
            openLine = OpenLine{live.line, live.language, clock()};
    }

    QString usedAlternate;
    if (live.alternate) {
        QString cleaned = DeepSeek::cleanAlternate(live.alternate->trimmed());
        cleaned.replace(u'\n', u' ');
        cleaned = Glossary::trimBlanks(cleaned);
        if (!cleaned.isEmpty() && usefulAlternate(cleaned, live.source)) {
            usedAlternate = cleaned;
            handlers.alternate(live.line, cleaned);
            if (generation != m_generation)
                return;
        }
    }

    handlers.finish(live.line, !live.output.isEmpty());
    if (generation != m_generation)
        return;

    if (!live.output.isEmpty()) {
        const bool cut = m_context.size() >= 20;
        m_context.append(DeepSeek::Pair{live.source, live.output, usedAlternate});
        if (cut)
            m_context.remove(0, m_context.size() - contextLimit);
    }
    m_running = false;

    if (fatalMessage) {
        m_backfillItems.clear();
        abandonQueue();
        if (generation != m_generation)
            return;
        handlers.fatal(*fatalMessage);
    } else {
        pump();
    }
}

bool Translator::plausibleCorrection(const QString &corrected, const QString &source)
{
    if (corrected.isEmpty() || corrected == source
        || SpeechLanguage(corrected) != SpeechLanguage::chinese)
        return false;
    const double ratio = double(Glossary::length(corrected)) / std::max(Glossary::length(source), 1);
    return ratio >= 0.6 && ratio <= 1.5;
}

bool Translator::mayBeCorrectionHead(const QString &text)
{
    const QString rest = withoutLeadingWhitespace(text);
    if (rest.isEmpty())
        return true;
    static const QString labels[] = {QStringLiteral("校对："), QStringLiteral("校对:")};
    for (const QString &label : labels) {
        if (rest.startsWith(label))
            return Glossary::length(rest) < 400;
        if (label.startsWith(rest))
            return true;
    }
    return false;
}

bool Translator::usefulAlternate(const QString &alternate, const QString &source)
{
    return lettersAndDigits(alternate) != lettersAndDigits(source);
}
