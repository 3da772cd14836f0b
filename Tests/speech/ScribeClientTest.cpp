#include "TestMain.h"

#include "common/SerialQueue.h"
#include "fakes/FakeScribeServer.h"
#include "speech/ScribeClient.h"

#include <QJsonDocument>
#include <QMutex>
#include <QSignalSpy>

namespace {
// One event as a short line, so whole conversations compare as string lists.
QString describe(const SpeechEvent &e)
{
    switch (e.kind) {
    case SpeechEvent::Kind::partial: {
        QString line = QStringLiteral("partial:") + e.text;
        if (e.speakers) {
            QStringList ids;
            for (const auto &s : *e.speakers)
                ids.append(s.value_or(QStringLiteral("-")));
            line += QStringLiteral("|") + ids.join(u',');
        }
        return line;
    }
    case SpeechEvent::Kind::committed:
        return QStringLiteral("committed:") + e.text;
    case SpeechEvent::Kind::speakersMerged:
        return QStringLiteral("merged:%1>%2").arg(e.from, e.to);
    case SpeechEvent::Kind::fatal:
        return QStringLiteral("fatal:") + e.text;
    case SpeechEvent::Kind::closed:
        return e.reason ? QStringLiteral("closed:") + *e.reason : QStringLiteral("closed");
    case SpeechEvent::Kind::started:
        return QStringLiteral("started");
    case SpeechEvent::Kind::opened:
        return QStringLiteral("opened");
    }
    return {};
}

// A client on its own queue, as the engine runs it, with every event it reports.
class ClientHarness final {
public:
    explicit ClientHarness(const QUrl &address)
    {
        ScribeClient::baseAddress = address;
    }
    ~ClientHarness()
    {
        queue.sync([this] { delete client; });
        ScribeClient::baseAddress = QUrl(QStringLiteral("wss://api.elevenlabs.io"));
        ScribeClient::handshakeTimeoutMs = 15000;
    }

    void open(bool diarize = true, bool englishOnly = false, const QStringList &terms = {},
              const QString &key = QStringLiteral("test-key"))
    {
        queue.sync([&] {
            client = new ScribeClient(key, diarize, englishOnly, terms, queue,
                                      [this](SpeechClient *from, const SpeechEvent &e) {
                                          QMutexLocker lock(&mutex);
                                          // The upgrade is written down apart, so the
                                          // conversations below read as the service spoke.
                                          if (from == client && e.kind == SpeechEvent::Kind::opened)
                                              ++openings;
                                          else if (from == client)
                                              lines.append(describe(e));
                                      });
        });
    }
    void send(const QByteArray &pcm) { queue.sync([&] { client->send(pcm); }); }
    void close() { queue.sync([&] { client->close(); }); }
    bool finished()
    {
        bool done = false;
        queue.sync([&] { done = client->finished(); });
        return done;
    }
    QStringList events()
    {
        QMutexLocker lock(&mutex);
        return lines;
    }
    bool ended()
    {
        const QStringList all = events();
        return !all.isEmpty()
            && (all.last().startsWith(QLatin1String("fatal")) || all.last().startsWith(QLatin1String("closed")));
    }

    int opened()
    {
        QMutexLocker lock(&mutex);
        return openings;
    }

    SerialQueue queue{QStringLiteral("test.scribe")};
    ScribeClient *client = nullptr;

private:
    QMutex mutex;
    QStringList lines;
    int openings = 0;
};

QStringList expectedQuery(bool diarize, bool englishOnly)
{
    QStringList q{QStringLiteral("model_id=") + (diarize ? "scribe_v3_live" : "scribe_v2_realtime"),
                  QStringLiteral("audio_format=pcm_16000"), QStringLiteral("commit_strategy=vad"),
                  QStringLiteral("vad_silence_threshold_secs=0.8")};
    if (englishOnly)
        q.append(QStringLiteral("language_code=en"));
    if (diarize)
        q.append(QStringLiteral("diarize=true"));
    if (diarize && !englishOnly)
        q.append(QStringLiteral("multilang_mode=true"));
    return q;
}

QStringList flatten(const QList<QPair<QString, QString>> &query)
{
    QStringList out;
    for (const auto &[k, v] : query)
        out.append(k + u'=' + v);
    return out;
}
}

class ScribeClientTest final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void query_data();
    void query();
    void keyterms_data();
    void keyterms();
    void audioMessage();
    void messages_data();
    void messages();
    void refusedHandshake_data();
    void refusedHandshake();
    void silentServerEndsClosed();
    void closeFromServer();
    void ownCloseReportsNothing();
    void unreachableServer();

