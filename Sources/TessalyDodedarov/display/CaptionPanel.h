#pragma once

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <functional>
#include <optional>

#include <QMenu>

// The floating window that holds the captions: frameless, translucent, above other windows,
// shown without taking the focus from the application the user works in (a click into the
// notes field does activate it, so that it takes typing). It keeps the size limits the
// controller sets for its grips instead of Qt's, because Qt would also clamp the frames set
// from code. Dragging its background moves it. Owned by CaptionPanelController.
class CaptionPanel final : public QWidget {
    Q_OBJECT

public:
    explicit CaptionPanel(QWidget *parent = nullptr);

    // Screen capture cannot leave out one window on Linux (neither X11 nor the Wayland
    // portals offer it), so the "hide from sharing" setting has no effect here.
    static bool canHideFromSharing() { return false; }

    // The content fills the panel; the grips among its children are placed on its edges.
    void setContent(QWidget *content);
    QWidget *content() const { return m_content; }

    void setFrame(const QRect &frame);
    QSize minimumContent() const { return m_minimum; }
    QSize maximumContent() const { return m_maximum; }
    void setLimits(QSize minimum, QSize maximum);

    // Shown on a right click; the shell owns the menu.
    void setContextMenu(QMenu *menu) { m_menu = menu; }

    // A close request from the window manager (Alt+F4, a taskbar's close): the panel is never
    // closed, only ordered out by whoever owns the model's visibility, so it can come back.
    std::function<void()> onCloseRequest;

signals:
    void frameChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void layoutContent();

    QWidget *m_content = nullptr;
    QSize m_minimum {360, 94};
    QSize m_maximum {2400, 1600};
    QPointer<QMenu> m_menu;
    // Set while the panel is moved by hand, when no window manager does it.
    std::optional<QPoint> m_dragOffset;
};
