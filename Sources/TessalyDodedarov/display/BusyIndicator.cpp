#include "display/BusyIndicator.h"

#include <QPainter>
#include <QTimer>

BusyIndicator::BusyIndicator(QWidget *parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    setFixedSize(12, 12);
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void BusyIndicator::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(m_color);
    pen.setWidthF(1.5);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    // Qt's angles are in sixteenths of a degree.
    painter.drawArc(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), -m_angle * 16, 270 * 16);
}

void BusyIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer->start();
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}
