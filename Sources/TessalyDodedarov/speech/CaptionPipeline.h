#pragma once

#include "speech/Segmenter.h"
#include "speech/SpeechLanguage.h"
#include "speech/WordStabilizer.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Turns the recogniser's running transcript into caption events for the meeting model, which
// owns one pipeline per meeting and applies the outputs of each call in order. Speech in the
// caption's own language (`rawLanguage`) passes through word by word as it settles; everything
// else is cut into units for translation. The pipeline switches between the two by itself when
// the language changes, and closes the open text when the speaker changes. Times are the
// caller's monotonic seconds.
class CaptionPipeline final {
public:
    struct Output {
        enum class Kind { translate, english, closeEnglish, turn };

        Kind kind;
        QString text;  // for translate and english

        static Output translate(const QString &unit) { return {Kind::translate, unit}; }
        static Output english(const QString &words) { return {Kind::english, words}; }
        static Output closeEnglish() { return {Kind::closeEnglish, {}}; }
        static Output turn() { return {Kind::turn, {}}; }

        bool operator==(const Output &) const = default;
    };

    // One label per word of `Segmenter::words(text)`; an absent label is an unknown speaker.
    using SpeakerLabels = QList<std::optional<QString>>;

    explicit CaptionPipeline(std::optional<SpeechLanguage> rawLanguage);

    QList<Output> partial(const QString &text, const std::optional<SpeakerLabels> &speakers, double at);
    QList<Output> committed(const QString &text, double at);
    QList<Output> tick(double at);
    QList<Output> flush();
    // The latest partial's text not yet handed on, with the segmenter's carry in front.
    QString pendingEnglish(const QString &text) const;

    bool englishOnly() const { return m_englishOnly; }
    SpeechLanguage language() const { return m_language; }
    std::optional<SpeechLanguage> rawLanguage() const { return m_rawLanguage; }
    const Segmenter &segmenter() const { return m_segmenter; }
    const WordStabilizer &stabilizer() const { return m_stabilizer; }
    int offset() const { return m_offset; }
    const std::optional<QString> &lastSpeaker() const { return m_lastSpeaker; }
    bool diarizing() const { return m_diarizing; }
    std::optional<int> unconfirmedTurn() const { return m_unconfirmedTurn; }

private:
    struct Cleaned {
        QStringList words;
        std::optional<SpeakerLabels> labels;
    };
    struct Split {
        QList<Output> outputs;
        int hold = 0;
    };
    struct Run {
        std::optional<SpeechLanguage> language;
        int count = 0;
    };

    static Cleaned clean(const QStringList &words, const std::optional<SpeakerLabels> &speakers);
    static Run tailRun(const QStringList &words, int from);
    Split splitLanguage(const QStringList &words, bool final, double at);
    QList<Output> splitTurns(const QStringList &words, const SpeakerLabels &speakers, bool requireStable, double at);
    QList<Output> partialCore(const QString &text, double at);
    QList<Output> committedCore(const QString &text, double at, bool forceClose);
    int doneWords() const;

    bool m_englishOnly;
    Segmenter m_segmenter;
    WordStabilizer m_stabilizer{1};
    int m_offset = 0;
    QStringList m_previousWords;
    std::optional<SpeakerLabels> m_previousSpeakers;
    std::optional<QString> m_lastSpeaker;
    double m_unknownWait = 2.0;
    bool m_diarizing = false;
    int m_knownEnd = 0;
    double m_knownEndTime = 0;
    std::optional<int> m_unconfirmedTurn;
    QString m_englishTail;
    bool m_autoRaw = true;
    std::optional<SpeechLanguage> m_rawLanguage;
    SpeechLanguage m_language = SpeechLanguage::english;
};
