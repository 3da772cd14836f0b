// Research requests through the real transport against the loopback chat-completions fake: the
// resend without web search, which failures count as the service refusing the tool, and a
// refused tool leaving the learned request form of every other call alone.
#include "TestMain.h"

#include "fakes/FakeDeepSeekServer.h"
#include "intelligence/ResearchCall.h"
#include "platform/Keychain.h"
#include "translation/DeepSeek.h"
#include "translation/TranslationRouting.h"

#include <QJsonArray>

using Script = FakeDeepSeekServer::Script;

Q_DECLARE_METATYPE(FakeDeepSeekServer::Script)
Q_DECLARE_METATYPE(QList<FakeDeepSeekServer::Script>)

namespace {

const Research::Prompt kPrompt{QStringLiteral("研究系统"), QStringLiteral("【最近的内容】\nhello")};
const QString kKey = QStringLiteral("sk-research-test");

// No response head until long after the transport's idle limit.
Script slowHead()
{
    Script script = FakeDeepSeekServer::stream({QStringLiteral("late")});
    script.headDelayMs = 60000;
    return script;
}

// Some text, then nothing more: the idle limit ends the request.
Script stallAfter(const QString &piece)
{
    Script script;
    script.delta(piece).pause(60000);
    return script;
}

bool offersTool(const FakeDeepSeekServer::Request &request)
{
    const QJsonArray tools = request.json.value(QStringLiteral("tools")).toArray();
    return tools.size() == 1
           && tools.at(0).toObject().value(QStringLiteral("type")).toString() == QStringLiteral("deepseek_web_search");
}

} // namespace

