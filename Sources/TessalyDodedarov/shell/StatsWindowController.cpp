#include "shell/StatsWindowController.h"

#include "display/FloatingWindow.h"
#include "display/WindowPlacement.h"
#include "model/AppModel.h"
#include "shell/StatsView.h"

#include <QVBoxLayout>

StatsWindowController &StatsWindowController::shared()
{
    static StatsWindowController controller;
    return controller;
}

void StatsWindowController::show()
{
    if (!m_window) {
        AppModel &current = model ? *model : *AppModel::shared();
        m_window = new FloatingWindow;
        m_window->setWindowTitle(QStringLiteral("泰萨利字幕 · 本场统计"));
        auto *layout = new QVBoxLayout(m_window);
        layout->setContentsMargins(0, 0, 0, 0);
        m_view = new StatsView(current, m_window);
        layout->addWidget(m_view);
        m_window->setMinimumSize(440, 480);
        m_window->resize(520, 600);
    }
    WindowPlacement::present(m_window);
}

void StatsWindowController::reset()
{
    delete m_window;
}
