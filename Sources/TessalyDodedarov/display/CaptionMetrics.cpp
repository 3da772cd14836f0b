#include "display/CaptionMetrics.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>

std::function<double(QStringView)> CaptionMetrics::measurer(double fontSize)
{
    QFont font = QGuiApplication::font();
    font.setPointSizeF(fontSize > 0 ? fontSize : 1.0);
    font.setWeight(QFont::Medium);
    // One metrics object per size, shared by every call of the returned function.
    const auto metrics = std::make_shared<QFontMetricsF>(font);
    return [metrics](QStringView text) { return metrics->horizontalAdvance(text.toString()); };
}
