#include "intelligence/MeetingChat.h"

#include "intelligence/TextCut.h"

namespace {

constexpr qsizetype kRecordLimit = 150000;
constexpr qsizetype kHead = 30000;
constexpr qsizetype kTail = kRecordLimit - kHead - 40; // a little under the limit, marker included
constexpr qsizetype kHistory = 12;

bool usable(const ChatMessage &message)
{
    return !message.pending && !message.failed && !message.text.isEmpty();
}

} // namespace

QString MeetingChat::trimmed(const QString &text)
{
    if (!TextCut::longerThan(text, kRecordLimit))
        return text;
    return TextCut::left(text, kHead) + QStringLiteral("\n\n……（中间部分太长，省略）……\n\n")
           + TextCut::right(text, kTail);
}

QList<QJsonObject> MeetingChat::messages(const QList<ChatMessage> &history, const QString &question)
{
    QList<ChatMessage> kept;
    for (const ChatMessage &message : history) {
        if (usable(message))
            kept.append(message);
    }
    if (kept.size() > kHistory)
        kept.remove(0, kept.size() - kHistory);
    QList<QJsonObject> out;
    for (const ChatMessage &message : std::as_const(kept)) {
        out.append(QJsonObject{
            {QStringLiteral("role"), message.fromUser ? QStringLiteral("user") : QStringLiteral("assistant")},
            {QStringLiteral("content"), message.text}});
    }
    out.append(QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                           {QStringLiteral("content"), question}});
    return out;
}

QString MeetingChat::systemMessage(bool webSearch, const QString &topic, const QString &recap,
                                   const QString &record)
{
    const QStringList base{
        QStringLiteral("你是会议助手。下面是一场会议（或讲座、视频）的完整记录：每段是时间、中文译文、下一行原文；“—— 换人 ——”表示换了人说话；〔…〕开头的是字幕软件自动做的研究和纠正说明。"),
        QStringLiteral("回答用户关于这场会议的问题："),
        QStringLiteral("1. 用中文回答，简洁、有条理；需要分点时用短列表。"),
        QStringLiteral("2. 以记录为准。引用具体内容时注明大约时间（比如 23:28）。记录里没有的，直接说“记录里没有提到”，不要编造。"),
        QStringLiteral("3. 人名、研究名、术语用记录里纠正后的正确写法（研究、纠正说明里的写法优先）。"),
        QStringLiteral("4. 识别和翻译偶尔有错：遇到明显不通的地方，按上下文理解，必要时说明“这里原文可能识别有误”。"),
    };
    QString text = base.join(u'\n');
    if (webSearch)
        text += QStringLiteral("\n5. 用户问到记录之外的背景（比如某项研究的正式名称、发表情况、结论）时，可以联网搜索，并说明哪些内容来自网络。");
    if (!topic.isEmpty())
        text += QStringLiteral("\n\n【会议】") + topic;
    if (!recap.isEmpty())
        text += QStringLiteral("\n\n【前情提要（自动生成）】\n") + recap;
    text += QStringLiteral("\n\n【会议记录】\n") + trimmed(record);
    return text;
}

std::optional<QString> MeetingChat::transcript(const QList<ChatMessage> &messages,
                                               const QString &recordFileName)
{
    QString body;
    for (const ChatMessage &message : messages) {
        if (message.pending || message.failed)
            continue;
        body += (message.fromUser ? QStringLiteral("问：") : QStringLiteral("答：")) + message.text
                + QStringLiteral("\n\n");
    }
    if (body.isEmpty())
        return std::nullopt;
    return QStringLiteral("泰萨利字幕 会后问答（会议记录：“") + recordFileName + QStringLiteral("”）\n\n")
           + body;
}
