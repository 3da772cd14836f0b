#include "shell/import/ImportWindowController.h"

#include "display/FloatingWindow.h"
#include "display/WindowPlacement.h"
#include "model/AppModel.h"
#include "records/MediaImporter.h"
#include "shell/import/ImportView.h"

#include <QPointer>
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
        return new MediaImporter(meeting);
    }();
    return *instance;
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
        auto *view = new ImportView(importer(), m_window);
        layout->addWidget(view);
        // Fixed, at the size the page needs for its current stage with the interface font.
        QPointer<FloatingWindow> window = m_window;
        const auto fit = [window, view] {
            if (window)
                window->setFixedSize(view->fittingSize());
        };
        QObject::connect(view, &ImportView::contentChanged, m_window, fit);
        fit();
    }
    WindowPlacement::present(m_window);
}
