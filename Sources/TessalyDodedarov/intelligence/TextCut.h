#pragma once

#include <QString>
#include <QStringView>

// Cuts of text by user-perceived characters (grapheme clusters), never inside a surrogate pair
// or a combining sequence. Used where model replies, pages and records are capped. Each cut
// walks only as far as it needs, so a short cut of a long text stays cheap.
class TextCut final {
public:
    TextCut() = delete;

    // The first `count` characters (the whole text when it is shorter).
    static QString left(QStringView text, qsizetype count);
    // The last `count` characters (the whole text when it is shorter).
    static QString right(QStringView text, qsizetype count);
    // Whether the text holds more than `count` characters.
    static bool longerThan(QStringView text, qsizetype count);
    static qsizetype count(QStringView text);
};
