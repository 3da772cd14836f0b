#include "display/CaptionPanel.h"

#include "display/ResizeHandle.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWindow>

CaptionPanel::CaptionPanel(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    // Shown and raised, never activated: the user keeps typing where they were.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("泰萨利字幕"));
}

void CaptionPanel::setContent(QWidget *content)
{
    m_content = content;
    if (content) {
        content->setParent(this);
        layoutContent();
    }
}

void CaptionPanel::setFrame(const QRect &frame)
{
    setGeometry(frame);
    // A window not shown yet gets its resize event only when it is shown; the controller
    // must see the new frame now.
    layoutContent();
    emit frameChanged();
}

void CaptionPanel::setLimits(QSize minimum, QSize maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
}

void CaptionPanel::layoutContent()
{
    if (!m_content)
        return;
    m_content->setGeometry(rect());
    for (ResizeHandle *grip : m_content->findChildren<ResizeHandle *>(Qt::FindDirectChildrenOnly)) {
        grip->setGeometry(ResizeHandle::frame(grip->edge(), size()));
        grip->raise();
    }
}

void CaptionPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutContent();
    emit frameChanged();
}

void CaptionPanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    emit frameChanged();
}

void CaptionPanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The window manager moves the window when it can; without one (a bare X server) the
    // panel follows the mouse itself.
    QWindow *window = windowHandle();
    if (window && window->startSystemMove()) {
        m_dragOffset.reset();
    } else {
        m_dragOffset = event->globalPosition().toPoint() - pos();
    }
    event->accept();
}

void CaptionPanel::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragOffset && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *m_dragOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void CaptionPanel::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

void CaptionPanel::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_menu) {
        m_menu->popup(event->globalPos());
        event->accept();
        return;
    }
    QWidget::contextMenuEvent(event);
}

void CaptionPanel::closeEvent(QCloseEvent *event)
{
    // Only the window manager's request (spontaneous): the application's own closing of all
    // windows on quit must go through, or Qt cancels the quit.
    if (!onCloseRequest || !event->spontaneous()) {
        QWidget::closeEvent(event);
        return;
    }
    // Hiding here would leave the model saying the panel is shown; the owner hides it instead.
    event->ignore();
    onCloseRequest();
}
