#pragma once

#include "model/CaptionLine.h"
#include "model/DisplayMode.h"
#include "captions/CaptionParts.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Turns the meeting's caption lines into the paragraphs of the caption history: one paragraph
// per line, its texts in slots chosen by the display mode and the language that was spoken,
// then reduced to the caption parts the user chose. Pure functions; the history view calls
// them on every redraw, in the order allParagraphs, filter, chineseOnlyWhenOlder, markLatest.
class HistoryText final {
public:
    HistoryText() = delete;

    struct Paragraph {
        bool turn = false;
        QString primary;
        bool primaryDim = false; // waiting for a late translation
        QString live;            // still being spoken, after the primary
        QString secondary;
        QString original;        // the source of speech in a third language
        bool latest = false;
        QStringList highlights;
        bool older = false;      // secondary and original dropped for age

        bool operator==(const Paragraph &) const = default;
    };

    static const QString ellipsis;

    // One line's paragraph, without live text.
    static Paragraph lineParagraph(const CaptionLine &line, DisplayMode mode, const QSet<int> &pending);
    // Adds the live text to the paragraphs made from `lines`: it changes only the last one or
    // appends one, so a caller may pass just the last line's paragraph.
    static void addLive(QList<Paragraph> &paragraphs, const QList<CaptionLine> &lines, DisplayMode mode,
                        const QString &live, bool liveInline);
    static QList<Paragraph> allParagraphs(const QList<CaptionLine> &lines, DisplayMode mode,
                                          const QSet<int> &pending, const QString &live, bool liveInline);
    static std::optional<Paragraph> filter(const Paragraph &paragraph, const CaptionParts &parts);
    static QList<Paragraph> chineseOnlyWhenOlder(QList<Paragraph> paragraphs);
    static QList<Paragraph> markLatest(QList<Paragraph> paragraphs);
};
