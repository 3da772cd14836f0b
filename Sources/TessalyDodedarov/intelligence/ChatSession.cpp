#include "intelligence/ChatSession.h"

#include "intelligence/MeetingChat.h"
#include "intelligence/ResearchCall.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"

struct ChatSession::State {
    Handlers handlers;
    QList<ChatMessage> messages;
    bool busy = false;
    int nextID = 0;
    int serial = 0; // grows when a meeting begins; an answer of an older one is dropped
    // The service refused the web-search tool and took the same question without it: every
    // later question goes without it, not through the refusal and its resends again.
    bool toolRefused = false;
    DeepSeekTransport::Call call;
};

namespace {

using State = ChatSession::State;
using Outcome = DeepSeekTransport::Outcome;

const QString kNoKey = QStringLiteral("还没有填 DeepSeek 的 API Key，没法回答。");
const QString kNoAnswer = QStringLiteral("没有得到回答，请再问一次。");
const QString kConnectionFailed = QStringLiteral("连接失败，请再问一次。");

// Everything one answer's request carries, fixed when the question is asked.
struct Asking {
    int serial = 0;
    int answerID = 0;
    QString system;
    QList<QJsonObject> messages;
    QString key;
    bool webSearch = false;
    bool retried = false;
    bool toolRefused = false; // the failure before the retry was the service refusing the tool
};

ChatMessage *entry(State &state, int id)
{
    for (ChatMessage &message : state.messages) {
        if (message.id == id)
            return &message;
    }
    return nullptr;
}

// Ends the answer; `failure` is none for a stream that ended normally.
void end(State &state, const Asking &asking, const std::optional<QString> &failure)
{
    if (state.serial != asking.serial)
        return;
    state.busy = false;
    if (ChatMessage *answer = entry(state, asking.answerID)) {
        answer->pending = false;
        if (answer->text.isEmpty()) {
            answer->text = failure.value_or(kNoAnswer);
            answer->failed = true;
        } else if (failure) {
            // Cut short: what arrived stays visible, marked incomplete and why, and like every
            // failed answer it is left out of later requests and of the transcript.
            answer->text += QStringLiteral("\n\n（回答中断：") + *failure + QStringLiteral("）");
            answer->failed = true;
        }
    }
    state.handlers.changed();
    state.handlers.answerEnded();
}

void send(const std::weak_ptr<State> &weak, std::shared_ptr<Asking> asking)
{
    const std::shared_ptr<State> state = weak.lock();
    if (!state)
        return;
    const bool tool = asking->webSearch && !asking->retried;
    const QByteArray body = DeepSeek::chatBody(asking->system, asking->messages, tool);
    state->call = DeepSeekTransport::stream(
        body, asking->key,
        [weak, asking](const QString &piece) {
            const std::shared_ptr<State> state = weak.lock();
            if (!state || state->serial != asking->serial)
                return;
            if (ChatMessage *answer = entry(*state, asking->answerID)) {
                answer->text += piece;
                state->handlers.changed();
            }
        },
        [weak, asking](const Outcome &outcome) {
            const std::shared_ptr<State> state = weak.lock();
            if (!state)
                return;
            if (state->serial == asking->serial)
                state->call = DeepSeekTransport::Call();
            switch (outcome.kind) {
            case Outcome::Kind::success:
                if (asking->retried && asking->toolRefused && !state->toolRefused) {
                    state->toolRefused = true;
                    state->handlers.toolRefused();
                }
                end(*state, *asking, std::nullopt);
                return;
            case Outcome::Kind::cancelled:
                return; // only the session ends a call, when it goes away
            case Outcome::Kind::failure:
            case Outcome::Kind::networkError:
                break;
            }
            const bool service = outcome.kind == Outcome::Kind::failure;
            const QString message = service ? outcome.failure.message : kConnectionFailed;
            const bool fatal = service && outcome.failure.fatal;
            if (!fatal && asking->webSearch) {
                if (ChatMessage *answer = entry(*state, asking->answerID)) {
                    answer->text.clear();
                    state->handlers.changed();
                }
                if (!asking->retried) {
                    // The system message keeps its web-search rule; only the tool goes.
                    asking->retried = true;
                    asking->toolRefused = ResearchCall::refusesTool(outcome);
                    send(weak, asking);
                    return;
                }
            }
            end(*state, *asking, message);
        },
        state->handlers.transport);
}

} // namespace

ChatSession::ChatSession(Handlers handlers)
    : m_state(std::make_shared<State>())
{
    m_state->handlers = std::move(handlers);
}

ChatSession::~ChatSession()
{
    // The request may still stream; nothing of it reaches a session that is gone.
    m_state->call.cancel();
}

void ChatSession::ask(const Question &question)
{
    State &state = *m_state;
    const QString text = question.text.trimmed();
    if (text.isEmpty() || state.busy || !question.canChat)
        return;
    const QList<ChatMessage> history = state.messages;
    state.handlers.asked(text);

    const int id = state.nextID;
    state.messages.append({id, true, text, false, false});
    state.nextID += 2;

    const QString key = question.key.value_or(QString());
    if (key.isEmpty()) {
        state.messages.append({id + 1, false, kNoKey, false, true});
        state.handlers.changed();
        return;
    }
    state.messages.append({id + 1, false, QString(), true, false});
    state.busy = true;
    state.handlers.changed();

    auto asking = std::make_shared<Asking>();
    asking->serial = state.serial;
    asking->answerID = id + 1;
    asking->webSearch = question.webSearch && !state.toolRefused;
    asking->system = MeetingChat::systemMessage(asking->webSearch, question.topic, question.recap,
                                                question.record);
    asking->messages = MeetingChat::messages(history, text);
    asking->key = key;
    send(m_state, asking);
}

void ChatSession::beginMeeting()
{
    m_state->messages.clear();
    m_state->busy = false;
    m_state->serial += 1;
    m_state->handlers.changed();
}

void ChatSession::clear()
{
    if (m_state->busy)
        return;
    m_state->messages.clear();
    m_state->handlers.changed();
}

const QList<ChatMessage> &ChatSession::messages() const
{
    return m_state->messages;
}

bool ChatSession::busy() const
{
    return m_state->busy;
}

int ChatSession::nextID() const
{
    return m_state->nextID;
}
