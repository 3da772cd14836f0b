// The streaming transport against the loopback chat-completions fake: streamed answers in every
// shape the service sends, HTTP failures, the learning of refused parameters, network errors,
// time-outs and cancellation, and the key staying out of every message and hook.
#include "TestMain.h"

#include "fakes/FakeDeepSeekServer.h"
#include "fakes/TlsServiceServer.h"
#include "platform/Keychain.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"
#include "translation/TranslationRouting.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QTcpServer>

using Outcome = DeepSeekTransport::Outcome;
using Script = FakeDeepSeekServer::Script;

Q_DECLARE_METATYPE(FakeDeepSeekServer::Script)

namespace {

const QString route = QStringLiteral("deepSeek/deepseek-flash");
const QString passedKey = QStringLiteral("sk-passed-0123456789abcdef");

// Every message Qt prints while a test runs, so the key can be looked for in the log too.
QStringList loggedMessages;
QtMessageHandler previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    loggedMessages << message;
    if (previousHandler)
        previousHandler(type, context, message);
}

struct Run {
    QStringList deltas;
    std::optional<Outcome> outcome;
    int finishCalls = 0;
};

} // namespace

class DeepSeekTransportTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void streamsPiecesAndSendsTheRequest();
    void streamShapes_data();
    void streamShapes();
    void httpFailures_data();
    void httpFailures();
    void learnsRefusedParameters();
    void learnedFormAppliesToLaterCalls();
    void storedKeyWinsOverPassedKey();
    void emptyKeySendsBearerAlone();
    void networkErrorAfterText();
    void connectionRefused();
    void slowFirstByteTimesOut();
    void timeOutCountsIdleTimeOnly();
    void cancellation_data();
    void cancellation();
    void callbacksReleasedAtTheEnd_data();
    void callbacksReleasedAtTheEnd();
    void successClearsFailureCount();
    void cutStreamIsNeverAnAnswer_data();
    void cutStreamIsNeverAnAnswer();
    void staysOnHttp1WhereHttp2IsOffered_data();
    void staysOnHttp1WhereHttp2IsOffered();

private:
    Run call(const QByteArray &body = DeepSeek::body("Hello", {}, {}, {}, false),
             const QString &key = passedKey);
    void checkKeyAbsent(const QString &key, const Run &run);

    std::unique_ptr<FakeDeepSeekServer> m_server;
    QList<std::optional<QString>> m_results;
    QList<QList<int>> m_usages;
    int m_requests = 0;
    // What the calls report besides their text, handed to every call.
    DeepSeekTransport::Listener m_listener;
};

void DeepSeekTransportTest::initTestCase()
{
    // Calls read the stored key first; start from a keyring without one.
    QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
}

void DeepSeekTransportTest::init()
{
    m_server = std::make_unique<FakeDeepSeekServer>();
    QVERIFY(m_server->listen());
    DeepSeekTransport::baseAddress = m_server->baseUrl();
    DeepSeekTransport::timeoutInterval = 20.0;
    DeepSeekTransport::noUsageOption.clear();
    DeepSeekTransport::compatModels.clear();
    TranslationRouting::router = ServiceRouter{};
    m_results.clear();
    m_usages.clear();
    m_requests = 0;
    m_listener.result = [this](TranslationService service, const std::optional<QString> &message) {
        QCOMPARE(service, TranslationService::deepSeek);
        m_results.append(message);
    };
    m_listener.usage = [this](int prompt, int completion, int cached) {
        m_usages.append({prompt, completion, cached});
    };
    m_listener.request = [this] { ++m_requests; };
    loggedMessages.clear();
    previousHandler = qInstallMessageHandler(recordMessage);
}

void DeepSeekTransportTest::cleanup()
{
    qInstallMessageHandler(previousHandler);
    for (const QString &message : std::as_const(loggedMessages))
        QVERIFY2(!message.contains(QStringLiteral("sk-")), qPrintable(message));
    m_listener = {};
    m_server.reset();
}

