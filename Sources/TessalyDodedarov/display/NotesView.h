#pragma once

#include "intelligence/SessionNote.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>

class AppModel;
class QScrollArea;
class QVBoxLayout;

// The notes given for this meeting, in the notes popup of the caption panel: each note's text,
// whether it is still being read or what came of it, and a button to delete it.
class NotesView final : public QWidget {
    Q_OBJECT

public:
    explicit NotesView(AppModel *model, QWidget *parent = nullptr);

    // Rebuilds the rows when the model's notes differ from those shown; says whether it did,
    // so that the popup holding the view can take its new size.
    bool refresh();

    static constexpr int viewWidth = 420;
    static constexpr int padding = 16;
    static constexpr int maxListHeight = 360;

private:
    // The list as high as its rows need, up to the limit; a scroll view's own size hint knows
    // nothing of its content.
    void fitToContent();

    QScrollArea *m_scroll = nullptr;
    QPointer<AppModel> m_model;
    // Rebuilding rows the model did not change would drop a selection in them and the button
    // under the pointer, several times a second while captions come in.
    std::optional<QList<SessionNote>> m_shown;
    QWidget *m_list = nullptr;
    QVBoxLayout *m_rows = nullptr;
};
