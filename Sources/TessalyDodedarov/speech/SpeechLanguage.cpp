#include "speech/SpeechLanguage.h"

#include "speech/Graphemes.h"
#include "speech/Segmenter.h"

bool SpeechLanguage::isLatinScalar(char32_t c)
{
    return c <= 0x024F || (c >= 0x1E00 && c <= 0x1EFF);
}

bool SpeechLanguage::isForeignWord(QStringView word)
{
    // Almost every word of English or Chinese speech is decided without cutting characters.
    if (!Graphemes::anyScalar(word, [](char32_t c) { return !isLatinScalar(c); }))
        return false;
    for (const QStringView character : Graphemes::split(word)) {
        if (Segmenter::isKana(character))
            return true;
        if (Graphemes::isLetter(character) && !Segmenter::isCJK(character)
            && Graphemes::anyScalar(character, [](char32_t c) { return !isLatinScalar(c); }))
            return true;
    }
    return false;
}

SpeechLanguage::SpeechLanguage(QStringView text)
{
    const QStringList words = Segmenter::words(text);
    int foreign = 0;
    for (const QString &word : words) {
        if (isForeignWord(word))
            ++foreign;
    }
    if (foreign >= 2 || (foreign == 1 && words.size() < 10) || Segmenter::looksNonEnglishLatin(words))
        m_value = other;
    else if (Segmenter::isChinese(words))
        m_value = chinese;
    else
        m_value = english;
}
