#include "display/FloatingWindow.h"

#include <QKeySequence>
#include <QShortcut>

FloatingWindow::FloatingWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    // Only Ctrl+W exactly: Ctrl+Alt and Ctrl+Shift combinations stay with the focused widget.
    auto *closeShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    closeShortcut->setContext(Qt::WindowShortcut);
    connect(closeShortcut, &QShortcut::activated, this, &QWidget::close);
}
