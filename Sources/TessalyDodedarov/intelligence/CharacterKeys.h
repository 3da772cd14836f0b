#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <string>

// The user-perceived characters of caption text, for the text checks that count, cut and
// compare characters (name correction, overlap checks, number reading). Latin and Chinese text,
// nearly all of what they see, is walked one code unit at a time; anything that could combine
// (accents, emoji, surrogates, line ends) goes through the grapheme boundary finder.
// An instance also turns texts into keys, one number per character, so that sequences compare,
// search and diff as plain arrays; equal characters get equal keys from one instance.
class CharacterKeys final {
public:
    static QList<QStringView> split(QStringView text);
    static qsizetype count(QStringView text);
    // The length, in code units, of the character that starts at `position`.
    static qsizetype widthAt(QStringView text, qsizetype position);
    // Whether a position of the text (in code units) lies between two characters.
    static bool isBoundary(QStringView text, qsizetype position);

    std::u32string keys(QStringView text);
    char32_t key(QStringView character);

private:
    // Characters of several scalars get numbers above the last Unicode scalar.
    QHash<QString, char32_t> m_clusters;
};
