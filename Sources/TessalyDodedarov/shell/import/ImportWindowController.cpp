#include "shell/import/ImportWindowController.h"

#include "display/FloatingWindow.h"
#include "display/WindowPlacement.h"
#include "model/AppModel.h"
#include "records/MediaImporter.h"
#include "shell/import/ImportView.h"

#include <QVBoxLayout>
#include <QWidget>

ImportWindowController &ImportWindowController::shared()
{
    static ImportWindowController controller;
    return controller;
}

MediaImporter &ImportWindowController::importer()
{
    // The importer reads the meeting model at the moment it needs each value, so notes typed
    // while a file is translated reach the later batches.
    static MediaImporter *instance = [] {
        MediaImporter::Meeting meeting;
        meeting.background = [] { return AppModel::shared()->background(); };
        meeting.notes = [] { return AppModel::shared()->notes(); };
        meeting.englishOnly = [] { return AppModel::shared()->listenEnglishOnly(); };
        meeting.transport = [] { return AppModel::shared()->transportListener(); };
        return new MediaImporter(meeting);
    }();
    return *instance;
}

void ImportWindowController::fit()
{
    if (m_window && m_view)
        m_window->setFixedSize(m_view->fittingSize());
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
        auto *layout = new QVBoxLayout(m_window);
        layout->setContentsMargins(0, 0, 0, 0);
        m_view = new ImportView(importer(), m_window);
        layout->addWidget(m_view);
        QObject::connect(m_view, &ImportView::contentChanged, m_window, [this] { fit(); });
    }
    // Every time: present() may have made it smaller on a smaller screen.
    fit();
    WindowPlacement::present(m_window);
}
