#include "shell/SettingsWindowController.h"

#include "display/FloatingWindow.h"
#include "display/WindowPlacement.h"
#include "model/AppModel.h"
#include "platform/Keychain.h"
#include "shell/SettingsView.h"

#include <QVBoxLayout>

SettingsWindowController &SettingsWindowController::shared()
{
    static SettingsWindowController controller;
    return controller;
}

void SettingsWindowController::show()
{
    AppModel &current = model ? *model : *AppModel::shared();
    if (!m_window) {
        m_window = new FloatingWindow;
        m_window->setAttribute(Qt::WA_DeleteOnClose, false);
        m_window->setWindowTitle(QStringLiteral("泰萨利字幕 · 设置"));
        auto *layout = new QVBoxLayout(m_window);
        layout->setContentsMargins(0, 0, 0, 0);
        m_view = new SettingsView(current, m_window);
        layout->addWidget(m_view);
    }
    // The page's own size, so nothing of it is cut off, unless the screen is smaller: present()
    // then fits the window to the screen and the page scrolls further.
    m_window->setFixedSize(SettingsView::pageWidth, SettingsView::pageHeight);
    // Opening the settings is the user acting on keys: a keyring that could not answer before
    // (a dismissed unlock prompt) may be asked again by the checks below.
    Keychain::userActedOnKeys();
    current.keys().checkSavedKeys();
    WindowPlacement::present(m_window);
}

void SettingsWindowController::reset()
{
    delete m_window;
}