private:
    std::unique_ptr<FakeScribeServer> server;
};

void ScribeClientTest::init()
{
    server = std::make_unique<FakeScribeServer>();
    QVERIFY(server->listen());
}

void ScribeClientTest::query_data()
{
    QTest::addColumn<bool>("diarize");
    QTest::addColumn<bool>("englishOnly");
    QTest::newRow("diarize, all languages") << true << false;
    QTest::newRow("diarize, English only") << true << true;
    QTest::newRow("no diarize, all languages") << false << false;
    QTest::newRow("no diarize, English only") << false << true;
}

void ScribeClientTest::query()
{
    QFETCH(bool, diarize);
    QFETCH(bool, englishOnly);
    ClientHarness h(server->address());
    h.open(diarize, englishOnly, {}, QStringLiteral("secret-key"));
    QTRY_COMPARE(server->connections().size(), 1);
    const auto &c = server->last();
    QCOMPARE(c.path, QStringLiteral("/v1/speech-to-text/realtime"));
    QCOMPARE(c.apiKey, QByteArray("secret-key"));
    QCOMPARE(flatten(c.query), expectedQuery(diarize, englishOnly));
    // The fake answers a wrong key the way the service does.
    QTRY_COMPARE(h.events(), QStringList{QStringLiteral("fatal:ElevenLabs 密钥无效，请在设置里重新填写。")});
}

void ScribeClientTest::keyterms_data()
{
    QTest::addColumn<QStringList>("terms");
    QTest::addColumn<QStringList>("sent");
    QStringList sixty;
    for (int i = 1; i <= 60; ++i)
        sixty.append(QStringLiteral("term%1").arg(i));
    QTest::newRow("60 terms send the first 50") << sixty << sixty.mid(0, 50);
    QTest::newRow("none") << QStringList{} << QStringList{};
    const QStringList odd{QStringLiteral("C++"), QStringLiteral("R&D"), QStringLiteral("a=b"),
                          QStringLiteral("深度 求索"), QStringLiteral("#tag%")};
    QTest::newRow("characters with a meaning in a query") << odd << odd;
}

void ScribeClientTest::keyterms()
{
    QFETCH(QStringList, terms);
    QFETCH(QStringList, sent);
    ClientHarness h(server->address());
    h.open(true, false, terms);
    QTRY_COMPARE(server->connections().size(), 1);
    QCOMPARE(server->last().values(QStringLiteral("keyterms")), sent);
    // Key terms come right after the fixed items and before diarize.
    const QStringList all = flatten(server->last().query);
    QCOMPARE(all.indexOf(QStringLiteral("diarize=true")), 4 + sent.size());
}

void ScribeClientTest::audioMessage()
{
    // Integers must serialise as integers, the Boolean as a Boolean.
    const QByteArray json = ScribeClient::audioMessage(QByteArray("\x01\x02\x03\x04", 4));
    QVERIFY(json.contains("\"sample_rate\":16000"));
    QVERIFY(json.contains("\"commit\":false"));
    QVERIFY(json.contains("\"audio_base_64\":\"AQIDBA==\""));
    QVERIFY(!json.contains('\n'));

    ClientHarness h(server->address());
    QByteArray pcm(3200, '\0');
    for (int i = 0; i < pcm.size(); ++i)
        pcm[i] = char(i * 7);
    h.open();
    h.send(pcm); // still inside the handshake: must wait for it, not corrupt it
    QTRY_COMPARE(h.events(), QStringList{QStringLiteral("started")});
    h.send(pcm.left(640));
    QTRY_COMPARE(server->last().chunks.size(), 2);
    QCOMPARE(server->last().chunks[0], pcm);
    QCOMPARE(server->last().chunks[1], pcm.left(640));
    QVERIFY(server->last().badMessages.isEmpty());
}

