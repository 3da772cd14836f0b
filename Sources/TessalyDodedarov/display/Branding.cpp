#include "display/Branding.h"

#include "display/Symbols.h"

#include <QEvent>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QScreen>

#include <array>
#include <cmath>

namespace {

constexpr qreal iconSize = 18;
constexpr qreal imageWidth = 26;

// One image per mark; a null image is one not drawn yet.
std::array<QImage, 4> &cache()
{
    static std::array<QImage, 4> images;
    return images;
}

std::optional<QImage> &base()
{
    static std::optional<QImage> image;
    return image;
}

// Redraws after a palette change: the images are in the palette's text colour.
class PaletteWatcher final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange)
            Branding::clearCache();
        return false;
    }
};

void watchPalette()
{
    static QPointer<PaletteWatcher> watcher;
    if (watcher || !qGuiApp)
        return;
    // A child of the application: it goes with it.
    watcher = new PaletteWatcher(qGuiApp);
    qGuiApp->installEventFilter(watcher);
}

QImage tinted(const QImage &source, const QColor &color)
{
    QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    return image;
}

}

QImage Branding::menuBarImage(Mark mark)
{
    watchPalette();
    QImage &cached = cache().at(std::size_t(mark));
    if (cached.isNull())
        cached = draw(mark);
    return cached;
}

QImage Branding::load(const QString &name, const QString &ext)
{
    // Read as the format its name says, without guessing: the guess would load every image
    // plugin, at start-up, for the tray icon.
    QImageReader reader(QStringLiteral(":/%1.%2").arg(name, ext), ext.toLatin1());
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

void Branding::clearCache()
{
    cache().fill(QImage());
    base().reset();
}

QImage Branding::draw(Mark mark)
{
    const qreal ratio = qGuiApp && qGuiApp->primaryScreen() ? qGuiApp->primaryScreen()->devicePixelRatio() : 1.0;
    const QColor color = QGuiApplication::palette().color(QPalette::WindowText);
    if (!base())
        base() = load(menuBarIconName, QStringLiteral("png"));

    QImage image(QSize(int(std::ceil(imageWidth * ratio)), int(std::ceil(iconSize * ratio))),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    if (!base()->isNull()) {
        painter.drawImage(QRectF(0, 0, iconSize, iconSize), tinted(*base(), color));
    } else {
        painter.drawImage(QRectF(0, 2, iconSize, 14),
                          Symbols::image(QStringLiteral("captions.bubble"), QSize(18, 14), color, ratio));
    }

    // The marks are symmetric about the middle row, so y-down needs no mirroring.
    const qreal s = iconSize;
    switch (mark) {
    case Mark::none:
        break;
    case Mark::paused:
        painter.fillRect(QRectF(s + 1.5, s / 2 - 3, 1.6, 6), color);
        painter.fillRect(QRectF(s + 4.7, s / 2 - 3, 1.6, 6), color);
        break;
    case Mark::standby:
        painter.setPen(QPen(color, 1.2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(s + 1.5, s / 2 - 2.5, 5, 5).adjusted(0.6, 0.6, -0.6, -0.6));
        break;
    case Mark::recognizing:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(s + 1.5, s / 2 - 2.5, 5, 5));
        break;
    }
    painter.end();
    return image;
}
