#pragma once

#include <QScrollBar>

class QTimer;

// The scrollbar the user sees over a scrolling text: a thin bar over the right edge of its
// parent, shown while the user scrolls or the pointer is over the parent, hidden again after a
// short rest. The parent's own bar stays hidden and keeps the range and position; this one
// mirrors it and scrolls it when dragged. Owned by the parent, the history text view.
class OverlayScrollBar final : public QScrollBar {
    Q_OBJECT

public:
    OverlayScrollBar(QScrollBar *mirrored, QWidget *parent);

    static constexpr int barWidth = 7;
    static constexpr int restMs = 1200;

    // Over the parent's right edge, above its other children; the parent calls it on resize.
    void place();
    // Takes the mirrored bar's range and position, hiding when there is nothing to scroll.
    void sync();
    // Shows the bar for a rest's time, when there is something to scroll.
    void reveal();
    // The pointer left the parent: a shown bar hides after a rest.
    void hideAfterRest();

private:
    QScrollBar *m_mirrored;
    QTimer *m_rest;
    bool m_syncing = false;
};
