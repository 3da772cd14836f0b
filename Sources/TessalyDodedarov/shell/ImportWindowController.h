#pragma once

#include <QPointer>

class QWidget;

// The media-import window: 480 x 320, fixed, built once and kept. Its page comes with the media
// import; until then the window is empty.
class ImportWindowController final {
public:
    static ImportWindowController &shared();

    void show();
    QWidget *window() const { return m_window; }

private:
    ImportWindowController() = default;

    QPointer<QWidget> m_window;
};
