#pragma once

#include <QStringList>
#include <QStringView>

// The runs of ASCII letters of a text, in order: how much English a translation kept. Digits,
// apostrophes, hyphens and letters with accents split words, so "don't" gives "don" and "t".
class LatinWords final {
public:
    LatinWords() = delete;

    static QStringList in(QStringView text);
};
