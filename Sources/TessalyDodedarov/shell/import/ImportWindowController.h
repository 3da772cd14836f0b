#pragma once

#include "display/FloatingWindow.h"

#include <QPointer>

class FloatingWindow;
class ImportView;
class MediaImporter;

// The media-import window: 480 x 320, fixed, built once and kept, showing the shared importer.
// Closing it only hides it; the job goes on and the next show() presents its current stage.
class ImportWindowController final {
public:
    static ImportWindowController &shared();
    // The app's one importer, living as long as the app; it reads the background, the notes and
    // the English-only setting from the meeting model.
    static MediaImporter &importer();

    void show();
    FloatingWindow *window() const { return m_window; }

private:
    ImportWindowController() = default;

    // Fixed, at the size the page needs for its current stage with the interface font.
    void fit();

    QPointer<FloatingWindow> m_window;
    QPointer<ImportView> m_view;
};
