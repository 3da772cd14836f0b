#pragma once

#include <QString>

// The one table from the font families a look stores (the names its menus offer) to the
// families installed on a Linux desktop. The stored look keeps the names as given; only
// drawing goes through here. An unknown family is used as it is; "" is the system font.
class FontFamilies final {
public:
    FontFamilies() = delete;

    static QString installed(const QString &family);
};