Run DeepSeekTransportTest::call(const QByteArray &body, const QString &key)
{
    auto run = std::make_shared<Run>();
    DeepSeekTransport::stream(
        body, key, [run](const QString &piece) { run->deltas << piece; },
        [run](const Outcome &outcome) {
            run->outcome = outcome;
            ++run->finishCalls;
        },
        m_listener);
    if (!QTest::qWaitFor([run] { return run->outcome.has_value(); }, 15000))
        qWarning("the call did not finish");
    QTest::qWait(20); // a second finish would show here
    return *run;
}

void DeepSeekTransportTest::checkKeyAbsent(const QString &key, const Run &run)
{
    QVERIFY(run.outcome);
    QVERIFY(!run.outcome->failure.message.contains(key));
    QVERIFY(!run.outcome->errorText.contains(key));
    for (const auto &result : std::as_const(m_results))
        QVERIFY(!result.value_or(QString()).contains(key));
}

void DeepSeekTransportTest::streamsPiecesAndSendsTheRequest()
{
    m_server->enqueue(FakeDeepSeekServer::stream({"Hel", "lo"}));
    const QByteArray body = DeepSeek::body("Hello", {}, {}, {}, false);
    const Run run = call(body);

    QCOMPARE(run.deltas, QStringList({"Hel", "lo"}));
    QVERIFY(run.outcome && run.outcome->ok());
    QVERIFY(run.outcome->produced);
    QCOMPARE(run.finishCalls, 1);
    QCOMPARE(m_results, QList<std::optional<QString>>({std::nullopt}));
    QCOMPARE(m_requests, 1);

    QCOMPARE(m_server->requests().size(), 1);
    const FakeDeepSeekServer::Request &request = m_server->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/chat/completions"));
    QCOMPARE(request.header("authorization"), "Bearer " + passedKey.toUtf8());
    QCOMPARE(request.header("content-type"), QByteArray("application/json"));
    QVERIFY(request.jsonObject);
    QCOMPARE(request.json.value("model").toString(), QStringLiteral("deepseek-flash"));
    QCOMPARE(request.json.value("stream_options").toObject(), QJsonObject({{"include_usage", true}}));
    QCOMPARE(request.json.value("thinking").toObject(), QJsonObject({{"type", "disabled"}}));
    QCOMPARE(request.json.value("temperature").toDouble(), 1.0);
    QCOMPARE(request.json.value("max_tokens").toInt(), 400);
    // The rewritten body still carries the limit as a JSON integer.
    QVERIFY(request.body.contains("\"max_tokens\":400"));
    QCOMPARE(request.roles(), QStringList({"system", "user"}));
    QCOMPARE(request.contents().last(), QStringLiteral("Hello"));
    QCOMPARE(TranslationRouting::router.failures, 0);
}

