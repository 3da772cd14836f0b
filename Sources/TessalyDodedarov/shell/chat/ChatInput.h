#pragma once

#include <QPlainTextEdit>

// The question field of the chat window: grows from one to four lines with its text. Return
// or Enter submits, Shift+Return starts a new line, and Return while an input method is
// composing (pinyin) only commits the composition.
class ChatInput final : public QPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int maxLines = 4;

    explicit ChatInput(QWidget *parent = nullptr);

    // The number of lines the field shows now, 1 to 4.
    int shownLines() const { return m_lines; }

signals:
    void submitted();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitHeight();

    bool m_composing = false;
    int m_lines = 0;
};
