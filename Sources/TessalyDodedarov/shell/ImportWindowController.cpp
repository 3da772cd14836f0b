#include "shell/ImportWindowController.h"

#include "display/FloatingWindow.h"
#include "display/WindowPlacement.h"
#include "records/ImportView.h"
#include "records/MediaImporter.h"

#include <QVBoxLayout>
#include <QWidget>

ImportWindowController &ImportWindowController::shared()
{
    static ImportWindowController controller;
    return controller;
}

void ImportWindowController::show()
{
    if (!m_window) {
        // A floating window like the settings: above other windows, raised on every present.
        m_window = new FloatingWindow;
        m_window->setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint
                                 | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint
                                 | Qt::CustomizeWindowHint);
        m_window->setWindowTitle(QStringLiteral("泰萨利字幕 · 导入音视频生成字幕"));
        m_window->setFixedSize(480, 320);
        auto *layout = new QVBoxLayout(m_window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new ImportView(MediaImporter::shared(), m_window));
    }
    WindowPlacement::present(m_window);
}
