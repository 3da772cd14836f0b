#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Which numbers of a caption's source its translation lost. Numbers are read in digits, English
// number words and Chinese numerals, in the source and the translation alike, and compared by
// value; the meeting model has a line translated again when one is missing. Pure functions,
// any thread. `source` switches on the filters for words that are usually not numbers
// ("one of them", 第一).
class NumberCheck final {
public:
    NumberCheck() = delete;

    static QStringList missing(const QString &source, const QString &translation);
    static QList<double> englishValues(const QString &text, bool source);
    static QList<double> parseEnglishWords(const QStringList &run, bool source);
    static QList<double> chineseValues(const QString &text, bool source);
    static std::optional<double> parseChinese(QStringView run);
    static QString format(double value);
};