void DeepSeekTransportTest::streamShapes_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QStringList>("deltas");
    QTest::addColumn<QList<QList<int>>>("usages");

    const QByteArray hi = R"(data: {"choices":[{"delta":{"content":"Hi"}}]})";
    const QByteArray there = R"(data: {"choices":[{"delta":{"content":" there"}}]})";

    QTest::newRow("CRLF line ends")
        << Script().send(hi + "\r\n\r\n" + there + "\r\n\r\n").send("data: [DONE]\r\n\r\n")
        << QStringList{"Hi", " there"} << QList<QList<int>>{};
    QTest::newRow("lone CR line ends")
        << Script().send(hi + "\r\r" + there + "\r\r").send("data: [DONE]\r\r")
        << QStringList{"Hi", " there"} << QList<QList<int>>{};
    QTest::newRow("line split across reads")
        << Script().send(hi.left(20)).pause(30).send(hi.mid(20) + "\n").pause(30).send("\n" + there + "\n\n").done()
        << QStringList{"Hi", " there"} << QList<QList<int>>{};
    QTest::newRow("CR and LF in different reads")
        << Script().send(hi + "\r").pause(30).send("\n\r\n" + there + "\r").pause(30).send("\n\r\n").done()
        << QStringList{"Hi", " there"} << QList<QList<int>>{};
    const QByteArray chinese = QStringLiteral(R"(data: {"choices":[{"delta":{"content":"你好"}}]})").toUtf8() + "\n\n";
    QTest::newRow("character split across reads")
        << Script().send(chinese.left(42)).pause(30).send(chinese.mid(42)).done()
        << QStringList{"你好"} << QList<QList<int>>{};
    QTest::newRow("keep-alive comments")
        << Script().keepAlive().send(hi + "\n\n").keepAlive().send(": ping\n\n").send(there + "\n\n").done()
        << QStringList{"Hi", " there"} << QList<QList<int>>{};
    QTest::newRow("last line without a line end")
        << Script().send(hi + "\n\n").send(there + "\n\ndata: [DONE]") << QStringList{"Hi", " there"}
        << QList<QList<int>>{};
    QTest::newRow("nothing after [DONE] is read")
        << Script().send(hi + "\n\n").done().send(there + "\n\n") << QStringList{"Hi"} << QList<QList<int>>{};
    QTest::newRow("usage in the last content chunk")
        << Script().delta("Hi").send(FakeDeepSeekServer::deltaWithUsageEvent(" there", 12, 2, 4)).done()
        << QStringList{"Hi", " there"} << QList<QList<int>>{{12, 2, 4}};
    QTest::newRow("usage in a chunk of its own, details form")
        << Script().delta("Hi").send(FakeDeepSeekServer::usageEvent(30, 5, std::nullopt, 7)).done()
        << QStringList{"Hi"} << QList<QList<int>>{{30, 5, 7}};
    QTest::newRow("usage in a chunk of its own, cache-hit form")
        << Script().delta("Hi").send(FakeDeepSeekServer::usageEvent(30, 5, 9, 7)).done()
        << QStringList{"Hi"} << QList<QList<int>>{{30, 5, 9}};
    QTest::newRow("malformed lines are skipped")
        << Script().send("data: {oops\n\nevent: update\ndata: [1,2]\n\nDATA: [DONE]\n\n")
               .send(R"(data: {"choices":[{"delta":{"content":""}}]})" "\n\n")
               .send(R"(data: {"choices":[{"delta":{"content":null}}]})" "\n\n")
               .send(hi + "\n\n").done()
        << QStringList{"Hi"} << QList<QList<int>>{};
    QTest::newRow("bytes that are not UTF-8")
        << Script().send("data: \xff\xfe\x80\n\n").send(R"(data: {"choices":[{"delta":{"content":"a)" "\xff" R"(b"}}]})" "\n\n").done()
        << QStringList{QStringLiteral("a\uFFFDb")} << QList<QList<int>>{};
}

void DeepSeekTransportTest::streamShapes()
{
    QFETCH(Script, script);
    QFETCH(QStringList, deltas);
    QFETCH(QList<QList<int>>, usages);

    m_server->enqueue(script);
    const Run run = call();
    QVERIFY(run.outcome);
    QCOMPARE(int(run.outcome->kind), int(Outcome::Kind::success));
    QCOMPARE(run.deltas, deltas);
    QCOMPARE(run.outcome->produced, !deltas.isEmpty());
    QCOMPARE(m_usages, usages);
    QCOMPARE(m_results, QList<std::optional<QString>>({std::nullopt}));
}

void DeepSeekTransportTest::httpFailures_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("fatal");

    QTest::newRow("401") << 401 << QStringLiteral("DeepSeek 密钥无效，请在设置里重新填写。") << true;
    QTest::newRow("402") << 402 << QStringLiteral("DeepSeek 账户余额不足。") << true;
    QTest::newRow("422") << 422 << QStringLiteral("DeepSeek 返回错误（HTTP 422）。") << false;
    QTest::newRow("429") << 429 << QStringLiteral("DeepSeek 返回错误（HTTP 429）。") << false;
    QTest::newRow("500") << 500 << QStringLiteral("DeepSeek 返回错误（HTTP 500）。") << false;
    QTest::newRow("503") << 503 << QStringLiteral("DeepSeek 返回错误（HTTP 503）。") << false;
    QTest::newRow("redirect is not followed") << 307 << QStringLiteral("DeepSeek 返回错误（HTTP 307）。") << false;
    QTest::newRow("permanent redirect is not followed") << 308 << QStringLiteral("DeepSeek 返回错误（HTTP 308）。") << false;
}

