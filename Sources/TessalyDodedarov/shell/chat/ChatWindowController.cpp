#include "shell/chat/ChatWindowController.h"

#include "display/FloatingWindow.h"
#include "display/WindowPlacement.h"
#include "shell/chat/ChatView.h"
#include "model/AppModel.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

ChatWindowController &ChatWindowController::shared()
{
    static ChatWindowController controller;
    return controller;
}

void ChatWindowController::show()
{
    if (!m_window) {
        AppModel &current = model ? *model : *AppModel::shared();
        m_window = new FloatingWindow;
        m_window->setWindowTitle(QStringLiteral("泰萨利字幕 · 问问这场会议"));
        auto *layout = new QVBoxLayout(m_window);
        layout->setContentsMargins(0, 0, 0, 0);
        m_view = new ChatView(current, m_window);
        layout->addWidget(m_view);
        m_window->setMinimumSize(420, 420);
        m_window->resize(520, 640);
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    }
    WindowPlacement::present(m_window);
    // X11 and Wayland give keys only to the active window, which present() just made it.
    m_view->focusInput();
}

FloatingWindow *ChatWindowController::window() const
{
    return m_window;
}

ChatView *ChatWindowController::view() const
{
    return m_view;
}

void ChatWindowController::reset()
{
    delete m_window;
}
