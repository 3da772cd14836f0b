#include "display/Colors.h"

QColor Colors::toQColor(const RGBA &color)
{
    return QColor::fromRgbF(float(color.r), float(color.g), float(color.b), float(color.a));
}

QString Colors::css(const QColor &color, double opacity)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(QString::number(color.alphaF() * opacity, 'f', 3));
}
