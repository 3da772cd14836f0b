#pragma once

#include "captions/CaptionAppearance.h"
#include "display/TextShadow.h"
#include "model/HistoryChange.h"
#include "model/HistoryText.h"

#include <QList>
#include <QPointer>
#include <QTextEdit>

#include <memory>
#include <optional>

class HistoryScrollState;
class OverlayScrollBar;
class QPropertyAnimation;
class QScrollBar;

// The caption history: a read-only, selectable rich text of the history paragraphs. Captions
// arrive several times a second while the user reads, scrolls or selects, so each update
// replaces only the text from the first changed paragraph to the end, in one edit, using the
// kept length of every rendered paragraph; a long run of changed paragraphs is replaced newest
// first, a slice per turn of the event loop. It follows the newest line until the user scrolls
// up, counts the paragraphs that arrive while the pointer rests on the panel, and keeps its
// height from shrinking in jumps. Owned by the history view; main thread only.
class HistoryTextView final : public QTextEdit {
    Q_OBJECT

public:
    explicit HistoryTextView(HistoryScrollState *scroll, QWidget *parent = nullptr);
    ~HistoryTextView() override;

    static constexpr double bottomInset = 14;
    // About the most characters of paragraphs one turn of the event loop renders (at least one
    // paragraph). Inserting and laying out a paragraph costs by its length, and every slice also
    // moves all the laid-out paragraphs below it, so a slice stays short but not tiny.
    static constexpr qsizetype sliceCharacters = 3000;

    void setPaused(bool paused);
    void setParagraphs(const QList<HistoryText::Paragraph> &paragraphs, const CaptionAppearance &appearance);

    // Whether the document shows the last update's paragraphs in full (not yet while a long
    // change is replaced slice by slice).
    bool settled() const { return !m_sliceQueued; }

    // State kept between updates, for tests.
    bool follow() const { return m_follow; }
    int unseen() const { return m_unseen; }
    double heldHeight() const { return m_heldHeight; }
    const QList<int> &lengths() const { return m_lengths; }
    bool animating() const { return m_animating; }
    double followThreshold() const;

    void scrollToBottom(bool animated);

    // The scrollbar the user sees, over the right edge of the text; the text edit's own bar
    // stays hidden and keeps the range and position.
    QScrollBar *overlayBar() const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Style;
    void applyTarget();
    // The document edit of one change: returns the rendered paragraphs' lengths.
    QList<int> replaceParagraphs(const HistoryChange &change, const QList<HistoryText::Paragraph> &paragraphs,
                                 bool newLook);
    void formatTailBlock(QTextCursor &cursor) const;
    void keepRendered(const HistoryChange &change, const QList<HistoryText::Paragraph> &paragraphs,
                      const QList<int> &lengths);
    // Keeps the paragraph that stood at `oldTop` in place when the text above it got shorter.
    void holdAnchor(int anchor, double oldTop);
    void setFollow(bool on);
    void setUnseen(int count);
    int render(QTextCursor &cursor, const HistoryText::Paragraph &paragraph, bool isFirst, const Style &style);
    std::optional<double> top(int paragraph, const QList<int> &lengths) const;
    double contentHeight() const;
    double holdHeight(double content, double visible);
    void applyBottomMargin(double content, double minimumHeight);
    void boundsChanged();

    QPointer<HistoryScrollState> m_state;
    QPropertyAnimation *m_animation = nullptr;
    OverlayScrollBar *m_overlay = nullptr;
    // What the last update asked for, and what the document shows (the same once settled).
    QList<HistoryText::Paragraph> m_target;
    CaptionAppearance m_targetAppearance;
    bool m_sliceQueued = false;
    QList<HistoryText::Paragraph> m_rendered;
    QList<int> m_lengths;
    std::optional<CaptionAppearance> m_renderedAppearance;
    std::unique_ptr<Style> m_style;
    QFont m_styleBaseFont;
    bool m_follow = true;
    double m_lastOffset = 0;
    bool m_updating = false;
    bool m_paused = false;
    int m_unseen = 0;
    double m_heldHeight = 0;
    double m_heldWidth = 0;
    bool m_animating = false;
    bool m_outline = false;
    double m_tailMargin = bottomInset;
    // The outlined text's shadow over the visible area: repaints without changes reuse it.
    TextShadow m_shadow;
};