void ScribeClientTest::messages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("events");
    auto json = [](const QJsonObject &o) {
        return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    };
    using F = FakeScribeServer;
    const QString marker = QStringLiteral("committed:marker");

    QTest::newRow("partial with speakers")
        << json(F::partial(QStringLiteral("Hello world"),
                           {F::word(QStringLiteral("Hello"), QStringLiteral("speaker_0")), F::spacing(),
                            F::word(QStringLiteral("world"), QStringLiteral("speaker_1"))}))
        << QStringList{QStringLiteral("partial:Hello world|speaker_0,speaker_1"), marker};
    QTest::newRow("partial without words")
        << json(F::partial(QStringLiteral("Hello"))) << QStringList{QStringLiteral("partial:Hello"), marker};
    QTest::newRow("partial with empty text")
        << json(F::partial(QString())) << QStringList{QStringLiteral("partial:"), marker};
    QTest::newRow("partial with words that are not all objects")
        << QStringLiteral(R"({"message_type":"partial_transcript","text":"Hi","words":[{"text":"Hi"},3]})")
        << QStringList{QStringLiteral("partial:Hi"), marker};
    QTest::newRow("partial whose text is not text")
        << QStringLiteral(R"({"message_type":"partial_transcript","text":7})")
        << QStringList{QStringLiteral("partial:"), marker};
    QTest::newRow("committed is trimmed")
        << json(F::committed(QStringLiteral("  Good morning.\n"))) << QStringList{QStringLiteral("committed:Good morning."), marker};
    QTest::newRow("committed of blanks is nothing")
        << json(F::committed(QStringLiteral(" \n\t　"))) << QStringList{marker};
    QTest::newRow("committed without text is nothing")
        << QStringLiteral(R"({"message_type":"committed_transcript"})") << QStringList{marker};
    QTest::newRow("speakers merged")
        << json(F::speakersMerged(QStringLiteral("speaker_1"), QStringLiteral("speaker_0")))
        << QStringList{QStringLiteral("merged:speaker_1>speaker_0"), marker};
    QTest::newRow("speakers merged with a number is nothing")
        << QStringLiteral(R"({"message_type":"speakers_merged","from_speaker_id":1,"to_speaker_id":"b"})")
        << QStringList{marker};
    QTest::newRow("auth error")
        << json(F::error(QStringLiteral("auth_error"), QStringLiteral("bad key")))
        << QStringList{QStringLiteral("fatal:ElevenLabs 密钥无效，请在设置里重新填写。")};
    QTest::newRow("quota exceeded")
        << QStringLiteral(R"({"message_type":"quota_exceeded"})")
        << QStringList{QStringLiteral("fatal:ElevenLabs 额度已用完。")};
    QTest::newRow("unaccepted terms")
        << QStringLiteral(R"({"message_type":"unaccepted_terms"})")
        << QStringList{QStringLiteral("fatal:需要先在 ElevenLabs 网站上接受服务条款。")};
    for (const char *type : {"warning", "insufficient_audio_activity", "commit_throttled",
                             "diarized_transcript", "committed_transcript_with_timestamps"}) {
        QTest::newRow(qPrintable(QStringLiteral("ignored %1 with error").arg(QLatin1String(type))))
            << json(F::error(QLatin1String(type), QStringLiteral("x"))) << QStringList{marker};
    }
    QTest::newRow("unknown type with error closes")
        << json(F::error(QStringLiteral("invalid_request"), QStringLiteral("keyterms too long")))
        << QStringList{QStringLiteral("closed:invalid_request：keyterms too long")};
    QTest::newRow("unknown type without error")
        << QStringLiteral(R"({"message_type":"something_new","detail":"x"})") << QStringList{marker};
    QTest::newRow("unknown type with a non-text error")
        << QStringLiteral(R"({"message_type":"something_new","error":{"code":1}})") << QStringList{marker};
    QTest::newRow("malformed JSON") << QStringLiteral(R"({"message_type":"committed_transcript",)")
                                    << QStringList{marker};
    QTest::newRow("JSON that is not an object") << QStringLiteral(R"(["committed_transcript"])")
                                                << QStringList{marker};
    QTest::newRow("type that is not text") << QStringLiteral(R"({"message_type":3,"error":"x"})")
                                           << QStringList{marker};
    QTest::newRow("oversized unknown message")
        << json(QJsonObject{{QStringLiteral("message_type"), QStringLiteral("blob")},
                            {QStringLiteral("data"), QString(4 * 1024 * 1024, u'x')}})
        << QStringList{marker};
    QTest::newRow("binary frame") << QString() << QStringList{marker};
}

void ScribeClientTest::messages()
{
    QFETCH(QString, message);
    QFETCH(QStringList, events);
    ClientHarness h(server->address());
    h.open();
    QTRY_COMPARE(h.events(), QStringList{QStringLiteral("started")});
    if (message.isEmpty())
        server->sendBinary(QByteArray(R"({"message_type":"committed_transcript","text":"bin"})"));
    else
        server->sendText(message);
    server->send(FakeScribeServer::committed(QStringLiteral("marker")));
    QTRY_VERIFY(h.events().size() > 1 && (h.events().last() == QLatin1String("committed:marker") || h.ended()));
    QCOMPARE(h.events().mid(1), events);
    QCOMPARE(h.finished(), h.ended());
}

