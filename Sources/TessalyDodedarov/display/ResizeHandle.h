#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

#include <array>

class CaptionPanel;

// One grip on an edge or bottom corner of the caption panel, which has no frame of its own to
// resize by. A drag resizes the panel within the panel's size limits; the top edge has no
// grip. Owned by the panel's content; main thread only.
class ResizeHandle final : public QWidget {
    Q_OBJECT

public:
    enum class Edge { left, right, bottom, bottomLeft, bottomRight };
    static constexpr std::array<Edge, 5> allCases {Edge::left, Edge::right, Edge::bottom,
                                                   Edge::bottomLeft, Edge::bottomRight};

    ResizeHandle(Edge edge, CaptionPanel *panel, QWidget *parent);

    Edge edge() const { return m_edge; }

    // The grip's rectangle in a content area of the given size: the side grips run from 30
    // below the top to 18 above the bottom.
    static QRect frame(Edge edge, QSize content);
    // The panel frame after a drag of delta (y downwards) from startFrame, within the limits.
    static QRect dragged(Edge edge, const QRect &startFrame, QPoint delta, QSize minimum,
                         QSize maximum);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Edge m_edge;
    CaptionPanel *m_panel;
    QPoint m_startMouse;
    QRect m_startFrame;
    bool m_dragging = false;
};
