#include "intelligence/LatinWords.h"

#include "speech/Graphemes.h"

namespace {

bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

}

QStringList LatinWords::in(QStringView text)
{
    QStringList words;
    qsizetype start = -1;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i <= n; ++i) {
        // A letter with a combining mark after it is another character than the letter.
        const bool letter = i < n && isAsciiLetter(text[i].unicode())
            && (i + 1 == n || text[i + 1].unicode() < 0x80 || Graphemes::first(text.sliced(i)).size() == 1);
        if (letter) {
            if (start < 0)
                start = i;
        } else if (start >= 0) {
            words.append(text.sliced(start, i - start).toString());
            start = -1;
        }
    }
    return words;
}
