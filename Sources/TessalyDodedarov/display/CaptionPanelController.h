#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

#include <optional>
#include <vector>

class AppModel;
class CaptionPanel;
class CaptionView;
class HoverView;
class QMenu;
class ResizeHandle;

// Builds the caption panel once, at launch, and from then on follows the model: the panel's
// height from the caption size, the display mode and the expanded flag, maximising and
// restoring, showing and hiding, and the width reported back so the live rows re-break.
// Model changes arrive through queued connections, a turn of the event loop after the
// setter, never inside it. The frame is stored under "CaptionPanelPhone" on every move and
// resize. Owned by the application delegate for the life of the application.
class CaptionPanelController final : public QObject {
    Q_OBJECT

public:
    explicit CaptionPanelController(AppModel *model, QObject *parent = nullptr);
    ~CaptionPanelController() override;

    static constexpr const char *frameKey = "CaptionPanelPhone";

    // The caption block's height for a Chinese size, with the English line or without.
    static int captionHeight(double fontSize, bool showEnglish);
    // The stored expanded height; anything but a finite number in 0…10000 reads as 340.
    static double storedExpandedHeight();
    // A stored frame as written by the controller; nothing for any other text.
    static std::optional<QRect> parseFrame(const QString &text);
    static QString frameText(const QRect &frame);

    CaptionPanel *panel() const { return m_panel; }
    CaptionView *view() const { return m_view; }
    const std::vector<ResizeHandle *> &resizeHandles() const { return m_resizeHandles; }

    void setContextMenu(QMenu *menu);

private:
    void restoreFrame();
    void applyHeight(double fontSize, bool showEnglish, bool expanded);
    void applyCurrentHeight();
    void applyMaximized(bool on);
    void applySharing(bool hide);
    void applyVisible(bool visible);
    void frameChanged();
    void reportWidth();

    CaptionPanel *m_panel = nullptr;
    QPointer<AppModel> m_model;
    HoverView *m_hover = nullptr;
    CaptionView *m_view = nullptr;
    std::optional<QRect> m_frameBeforeMaximize;
    std::vector<ResizeHandle *> m_resizeHandles;
    double m_lastFontSize = 0;
};