void DeepSeekTransportTest::httpFailures()
{
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(bool, fatal);

    Script script = FakeDeepSeekServer::error(status);
    // A real redirect to a second server: the call must not follow it, or the key in its
    // header would go along to wherever the answer points.
    FakeDeepSeekServer elsewhere;
    QVERIFY(elsewhere.listen());
    if (status == 307 || status == 308) {
        script.errorBody = "moved";
        script.location = elsewhere.baseUrl().toString().toLatin1() + "/chat/completions";
    }
    m_server->enqueue(script);
    const Run run = call();
    QCOMPARE(elsewhere.requests().size(), 0);
    QVERIFY(run.outcome);
    QCOMPARE(int(run.outcome->kind), int(Outcome::Kind::failure));
    QCOMPARE(run.outcome->failure, (DeepSeek::Failure{message, fatal}));
    QVERIFY(run.deltas.isEmpty());
    QCOMPARE(m_results, QList<std::optional<QString>>({message}));
    QCOMPARE(TranslationRouting::router.failures, 1);
    QCOMPARE(m_server->requests().size(), 1); // never retried by the transport
    checkKeyAbsent(passedKey, run);
}

void DeepSeekTransportTest::learnsRefusedParameters()
{
    for (int i = 0; i < 3; ++i)
        m_server->enqueue(FakeDeepSeekServer::error(400));
    const Run run = call();

    QVERIFY(run.outcome);
    QCOMPARE(run.outcome->failure, (DeepSeek::Failure{QStringLiteral("DeepSeek 返回错误（HTTP 400）。"), false}));
    QCOMPARE(m_requests, 3);
    QCOMPARE(m_results, QList<std::optional<QString>>({QStringLiteral("DeepSeek 返回错误（HTTP 400）。")}));
    QCOMPARE(TranslationRouting::router.failures, 1);

    const auto &requests = m_server->requests();
    QCOMPARE(requests.size(), 3);
    QVERIFY(requests[0].json.contains("stream_options"));
    QVERIFY(requests[0].json.contains("temperature"));
    QVERIFY(!requests[1].json.contains("stream_options"));
    QVERIFY(requests[1].json.contains("temperature"));
    QCOMPARE(requests[1].json.value("max_tokens").toInt(), 400);
    QVERIFY(!requests[2].json.contains("stream_options"));
    QVERIFY(!requests[2].json.contains("temperature"));
    QVERIFY(!requests[2].json.contains("max_tokens"));
    QCOMPARE(requests[2].json.value("max_completion_tokens").toInt(), 400);
    QVERIFY(requests[2].body.contains("\"max_completion_tokens\":400"));
    QCOMPARE(DeepSeekTransport::noUsageOption, QSet<QString>({route}));
    QCOMPARE(DeepSeekTransport::compatModels, QSet<QString>({route}));
}

void DeepSeekTransportTest::learnedFormAppliesToLaterCalls()
{
    m_server->enqueue(FakeDeepSeekServer::error(400));
    m_server->enqueue(FakeDeepSeekServer::stream({"ok"}));
    const Run first = call();
    QVERIFY(first.outcome && first.outcome->ok());
    QCOMPARE(m_requests, 2);
    QCOMPARE(DeepSeekTransport::noUsageOption, QSet<QString>({route}));
    QVERIFY(DeepSeekTransport::compatModels.isEmpty());

    m_server->enqueue(FakeDeepSeekServer::stream({"again"}));
    const Run second = call(DeepSeek::agentBody("s", "u", 300));
    QVERIFY(second.outcome && second.outcome->ok());
    QCOMPARE(second.deltas, QStringList({"again"}));
    QCOMPARE(m_requests, 3); // one request only: the refusal is not met again
    QVERIFY(!m_server->requests().last().json.contains("stream_options"));
    QCOMPARE(m_server->requests().last().json.value("max_tokens").toInt(), 300);
}

