#pragma once

#include <QString>

#include <functional>

// The simplified-to-traditional conversion. Unchanged text until the application installs
// its converter at launch.
class ChineseScript final {
public:
    ChineseScript() = delete;

    static inline std::function<QString(const QString &)> toTraditional = [](const QString &text) {
        return text;
    };
};
