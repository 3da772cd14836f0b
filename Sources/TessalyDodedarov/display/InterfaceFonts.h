#pragma once

#include <QFont>

// The fonts the windows draw their own texts in, as the launch installs them for the whole
// application: each names the sans CJK face after its own families, so that Han characters the
// chosen family lacks never fall to fontconfig's fallback for the locale (outside a zh locale
// that is a brush-script Kai face).
class InterfaceFonts final {
public:
    InterfaceFonts() = delete;

    // The font with the sans CJK face after its families.
    static QFont withHanFace(const QFont &font);
    // The system's fixed-width font, for figures whose digits keep their width; a unit or a
    // key row's label beside them is drawn in the sans CJK face.
    static QFont fixedWidth();
};
