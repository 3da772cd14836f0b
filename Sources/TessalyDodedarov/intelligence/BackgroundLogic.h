#pragma once

#include "intelligence/SessionBackground.h"

#include <QString>
#include <QUrl>

#include <optional>

// Rules for reading background material out of the user's notes and the pages they link to:
// the link of a note, the title and description of a video page, the visible text of any other
// page, the extraction prompt, and the reader of the model's answer. Pure functions, any thread.
struct BackgroundLogic final {
    BackgroundLogic() = delete;

    struct Video {
        QString title;
        QString description;
        bool operator==(const Video &) const = default;
    };

    // The first web link written in a note, without the sentence punctuation
    // that tends to stick to its end; none when the text holds no usable link.
    static std::optional<QUrl> link(const QString &text);

    // The same link exactly as it is written in the note.
    static std::optional<QString> linkText(const QString &text);

    // The JSON string literal that follows the first `marker` in `html`, unescaped; none when
    // the marker is missing or the literal does not read as a JSON string.
    static std::optional<QString> jsonString(const QString &marker, const QString &html);
    // A video page's title and description, read from the player data embedded in it.
    static std::optional<Video> youtube(const QString &html);
    // The visible text of a page: scripts, styles and tags gone, lines trimmed, at most 8000
    // characters. Linear in the page, which may be several megabytes.
    static QString pageText(const QString &html);
    // What the extraction request sends for a note: its own words and the page it links to.
    // `html` is the fetched page of the note's link (ignored when the note has none).
    static QString material(const QString &note, const QString &html);

    // The system message of the extraction request.
    static QString extractionPrompt();
    // The extraction answer; none when it cannot be read or yields nothing.
    static std::optional<SessionBackground> parse(const QString &reply);
};
