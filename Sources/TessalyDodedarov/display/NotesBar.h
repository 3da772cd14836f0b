#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

class AppModel;
class BusyIndicator;
class QLineEdit;
class QPushButton;

// The one place the caption panel takes typing: a field for this meeting's notes (names,
// terms, corrections, wishes, a video link) and, once notes exist, a button that opens the
// list of them. Drawn in the captions' Chinese colour so it matches every skin. Part of the
// caption view, which owns it and calls setTextColor() when the model or the look changed.
class NotesBar final : public QWidget {
    Q_OBJECT

public:
    explicit NotesBar(AppModel *model, QWidget *parent = nullptr);

    void setTextColor(const QColor &color);

    QLineEdit *field() const { return m_field; }
    QPushButton *notesButton() const { return m_button; }
    BusyIndicator *busyIndicator() const { return m_busy; }
    QColor color() const { return m_color; }

signals:
    void notesButtonClicked();

private:
    void submit();
    void restyle(const QColor &color);

    QPointer<AppModel> m_model;
    QPushButton *m_button;
    BusyIndicator *m_busy;
    QLineEdit *m_field;
    QColor m_color;
    QColor m_styledColor;
};
