#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>

class QWidget;

// Where secondary windows (settings, statistics, chat, import) appear: on the screen under the
// mouse, on the desktop the user is on, clear of the caption panel. Coordinates are Qt's: y
// grows downwards and a point is one logical pixel. Main thread only.
class WindowPlacement final {
public:
    WindowPlacement() = delete;

    static constexpr int margin = 16;
    static constexpr int gap = 32;

    // The caption panel's frame while it is shown; the panel controller sets it.
    static inline std::function<std::optional<QRect>()> captionFrame = [] {
        return std::optional<QRect>();
    };

    // Top-left corner for a window of this size on a screen whose available area is visible,
    // beside the rectangle avoid (the caption panel) when there is room, else centred. A
    // window too large keeps the margin at the right and at the top.
    static QPoint windowOrigin(QSize size, const QRect &visible, std::optional<QRect> avoid);

    // The caption panel's frame when nothing is stored: at the right edge of the available
    // area, vertically centred, as tall as fits up to 874 with its width scaled alike but at
    // least 360.
    static QRect firstCaptionFrame(const QRect &visible);

    // Brings the window to the user's screen and desktop, placed by windowOrigin unless it is
    // already showing there, then shows, raises and activates it.
    static void present(QWidget *window);
};
