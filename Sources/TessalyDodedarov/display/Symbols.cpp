#include "display/Symbols.h"

#include <QImageReader>
#include <QPainter>

#include <cmath>

const QStringList &Symbols::names()
{
    static const QStringList list = {
        // Caption panel controls, jump button and notes list.
        QStringLiteral("pause.fill"),
        QStringLiteral("play.fill"),
        QStringLiteral("stop.fill"),
        QStringLiteral("arrow.up.left.and.arrow.down.right"),
        QStringLiteral("arrow.down.right.and.arrow.up.left"),
        QStringLiteral("list.bullet.rectangle"),
        QStringLiteral("bubble.left.and.bubble.right"),
        QStringLiteral("gearshape"),
        QStringLiteral("minus"),
        QStringLiteral("arrow.down"),
        QStringLiteral("xmark.circle.fill"),
        // Menu-bar image without its icon.
        QStringLiteral("captions.bubble"),
        // Settings section titles, and the one for any other title.
        QStringLiteral("key.fill"),
        QStringLiteral("speaker.wave.2.fill"),
        QStringLiteral("waveform"),
        QStringLiteral("character.bubble.fill"),
        QStringLiteral("paintpalette.fill"),
        QStringLiteral("text.alignleft"),
        QStringLiteral("macwindow"),
        QStringLiteral("chart.bar.fill"),
        QStringLiteral("info.circle.fill"),
        // The chat window's header and input bar.
        QStringLiteral("bubble.left.and.bubble.right.fill"),
        QStringLiteral("trash"),
        QStringLiteral("paperplane.fill"),
        // The import window's drop zone.
        QStringLiteral("waveform.badge.plus"),
        QStringLiteral("circle"),
    };
    return list;
}

bool Symbols::contains(const QString &name)
{
    return names().contains(name);
}

QString Symbols::path(const QString &name)
{
    return QStringLiteral(":/symbols/%1.svg").arg(contains(name) ? name : QStringLiteral("circle"));
}

QImage Symbols::image(const QString &name, QSize size, const QColor &color, qreal devicePixelRatio)
{
    const QSize pixels(int(std::ceil(size.width() * devicePixelRatio)),
                       int(std::ceil(size.height() * devicePixelRatio)));
    if (pixels.isEmpty())
        return {};
    QImageReader reader(path(name));
    reader.setScaledSize(pixels);
    QImage picture = reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull())
        return {};
    // Keep the drawing's coverage, take the colour.
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(picture.rect(), color);
    painter.end();
    picture.setDevicePixelRatio(devicePixelRatio);
    return picture;
}
