#pragma once

#include <QString>

// Cleans a finished unit before it is translated: hesitation sounds and filler phrases go,
// Chinese text is left alone, and a unit that is nothing but a noise is recognised as such.
// Pure functions, callable from any thread.
class Fillers final {
public:
    Fillers() = delete;

    static QString strip(const QString &text);
    static bool isNoise(const QString &text);
    static QString dropStrayQuotes(const QString &text);
};
