#include "display/WindowPlacement.h"

#include "platform/x11/X11Desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>

QPoint WindowPlacement::windowOrigin(QSize size, const QRect &visible, std::optional<QRect> avoid)
{
    const double w = size.width();
    const double h = size.height();
    const double left = visible.x();
    const double top = visible.y();
    const double right = left + visible.width();
    const double bottom = top + visible.height();
    // The upper bound is applied last: a window too wide keeps the right margin.
    const auto clampX = [&](double x) { return std::min(std::max(x, left + margin), right - w - margin); };
    // The lower bound last: a window too tall keeps the top margin.
    const auto clampY = [&](double y) { return std::max(std::min(y, bottom - h - margin), top + margin); };
    const auto origin = [](double x, double y) { return QPoint(int(std::lround(x)), int(std::lround(y))); };

    if (avoid && avoid->intersects(visible)) {
        const double aLeft = avoid->x();
        const double aTop = avoid->y();
        const double aRight = aLeft + avoid->width();
        const double aBottom = aTop + avoid->height();
        const double aMidX = aLeft + avoid->width() / 2.0;
        if (h + gap <= aTop - top)
            return origin(clampX(aMidX - w / 2), top + gap);
        if (h + gap <= bottom - aBottom)
            return origin(clampX(aMidX - w / 2), bottom - margin - h);
        if (w + gap <= right - aRight)
            return origin(aRight + margin, clampY(top + gap));
        if (w + gap <= aLeft - left)
            return origin(aLeft - w - margin, clampY(top + gap));
    }
    return origin(clampX(left + (visible.width() - w) / 2), clampY(top + (visible.height() - h) / 2));
}

QRect WindowPlacement::firstCaptionFrame(const QRect &visible)
{
    const double k = std::min((visible.height() - 48) / 874.0, 1.0);
    // std::round rounds half away from zero.
    const int h = int(std::round(874 * k));
    const int w = std::max(int(std::round(402 * k)), 360);
    const int x = visible.x() + visible.width() - 24 - w;
    const int top = visible.y() + visible.height() - h - int(std::round(visible.height() / 2.0 - h / 2.0));
    return QRect(x, top, w, h);
}

QSize WindowPlacement::fittedSize(QSize size, QSize frame, const QRect &visible)
{
    const QSize room = visible.size() - frame - QSize(2 * margin, 2 * margin);
    return size.boundedTo(room.expandedTo(QSize(1, 1)));
}

QSize WindowPlacement::frameExtent(const QWidget *window)
{
    const QSize known = window->frameGeometry().size() - window->size();
    if (known.width() > 0 || known.height() > 0)
        return known;
    // Before its first showing a window's frame is not known: the window manager adds it when
    // it maps the window. The style's title bar stands in for it.
    return QSize(0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight));
}

void WindowPlacement::fitWithin(QWidget *window, QSize size)
{
    if (window->minimumSize() == window->maximumSize()) {
        // A window of fixed size stays fixed, at what fits; its controller sets its full size
        // again before the next present.
        if (window->size() != size)
            window->setFixedSize(size);
        return;
    }
    window->setMinimumSize(window->minimumSize().boundedTo(size));
    if (window->size() != size)
        window->resize(size);
}

void WindowPlacement::present(QWidget *window)
{
    if (!window)
        return;
    QScreen *target = QGuiApplication::screenAt(QCursor::pos());
    if (!target)
        target = QGuiApplication::primaryScreen();

    QWindow *handle = window->windowHandle();
    const bool elsewhere = window->isVisible() && handle && !X11Desktop::isOnCurrentDesktop(handle);
    const bool staysPut = window->isVisible() && !elsewhere && window->screen() == target;
    const QSize frame = frameExtent(window);
    // Also a window that stays put: its controller may have set its full size again.
    if (target)
        fitWithin(window, fittedSize(window->size(), frame, target->availableGeometry()));
    if (!staysPut && target) {
        if (elsewhere) {
            // Bring it over before it is withdrawn, so the window manager that kept it on the
            // other desktop maps it here again.
            if (const std::optional<quint32> current = X11Desktop::currentDesktop())
                X11Desktop::requestDesktop(handle, *current);
        }
        if (window->isVisible())
            window->hide();
        std::optional<QRect> avoid = captionFrame ? captionFrame() : std::nullopt;
        if (avoid && !avoid->intersects(target->geometry()))
            avoid.reset();
        window->move(windowOrigin(window->size() + frame, target->availableGeometry(), avoid));
    }
    // A window the user minimised stays iconic through show(), raise() and activation: it
    // is mapped again only when its state loses the minimised flag.
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    // The window manager may have erased what Qt set before the map for the withdrawal above.
    if (QWindow *shown = window->windowHandle()) {
        if (!staysPut) {
            if (const std::optional<quint32> current = X11Desktop::currentDesktop())
                X11Desktop::requestDesktop(shown, *current);
        }
        X11Desktop::keepAboveAfterShow(shown);
    }
}
