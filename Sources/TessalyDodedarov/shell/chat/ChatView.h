#pragma once

#include "intelligence/ChatMessage.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class AppModel;
class ChatBubble;
class ChatInput;
class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

// The chat window's content: a header with the web-search switch and the clear button, the
// conversation as bubbles (with suggested questions while it is empty) and the question field.
// It reads the conversation, the busy flag, the web-search switch and whether the meeting can
// be asked about from the model, and asks through AppModel::askMeeting; it changes nothing
// else. Main thread; owned by its window.
//
// Everything shown comes through apply(), which the model's signals call with its current
// values. An answer streams in as many small changes, so apply() touches only the bubble
// whose message changed and never rebuilds the list for a streamed piece.
class ChatView final : public QWidget {
    Q_OBJECT

public:
    struct State {
        QList<ChatMessage> messages;
        bool busy = false;
        bool canChat = false;
        bool webSearch = true;
    };

    explicit ChatView(AppModel &model, QWidget *parent = nullptr);

    static const QStringList &suggestions();

    // The one way in for everything the view shows.
    void apply(const State &state);
    // Applies the model's current values.
    void refresh();

    // What Return and the send button do: asks the question as typed unless it is only
    // blanks and line breaks or an answer is still coming, and then empties the field.
    void send();
    // Puts the keyboard focus in the question field.
    void focusInput();

    // The parts, for tests.
    ChatInput *input() const { return m_input; }
    QToolButton *sendButton() const { return m_send; }
    QToolButton *clearButton() const { return m_clear; }
    QCheckBox *webSearchBox() const { return m_webSearch; }
    QLabel *subtitle() const { return m_subtitle; }
    QWidget *suggestionsBlock() const { return m_suggestions; }
    const QList<QPushButton *> &chips() const { return m_chips; }
    QScrollArea *scrollArea() const { return m_scroll; }
    const QList<ChatBubble *> &bubbles() const { return m_bubbles; }
    ChatBubble *bubble(int id) const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildSuggestions();
    QWidget *buildInputBar();
    void placeBubbles(const QList<ChatMessage> &messages);
    void updateSendButton();
    void scrollToBottom();

    AppModel &m_model;
    State m_state;
    bool m_everShown = false;
    // Keeps the view at the bottom while the content grows after a change of the last message,
    // until the user scrolls away.
    bool m_followBottom = false;

    QLabel *m_subtitle = nullptr;
    QCheckBox *m_webSearch = nullptr;
    QToolButton *m_clear = nullptr;
    QScrollArea *m_scroll = nullptr;
    QVBoxLayout *m_list = nullptr;
    QWidget *m_suggestions = nullptr;
    QList<QPushButton *> m_chips;
    QList<ChatBubble *> m_bubbles;
    ChatInput *m_input = nullptr;
    QToolButton *m_send = nullptr;
};
