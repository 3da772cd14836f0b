#pragma once

#include "display/FloatingWindow.h"
#include "shell/SettingsView.h"

#include <QPointer>

class AppModel;
class FloatingWindow;
class SettingsView;

// The settings window: built on the first show() and kept (closing only hides it), so typed
// key text and the last update check survive. Every show() checks the stored keys again and
// presents the window on the user's screen. Main thread only.
class SettingsWindowController final {
public:
    static SettingsWindowController &shared();

    void show();

    // The model the window shows; AppModel::shared() unless a test sets its own first.
    static inline AppModel *model = nullptr;

    FloatingWindow *window() const { return m_window; }
    SettingsView *view() const { return m_view; }
    // Drops the window; for tests that make a new model.
    void reset();

private:
    SettingsWindowController() = default;

    QPointer<FloatingWindow> m_window;
    QPointer<SettingsView> m_view;
};
