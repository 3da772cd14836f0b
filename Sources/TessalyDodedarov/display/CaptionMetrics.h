#pragma once

#include <QStringView>

#include <functional>

// Measures caption text as the panel draws it: the application font at medium weight, in the
// given size. The application installs `measurer` as the model's row measure.
class CaptionMetrics final {
public:
    CaptionMetrics() = delete;

    static std::function<double(QStringView)> measurer(double fontSize);
};