class ResearchCallTest final : public QObject {
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
        DeepSeekTransport::timeoutInterval = 20.0;
        DeepSeekTransport::noUsageOption.clear();
        DeepSeekTransport::compatModels.clear();
        TranslationRouting::router = ServiceRouter{};
    }

    void cleanup()
    {
        DeepSeekTransport::timeoutInterval = 20.0;
        DeepSeekTransport::noUsageOption.clear();
        DeepSeekTransport::compatModels.clear();
        m_server.reset();
    }

    void withSearch_data()
    {
        QTest::addColumn<QList<Script>>("scripts");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("toolRequests");

        const Script answer = FakeDeepSeekServer::stream({QStringLiteral("{\"domain\":"), QStringLiteral("\"AI\"}")});
        const Script error400 = FakeDeepSeekServer::error(400);
        QTest::newRow("answered with the tool") << QList<Script>{answer} << false << 1;
        QTest::newRow("refused: 400 in every form")
            << QList<Script>{error400, error400, error400, answer} << true << 3;
        QTest::newRow("refused: 422") << QList<Script>{FakeDeepSeekServer::error(422), answer} << true << 1;
        QTest::newRow("refused: 403") << QList<Script>{FakeDeepSeekServer::error(403), answer} << true << 1;
        QTest::newRow("key rejected: 401") << QList<Script>{FakeDeepSeekServer::error(401), answer} << false << 1;
        QTest::newRow("no balance: 402") << QList<Script>{FakeDeepSeekServer::error(402), answer} << false << 1;
        QTest::newRow("request time-out: 408") << QList<Script>{FakeDeepSeekServer::error(408), answer} << false << 1;
        QTest::newRow("rate limit: 429") << QList<Script>{FakeDeepSeekServer::error(429), answer} << false << 1;
        QTest::newRow("server error: 500") << QList<Script>{FakeDeepSeekServer::error(500), answer} << false << 1;
        QTest::newRow("unavailable: 503") << QList<Script>{FakeDeepSeekServer::error(503), answer} << false << 1;
        // The network stack sends a request once more when the first was closed before any answer.
        QTest::newRow("dropped connection")
            << QList<Script>{FakeDeepSeekServer::hungUp(), FakeDeepSeekServer::hungUp(), answer} << false << 2;
        QTest::newRow("time-out after some text") << QList<Script>{stallAfter(QStringLiteral("{\"dom")), answer} << false << 1;
        QTest::newRow("time-out") << QList<Script>{slowHead(), answer} << false << 1;
    }

    void withSearch()
    {
        QFETCH(QList<Script>, scripts);
        QFETCH(bool, refused);
        QFETCH(int, toolRequests);
        for (const Script &script : scripts)
            m_server->enqueue(script);
        if (QByteArray(QTest::currentDataTag()).startsWith("time-out"))
            DeepSeekTransport::timeoutInterval = 3.0;

        const std::optional<ResearchCall::Report> report = run(true);
        QVERIFY(report);
        QCOMPARE(report->reply, QStringLiteral("{\"domain\":\"AI\"}")); // the failed try's text is gone
        QVERIFY(report->webSearch);
        QCOMPARE(report->refused, refused);
        QVERIFY(!report->failed);
        QVERIFY(!report->cancelled);

        const QList<FakeDeepSeekServer::Request> requests = m_server->requests();
        QCOMPARE(requests.size(), scripts.size());
        for (int i = 0; i < requests.size(); ++i) {
            QCOMPARE(offersTool(requests.at(i)), i < toolRequests);
            QCOMPARE(requests.at(i).roles(), (QStringList{"system", "user"}));
            QCOMPARE(requests.at(i).contents(), (QStringList{kPrompt.system, kPrompt.user}));
            QCOMPARE(requests.at(i).header("authorization"), "Bearer " + kKey.toUtf8());
        }
        // Without the tool the answer is held to a JSON object.
        if (requests.size() > toolRequests)
            QCOMPARE(requests.last().json.value("response_format").toObject().value("type").toString(),
                     QStringLiteral("json_object"));

        // Whatever the tool met, it taught the route nothing: the next caption request still
        // asks for usage figures and keeps its temperature.
        QVERIFY(DeepSeekTransport::noUsageOption.isEmpty());
        QVERIFY(DeepSeekTransport::compatModels.isEmpty());
        DeepSeekTransport::timeoutInterval = 20.0;
        bool captionDone = false;
        DeepSeekTransport::stream(DeepSeek::body(QStringLiteral("Hello"), {}, {}, {}, false), kKey, nullptr,
                                  [&](const DeepSeekTransport::Outcome &) { captionDone = true; });
        QTRY_VERIFY_WITH_TIMEOUT(captionDone, 15000);
        QVERIFY(m_server->requests().last().json.contains(QStringLiteral("stream_options")));
        QVERIFY(m_server->requests().last().json.contains(QStringLiteral("temperature")));
    }

    void toolRequestTeachesTheRouteOnlyWhenAResendIsAccepted()
    {
        m_server->enqueue(FakeDeepSeekServer::error(400));
        m_server->enqueue(FakeDeepSeekServer::stream({QStringLiteral("{}")}));
        const auto report = run(true);
        QVERIFY(report && !report->refused && !report->failed);
        QCOMPARE(m_server->requests().size(), 2);
        QVERIFY(offersTool(m_server->requests().at(1)));
        QVERIFY(!m_server->requests().at(1).json.contains(QStringLiteral("stream_options")));
        QCOMPARE(DeepSeekTransport::noUsageOption, QSet<QString>{DeepSeekTransport::routeKey(TranslationService::deepSeek)});
        QVERIFY(DeepSeekTransport::compatModels.isEmpty());
    }

    void withoutSearchAFailureKeepsWhatArrived_data()
    {
        QTest::addColumn<QList<Script>>("scripts");
        QTest::addColumn<QString>("reply");
        QTest::newRow("time-out after some text")
            << QList<Script>{stallAfter(QStringLiteral("{\"domain\":\"A"))} << QStringLiteral("{\"domain\":\"A");
        QTest::newRow("dropped connection")
            << QList<Script>{FakeDeepSeekServer::hungUp(), FakeDeepSeekServer::hungUp()} << QString();
        QTest::newRow("refused outright") << QList<Script>{FakeDeepSeekServer::error(422)} << QString();
    }

    void withoutSearchAFailureKeepsWhatArrived()
    {
        QFETCH(QList<Script>, scripts);
        QFETCH(QString, reply);
        for (const Script &script : scripts)
            m_server->enqueue(script);
        DeepSeekTransport::timeoutInterval = 3.0;
        const auto report = run(false);
        QVERIFY(report);
        QVERIFY(report->failed);
        QVERIFY(!report->webSearch);
        QVERIFY(!report->refused); // no tool was offered
        QCOMPARE(report->reply, reply);
        QCOMPARE(m_server->requests().size(), scripts.size());
        QVERIFY(!offersTool(m_server->requests().first()));
    }

    void cancellationIsNoFailure()
    {
        Script endless;
        endless.delta(QStringLiteral("{\"names\":")).pause(20000).done();
        m_server->enqueue(endless);
        std::optional<ResearchCall::Report> report;
        const ResearchCall call = ResearchCall::start(kPrompt, true, kKey,
                                                      [&](const ResearchCall::Report &r) { report = r; });
        QVERIFY(!call.isFinished());
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, 15000);
        QTest::qWait(100);
        call.cancel();
        QVERIFY(!report); // reported from the event loop, not from inside cancel()
        QTRY_VERIFY_WITH_TIMEOUT(report.has_value(), 15000);
        QVERIFY(report->cancelled);
        QVERIFY(!report->refused);
        QVERIFY(!report->failed);
        QVERIFY(call.isFinished());
        QTest::qWait(200);
        QCOMPARE(m_server->requests().size(), 1); // no resend after a cancellation
    }

    void refusesTool_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("refused");
        using Kind = DeepSeekTransport::Outcome::Kind;
        QTest::newRow("400") << int(Kind::failure) << 400 << true;
        QTest::newRow("499") << int(Kind::failure) << 499 << true;
        QTest::newRow("401") << int(Kind::failure) << 401 << false;
        QTest::newRow("402") << int(Kind::failure) << 402 << false;
        QTest::newRow("408") << int(Kind::failure) << 408 << false;
        QTest::newRow("429") << int(Kind::failure) << 429 << false;
        QTest::newRow("500") << int(Kind::failure) << 500 << false;
        QTest::newRow("no response head") << int(Kind::failure) << 0 << false;
        QTest::newRow("network error after a 200") << int(Kind::networkError) << 200 << false;
        QTest::newRow("cancelled") << int(Kind::cancelled) << 400 << false;
    }

    void refusesTool()
    {
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(bool, refused);
        DeepSeekTransport::Outcome outcome;
        outcome.kind = DeepSeekTransport::Outcome::Kind(kind);
        outcome.httpStatus = status;
        QCOMPARE(ResearchCall::refusesTool(outcome), refused);
    }

private:
    std::optional<ResearchCall::Report> run(bool webSearch)
    {
        auto report = std::make_shared<std::optional<ResearchCall::Report>>();
        auto calls = std::make_shared<int>(0);
        ResearchCall::start(kPrompt, webSearch, kKey, [report, calls](const ResearchCall::Report &r) {
            *report = r;
            ++*calls;
        });
        if (!QTest::qWaitFor([report] { return report->has_value(); }, 20000))
            qWarning("the research call never ended");
        QTest::qWait(20);
        if (*calls != 1) {
            qWarning("reported %d times", *calls);
            return std::nullopt;
        }
        return *report;
    }

    std::unique_ptr<FakeDeepSeekServer> m_server;
};

DODEDAROV_TEST(ResearchCallTest)
#include "ResearchCallTest.moc"
