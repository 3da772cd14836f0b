#pragma once

#include "intelligence/ChatMessage.h"
#include "translation/DeepSeekTransport.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The meeting chat's conversation and its asking protocol: one question at a time, the answer
// streamed into the conversation through the model transport, a question asked with web search
// retried once without it (and, once the service refused the tool, later questions asked
// without it), failures ended with their reason. The meeting model owns one and
// publishes its state (messages, busy flag, id counter); what the chat needs from the model
// comes with each question. Main thread. An answer still streaming when a meeting begins, or
// when the session is gone, changes nothing.
class ChatSession final {
public:
    struct Question {
        QString text;
        bool canChat = false;       // a caption line of the meeting is finished and has text
        std::optional<QString> key; // the translation key; none when not stored
        bool webSearch = false;     // the chat setting is on and web search was not refused
        QString topic;              // research domain, else the background's title
        QString recap;
        QString record;             // the meeting record text, whole; cut here
    };

    struct Handlers {
        std::function<void()> changed = [] {};                    // messages, busy or counter
        std::function<void(const QString &question)> asked = [](const QString &) {}; // "chat" event
        std::function<void()> answerEnded = [] {};                // time to write the transcript
        // The service refused the web-search tool and answered without it; from then on this
        // session asks without web search.
        std::function<void()> toolRefused = [] {};
        // Handed to every request the session sends: the owner hears of them as of its own.
        DeepSeekTransport::Listener transport = {};
    };

    explicit ChatSession(Handlers handlers);
    ~ChatSession();
    ChatSession(const ChatSession &) = delete;
    ChatSession &operator=(const ChatSession &) = delete;

    // Does nothing for a blank question, while an answer is pending, or before the meeting has
    // a finished caption line.
    void ask(const Question &question);
    // Empties the conversation and drops whatever the answer in flight still brings.
    void beginMeeting();
    // Empties the conversation when no answer is pending; the id counter goes on.
    void clear();

    const QList<ChatMessage> &messages() const;
    bool busy() const;
    int nextID() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
