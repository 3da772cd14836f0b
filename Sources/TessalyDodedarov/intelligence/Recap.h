#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The running recap (前情提要): a short Chinese summary of the meeting so far that the model
// rewrites about once a minute. Here: choosing the new transcript for the request, the request
// itself, reading the reply into one recap text of bounded length, and splitting a recap text
// into the sections the recap view shows. Pure functions, any thread; the meeting model owns
// the text and decides when to ask.
class Recap final {
public:
    Recap() = delete;

    struct Line {
        QString source;
        QString translation;
    };

    struct Prompt {
        QString system;
        QString user;
    };

    struct Section {
        QString title; // empty for free text
        QStringList items;
        bool isList = false;
        bool operator==(const Section &) const = default;
    };

    // In characters; the reply may be longer, the recap never is.
    static constexpr qsizetype maxLength = 700;

    // `lines` in spoken order; the newest that fit `maxWords` (the newest always), oldest first.
    static QString material(const QList<Line> &lines, int maxWords);
    static Prompt prompt(const QString &previous, const QString &newText);
    static std::optional<QString> parse(const QString &reply);
    static QString compose(const QString &topic, const QStringList &speakers, const QStringList &points,
                           const QStringList &terms);
    static QString trimmed(const QString &text);
    static QList<Section> sections(const QString &text);
};
