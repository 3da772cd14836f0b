#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Turns the batch transcription of a media file into subtitles: reads the recognised words,
// groups them into cues, reads the batch translation reply, and renders the bilingual SRT file
// and the plain-text transcript. It also cleans the key terms sent with the upload. Pure
// functions without state; callable from any thread. The media importer is the only caller.
class Subtitles final {
public:
    Subtitles() = delete;

    struct Word {
        QString text; // trimmed of Zs spaces and tabs; never empty
        double start = 0;
        double end = 0; // never before start
        std::optional<QString> speaker;

        bool operator==(const Word &other) const;
    };

    struct Cue {
        double start = 0;
        double end = 0;
        QString text;
        std::optional<QString> speaker;
        QString translation;

        bool operator==(const Cue &other) const;
    };

    struct Transcription {
        QString language;
        QList<Word> words;
    };

    // At most 100 terms the recogniser accepts: none empty, none longer than 50 characters or 5
    // blank-separated words, none repeated in another letter case.
    static QStringList keyterms(const QStringList &terms);
    // The words of a speech-to-text reply; none when the body is not the expected object.
    static std::optional<Transcription> parseWords(const QByteArray &body);
    static QList<Cue> cues(const QList<Word> &words, double maxDuration, int maxCharacters,
                           int maxChinese);
    // Exactly `count` translations from the model's {"t":[...]} reply, or none.
    static std::optional<QStringList> parseTranslations(const QString &reply, int count);

    static QString timestamp(double seconds); // "HH:MM:SS,mmm"
    static QString clock(double seconds);     // "HH:MM:SS"
    static QString srt(const QList<Cue> &cues, bool bilingual);
    static QString transcript(const QList<Cue> &cues, const QString &title);

private:
    // The join of a cue's words: a blank between two words unless either side is a blank, an
    // ideograph, kana or full-width punctuation.
    static void appendWord(QString &text, const QString &word);
};
