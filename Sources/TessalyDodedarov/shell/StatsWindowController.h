#pragma once

#include "display/FloatingWindow.h"
#include "shell/StatsView.h"

#include <QPointer>

class AppModel;
class FloatingWindow;
class StatsView;

// The statistics window: built on the first show() and kept; closing only hides it.
class StatsWindowController final {
public:
    static StatsWindowController &shared();

    void show();

    // The model the window shows; AppModel::shared() unless a test sets its own first.
    static inline AppModel *model = nullptr;

    FloatingWindow *window() const { return m_window; }
    StatsView *view() const { return m_view; }
    void reset();

private:
    StatsWindowController() = default;

    QPointer<FloatingWindow> m_window;
    QPointer<StatsView> m_view;
};
