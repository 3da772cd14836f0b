#include "intelligence/SentenceMerge.h"

#include "speech/Graphemes.h"
#include "speech/Segmenter.h"
#include "speech/SpeechLanguage.h"

namespace {

bool isOneOf(QStringView character, QStringView set)
{
    return character.size() == 1 && set.contains(character[0]);
}

}

bool SentenceMerge::endsSentence(QStringView text)
{
    text = Graphemes::trimmed(text, [](QStringView c) { return c == u" " || c == u"\t"; });
    while (!text.isEmpty()) {
        const QStringView last = Graphemes::last(text);
        if (!isOneOf(last, u"\"'”’)）」』"))
            break;
        text.chop(last.size());
    }
    if (text.isEmpty())
        return false;
    return isOneOf(Graphemes::last(text), u".?!。？！…");
}

SentenceMerge::Result SentenceMerge::groups(const QList<Item> &items, qsizetype from, bool final)
{
    Result result;
    const qsizetype n = items.size();
    qsizetype begin = std::max<qsizetype>(0, from);
    qsizetype words = 0;
    // The open group's language; none while the group is empty.
    bool hasLanguage = false;
    SpeechLanguage language;
    auto close = [&](qsizetype start, qsizetype end) {
        // A lone line is worth translating again only when it was streamed in pieces.
        const qsizetype count = end - start;
        if (count >= 2 || (count == 1 && items[start].pieces > 1))
            result.groups.append({start, end});
    };
    auto restart = [&](qsizetype at) {
        begin = at;
        words = 0;
        hasLanguage = false;
    };
    for (qsizetype i = begin;; ++i) {
        if (i >= n) {
            if (!final) {
                result.next = begin;
            } else {
                close(begin, n);
                result.next = n;
            }
            return result;
        }
        const Item &item = items[i];
        if (!item.finished) {
            result.next = begin;
            return result;
        }
        if (!item.translated) {
            close(begin, i);
            restart(i + 1);
            continue;
        }
        const SpeechLanguage itemLanguage(item.text);
        if (begin < i && (item.newTurn || !hasLanguage || language != itemLanguage)) {
            close(begin, i);
            restart(i);
        }
        words += Segmenter::words(item.text).size();
        language = itemLanguage;
        hasLanguage = true;
        const bool stayOpen = !endsSentence(item.text) && (i + 1 - begin) <= maxOpenItems && words < maxWords;
        if (!stayOpen) {
            close(begin, i + 1);
            restart(i + 1);
        }
    }
}
