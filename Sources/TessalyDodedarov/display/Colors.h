#pragma once

#include "captions/CaptionAppearance.h"

#include <QColor>
#include <QString>

// The caption look's colours in the two forms Qt takes them: a stored RGBA as the QColor that
// paints it, and a QColor as a style sheet's rgba() text. Pure functions, any thread.
class Colors final {
public:
    Colors() = delete;

    static QColor toQColor(const RGBA &color);
    // "rgba(r, g, b, a)" for a style sheet, with the colour's own alpha times `opacity`.
    static QString css(const QColor &color, double opacity = 1.0);
};
