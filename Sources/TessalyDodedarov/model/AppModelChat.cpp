// The meeting chat: questions about the meeting answered from its record, and the
// question-and-answer file kept beside the record.
#include "model/AppModel.h"

#include "intelligence/ChatSession.h"
#include "intelligence/MeetingChat.h"
#include "platform/Keychain.h"

#include <QFileInfo>

void AppModel::installChat()
{
    ChatSession::Handlers handlers;
    handlers.changed = [this] { emit chatChanged(); };
    handlers.asked = [this](const QString &question) { log(QStringLiteral("chat"), {{QStringLiteral("text"), question}}); };
    handlers.answerEnded = [this] { saveChat(); };
    // One service for all: a refusal the chat met switches research and quick checks off the tool too.
    handlers.toolRefused = [this] { m_webSearchRejected = true; };
    handlers.transport = m_transport;
    m_chat = std::make_unique<ChatSession>(std::move(handlers));
    connect(this, &AppModel::linesChanged, this, &AppModel::canChatChanged);
}

const QList<ChatMessage> &AppModel::chatMessages() const
{
    return m_chat->messages();
}

bool AppModel::chatBusy() const
{
    return m_chat->busy();
}

int AppModel::nextChatID() const
{
    return m_chat->nextID();
}

bool AppModel::canChat() const
{
    return std::any_of(m_lines.cbegin(), m_lines.cend(),
                       [](const CaptionLine &line) { return line.finished && !line.english.isEmpty(); });
}

void AppModel::askMeeting(const QString &question)
{
    ChatSession::Question q;
    q.text = question;
    q.canChat = canChat();
    q.key = Keychain::get(Keychain::deepSeekAccount);
    q.webSearch = m_chatWebSearch && !m_webSearchRejected;
    q.topic = m_research.domain.isEmpty() ? background().title : m_research.domain;
    q.recap = m_recap;
    // The record is only read when the question will be asked.
    if (q.canChat && !m_chat->busy() && !question.trimmed().isEmpty())
        q.record = meetingRecordText();
    m_chat->ask(q);
}

void AppModel::clearChat()
{
    m_chat->clear();
}

void AppModel::saveChat()
{
    const std::optional<QString> file = m_transcript->fileURL();
    if (!file)
        return;
    const std::optional<QString> text = MeetingChat::transcript(m_chat->messages(), QFileInfo(*file).fileName());
    if (!text)
        return;
    m_transcript->saveSidecar(*file, QStringLiteral("问答"), *text);
}
