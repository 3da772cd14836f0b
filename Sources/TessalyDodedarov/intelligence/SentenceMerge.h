#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Finds runs of caption lines that are halves of one spoken sentence (the segmenter cut it and
// each piece was translated alone), so the meeting model can have each run translated again as
// one sentence. It only groups; the model builds the items, keeps the cursor and sends the
// groups. Pure functions, any thread.
class SentenceMerge final {
public:
    SentenceMerge() = delete;

    // One caption line as the merge sees it.
    struct Item {
        QString text;
        bool translated = false; // has a translation of its own that can be merged
        bool finished = false;
        bool newTurn = false;
        int pieces = 1; // more than 1: already built from several streamed pieces
        bool operator==(const Item &) const = default;
    };

    // Item indices from `start` up to, not including, `end`.
    struct Group {
        qsizetype start = 0;
        qsizetype end = 0;
        bool operator==(const Group &) const = default;
    };

    struct Result {
        QList<Group> groups;
        qsizetype next = 0; // where the next call starts
        bool operator==(const Result &) const = default;
    };

    static bool endsSentence(QStringView text);
    static Result groups(const QList<Item> &items, qsizetype from, bool final);

    // A group closes once it holds more than this many lines or this many words.
    static constexpr qsizetype maxOpenItems = 5;
    static constexpr qsizetype maxWords = 90;
};
