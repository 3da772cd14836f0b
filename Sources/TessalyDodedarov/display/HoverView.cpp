#include "display/HoverView.h"

HoverView::HoverView(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
}

void HoverView::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    if (onHover)
        onHover(true);
}

void HoverView::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (onHover)
        onHover(false);
}
