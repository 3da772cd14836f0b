#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// The small monochrome pictures of buttons, labels and section titles, by their symbol names
// ("pause.fill", "gearshape", "key.fill" ...). Each is a bundled SVG of our own drawn in one
// colour, tinted when drawn: theme icons come in colours that vary by theme, and the caption
// panel's controls must be white on any desktop. An unknown name gives "circle".
class Symbols final {
public:
    Symbols() = delete;

    static const QStringList &names();
    static bool contains(const QString &name);
    // The resource path of a symbol; of "circle" for an unknown name.
    static QString path(const QString &name);
    // The symbol filling size (logical pixels) in color, at the device pixel ratio.
    static QImage image(const QString &name, QSize size, const QColor &color,
                        qreal devicePixelRatio = 1.0);
};
