#pragma once

#include <QImage>
#include <QString>

// The menu-bar (tray) image: the application's icon with a small status mark to its right that
// tells at a glance whether recognition is paused, on standby (listening, nobody speaking,
// nothing billed) or recognising. Drawn in the palette's window-text colour, once per mark,
// and drawn afresh after the palette changes. Main thread only.
class Branding final {
public:
    Branding() = delete;

    enum class Mark { none, paused, standby, recognizing };

    // The image for a mark, 26 x 18 logical pixels at the primary screen's pixel ratio; the
    // same image (same cache key) for every later request until the palette changes.
    static QImage menuBarImage(Mark mark);
    // The bundled image ":/name.ext"; a null image when there is none.
    static QImage load(const QString &name, const QString &ext);

    // The resource name of the base icon; replaced only by tests to draw without it.
    static inline QString menuBarIconName = QStringLiteral("MenuBarIcon");
    // Forgets the drawn images and the base icon.
    static void clearCache();

private:
    static QImage draw(Mark mark);
};