void DeepSeekTransportTest::storedKeyWinsOverPassedKey()
{
    const QString storedKey = QStringLiteral("sk-stored-fedcba9876543210");
    QVERIFY(Keychain::set(storedKey, Keychain::deepSeekAccount));
    m_server->enqueue(FakeDeepSeekServer::error(401));
    const Run run = call(DeepSeek::body("Hello", {}, {}, {}, false), passedKey);
    QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));

    QCOMPARE(m_server->requests().first().header("authorization"), "Bearer " + storedKey.toUtf8());
    QVERIFY(run.outcome && run.outcome->failure.fatal);
    checkKeyAbsent(storedKey, run);
}

void DeepSeekTransportTest::emptyKeySendsBearerAlone()
{
    const Run run = call(DeepSeek::body("Hello", {}, {}, {}, false), QString());
    QVERIFY(run.outcome && run.outcome->ok());
    // HTTP drops the blank at the end of a header value; nothing follows "Bearer".
    qDebug() << "AUTH" << m_server->requests().first().header("authorization");
    QCOMPARE(m_server->requests().first().header("authorization").trimmed(), QByteArray("Bearer"));
}

void DeepSeekTransportTest::networkErrorAfterText()
{
    m_server->enqueue(Script().delta("Hel").pause(30).delta("lo").pause(30).drop());
    TranslationRouting::router.failures = 2;
    const Run run = call();

    QCOMPARE(run.deltas, QStringList({"Hel", "lo"})); // delivered text is not withdrawn
    QVERIFY(run.outcome);
    QCOMPARE(int(run.outcome->kind), int(Outcome::Kind::networkError));
    QVERIFY(run.outcome->networkError != QNetworkReply::NoError);
    QVERIFY(run.outcome->produced);
    QCOMPARE(m_results, QList<std::optional<QString>>({QStringLiteral("连接失败")}));
    QCOMPARE(TranslationRouting::router.failures, 3);
    checkKeyAbsent(passedKey, run);
}

void DeepSeekTransportTest::connectionRefused()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    DeepSeekTransport::baseAddress = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));

    const Run run = call();
    QVERIFY(run.outcome);
    QCOMPARE(int(run.outcome->kind), int(Outcome::Kind::networkError));
    QCOMPARE(run.outcome->networkError, QNetworkReply::ConnectionRefusedError);
    QVERIFY(!run.outcome->produced);
    QCOMPARE(m_results, QList<std::optional<QString>>({QStringLiteral("连接失败")}));
    QCOMPARE(TranslationRouting::router.failures, 1);
    checkKeyAbsent(passedKey, run);
}

void DeepSeekTransportTest::slowFirstByteTimesOut()
{
    DeepSeekTransport::timeoutInterval = 0.3;
    Script slow = FakeDeepSeekServer::stream({"late"});
    slow.headDelayMs = 5000;
    m_server->enqueue(slow);
    const Run run = call();

    QVERIFY(run.outcome);
    QCOMPARE(int(run.outcome->kind), int(Outcome::Kind::networkError));
    QCOMPARE(run.outcome->networkError, QNetworkReply::TimeoutError);
    QVERIFY(run.deltas.isEmpty());
    QCOMPARE(m_results, QList<std::optional<QString>>({QStringLiteral("连接失败")}));
    QCOMPARE(TranslationRouting::router.failures, 1);
}

void DeepSeekTransportTest::timeOutCountsIdleTimeOnly()
{
    // Each pause is shorter than the limit; together they are longer. Every pause leaves the
    // limit a full second to spare, for a loaded machine that is slow to pass bytes on.
    DeepSeekTransport::timeoutInterval = 1.5;
    m_server->enqueue(Script().delta("a").pause(500).delta("b").pause(500).keepAlive().pause(500)
                          .delta("c").pause(500).keepAlive().pause(500).done());
    const Run run = call();
    QVERIFY(run.outcome && run.outcome->ok());
    QCOMPARE(run.deltas, QStringList({"a", "b", "c"}));
}

