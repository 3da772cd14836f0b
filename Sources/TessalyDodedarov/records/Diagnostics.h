#pragma once

#include <QStringList>
#include <QStringView>

// Rules of the per-meeting diagnostics: what the report reads out of caption lines.
// Stateless; any thread.
class Diagnostics final {
public:
    Diagnostics() = delete;

    // The runs of ASCII letters of a text, in order. Digits, apostrophes, hyphens and letters
    // with accents split words, so "don't" gives "don" and "t".
    static QStringList latinWords(QStringView text);
};
