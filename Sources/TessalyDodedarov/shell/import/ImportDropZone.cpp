#include "shell/import/ImportDropZone.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

namespace {

constexpr qreal cornerRadius = 10;
constexpr qreal borderWidth = 1.5;
constexpr qreal dashLength = 6;

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

}

ImportDropZone::ImportDropZone(QWidget *parent)
    : QWidget(parent)
{
    setAcceptDrops(true);
    setMinimumHeight(110);
}

void ImportDropZone::paintEvent(QPaintEvent *)
{
    // The secondary colour of the theme: the grey of placeholder text.
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(shape, withOpacity(secondary, m_targeted ? 0.18 : 0.08));
    // The border lies inside the edge: its path is inset by half the line width.
    const qreal inset = borderWidth / 2;
    QPen pen(withOpacity(secondary, 0.5), borderWidth);
    // Dash lengths count in line widths: dashes and gaps of 6 points.
    pen.setDashPattern({dashLength / borderWidth, dashLength / borderWidth});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), cornerRadius - inset,
                            cornerRadius - inset);
}

void ImportDropZone::dragEnterEvent(QDragEnterEvent *event)
{
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    setTargeted(true);
    event->acceptProposedAction();
}

void ImportDropZone::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImportDropZone::dragLeaveEvent(QDragLeaveEvent *event)
{
    setTargeted(false);
    event->accept();
}

void ImportDropZone::dropEvent(QDropEvent *event)
{
    setTargeted(false);
    if (event->mimeData()->hasUrls() && dropped(event->mimeData()->urls())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

void ImportDropZone::setTargeted(bool targeted)
{
    if (m_targeted == targeted)
        return;
    m_targeted = targeted;
    update();
}
