// Background jobs of the translator: work on lines already shown. Each job collects its whole
// answer before reporting; at most `backfillWorkers` run at once, oldest first.
#include "translation/Translator.h"

#include "platform/Keychain.h"
#include "translation/Glossary.h"

#include <QPointer>
#include <QTimer>

struct Translator::BackfillRun {
    BackfillItem item;
    QString key;
    int generation = 0;
    QByteArray body;
    QString answer;
    int attempt = 0;
};

void Translator::correct(BackfillItem item)
{
    item.correctOnly = true;
    enqueueBackfill(std::move(item));
}

void Translator::requestEnglish(BackfillItem item)
{
    item.englishOnly = true;
    enqueueBackfill(std::move(item));
}

void Translator::recheck(BackfillItem item, const QString &hint)
{
    item.hint = hint;
    enqueueBackfill(std::move(item));
}

void Translator::refix(BackfillItem item, const QString &hint)
{
    item.hint = hint;
    item.refix = true;
    enqueueBackfill(std::move(item));
}

void Translator::merge(const QList<int> &ids, const QString &text, const QStringList &before)
{
    if (ids.isEmpty())
        return;
    BackfillItem item(ids.front(), text, before);
    item.mergeIds = ids;
    enqueueBackfill(std::move(item));
}

void Translator::enqueueBackfill(BackfillItem item)
{
    // A line whose job is under way is not asked about again; a waiting one may be.
    if (m_backfillInFlight.contains(item.id))
        return;
    m_backfillItems.prepend(std::move(item));
    pumpBackfill();
}

void Translator::pumpBackfill()
{
    if (m_backfillInFlight.size() >= backfillWorkers)
        return;
    while (!m_backfillItems.isEmpty()) {
        if (Keychain::waiting(Keychain::deepSeekAccount)) {
            retryWhenKeyringAnswers();
            return;
        }
        const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
        if (m_backfillItems.isEmpty() || m_backfillInFlight.size() >= backfillWorkers)
            return; // changed while the keyring was read
        if (!key || key->isEmpty()) {
            if (Keychain::waiting(Keychain::deepSeekAccount)) {
                retryWhenKeyringAnswers();
                return;
            }
            m_backfillItems.clear();
            return;
        }
        const BackfillItem item = m_backfillItems.takeLast();
        m_backfillInFlight.insert(item.id);
        const int generation = m_generation;
        QTimer::singleShot(0, this, [this, item, key = *key, generation] {
            if (generation == m_generation)
                runBackfill(item, key, generation);
        });
        if (m_backfillInFlight.size() >= backfillWorkers)
            return;
    }
}

void Translator::runBackfill(const BackfillItem &item, const QString &key, int generation)
{
    auto job = std::make_shared<BackfillRun>(BackfillRun{item, key, generation, {}, {}, 0});

    const SpeechLanguage language(item.english);
    if (item.englishOnly) {
        job->body = DeepSeek::englishBody(item.english, item.before);
    } else if (item.correctOnly) {
        job->body = DeepSeek::correctionBody(item.english, item.before, memory(item.english));
    } else {
        QString m = memory(item.english) + item.hint.value_or(QString());
        if (language == SpeechLanguage::other)
            m += QStringLiteral("\n\n") + otherLanguageFormat();
        job->body = DeepSeek::backfillBody(item.english, item.before, m,
                                           language == SpeechLanguage::chinese, traditional());
    }
    sendBackfill(job);
}

void Translator::sendBackfill(const std::shared_ptr<BackfillRun> &job)
{
    QPointer<Translator> self(this);
    std::weak_ptr<BackfillRun> weak = job;
    streamer(
        job->body, job->key,
        [weak](const QString &piece) {
            if (const std::shared_ptr<BackfillRun> run = weak.lock())
                run->answer.append(piece);
        },
        [self, job](const DeepSeekTransport::Outcome &outcome) {
            if (self)
                self->backfillEnded(job, outcome);
        });
}

void Translator::backfillEnded(const std::shared_ptr<BackfillRun> &job,
                               const DeepSeekTransport::Outcome &outcome)
{
    // An older meeting's job ends silently; its id went with the reset.
    if (job->generation != m_generation)
        return;

    using Kind = DeepSeekTransport::Outcome::Kind;
    const bool fatal = outcome.kind == Kind::failure && outcome.failure.fatal;
    const bool retryable = outcome.ok() ? job->answer.isEmpty()
                                        : !fatal && outcome.kind != Kind::cancelled;
    if (retryable && job->attempt < 1) {
        job->attempt = 1;
        job->answer.clear();
        sendBackfill(job);
        return;
    }

    m_backfillInFlight.remove(job->item.id);
    const int generation = m_generation;
    reportBackfill(job->item, job->answer.trimmed());
    if (generation != m_generation)
        return;

    if (fatal) {
        m_backfillItems.clear();
        handlers.fatal(outcome.failure.message);
    } else {
        pumpBackfill();
    }
}

void Translator::reportBackfill(const BackfillItem &item, const QString &answer)
{
    const SpeechLanguage language(item.english);

    if (item.englishOnly) {
        QString english = answer;
        english.replace(u'\n', u' ');
        english = Glossary::trimBlanks(english);
        if (!english.isEmpty() && usefulAlternate(english, item.english)
            && SpeechLanguage(english) == SpeechLanguage::english)
            handlers.alternate(item.id, english);
        return;
    }

    if (item.hint || item.mergeIds) {
        QString main = answer;
        QString alternate;
        if (language != SpeechLanguage::chinese && !item.correctOnly) {
            const DeepSeek::AlternateSplit split = DeepSeek::splitAlternate(answer);
            main = split.main;
            if (split.alt && !split.alt->isEmpty() && usefulAlternate(*split.alt, item.english))
                alternate = *split.alt;
        }

        QString source = item.english;
        std::optional<QString> translation;
        if (language == SpeechLanguage::chinese) {
            const DeepSeek::CorrectionSplit split = DeepSeek::splitCorrection(main);
            if (split.corrected && plausibleCorrection(*split.corrected, item.english))
                source = *split.corrected;
            if (!split.translation.isEmpty())
                translation = split.translation;
        } else if (!main.isEmpty()) {
            QString text = main;
            text.replace(u'\n', u' ');
            translation = Glossary::trimBlanks(text);
        }

        if (item.refix)
            handlers.refixed(item.id, item.english, translation, alternate);
        else if (item.mergeIds)
            handlers.merged(*item.mergeIds, item.english, source, translation, alternate);
        else
            handlers.rechecked(item.id, item.english, translation, alternate);
        return;
    }

    if (item.correctOnly) {
        QString corrected = answer;
        corrected.replace(u'\n', u' ');
        corrected = Glossary::trimBlanks(corrected);
        if (plausibleCorrection(corrected, item.english))
            handlers.corrected(item.id, corrected);
    }
}
