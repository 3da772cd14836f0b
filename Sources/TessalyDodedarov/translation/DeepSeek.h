#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Everything the system knows about DeepSeek's chat-completions wire format: the request body of
// every kind of call with the caption prompts, the last rewrite of a body before it is sent, and
// the readers of what comes back (one streamed line at a time, and the finished two-line answers).
// Pure functions; the only state is the traditional-script switch. Sending is DeepSeekTransport's.
class DeepSeek final {
public:
    DeepSeek() = delete;

    // One earlier turn of the live conversation, sent as history.
    struct Pair {
        QString english; // the source text, whatever its language
        QString chinese; // the translation shown for it
        QString alt;     // the English line of a source neither English nor Chinese, else empty
        bool operator==(const Pair &) const = default;
    };

    // The one error of every model call: a message shown to the user as it is, and whether the
    // user must act (a rejected key, an empty balance) before any further request can succeed.
    struct Failure {
        QString message;
        bool fatal = false;
        bool operator==(const Failure &) const = default;
    };

    // What one streamed line means.
    struct Chunk {
        enum class Kind { text, done, skip };
        Kind kind = Kind::skip;
        QString text; // non-empty for Kind::text only

        static Chunk delta(const QString &text) { return {Kind::text, text}; }
        static Chunk done() { return {Kind::done, {}}; }
        static Chunk skip() { return {Kind::skip, {}}; }
        bool operator==(const Chunk &) const = default;
    };

    // Token counts carried by a streamed line.
    struct Usage {
        int prompt = 0;
        int completion = 0;
        int cached = 0;
        bool operator==(const Usage &) const = default;
    };

    // The "校对" line at the head of a growing Chinese-to-English answer.
    struct CorrectionHead {
        QString corrected;
        int consumed = 0; // user-perceived characters up to and including the line feed
        qsizetype end = 0; // the same position as a QString index
        bool operator==(const CorrectionHead &) const = default;
    };

    struct CorrectionSplit {
        std::optional<QString> corrected;
        QString translation;
        bool operator==(const CorrectionSplit &) const = default;
    };

    struct AlternateSplit {
        QString main;
        std::optional<QString> alt;
        bool operator==(const AlternateSplit &) const = default;
    };

    // The model id every request names.
    static QString model();

    // The caption system prompt of one direction. The to-Chinese one asks for traditional
    // characters when `traditional` (the caller's caption setting, read when it builds the
    // body, so a body keeps the script that was chosen when it was made); the to-English one
    // ignores it.
    static QString captionPrompt(bool toEnglish, bool traditional = false);

    static QByteArray body(const QString &english, const QList<Pair> &context,
                           const QString &memory, const QString &hints, bool toEnglish,
                           bool traditional = false);
    static QByteArray backfillBody(const QString &english, const QStringList &before,
                                   const QString &memory, bool toEnglish, bool traditional = false);
    static QByteArray englishBody(const QString &text, const QStringList &before);
    static QByteArray correctionBody(const QString &text, const QStringList &before,
                                     const QString &memory);
    static QByteArray researchBody(const QString &system, const QString &user, bool webSearch);
    // Each message object is copied into the request unchanged, after the system message.
    static QByteArray chatBody(const QString &system, const QList<QJsonObject> &messages,
                               bool webSearch);
    static QByteArray agentBody(const QString &system, const QString &user, int maxTokens);

    // The body as it goes on the wire: model id, thinking off, and the learned parameter form.
    static QByteArray prepared(const QByteArray &body, bool includeUsage, bool compat);

    static Chunk parse(QStringView line);
    static std::optional<Usage> usage(QStringView line);

    static std::optional<CorrectionHead> correctionHead(const QString &text);
    static CorrectionSplit splitCorrection(const QString &text);
    static AlternateSplit splitAlternate(const QString &text);
    static QString cleanAlternate(const QString &text);

private:
    // The request object every builder shares, serialised; `extra` adds its own fields.
    static QByteArray serialize(const QJsonArray &messages, double temperature, int maxTokens,
                                const QJsonObject &extra);
};
