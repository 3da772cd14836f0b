#pragma once

#include <QString>

#include <array>
#include <optional>

// Which languages the caption panel shows.
enum class DisplayMode { chinese, both, english };

namespace DisplayModes {
inline constexpr std::array<DisplayMode, 3> allCases {DisplayMode::chinese, DisplayMode::both,
                                                      DisplayMode::english};

inline QString toString(DisplayMode mode)
{
    switch (mode) {
    case DisplayMode::chinese: return QStringLiteral("chinese");
    case DisplayMode::both: return QStringLiteral("both");
    case DisplayMode::english: return QStringLiteral("english");
    }
    return {};
}

// An unknown raw text is no mode.
inline std::optional<DisplayMode> fromString(const QString &raw)
{
    for (DisplayMode mode : allCases)
        if (toString(mode) == raw)
            return mode;
    return std::nullopt;
}
} // namespace DisplayModes
