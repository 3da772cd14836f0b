#pragma once

#include <QString>
#include <QStringList>

// The one table from the font families a look stores (the names its menus offer) to the
// families installed on a Linux desktop. The stored look keeps the names as given; only
// drawing goes through here. An unknown family is used as it is; "" is the system font, and
// for Chinese text the sans CJK face that stands in for the system's PingFang.
//
// Han characters are never left to fontconfig's fallback: outside a zh locale it picks a
// brush-script Kai face. Every font the app draws with names the sans CJK face after its own
// family, so Han characters come from it unless the chosen family has them (Kai, chosen).
class FontFamilies final {
public:
    FontFamilies() = delete;

    static QString installed(const QString &family);
    // The family for Chinese text: as installed(), with "" the sans CJK face.
    static QString chinese(const QString &family);

    // The sans CJK face that draws Han characters that no chosen family has.
    static QString hanFace();
    // A font's family list with the sans CJK face after its families, for the Han characters
    // they lack (QFont::setFamilies tries them in order before the system's fallback).
    static QStringList withHanFace(QStringList families);

    // The installed families (as the font database gives them) as a menu lists them: each by
    // its plain name, once, in the given order. Qt names a family that several foundries
    // make "Family [Foundry]".
    static QStringList plainFamilies(const QStringList &families);
};
