#include "display/FloatingWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QShortcut>

FloatingWindow::FloatingWindow(QWidget *parent)
    // A title and a close button only: without the customise hint the window manager is given
    // its default buttons, minimise and maximise among them.
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    // Only Ctrl+W exactly: Ctrl+Alt and Ctrl+Shift combinations stay with the focused widget.
    auto *closeShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    closeShortcut->setContext(Qt::WindowShortcut);
    connect(closeShortcut, &QShortcut::activated, this, &QWidget::close);
}

void FloatingWindow::raiseShown()
{
    // Qt's offscreen platform only warns about raising.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && qobject_cast<FloatingWindow *>(window))
            window->raise();
    }
    // A dialog goes over the window it belongs to, so last.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->isWindow() && window->windowType() == Qt::Dialog
            && window->parentWidget())
            window->raise();
    }
}
