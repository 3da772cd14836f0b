#pragma once

#include <QStringView>

#include <cstddef>
#include <functional>

// The language of a piece of recognised speech: English, Chinese or anything else. Built from a
// text with `SpeechLanguage(text)`; otherwise it behaves like its enumeration (compare, switch).
class SpeechLanguage final {
public:
    enum Value : unsigned char { english, chinese, other };

    constexpr SpeechLanguage(Value value = english) : m_value(value) {}
    explicit SpeechLanguage(QStringView text);

    constexpr operator Value() const { return m_value; }
    constexpr Value value() const { return m_value; }

    // A word is foreign when it holds kana, or a letter that is neither a CJK ideograph nor
    // Latin (Cyrillic, Greek, Hangul, Arabic, Thai ...). Characters without letters never are.
    static bool isForeignWord(QStringView word);
    static bool isLatinScalar(char32_t scalar);

private:
    Value m_value;
};

inline size_t qHash(SpeechLanguage language, size_t seed = 0) noexcept
{
    return std::hash<int>()(int(language.value())) ^ seed;
}

template <>
struct std::hash<SpeechLanguage> {
    size_t operator()(SpeechLanguage language) const noexcept { return std::hash<int>()(int(language.value())); }
};
