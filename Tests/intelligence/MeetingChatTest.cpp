// The pure parts of the meeting chat: the cut of an over-long record, the request messages, the
// system message and the question-and-answer transcript.
#include "TestMain.h"

#include "intelligence/MeetingChat.h"

namespace {

const QString kBase = QStringLiteral(
    "你是会议助手。下面是一场会议（或讲座、视频）的完整记录：每段是时间、中文译文、下一行原文；“—— 换人 ——”表示换了人说话；〔…〕开头的是字幕软件自动做的研究和纠正说明。\n"
    "回答用户关于这场会议的问题：\n"
    "1. 用中文回答，简洁、有条理；需要分点时用短列表。\n"
    "2. 以记录为准。引用具体内容时注明大约时间（比如 23:28）。记录里没有的，直接说“记录里没有提到”，不要编造。\n"
    "3. 人名、研究名、术语用记录里纠正后的正确写法（研究、纠正说明里的写法优先）。\n"
    "4. 识别和翻译偶尔有错：遇到明显不通的地方，按上下文理解，必要时说明“这里原文可能识别有误”。");
const QString kRule5 = QStringLiteral(
    "\n5. 用户问到记录之外的背景（比如某项研究的正式名称、发表情况、结论）时，可以联网搜索，并说明哪些内容来自网络。");
const QString kMarker = QStringLiteral("\n\n……（中间部分太长，省略）……\n\n");

ChatMessage question(int id, const QString &text)
{
    return {id, true, text, false, false};
}

ChatMessage answer(int id, const QString &text, bool pending = false, bool failed = false)
{
    return {id, false, text, pending, failed};
}

QStringList flatten(const QList<QJsonObject> &messages)
{
    QStringList out;
    for (const QJsonObject &m : messages) {
        out << QString::number(m.size()) + u':' + m.value(QStringLiteral("role")).toString() + u':' + m.value(QStringLiteral("content")).toString();
    }
    return out;
}

} // namespace

class MeetingChatTest final : public QObject {
    Q_OBJECT

private slots:
    void trimmed()
    {
        QCOMPARE(kMarker.size(), 19);
        const QString exact = QString(150000, u'记');
        QCOMPARE(MeetingChat::trimmed(exact), exact);

        QString longer = QString(30000, u'头') + QString(1, u'中') + QString(119960, u'尾');
        QCOMPARE(longer.size(), 149961);
        longer.prepend(QString(40, u'头')); // 150001 characters
        const QString cut = MeetingChat::trimmed(longer);
        QCOMPARE(cut.size(), 149979);
        QCOMPARE(cut, QString(30000, u'头') + kMarker + QString(119960, u'尾'));
    }

    void trimmedCountsCharacters()
    {
        // 150000 emoji are 300000 code units, still within the limit; one more is not.
        const QString emoji = QStringLiteral("😀");
        QString record = emoji.repeated(150000);
        QCOMPARE(MeetingChat::trimmed(record), record);
        record += QStringLiteral("a");
        const QString cut = MeetingChat::trimmed(record);
        QCOMPARE(cut, emoji.repeated(30000) + kMarker + emoji.repeated(119959) + QStringLiteral("a"));
    }

    void messages()
    {
        QList<ChatMessage> history;
        for (int i = 0; i < 10; ++i) {
            history << question(4 * i, QStringLiteral("问%1").arg(i));
            history << answer(4 * i + 1, QStringLiteral("答%1").arg(i));
        }
        history.insert(5, answer(99, QStringLiteral("失败"), false, true));
        history << question(100, QStringLiteral("最后一问")) << answer(101, QStringLiteral("出错了"), false, true);
        history << answer(103, QString(), true);
        history << answer(105, QString());
        const QStringList out = flatten(MeetingChat::messages(history, QStringLiteral("新问题")));
        QCOMPARE(out.size(), 13);
        QCOMPARE(out.first(), QStringLiteral("2:assistant:答4"));
        // A failed answer goes, its question stays: two user messages in a row.
        QCOMPARE(out.mid(10), (QStringList{"2:assistant:答9", "2:user:最后一问", "2:user:新问题"}));
        QCOMPARE(flatten(MeetingChat::messages({}, QStringLiteral("q"))), QStringList{"2:user:q"});
    }

    void systemMessage_data()
    {
        QTest::addColumn<bool>("webSearch");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("recap");
        QTest::addColumn<QString>("expected");
        QTest::newRow("record only") << false << QString() << QString()
                                     << kBase + QStringLiteral("\n\n【会议记录】\n记录");
        QTest::newRow("everything")
            << true << QStringLiteral("心脏电生理") << QStringLiteral("一、开场")
            << kBase + kRule5 + QStringLiteral("\n\n【会议】心脏电生理\n\n【前情提要（自动生成）】\n一、开场\n\n【会议记录】\n记录");
    }

    void systemMessage()
    {
        QFETCH(bool, webSearch);
        QFETCH(QString, topic);
        QFETCH(QString, recap);
        QFETCH(QString, expected);
        QCOMPARE(MeetingChat::systemMessage(webSearch, topic, recap, QStringLiteral("记录")), expected);
        const QString longRecord = QString(150001, u'x');
        QVERIFY(MeetingChat::systemMessage(webSearch, topic, recap, longRecord)
                    .endsWith(QStringLiteral("\n\n【会议记录】\n") + MeetingChat::trimmed(longRecord)));
    }

    void transcript()
    {
        const QList<ChatMessage> messages{
            question(0, QStringLiteral("讲了什么？")), answer(1, QStringLiteral("讲了消融。")),
            question(2, QStringLiteral("谁讲的？")), answer(3, QStringLiteral("连接失败，请再问一次。"), false, true),
            question(4, QStringLiteral("还有呢？")), answer(5, QStringLiteral("正在"), true),
        };
        QCOMPARE(MeetingChat::transcript(messages, QStringLiteral("2026-01-05 09.15.02.txt")),
                 QStringLiteral("泰萨利字幕 会后问答（会议记录：“2026-01-05 09.15.02.txt”）\n\n"
                                "问：讲了什么？\n\n答：讲了消融。\n\n问：谁讲的？\n\n问：还有呢？\n\n"));
        QCOMPARE(MeetingChat::transcript({answer(1, QStringLiteral("x"), false, true)}, QStringLiteral("a.txt")),
                 std::nullopt);
    }
};

DODEDAROV_TEST(MeetingChatTest)
#include "MeetingChatTest.moc"
