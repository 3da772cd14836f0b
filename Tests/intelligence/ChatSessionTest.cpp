// The meeting chat's asking protocol through the real transport against the loopback
// chat-completions fakes: the checks before a question, identifiers, the request, how each kind
// of failure ends the answer, the retry without web search, a meeting that begins while an
// answer streams, and the transcript written through the record writer.
#include "TestMain.h"

#include "fakes/FakeDeepSeekServer.h"
#include "fakes/ManualDeepSeekServer.h"
#include "intelligence/ChatSession.h"
#include "intelligence/MeetingChat.h"
#include "platform/Keychain.h"
#include "records/TranscriptWriter.h"
#include "translation/DeepSeekTransport.h"
#include "translation/TranslationRouting.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

using Script = FakeDeepSeekServer::Script;

Q_DECLARE_METATYPE(QList<FakeDeepSeekServer::Script>)

namespace {

const QString kKey = QStringLiteral("sk-chat-test");
const QString kRule5 = QStringLiteral("\n5. 用户问到记录之外的背景");

// A server that sends some text and then nothing more: the transport's idle limit ends it.
Script stallAfter(const QString &piece)
{
    Script script;
    script.delta(piece).pause(60000);
    return script;
}

struct Recorder {
    int changed = 0;
    QStringList asked;
    int ended = 0;
    QStringList answerTexts; // the last entry's text at every change
};

bool offersTool(const FakeDeepSeekServer::Request &request)
{
    return request.json.contains(QStringLiteral("tools"));
}

} // namespace

namespace QTest {
template <>
char *toString(const ChatMessage &m)
{
    return qstrdup(QStringLiteral("{%1 %2 \"%3\" pending=%4 failed=%5}")
                       .arg(m.id).arg(m.fromUser ? "question" : "answer", m.text)
                       .arg(m.pending).arg(m.failed).toUtf8().constData());
}
}

class ChatSessionTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
    }

    void init()
    {
        m_server = std::make_unique<FakeDeepSeekServer>();
        QVERIFY(m_server->listen());
        DeepSeekTransport::baseAddress = m_server->baseUrl();
        // Short enough for the rows that wait it out, long enough for a busy machine's first byte.
        DeepSeekTransport::timeoutInterval = 3.0;
        DeepSeekTransport::noUsageOption.clear();
        DeepSeekTransport::compatModels.clear();
        TranslationRouting::router = ServiceRouter{};
        m_recorder = Recorder{};
        m_session = std::make_unique<ChatSession>(handlers());
    }

    void cleanup()
    {
        m_session.reset();
        m_server.reset();
        DeepSeekTransport::timeoutInterval = 20.0;
    }

    void checksBeforeAsking_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("canChat");
        QTest::newRow("blanks and line breaks") << QStringLiteral(" \n\t\u3000 ") << true;
        QTest::newRow("before the first finished line") << QStringLiteral("讲了什么？") << false;
    }

    void checksBeforeAsking()
    {
        QFETCH(QString, text);
        QFETCH(bool, canChat);
        ChatSession::Question q = question(text, false);
        q.canChat = canChat;
        m_session->ask(q);
        QVERIFY(m_session->messages().isEmpty());
        QCOMPARE(m_session->nextID(), 0);
        QCOMPARE(m_recorder.changed, 0);
        QVERIFY(m_recorder.asked.isEmpty());
        QTest::qWait(50);
        QVERIFY(m_server->requests().isEmpty());
    }

    void noQuestionWhileAnAnswerIsPending()
    {
        Script slow = FakeDeepSeekServer::stream({QStringLiteral("慢")});
        slow.headDelayMs = 300;
        m_server->enqueue(slow);
        m_session->ask(question(QStringLiteral("一"), false));
        QVERIFY(m_session->busy());
        m_session->ask(question(QStringLiteral("二"), false));
        m_session->clear(); // not while busy
        QCOMPARE(m_session->messages().size(), 2);
        QCOMPARE(m_session->nextID(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!m_session->busy(), 15000);
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_recorder.asked, QStringList{"一"});
    }

    void noKeyAnswersAtOnce()
    {
        ChatSession::Question q = question(QStringLiteral("  讲了什么？\n"), false);
        q.key = std::nullopt;
        m_session->ask(q);
        QCOMPARE(m_session->messages(),
                 (QList<ChatMessage>{{0, true, QStringLiteral("讲了什么？"), false, false},
                                     {1, false, QStringLiteral("还没有填 DeepSeek 的 API Key，没法回答。"), false, true}}));
        QCOMPARE(m_session->nextID(), 2);
        QVERIFY(!m_session->busy());
        QCOMPARE(m_recorder.asked, QStringList{"讲了什么？"});
        QCOMPARE(m_recorder.ended, 0);
        q.key = QString(); // an empty key is no key either
        m_session->ask(q);
        QCOMPARE(m_session->nextID(), 4);
        QTest::qWait(50);
        QVERIFY(m_server->requests().isEmpty());
    }

    void answers_data()
    {
        QTest::addColumn<bool>("webSearch");
        QTest::addColumn<QList<Script>>("scripts");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<int>("toolRequests");

        const QString connection = QStringLiteral("连接失败，请再问一次。");
        QTest::newRow("answered") << false
                                  << QList<Script>{FakeDeepSeekServer::stream({QStringLiteral("讲了"), QStringLiteral("消融。")})}
                                  << QStringLiteral("讲了消融。") << false << 0;
        QTest::newRow("answered with web search")
            << true << QList<Script>{FakeDeepSeekServer::stream({QStringLiteral("查到了")})}
            << QStringLiteral("查到了") << false << 1;
        QTest::newRow("stream ended without any text")
            << false << QList<Script>{FakeDeepSeekServer::stream({})} << QStringLiteral("没有得到回答，请再问一次。") << true << 0;
        // The network stack sends a request once more on a fresh connection when the first was
        // closed before any answer: the second hang-up is the failure.
        QTest::newRow("connection error")
            << false << QList<Script>{FakeDeepSeekServer::hungUp(), FakeDeepSeekServer::hungUp()} << connection
            << true << 0;
        QTest::newRow("service failure")
            << false << QList<Script>{FakeDeepSeekServer::error(402)} << QStringLiteral("DeepSeek 账户余额不足。") << true << 0;
        QTest::newRow("cut short with web search off")
            << false << QList<Script>{stallAfter(QStringLiteral("讲了一半"))}
            << QStringLiteral("讲了一半\n\n（回答中断：连接失败，请再问一次。）") << true << 0;
        QTest::newRow("fatal failure with web search on is not retried")
            << true << QList<Script>{FakeDeepSeekServer::error(401)}
            << QStringLiteral("DeepSeek 密钥无效，请在设置里重新填写。") << true << 1;
        QTest::newRow("first failure with web search: asked again without it")
            << true << QList<Script>{stallAfter(QStringLiteral("半句")), FakeDeepSeekServer::stream({QStringLiteral("重答")})}
            << QStringLiteral("重答") << false << 1;
        QTest::newRow("refused tool: asked again without it")
            << true << QList<Script>{FakeDeepSeekServer::error(422), FakeDeepSeekServer::stream({QStringLiteral("好")})}
            << QStringLiteral("好") << false << 1;
        QTest::newRow("second failure of that question")
            << true << QList<Script>{stallAfter(QStringLiteral("甲")), stallAfter(QStringLiteral("乙"))} << connection
            << true << 1;
        QTest::newRow("fatal failure of the retry")
            << true << QList<Script>{FakeDeepSeekServer::error(500), FakeDeepSeekServer::error(402)}
            << QStringLiteral("DeepSeek 账户余额不足。") << true << 1;
    }

    void answers()
    {
        QFETCH(bool, webSearch);
        QFETCH(QList<Script>, scripts);
        QFETCH(QString, text);
        QFETCH(bool, failed);
        QFETCH(int, toolRequests);
        for (const Script &script : scripts)
            m_server->enqueue(script);

        m_session->ask(question(QStringLiteral("讲了什么？"), webSearch));
        QCOMPARE(m_session->messages().last(), (ChatMessage{1, false, QString(), true, false}));
        QVERIFY(m_session->busy());
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.ended, 1, 15000);
        QVERIFY(!m_session->busy());
        QCOMPARE(m_session->messages().size(), 2);
        QCOMPARE(m_session->messages().first(), (ChatMessage{0, true, QStringLiteral("讲了什么？"), false, false}));
        QCOMPARE(m_session->messages().last(), (ChatMessage{1, false, text, false, failed}));
        QTest::qWait(20);
        QCOMPARE(m_recorder.ended, 1);

        const QList<FakeDeepSeekServer::Request> requests = m_server->requests();
        QCOMPARE(requests.size(), scripts.size());
        for (int i = 0; i < requests.size(); ++i) {
            QCOMPARE(offersTool(requests.at(i)), i < toolRequests);
            // The retry keeps the system message, web-search rule included.
            QCOMPARE(requests.at(i).contents().first().contains(kRule5), webSearch);
            QCOMPARE(requests.at(i).roles(), (QStringList{"system", "user"}));
            QCOMPARE(requests.at(i).contents().last(), QStringLiteral("讲了什么？"));
            QCOMPARE(requests.at(i).json.value("temperature").toDouble(), 0.3);
        }
        if (QByteArray(QTest::currentDataTag()) == "answered")
            QCOMPARE(m_recorder.answerTexts.mid(m_recorder.answerTexts.indexOf(QString()) + 1),
                     (QStringList{"讲了", "讲了消融。", "讲了消融。"})); // piece by piece, then the end
    }

    // A service that will not take the web-search tool: the first question goes through the
    // refusal and its resends once; every later question is one request without the tool and
    // without the web-search rule.
    void aRefusedToolStaysOffForLaterQuestions()
    {
        m_server->refuseTools = true;
        int refusals = 0;
        m_session = std::make_unique<ChatSession>(ChatSession::Handlers{
            [] {}, [](const QString &) {}, [this] { ++m_recorder.ended; }, [&refusals] { ++refusals; }});

        m_session->ask(question(QStringLiteral("一"), true));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.ended, 1, 15000);
        QCOMPARE(m_session->messages().last().text, QStringLiteral("ok"));
        QCOMPARE(refusals, 1);
        const qsizetype first = m_server->requests().size();
        QVERIFY(first >= 2);
        QVERIFY(!offersTool(m_server->requests().last()));

        m_session->ask(question(QStringLiteral("二"), true));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.ended, 2, 15000);
        QCOMPARE(m_session->messages().last().text, QStringLiteral("ok"));
        QCOMPARE(m_server->requests().size(), first + 1);
        const FakeDeepSeekServer::Request second = m_server->requests().last();
        QVERIFY(!offersTool(second));
        QVERIFY(!second.contents().first().contains(kRule5));
        QCOMPARE(refusals, 1);
    }

    // A retry that succeeds after a failure that was not the tool's (a time-out, a server error)
    // says nothing about the tool: the next question offers it again.
    void otherFailuresKeepTheToolForLaterQuestions()
    {
        int refusals = 0;
        m_session = std::make_unique<ChatSession>(ChatSession::Handlers{
            [] {}, [](const QString &) {}, [this] { ++m_recorder.ended; }, [&refusals] { ++refusals; }});
        m_server->enqueue(FakeDeepSeekServer::error(500));
        m_session->ask(question(QStringLiteral("一"), true));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.ended, 1, 15000);
        m_session->ask(question(QStringLiteral("二"), true));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.ended, 2, 15000);
        QCOMPARE(m_server->requests().size(), 3);
        QVERIFY(offersTool(m_server->requests().last()));
        QCOMPARE(refusals, 0);
    }

    void requestCarriesTheLast12UsableEntries()
    {
        for (int i = 0; i < 10; ++i) {
            m_server->enqueue(FakeDeepSeekServer::stream({QStringLiteral("答%1").arg(i)}));
            m_session->ask(question(QStringLiteral("问%1").arg(i), false));
            QTRY_VERIFY_WITH_TIMEOUT(!m_session->busy(), 15000);
        }
        QCOMPARE(m_session->nextID(), 20);
        ChatSession::Question q = question(QStringLiteral("第十一问"), false);
        q.record = QString(150001, u'记');
        q.topic = QStringLiteral("心脏电生理");
        m_session->ask(q);
        QTRY_VERIFY_WITH_TIMEOUT(!m_session->busy(), 15000);
        const FakeDeepSeekServer::Request request = m_server->requests().last();
        QCOMPARE(request.roles().size(), 14);
        QCOMPARE(request.contents().at(1), QStringLiteral("问4"));
        QCOMPARE(request.contents().at(12), QStringLiteral("答9"));
        QCOMPARE(request.contents().at(13), QStringLiteral("第十一问"));
        QCOMPARE(request.contents().first(),
                 MeetingChat::systemMessage(false, QStringLiteral("心脏电生理"), QString(), q.record));
        QVERIFY(request.contents().first().endsWith(QString(119960, u'记')));
        QCOMPARE(m_session->messages().last().id, 21);
    }

    void identifiersKeepGrowing()
    {
        for (int i = 0; i < 3; ++i) {
            m_server->enqueue(FakeDeepSeekServer::stream({QStringLiteral("好")}));
            m_session->ask(question(QStringLiteral("问%1").arg(i), false));
            QTRY_VERIFY_WITH_TIMEOUT(!m_session->busy(), 15000);
            if (i == 0)
                m_session->clear();
            if (i == 1)
                m_session->beginMeeting();
        }
        QCOMPARE(m_session->nextID(), 6);
        QCOMPARE(m_session->messages().first().id, 4);
    }

    void aMeetingThatBeginsMidAnswerDropsIt()
    {
        ManualDeepSeekServer manual;
        QVERIFY(manual.listen());
        DeepSeekTransport::baseAddress = manual.baseUrl();
        int results = 0;
        ChatSession::Handlers counting = handlers();
        counting.transport.result = [&](TranslationService, const std::optional<QString> &) { ++results; };
        m_session = std::make_unique<ChatSession>(counting);

        m_session->ask(question(QStringLiteral("旧会议的问题"), false));
        QTRY_COMPARE_WITH_TIMEOUT(manual.count(), 1, 15000);
        manual.delta(0, QStringLiteral("旧"));
        QTRY_COMPARE_WITH_TIMEOUT(m_session->messages().last().text, QStringLiteral("旧"), 15000);

        m_session->beginMeeting();
        QVERIFY(m_session->messages().isEmpty());
        QVERIFY(!m_session->busy());
        const int changes = m_recorder.changed;
        manual.delta(0, QStringLiteral("的回答"));
        manual.finish(0);
        QTRY_COMPARE_WITH_TIMEOUT(results, 1, 15000); // the old request has ended
        QVERIFY(m_session->messages().isEmpty());
        QCOMPARE(m_recorder.changed, changes);
        QCOMPARE(m_recorder.ended, 0);

        // The new meeting asks as usual.
        manual.onRequest = [&manual](int i) { manual.reply(i, {QStringLiteral("新")}); };
        m_session->ask(question(QStringLiteral("新问题"), false));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder.ended, 1, 15000);
        QCOMPARE(m_session->messages().last(), (ChatMessage{3, false, QStringLiteral("新"), false, false}));
    }

    void aSessionThatGoesAwayMidAnswerHearsNothing()
    {
        ManualDeepSeekServer manual;
        QVERIFY(manual.listen());
        DeepSeekTransport::baseAddress = manual.baseUrl();
        m_session->ask(question(QStringLiteral("问题"), false));
        QTRY_COMPARE_WITH_TIMEOUT(manual.count(), 1, 15000);
        const int changes = m_recorder.changed;
        m_session.reset();
        manual.delta(0, QStringLiteral("迟到"));
        QTest::qWait(100);
        QCOMPARE(m_recorder.changed, changes);
    }

    void transcriptThroughTheRecordWriter()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        TranscriptWriter writer(folder.path());
        auto save = [&] {
            if (!writer.fileURL())
                return;
            const QString file = *writer.fileURL();
            if (const auto text = MeetingChat::transcript(m_session->messages(), QFileInfo(file).fileName()))
                QVERIFY(writer.saveSidecar(file, QStringLiteral("问答"), *text));
        };
        m_session = std::make_unique<ChatSession>(ChatSession::Handlers{[] {}, [](const QString &) {}, save});

        // Before the record has a file nothing is written.
        m_server->enqueue(FakeDeepSeekServer::stream({QStringLiteral("早")}));
        m_session->ask(question(QStringLiteral("早问"), false));
        QTRY_VERIFY_WITH_TIMEOUT(!m_session->busy(), 15000);
        QVERIFY(QDir(folder.path()).entryList(QDir::Files).isEmpty());

        writer.begin(QDateTime(QDate(2026, 1, 5), QTime(9, 15, 2)));
        const QString sidecar = folder.filePath(QStringLiteral("2026-01-05 09.15.02 问答.txt"));
        m_server->enqueue(FakeDeepSeekServer::stream({QStringLiteral("讲了消融。")}));
        m_session->ask(question(QStringLiteral("讲了什么？"), false));
        QTRY_VERIFY_WITH_TIMEOUT(!m_session->busy(), 15000);
        m_server->enqueue(FakeDeepSeekServer::error(500));
        m_session->ask(question(QStringLiteral("谁讲的？"), false));
        QTRY_VERIFY_WITH_TIMEOUT(!m_session->busy(), 15000);
        m_server->enqueue(stallAfter(QStringLiteral("一半")));
        m_session->ask(question(QStringLiteral("结论？"), false));
        QTRY_VERIFY_WITH_TIMEOUT(!m_session->busy(), 15000);

        QFile file(sidecar);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 QStringLiteral("泰萨利字幕 会后问答（会议记录：“2026-01-05 09.15.02.txt”）\n\n"
                                "问：早问\n\n答：早\n\n问：讲了什么？\n\n答：讲了消融。\n\n问：谁讲的？\n\n问：结论？\n\n"));
    }

private:
    // The session's reports go to the recorder.
    ChatSession::Handlers handlers()
    {
        ChatSession::Handlers handlers;
        handlers.changed = [this] {
            ++m_recorder.changed;
            if (!m_session->messages().isEmpty())
                m_recorder.answerTexts << m_session->messages().last().text;
        };
        handlers.asked = [this](const QString &question) { m_recorder.asked << question; };
        handlers.answerEnded = [this] { ++m_recorder.ended; };
        return handlers;
    }

    ChatSession::Question question(const QString &text, bool webSearch)
    {
        ChatSession::Question q;
        q.text = text;
        q.canChat = true;
        q.key = kKey;
        q.webSearch = webSearch;
        q.record = QStringLiteral("09:00:01\n讲者介绍了消融。\nThe speaker introduced ablation.");
        return q;
    }

    std::unique_ptr<FakeDeepSeekServer> m_server;
    std::unique_ptr<ChatSession> m_session;
    Recorder m_recorder;
};

DODEDAROV_TEST(ChatSessionTest)
#include "ChatSessionTest.moc"