void ScribeClientTest::refusedHandshake_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("end"); // the whole event, or how a closed one begins
    const QString keyRefused = QStringLiteral("fatal:ElevenLabs 拒绝了连接（HTTP %1），请检查密钥。");
    QTest::newRow("401") << 401 << keyRefused.arg(401);
    QTest::newRow("403") << 403 << keyRefused.arg(403);
    // Only the key's refusals are fatal; anything else is a failed connection, tried again.
    QTest::newRow("429") << 429 << QStringLiteral("closed:");
    QTest::newRow("500") << 500 << QStringLiteral("closed:");
    QTest::newRow("502") << 502 << QStringLiteral("closed:");
    QTest::newRow("503") << 503 << QStringLiteral("closed:");
}

void ScribeClientTest::refusedHandshake()
{
    QFETCH(int, status);
    QFETCH(QString, end);
    server->mode = FakeScribeServer::Mode::refuse;
    server->refusalStatus = status;
    ClientHarness h(server->address());
    h.open();
    h.send(QByteArray(3200, '\1')); // held while the handshake runs
    QTRY_VERIFY(h.ended());
    QCOMPARE(h.events().size(), 1);
    if (end.startsWith(QLatin1String("fatal")))
        QCOMPARE(h.events().first(), end);
    else
        QVERIFY2(h.events().first().startsWith(end) && h.events().first().contains(QString::number(status)),
                 qPrintable(h.events().first()));
    QVERIFY(h.finished());
    QCOMPARE(h.opened(), 0);
    // The client ends the refused connection without a byte after its request: neither the
    // held audio nor a WebSocket closing frame, which an HTTP server reads as garbage.
    QTRY_COMPARE(server->refusedEnded, 1);
    QCOMPARE(server->strayBytes.toHex(), QByteArray());
}

void ScribeClientTest::silentServerEndsClosed()
{
    server->mode = FakeScribeServer::Mode::silent;
    ScribeClient::handshakeTimeoutMs = 400;
    ClientHarness h(server->address());
    h.open();
    QTRY_VERIFY_WITH_TIMEOUT(h.ended(), 5000);
    // The client connects from its own thread; the server takes the connection when the test
    // thread's event loop next runs, which on a busy machine may be after the client gave up.
    QTRY_COMPARE(server->rawConnections(), 1);
    QCOMPARE(h.events().size(), 1);
    QVERIFY(h.events().first().startsWith(QLatin1String("closed")));
}

void ScribeClientTest::closeFromServer()
{
    ClientHarness h(server->address());
    h.open();
    QTRY_COMPARE(h.events(), QStringList{QStringLiteral("started")});
    server->closeFromServer();
    QTRY_VERIFY(h.ended());
    QCOMPARE(h.events(), (QStringList{QStringLiteral("started"), QStringLiteral("closed")}));
    QVERIFY(h.finished());
    h.send(QByteArray(3200, '\0')); // sends nothing once finished
    QTest::qWait(50);
    QCOMPARE(server->last().chunks.size(), 0);
}

void ScribeClientTest::ownCloseReportsNothing()
{
    ClientHarness h(server->address());
    h.open();
    QTRY_COMPARE(h.events(), QStringList{QStringLiteral("started")});
    h.close();
    h.close();
    QVERIFY(h.finished());
    QTRY_VERIFY(server->last().closedByClient);
    // Whatever the server still says, and the end of the socket, reach nobody.
    server->send(FakeScribeServer::committed(QStringLiteral("late")));
    server->send(FakeScribeServer::error(QStringLiteral("auth_error"), QStringLiteral("x")));
    QTest::qWait(100);
    QCOMPARE(h.events(), QStringList{QStringLiteral("started")});
}

void ScribeClientTest::unreachableServer()
{
    const QUrl address = server->address();
    server.reset(); // nothing listens there any more
    ClientHarness h(address);
    h.open();
    QTRY_VERIFY(h.ended());
    QCOMPARE(h.events().size(), 1);
    QVERIFY(h.events().first().startsWith(QLatin1String("closed")));
}

DODEDAROV_TEST(ScribeClientTest)
#include "ScribeClientTest.moc"
