#pragma once

#include "intelligence/ChatMessage.h"

#include <QColor>
#include <QWidget>

class QLabel;
class QTextBrowser;
class QTextCursor;

// One message of the chat window: a question at the right, an answer at the left, on a
// rounded background. While an answer is awaited and still empty it shows a spinner; otherwise
// its text with the inline Markdown applied, selectable, red when the answer failed.
//
// Answers stream in small pieces, so the text sits in a read-only QTextBrowser edited through
// QTextCursor, one block per line: a piece that extends the shown text re-renders only the
// last line, and the widget's height follows the document. The background is painted in a
// solid colour (the tint already mixed with the window colour) so that the text area can fill
// itself with the same colour instead of being composed over a translucent one.
class ChatBubble final : public QWidget {
    Q_OBJECT

public:
    explicit ChatBubble(const ChatMessage &message, QWidget *parent = nullptr);

    const ChatMessage &message() const { return m_message; }
    // Shows the message; a text that extends the shown one is rendered from its last line.
    void setMessage(const ChatMessage &message);

    static QColor failedColor();

    QTextBrowser *browser() const { return m_browser; }
    bool showsWaiting() const;
    // How many times the whole text was rendered afresh (a changed style or a rewritten text).
    int fullRenders() const { return m_fullRenders; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    static constexpr int padding = 10;
    static constexpr int questionInset = 60;
    static constexpr int answerInset = 30;

    void applyStyle();
    void renderAll();
    void renderLines(QTextCursor &cursor, QStringView text) const;
    void fitHeight();

    ChatMessage m_message;
    QColor m_fill;
    QWidget *m_waiting = nullptr;
    QLabel *m_waitingLabel = nullptr;
    QTextBrowser *m_browser = nullptr;
    int m_fullRenders = 0;
};
