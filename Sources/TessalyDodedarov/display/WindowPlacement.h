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

    // The size a window's client area may take on a screen whose available area is visible,
    // with its frame and the margin all round: size itself when it fits.
    static QSize fittedSize(QSize size, QSize frame, const QRect &visible);

    // Brings the window to the user's screen and desktop, placed by windowOrigin unless it is
    // already showing there, made to fit the screen's available area (a taller content
    // scrolls), then restored when minimised, shown, raised and activated.
    static void present(QWidget *window);

private:
    // What the window manager's frame adds to the window's size, estimated before it is known.
    static QSize frameExtent(const QWidget *window);
    // Makes the window no larger than size, and able to be that small.
    static void fitWithin(QWidget *window, QSize size);
};