void DeepSeekTransportTest::cancellation_data()
{
    QTest::addColumn<bool>("fromInsideDelta");
    QTest::newRow("after the first piece") << false;
    QTest::newRow("from inside onDelta") << true;
}

void DeepSeekTransportTest::cancellation()
{
    QFETCH(bool, fromInsideDelta);
    m_server->enqueue(Script().delta("Hel").pause(3000).delta("lo").done());
    TranslationRouting::router.failures = 2;

    auto run = std::make_shared<Run>();
    auto handle = std::make_shared<DeepSeekTransport::Call>();
    *handle = DeepSeekTransport::stream(
        DeepSeek::body("Hello", {}, {}, {}, false), passedKey,
        [run, weakHandle = std::weak_ptr(handle), fromInsideDelta](const QString &piece) {
            run->deltas << piece;
            if (const auto handle = weakHandle.lock(); handle && fromInsideDelta)
                handle->cancel();
        },
        [run](const Outcome &outcome) {
            run->outcome = outcome;
            ++run->finishCalls;
        },
        m_listener);
    QVERIFY(QTest::qWaitFor([run] { return !run->deltas.isEmpty(); }, 5000));
    if (!fromInsideDelta) {
        handle->cancel();
        QVERIFY(!run->outcome); // reported from the event loop, not inside cancel()
    }
    QVERIFY(handle->isFinished());
    QVERIFY(QTest::qWaitFor([run] { return run->outcome.has_value(); }, 5000));
    QTest::qWait(50);

    QCOMPARE(int(run->outcome->kind), int(Outcome::Kind::cancelled));
    QVERIFY(run->outcome->produced);
    QCOMPARE(run->finishCalls, 1);
    QCOMPARE(run->deltas, QStringList({"Hel"}));
    QVERIFY(m_results.isEmpty());
    QCOMPARE(TranslationRouting::router.failures, 2);
}

void DeepSeekTransportTest::callbacksReleasedAtTheEnd_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<int>("cancel"); // 0: never, 1: after the first piece, 2: from inside onDelta
    const Script slow = Script().delta("Hel").pause(3000).delta("lo").done();
    QTest::newRow("answered") << Script().delta("Hello").done() << 0;
    QTest::newRow("refused") << FakeDeepSeekServer::error(500) << 0;
    QTest::newRow("cancelled") << slow << 1;
    QTest::newRow("cancelled from inside onDelta") << slow << 2;
}

// A caller's callbacks that hold the caller's own handle of the call (the natural way to stop a
// call from inside its delta) must not keep the call alive once it has ended.
void DeepSeekTransportTest::callbacksReleasedAtTheEnd()
{
    QFETCH(Script, script);
    QFETCH(int, cancel);
    m_server->enqueue(script);

    auto run = std::make_shared<Run>();
    auto handle = std::make_shared<DeepSeekTransport::Call>();
    *handle = DeepSeekTransport::stream(
        DeepSeek::body("Hello", {}, {}, {}, false), passedKey,
        [run, handle, cancel](const QString &piece) {
            run->deltas << piece;
            if (cancel == 2)
                handle->cancel();
        },
        [run, handle](const Outcome &outcome) {
            run->outcome = outcome;
            ++run->finishCalls;
        },
        m_listener);
    if (cancel == 1) {
        QVERIFY(QTest::qWaitFor([run] { return !run->deltas.isEmpty(); }, 5000));
        handle->cancel();
    }
    QVERIFY(QTest::qWaitFor([run] { return run->outcome.has_value(); }, 15000));
    QCOMPARE(run->finishCalls, 1);
    // Only this test holds the handle now: the call dropped both callbacks, and with them their
    // copies of the handle and of the record.
    const std::weak_ptr<DeepSeekTransport::Call> held = handle;
    handle.reset();
    QTRY_VERIFY(held.expired());
    QCOMPARE(run.use_count(), 1);
}

void DeepSeekTransportTest::successClearsFailureCount()
{
    TranslationRouting::router.failures = 4;
    const Run run = call();
    QVERIFY(run.outcome && run.outcome->ok());
    QCOMPARE(run.deltas, QStringList({"ok"}));
    QCOMPARE(TranslationRouting::router.failures, 0);
    QVERIFY(!TranslationRouting::router.backupUntil);
}

