#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class HistoryScrollState;
class HistoryView;
class NotesBar;
class OpacityFade;
class QFrame;
class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

// The caption panel's content: an instruction while nothing was recorded, else the caption
// history; the notes bar under it; a status dot at the top left; and at the top right either
// the control buttons (mouse over the panel, or the recap open) or a one-line status note.
// It reads the model and acts only through its operations; it never reaches the engine.
// Changes of the model are gathered and applied once per turn of the event loop.
// Owned by the panel; main thread only.
class CaptionView final : public QWidget {
    Q_OBJECT

public:
    explicit CaptionView(AppModel *model, QWidget *parent = nullptr);
    ~CaptionView() override;

    // Opens the meeting chat; empty until the chat window is built.
    static inline std::function<void()> showChat = [] {};

    // Derived values.
    QColor backgroundColor() const;
    QString statusText() const;
    QColor statusColor() const;
    std::optional<QString> emptyMessage() const;
    bool recapOpen() const { return m_recapOpen; }
    bool notesOpen() const { return m_notesOpen; }

    // Without a compositing manager translucent pixels show garbage: paint opaque.
    void setOpaque(bool on);

    HistoryScrollState *scroll() const { return m_scroll; }
    NotesBar *notesBar() const { return m_notesBar; }
    QLabel *statusDot() const { return m_dot; }
    QLabel *emptyLabel() const { return m_empty; }
    QLabel *statusPill() const { return m_pill; }
    QWidget *controls() const { return m_controls; }
    OpacityFade *controlsFade() const { return m_controlsFade; }
    QPushButton *jumpButton() const { return m_jump; }
    QWidget *historyArea() const { return m_historyArea; }
    HistoryView *history() const { return m_history; }
    // A control button by its symbol name; visible or not.
    QToolButton *controlButton(const QString &symbol) const;
    // The popups, made on the first call (their first opening).
    QFrame *recapPopup();
    QFrame *notesPopup();

    // Applies pending model changes now instead of on the next turn (tests, benchmarks).
    void updateNow();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void scheduleUpdate();
    void refresh();
    void placeOverlays();
    QToolButton *addControl(const QString &symbol, const QString &help, std::function<void()> action);
    void setRecapOpen(bool open);
    void setNotesOpen(bool open);
    void placeNotesPopup();

    QPointer<AppModel> m_model;
    HistoryScrollState *m_scroll;
    bool m_updateQueued = false;
    bool m_opaque = false;
    bool m_recapOpen = false;
    bool m_notesOpen = false;

    QVBoxLayout *m_column = nullptr;
    QLabel *m_empty = nullptr;
    QWidget *m_historyArea = nullptr;
    HistoryView *m_history = nullptr;
    NotesBar *m_notesBar = nullptr;
    QLabel *m_dot = nullptr;
    QLabel *m_pill = nullptr;
    QWidget *m_controls = nullptr;
    QPushButton *m_jump = nullptr;
    QToolButton *m_pause = nullptr;
    QToolButton *m_play = nullptr;
    QToolButton *m_stop = nullptr;
    QToolButton *m_maximize = nullptr;
    QToolButton *m_recap = nullptr;
    QToolButton *m_chat = nullptr;
    QFrame *m_recapPopup = nullptr;
    QFrame *m_notesPopup = nullptr;
    OpacityFade *m_controlsFade = nullptr;
    OpacityFade *m_pillFade = nullptr;
    OpacityFade *m_jumpFade = nullptr;
    class RecapView *m_recapView = nullptr;
    class NotesView *m_notesView = nullptr;
};
