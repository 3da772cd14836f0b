#include "display/ResizeHandle.h"

#include "display/CaptionPanel.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

ResizeHandle::ResizeHandle(Edge edge, CaptionPanel *panel, QWidget *parent)
    : QWidget(parent)
    , m_edge(edge)
    , m_panel(panel)
{
    switch (edge) {
    case Edge::left:
    case Edge::right: setCursor(Qt::SizeHorCursor); break;
    case Edge::bottom: setCursor(Qt::SizeVerCursor); break;
    case Edge::bottomLeft:
    case Edge::bottomRight: setCursor(Qt::CrossCursor); break;
    }
}

QRect ResizeHandle::frame(Edge edge, QSize content)
{
    const int w = content.width();
    const int h = content.height();
    switch (edge) {
    case Edge::left: return QRect(0, 30, 10, std::max(h - 48, 0));
    case Edge::right: return QRect(w - 10, 30, 10, std::max(h - 48, 0));
    case Edge::bottom: return QRect(18, h - 10, std::max(w - 36, 0), 10);
    case Edge::bottomLeft: return QRect(0, h - 18, 18, 18);
    case Edge::bottomRight: return QRect(w - 18, h - 18, 18, 18);
    }
    return {};
}

QRect ResizeHandle::dragged(Edge edge, const QRect &start, QPoint delta, QSize minimum,
                            QSize maximum)
{
    const auto clampWidth = [&](int v) { return std::min(std::max(v, minimum.width()), maximum.width()); };
    const auto clampHeight = [&](int v) { return std::min(std::max(v, minimum.height()), maximum.height()); };
    QRect frame = start;
    if (edge == Edge::right || edge == Edge::bottomRight)
        frame.setWidth(clampWidth(start.width() + delta.x()));
    if (edge == Edge::left || edge == Edge::bottomLeft) {
        // The right edge stays where it was.
        const int width = clampWidth(start.width() - delta.x());
        frame.setX(start.x() + start.width() - width);
        frame.setWidth(width);
    }
    // Downwards grows the panel; the top edge stays.
    if (edge == Edge::bottom || edge == Edge::bottomLeft || edge == Edge::bottomRight)
        frame.setHeight(clampHeight(start.height() + delta.y()));
    return frame;
}

void ResizeHandle::paintEvent(QPaintEvent *)
{
    if (m_edge != Edge::bottomRight)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor::fromRgbF(1, 1, 1, 0.35));
    pen.setWidthF(1.2);
    painter.setPen(pen);
    const double w = width();
    for (double n : {5.0, 9.0, 13.0})
        painter.drawLine(QPointF(w - n, 15), QPointF(w - 3, 18 - n));
}

void ResizeHandle::mousePressEvent(QMouseEvent *event)
{
    if (!m_panel || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_startMouse = event->globalPosition().toPoint();
    m_startFrame = m_panel->geometry();
    m_dragging = true;
    event->accept();
}

void ResizeHandle::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_panel || !m_dragging)
        return;
    const QPoint delta = event->globalPosition().toPoint() - m_startMouse;
    m_panel->setFrame(dragged(m_edge, m_startFrame, delta, m_panel->minimumContent(),
                              m_panel->maximumContent()));
    event->accept();
}

void ResizeHandle::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    event->accept();
}
