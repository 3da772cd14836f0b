#include "display/InterfaceFonts.h"

#include "captions/FontFamilies.h"

#include <QFontDatabase>
#include <QFontInfo>

QFont InterfaceFonts::withHanFace(const QFont &font)
{
    QFont withHan = font;
    QStringList families = withHan.families();
    if (families.isEmpty())
        families.append(QFontInfo(withHan).family());
    withHan.setFamilies(FontFamilies::withHanFace(families));
    return withHan;
}

QFont InterfaceFonts::fixedWidth()
{
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // The system's name for it is an alias ("monospace"), which fontconfig resolves with its
    // own fallbacks: the list names the face it resolves to.
    fixed.setFamilies(FontFamilies::withHanFace({QFontInfo(fixed).family()}));
    return fixed;
}