void DeepSeekTransportTest::cutStreamIsNeverAnAnswer_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QStringList>("deltas");
    const QByteArray hi = R"(data: {"choices":[{"delta":{"content":"Hi"}}]})";
    QTest::newRow("cut after the head") << Script().drop() << QStringList{};
    QTest::newRow("cut after some text") << Script().delta("Hel").drop() << QStringList{"Hel"};
    QTest::newRow("cut after a pause") << Script().delta("Hel").pause(5).drop() << QStringList{"Hel"};
    // The body closes properly but the answer never said it was done.
    QTest::newRow("no [DONE]") << FakeDeepSeekServer::stream({"Hi", " there"}, false)
                               << QStringList{"Hi", " there"};
    QTest::newRow("last line without a line end") << Script().send(hi + "\n\n").send(hi) << QStringList{"Hi", "Hi"};
    QTest::newRow("empty body") << Script() << QStringList{};
}

void DeepSeekTransportTest::cutStreamIsNeverAnAnswer()
{
    QFETCH(Script, script);
    QFETCH(QStringList, deltas);
    // However the cut falls against the network stack's reading, the answer is a broken one;
    // a few rounds vary that timing.
    for (int round = 0; round < 10; ++round) {
        m_server->enqueue(script);
        m_results.clear();
        TranslationRouting::router.failures = 0;
        const Run run = call();
        QVERIFY(run.outcome);
        QCOMPARE(run.deltas, deltas); // delivered text is not withdrawn
        QVERIFY2(int(run.outcome->kind) == int(Outcome::Kind::networkError),
                 qPrintable(QStringLiteral("round %1: kind %2").arg(round).arg(int(run.outcome->kind))));
        QCOMPARE(run.outcome->produced, !deltas.isEmpty());
        QCOMPARE(m_results, QList<std::optional<QString>>({QStringLiteral("连接失败")}));
        QCOMPARE(TranslationRouting::router.failures, 1);
    }
}

DODEDAROV_TEST(DeepSeekTransportTest)
// Qt's HTTP/2 writer sends a request's head and body as two writes on a socket with Nagle on,
// so every request over h2 waits for the server's delayed ACK. The real service offers h2 by
// ALPN; the call must choose HTTP/1.1 there, whatever the body's size.
void DeepSeekTransportTest::staysOnHttp1WhereHttp2IsOffered_data()
{
    QTest::addColumn<int>("englishBytes");
    QTest::newRow("caption") << 8 * 1024;
    QTest::newRow("over one TLS record") << 100 * 1024;
}

void DeepSeekTransportTest::staysOnHttp1WhereHttp2IsOffered()
{
    QFETCH(int, englishBytes);
    TlsServiceServer::trustCertificate();
    TlsServiceServer server;
    server.answer.body = FakeDeepSeekServer::deltaEvent(QStringLiteral("好")) + FakeDeepSeekServer::doneEvent();
    QByteArray received;
    server.onRequest = [&](const QByteArray &, const QByteArray &body) { received = body; };
    QVERIFY(server.listen(true));
    DeepSeekTransport::baseAddress = server.baseUrl();

    const QString english(englishBytes, u'a');
    const Run run = call(DeepSeek::body(english, {}, {}, {}, false));

    QCOMPARE(server.protocols, QList<QByteArray>({QByteArray(QSslConfiguration::NextProtocolHttp1_1)}));
    QVERIFY(run.outcome && run.outcome->ok());
    QCOMPARE(run.deltas, QStringList({QStringLiteral("好")}));
    QVERIFY(received.contains(english.toUtf8()));

    // Qt's HTTP thread keeps a closed TLS channel's session until its connection leaves the
    // cache; at exit that never happens, and the session would read as a leak.
    for (QNetworkAccessManager *manager : qApp->findChildren<QNetworkAccessManager *>(Qt::FindDirectChildrenOnly))
        manager->clearConnectionCache();
}

#include "DeepSeekTransportTest.moc"
