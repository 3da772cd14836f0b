#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// The Markdown of a chat answer, inline marks only: strong, emphasis, code spans and web or
// mail links. Block marks, raw HTML and entities are ordinary characters, and every blank and
// line break is kept, so an answer reads as it was written apart from the marks that took
// effect. Answers come from a remote service: nothing in them becomes markup except these
// marks, and a link only for http, https and mailto. Pure; it never fails.
class InlineMarkdown final {
public:
    InlineMarkdown() = delete;

    // One stretch of a line in a single style.
    struct Span {
        QString text;
        bool strong = false;
        bool emphasis = false;
        bool code = false;
        QString link; // empty, or an http, https or mailto address

        bool operator==(const Span &) const = default;
    };

    // The styled stretches of one line (no line break in it); marks never cross lines.
    static QList<Span> spans(QStringView line);

    // The whole text as an HTML fragment: every character escaped, line breaks as <br>,
    // blanks kept by the pre-wrap white-space rule.
    static QString toHtml(const QString &text);
};
