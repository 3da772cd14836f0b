#pragma once

#include <QPointer>

class AppModel;
class ChatView;
class FloatingWindow;

// The chat window: built on the first show() over the meeting model and kept for the run of
// the application; closing only hides it. Opened by the caption panel's ask button and the
// menu. Main thread.
class ChatWindowController final {
public:
    static ChatWindowController &shared();

    void show();

    // The model the window asks; AppModel::shared() unless a test sets its own first.
    static inline AppModel *model = nullptr;

    FloatingWindow *window() const;
    ChatView *view() const;
    // For tests: drops the window so that the next show() builds a new one.
    void reset();

private:
    ChatWindowController() = default;

    QPointer<FloatingWindow> m_window;
    QPointer<ChatView> m_view;
};
