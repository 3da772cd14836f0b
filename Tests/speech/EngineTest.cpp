#include "TestMain.h"

#include "EngineHarness.h"
#include "fakes/FakeScribeServer.h"
#include "fakes/TestSound.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QRegularExpression>
#include <QSettings>

namespace {
QSettings userDefaults()
{
    return QSettings(QStringLiteral("tessalab"), QStringLiteral("dodedarov"));
}

const QString failedFive = QStringLiteral("连接 ElevenLabs 连续失败，已暂停。");

QString retrying(int n)
{
    return QStringLiteral("connection:连不上 ElevenLabs，正在重试（%1/5）").arg(n);
}
}

// The engine's rules, driven with buffers and ticks handed in on a clock the test moves,
// against the fake realtime service.
class EngineTest final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void chunksBillingAndPhases();
    void startFailsWithCaptureError();
    void failedCaptureRestartStops();
    void reconnectSpacingAndFailureLimit_data();
    void reconnectSpacingAndFailureLimit();
    void startedSessionClearsNotice();
    void idleCloseAndReconnect();
    void reconnectWaitsForClosedGate();
    void settingsReachTheNextConnection_data();
    void settingsReachTheNextConnection();
    void autoPause_data();
    void autoPause();
    void pendingKeepsNewestAudio();
    void failedHandshakeKeepsAudio_data();
    void failedHandshakeKeepsAudio();
    void speakerLabelsAndSalvage();
    void keytermRejectionIsNotRepeated_data();
    void keytermRejectionIsNotRepeated();
    void keytermRejectionWithoutTermsCounts();
    void keytermRejectionAfterSessionStartCounts();
    void bothWaitsForTheMixer();
    void capturedBatchesAreJudgedPieceByPiece_data();
    void capturedBatchesAreJudgedPieceByPiece();
    void classifierKeepsTheGateOpenForSpeech();
    void fatalStops_data();
    void fatalStops();
    void badServerInputIsIgnored();

private:
    std::unique_ptr<FakeScribeServer> server;
};

void EngineTest::init()
{
    server = std::make_unique<FakeScribeServer>();
    QVERIFY(server->listen());
    QSettings settings = userDefaults();
    settings.clear();
    settings.setValue(QStringLiteral("audioSource"), QStringLiteral("system"));
}

void EngineTest::cleanup()
{
    userDefaults().clear();
    ScribeClient::handshakeTimeoutMs = 15000;
}

void EngineTest::chunksBillingAndPhases()
{
    EngineHarness h(server->address());
    QVERIFY(h.start());
    // The tick runs every 2 s without leeway.
    QCOMPARE(h.tickTimer(), (std::optional(std::pair(2000, Qt::PreciseTimer))));
    h.takeOverInput();
    QCOMPARE(h.take(), (QStringList{"phase:standby", "billed:0"}));

    // A second start changes nothing, not even the key.
    h.engine.start(QStringLiteral("other-key"));
    h.voice(0.125);
    QCOMPARE(h.events().first(), QStringLiteral("phase:recognizing"));
    // Audio waits for the connection to open; then every further buffer goes out as it comes.
    QTRY_VERIFY(h.connectionOpen());
    h.voice(2.375);
    // 20 buffers of 2,000 samples: 80,000 bytes, exactly 25 chunks; 2.5 s billed as 2.
    QTRY_COMPARE(server->connections().size(), 1);
    QCOMPARE(server->last().apiKey, QByteArray("test-key"));
    QTRY_COMPARE(server->last().chunks.size(), 25);
    QCOMPARE(h.take(), (QStringList{"phase:recognizing", "billed:1", "billed:2"}));

    // The hangover passes 1.375 s of quiet; at 1.5 s the gate closes and the tail goes out.
    h.silence(1.5);
    QCOMPARE(h.take(), (QStringList{"billed:3", "phase:standby"}));
    QTRY_COMPARE(server->last().chunks.size(), 39);
    for (int i = 0; i < 38; ++i)
        QCOMPARE(server->last().chunks[i].size(), 3200);
    QCOMPARE(server->last().chunks[38].size(), 2400);
    QVERIFY(server->last().badMessages.isEmpty());

    h.engine.stop();
    QTRY_VERIFY(h.hasPrefix(QStringLiteral("stopped")));
    // 124,000 bytes sent: 62,000 samples, billed exactly at the stop.
    QCOMPARE(h.take(), (QStringList{"partial:", "billed:3.875", "phase:stopped", "stopped"}));
    QTRY_VERIFY(server->last().closedByClient);

    // A stop while stopped, and a capture restart while stopped, do nothing.
    h.engine.stop(QStringLiteral("again"));
    h.engine.restartCapture();
    h.onQueue([] {});
    QCOMPARE(h.events(), QStringList());
}

void EngineTest::startFailsWithCaptureError()
{
    // No sound server to capture from: the sound library looks here for its server.
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/native");
    EngineHarness h(server->address());
    h.engine.start(QStringLiteral("test-key"));
    QTRY_VERIFY(h.hasPrefix(QStringLiteral("stopped")));
    if (saved.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", saved);
    // Only the capture error: no phase, no billing; the engine stays stopped.
    QCOMPARE(h.events().size(), 1);
    QVERIFY2(h.events().first().startsWith(QStringLiteral("stopped:无法采集系统音频（")), qPrintable(h.events().first()));
    h.take();
    QVERIFY(h.start()); // and starts once the server is back
}

void EngineTest::failedCaptureRestartStops()
{
    // In the middle of a meeting the sound server goes away and the capture is restarted (the
    // default device changed): the engine stops with the capture's error as its reason.
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.take();
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/native");
    h.engine.restartCapture();
    QTRY_VERIFY(h.hasPrefix(QStringLiteral("stopped")));
    if (saved.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", saved);
    const QString stopped = h.events().last();
    QVERIFY2(stopped.startsWith(QStringLiteral("stopped:无法采集系统音频（")), qPrintable(stopped));
    QVERIFY(h.has(QStringLiteral("phase:stopped")));
    QCOMPARE(h.phase(), Engine::Phase::stopped);
}

void EngineTest::reconnectSpacingAndFailureLimit_data()
{
    QTest::addColumn<bool>("listening");
    QTest::newRow("the service closes before its session starts") << true;
    QTest::newRow("nothing listens") << false;
}

void EngineTest::reconnectSpacingAndFailureLimit()
{
    QFETCH(bool, listening);
    server->closeAtOnce = true;
    QUrl address = server->address();
    if (!listening)
        server.reset();
    EngineHarness h(address);
    QVERIFY(h.start());
    h.takeOverInput();
    h.take();

    for (int failure = 1; failure <= 5; ++failure) {
        h.voice(0.125);
        QCOMPARE(h.connectionsOpened(), failure);
        if (failure < 5) {
            QTRY_VERIFY(h.has(retrying(failure)));
            // Barred for 3 s after the close: audio waits in pending.
            const double closedAt = h.now;
            h.now = closedAt + 2.875;
            h.feed(0.125, 0.3f, false);
            QCOMPARE(h.connectionsOpened(), failure);
            h.now = closedAt + 3.0 - EngineHarness::bufferSeconds;
        }
    }
    QTRY_VERIFY(h.hasPrefix(QStringLiteral("stopped")));
    const QStringList events = h.events();
    const QString stopped = events.last();
    // The notice is cleared before the engine stops.
    QVERIFY(events.indexOf(QStringLiteral("connection")) > events.indexOf(retrying(4)));
    QVERIFY(events.indexOf(QStringLiteral("connection")) < events.indexOf(QStringLiteral("phase:stopped")));
    if (listening) {
        QCOMPARE(server->connections().size(), 5);
        QCOMPARE(stopped, QStringLiteral("stopped:") + failedFive);
    } else {
        // The platform's reason follows in full-width brackets.
        QVERIFY2(stopped.startsWith(QStringLiteral("stopped:") + failedFive + QStringLiteral("（")), qPrintable(stopped));
        QVERIFY(stopped.endsWith(QStringLiteral("）")));
    }
    for (int n = 1; n <= 4; ++n)
        QCOMPARE(events.count(retrying(n)), 1);
}

void EngineTest::startedSessionClearsNotice()
{
    server->closeAtOnce = true;
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.voice(0.125);
    QTRY_VERIFY(h.has(retrying(1)));
    server->closeAtOnce = false;
    h.now = h.now + 3.0;
    h.voice(0.125);
    QTRY_VERIFY(h.has(QStringLiteral("connection")));
    QTRY_VERIFY(h.sessionStarted());
    h.take();

    // A working connection that drops is neither counted nor announced; 3 s later it returns.
    server->closeFromServer();
    QTRY_VERIFY(!h.connected());
    h.voice(0.125);
    QVERIFY(!h.connected());
    h.now = h.now + 3.0;
    h.voice(0.125);
    QVERIFY(h.connected());
    QTRY_COMPARE(server->connections().size(), 3);
    QVERIFY(!h.hasPrefix(QStringLiteral("connection")));
}

void EngineTest::idleCloseAndReconnect()
{
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.voice(0.5);
    QTRY_VERIFY(h.sessionStarted());
    h.silence(1.5);
    const double lastVoice = h.lastVoice();

    h.now = lastVoice + 29.0;
    h.tick();
    QVERIFY(h.connected());
    h.now = lastVoice + 30.5;
    h.tick();
    QVERIFY(!h.connected());
    QTRY_VERIFY(server->last().closedByClient);

    // The next voice connects at once: an idle close bars nothing.
    h.voice(0.125);
    QVERIFY(h.connected());
    QTRY_COMPARE(server->connections().size(), 2);
    QVERIFY(!h.hasPrefix(QStringLiteral("connection")));
    QVERIFY(!h.hasPrefix(QStringLiteral("stopped")));
}

void EngineTest::reconnectWaitsForClosedGate()
{
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.voice(0.5);
    QTRY_VERIFY(h.sessionStarted());
    h.engine.setAPIKey(QStringLiteral("test-key")); // the same key changes nothing
    h.tick();
    QVERIFY(h.connected());

    h.engine.reconnectSoon();
    h.tick(); // the gate is open: the connection stays
    QVERIFY(h.connected());
    h.silence(1.5);
    h.tick();
    QVERIFY(!h.connected());
    h.voice(0.125);
    QTRY_COMPARE(server->connections().size(), 2);
}

void EngineTest::settingsReachTheNextConnection_data()
{
    QTest::addColumn<QVariant>("diarize");
    QTest::addColumn<QVariant>("englishOnly");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("english");
    QTest::newRow("absent: diarize, every language") << QVariant() << QVariant() << "scribe_v3_live" << false;
    QTest::newRow("off, English only") << QVariant(false) << QVariant(true) << "scribe_v2_realtime" << true;
    QTest::newRow("stored as text") << QVariant(QStringLiteral("false")) << QVariant(QStringLiteral("true"))
                                    << "scribe_v2_realtime" << true;
    QTest::newRow("diarize that is no Boolean means on") << QVariant(QStringLiteral("maybe")) << QVariant(false)
                                                         << "scribe_v3_live" << false;
}

void EngineTest::settingsReachTheNextConnection()
{
    QFETCH(QVariant, diarize);
    QFETCH(QVariant, englishOnly);
    QFETCH(QString, model);
    QFETCH(bool, english);
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    // Read at every new connection, not at the start.
    QSettings settings = userDefaults();
    if (diarize.isValid())
        settings.setValue(QStringLiteral("diarize"), diarize);
    if (englishOnly.isValid())
        settings.setValue(QStringLiteral("listenEnglishOnly"), englishOnly);
    settings.sync();
    h.voice(0.5);
    QTRY_VERIFY(h.sessionStarted());
    QCOMPARE(server->last().values(QStringLiteral("model_id")), QStringList{model});
    QCOMPARE(server->last().has(QStringLiteral("language_code")), english);

    // A new key closes the connection once the gate is closed; the next voice uses it.
    server->expectedKey = "key-2";
    h.engine.setAPIKey(QStringLiteral("key-2"));
    h.silence(1.5);
    h.tick();
    QVERIFY(!h.connected());
    h.voice(0.125);
    QTRY_VERIFY(h.sessionStarted());
    QCOMPARE(server->connections().size(), 2);
    QCOMPARE(server->last().apiKey, QByteArray("key-2"));
}

void EngineTest::autoPause_data()
{
    QTest::addColumn<QVariant>("minutes");
    QTest::addColumn<double>("quiet");
    QTest::addColumn<QString>("reason"); // empty: still running
    const QString ten = QStringLiteral("10 分钟没有人声，已自动暂停。");
    QTest::newRow("default, just before") << QVariant() << 599.0 << QString();
    QTest::newRow("default, just after") << QVariant() << 601.0 << ten;
    QTest::newRow("one minute") << QVariant(1) << 61.0 << QStringLiteral("1 分钟没有人声，已自动暂停。");
    QTest::newRow("whole number as text") << QVariant(QStringLiteral("3")) << 181.0
                                           << QStringLiteral("3 分钟没有人声，已自动暂停。");
    QTest::newRow("zero never pauses") << QVariant(0) << 7 * 86400.0 << QString();
    QTest::newRow("negative never pauses") << QVariant(-5) << 7 * 86400.0 << QString();
    QTest::newRow("a fraction counts as ten, before") << QVariant(2.5) << 200.0 << QString();
    QTest::newRow("a fraction counts as ten, after") << QVariant(2.5) << 601.0 << ten;
    QTest::newRow("text that is no number counts as ten") << QVariant(QStringLiteral("soon")) << 601.0 << ten;
}

void EngineTest::autoPause()
{
    QFETCH(QVariant, minutes);
    QFETCH(double, quiet);
    QFETCH(QString, reason);
    if (minutes.isValid())
        userDefaults().setValue(QStringLiteral("autoPauseMinutes"), minutes);
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.take();
    h.now = h.now + quiet;
    h.tick();
    if (reason.isEmpty()) {
        QCOMPARE(h.events(), QStringList());
    } else {
        QCOMPARE(h.events(), (QStringList{"partial:", "billed:0", "phase:stopped", "stopped:" + reason}));
    }
}

void EngineTest::pendingKeepsNewestAudio()
{
    server->closeAtOnce = true;
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.voice(0.125); // 3,200 of its 4,000 bytes go to the connection that fails
    QTRY_VERIFY(h.has(retrying(1)));
    server->closeAtOnce = false;

    // 12 s of voice while no connection may be opened, each buffer at its own level.
    const auto level = [](int buffer) { return 0.1f + 0.001f * float(buffer); };
    for (int b = 0; b < 96; ++b)
        h.feed(0.125, level(b), false);
    QCOMPARE(h.pendingBytes(), Engine::maxPendingBytes);

    h.now = h.now + 3.0;
    h.feed(0.125, level(96), false);
    // The newest 10 s (buffers 17 to 96) go out, oldest first, as 100 chunks.
    QTRY_COMPARE(server->last().chunks.size(), 100);
    const QByteArray audio = server->last().audio();
    QCOMPARE(audio.size(), Engine::maxPendingBytes);
    const auto sampleAt = [&](qsizetype byte) {
        return qint16(quint16(uchar(audio[byte])) | quint16(uchar(audio[byte + 1])) << 8);
    };
    QCOMPARE(sampleAt(0), qint16(level(17) * 32767.0f));
    QCOMPARE(sampleAt(audio.size() - 2), qint16(level(96) * 32767.0f));
    // The backlog went out in one flush: the whole seconds jump from 0 to 10 in one report.
    const QStringList billed = h.events().filter(QRegularExpression(QStringLiteral("^billed:")));
    QCOMPARE(billed, (QStringList{"billed:0", "billed:10"}));
    // Only audio handed to a connection is billed: 3,200 + 320,000 bytes.
    h.engine.stop();
    QTRY_VERIFY(h.has(QStringLiteral("billed:") + QString::number(323200 / 2 / 16000.0)));
}

void EngineTest::failedHandshakeKeepsAudio_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("refused with 429") << "429";
    QTest::newRow("refused with 500") << "500";
    QTest::newRow("refused with 503") << "503";
    QTest::newRow("handshake never answers") << "silent";
    QTest::newRow("secure connection refused") << "tls";
}

// Audio handed on while a connection is still being opened is neither billed nor lost when that
// connection fails: it waits for the next one, which receives it first.
void EngineTest::failedHandshakeKeepsAudio()
{
    QFETCH(QString, failure);
    QUrl address = server->address();
    // Answers a secure client's greeting with plain text: its TLS handshake fails at once.
    QTcpServer plain;
    if (failure == QLatin1String("silent")) {
        server->mode = FakeScribeServer::Mode::silent;
        ScribeClient::handshakeTimeoutMs = 300;
    } else if (failure == QLatin1String("tls")) {
        QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
        connect(&plain, &QTcpServer::newConnection, &plain, [&plain] {
            while (QTcpSocket *socket = plain.nextPendingConnection()) {
                socket->write("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            }
        });
        address = QUrl(QStringLiteral("wss://127.0.0.1:%1").arg(plain.serverPort()));
    } else {
        server->mode = FakeScribeServer::Mode::refuse;
        server->refusalStatus = failure.toInt();
    }
    EngineHarness h(address);
    QVERIFY(h.start());
    h.takeOverInput();
    h.take();

    h.voice(0.5); // 16,000 bytes, five whole chunks
    // Any refusal other than the key's is a failed connection: counted, then tried again.
    QTRY_VERIFY(h.has(retrying(1)));
    QVERIFY(!h.hasPrefix(QStringLiteral("stopped")));
    QCOMPARE(h.pendingBytes(), 16000);
    QCOMPARE(h.events().filter(QStringLiteral("billed:")), QStringList());

    server->mode = FakeScribeServer::Mode::accept;
    ScribeClient::baseAddress = server->address();
    ScribeClient::handshakeTimeoutMs = 15000;
    h.now = h.now + 3.0;
    h.voice(0.125);
    QTRY_COMPARE(server->connections().size(), 1);
    QTRY_COMPARE(server->last().audio().size(), 16000 + 3200);
    QVERIFY(server->last().badMessages.isEmpty());
    h.engine.stop();
    QTRY_VERIFY(h.hasPrefix(QStringLiteral("stopped")));
    QVERIFY(h.has(QStringLiteral("billed:") + QString::number(19200 / 2 / 16000.0)));
    if (failure != QLatin1String("silent") && failure != QLatin1String("tls"))
        QCOMPARE(server->strayBytes.toHex(), QByteArray());
}

void EngineTest::speakerLabelsAndSalvage()
{
    using F = FakeScribeServer;
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.voice(0.5);
    QTRY_VERIFY(h.sessionStarted());
    h.take();

    server->send(F::speakersMerged(QStringLiteral("A"), QStringLiteral("B")));
    server->send(F::speakersMerged(QStringLiteral("B"), QStringLiteral("C")));
    server->send(F::speakersMerged(QStringLiteral("C"), QStringLiteral("C")));
    server->send(F::partial(QStringLiteral("Hi there you"),
                            {F::word(QStringLiteral("Hi"), QStringLiteral("A")), F::spacing(),
                             F::word(QStringLiteral("there"), QStringLiteral("D")), F::spacing(),
                             QJsonObject{{QStringLiteral("text"), QStringLiteral("you")}}}));
    server->send(F::partial(QStringLiteral("Hi"), QJsonArray{}));
    server->send(F::partial(QStringLiteral("Hi")));
    server->send(F::committed(QStringLiteral(" Hi there. ")));
    server->send(F::partial(QStringLiteral("  And then ")));
    server->closeFromServer();
    QTRY_VERIFY(!h.connected());
    QCOMPARE(h.take(), (QStringList{"partial:Hi there you|1:C,1:D,-", "partial:Hi", "partial:Hi", "partial:",
                                    "committed:Hi there.", "partial:  And then ", "partial:",
                                    "committed:And then"}));

    // The next connection numbers its speakers afresh, and its merges start empty.
    h.now = h.now + 3.0;
    h.voice(0.125);
    QTRY_COMPARE(server->connections().size(), 2);
    server->send(F::partial(QStringLiteral("Yes"), {F::word(QStringLiteral("Yes"), QStringLiteral("A"))}));
    QTRY_VERIFY(h.has(QStringLiteral("partial:Yes|2:A")));
}

void EngineTest::keytermRejectionIsNotRepeated_data()
{
    QTest::addColumn<QStringList>("terms");
    QTest::addColumn<QStringList>("handedBack");
    const QStringList two{QStringLiteral("Alpha"), QStringLiteral("Beta")};
    QStringList sixty;
    for (int i = 0; i < 60; ++i)
        sixty.append(QStringLiteral("Term%1").arg(i));
    QTest::newRow("the same list") << two << two;
    // Only the first 50 are sent: a list that grows behind them would be refused just the same.
    QTest::newRow("a longer list with the same first 50") << sixty << (sixty + QStringList{QStringLiteral("Extra")});
}

void EngineTest::keytermRejectionIsNotRepeated()
{
    QFETCH(QStringList, terms);
    QFETCH(QStringList, handedBack);
    EngineHarness h(server->address());
    h.engine.setKeyterms(terms);
    QVERIFY(h.start());
    h.takeOverInput();
    h.voice(0.5);
    QTRY_VERIFY(h.sessionStarted());
    QCOMPARE(server->last().values(QStringLiteral("keyterms")), terms.mid(0, ScribeClient::maxKeyterms));

    server->send(FakeScribeServer::error(QStringLiteral("invalid_request"), QStringLiteral("Invalid keyterms: Beta")));
    QTRY_VERIFY(!h.connected());
    h.voice(0.125); // at once, without key terms, and not a failure
    QTRY_COMPARE(server->connections().size(), 2);
    QCOMPARE(server->last().values(QStringLiteral("keyterms")), QStringList());
    QVERIFY(!h.hasPrefix(QStringLiteral("connection")));
    QTRY_VERIFY(h.sessionStarted());

    // The owner hands the list back: it must not start the loop again.
    h.engine.setKeyterms(handedBack);
    h.silence(1.5);
    h.tick();
    QVERIFY(h.connected());
    QCOMPARE(h.keyterms(), QStringList());

    // A different list is taken, and the next connection carries it.
    h.engine.setKeyterms({QStringLiteral("Gamma")});
    h.tick();
    QVERIFY(!h.connected());
    h.voice(0.125);
    QTRY_COMPARE(server->connections().size(), 3);
    QCOMPARE(server->last().values(QStringLiteral("keyterms")), QStringList{QStringLiteral("Gamma")});
}

void EngineTest::keytermRejectionWithoutTermsCounts()
{
    // Nothing left to drop: reconnecting at once would be refused again at once, for ever.
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    server->startSession = false;
    h.voice(0.5);
    QTRY_COMPARE(server->connections().size(), 1);
    server->send(FakeScribeServer::error(QStringLiteral("invalid_request"), QStringLiteral("keyterms not allowed")));
    QTRY_VERIFY(h.has(retrying(1)));
    h.voice(0.125);
    QCOMPARE(h.connectionsOpened(), 1); // barred for 3 s like any failure
}

void EngineTest::keytermRejectionAfterSessionStartCounts()
{
    // The service may open the session before it refuses the terms. With none left to drop,
    // each reconnection is refused again: counted, announced, and stopped at the fifth.
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    for (int failure = 1; failure <= 5; ++failure) {
        h.voice(0.125);
        QTRY_COMPARE(server->connections().size(), failure);
        QTRY_VERIFY(h.sessionStarted());
        server->send(FakeScribeServer::error(QStringLiteral("invalid_request"), QStringLiteral("keyterms not allowed")));
        if (failure < 5) {
            QTRY_VERIFY(h.has(retrying(failure)));
            h.voice(0.125);
            QCOMPARE(h.connectionsOpened(), failure); // barred for 3 s like any failure
            h.now = h.now + 3.0;
        }
    }
    QTRY_VERIFY(h.hasPrefix(QStringLiteral("stopped")));
    QCOMPARE(h.events().last(),
             QStringLiteral("stopped:") + failedFive + QStringLiteral("（invalid_request：keyterms not allowed）"));
}

void EngineTest::bothWaitsForTheMixer()
{
    userDefaults().setValue(QStringLiteral("audioSource"), QStringLiteral("both"));
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.take();
    const PcmBuffer loud(SystemAudioTap::outputFormat(), QList<float>(1600, 0.3f));
    // A microphone buffer waits for its system partner: nothing reaches the gate.
    h.mix(loud, AudioMixer::Input::microphone);
    QCOMPARE(h.phase(), Engine::Phase::standby);
    QCOMPARE(h.connectionsOpened(), 0);
    // Its partner arrives: the sum (clamped) opens the gate and goes out.
    h.mix(loud, AudioMixer::Input::system);
    QCOMPARE(h.phase(), Engine::Phase::recognizing);
    QTRY_COMPARE(server->connections().size(), 1);
    QTRY_COMPARE(server->last().audio().size(), 3200);
    const QByteArray audio = server->last().audio();
    QCOMPARE(qint16(quint16(uchar(audio[0])) | quint16(uchar(audio[1])) << 8), qint16(0.6f * 32767.0f));
}

namespace {
// One batch of capture: `loud` samples of `value` after `quietBefore` silent ones, then
// silence up to `frames`, arriving `at` seconds after the test's start.
struct Batch {
    double at = 0;
    qsizetype quietBefore = 0;
    qsizetype loud = 0;
    float value = 0.3f;
    qsizetype frames = 1600;
};
}
Q_DECLARE_METATYPE(QList<Batch>)

void EngineTest::capturedBatchesAreJudgedPieceByPiece_data()
{
    QTest::addColumn<QList<Batch>>("batches");
    QTest::addColumn<double>("voiceEnds"); // the end of the loud interval, from the start

    // 20 ms at -46 dB is loud; spread over the whole 100 ms batch it would be -53 dB.
    QTest::newRow("a short quiet word opens the gate") << QList<Batch>{{0.0, 1280, 320, 0.005f}} << 0.0;
    // The batch arrives when its last sample is heard; its first 60 ms were heard before.
    QTest::newRow("sound at the head of a batch ends before its arrival")
        << QList<Batch>{{0.0, 0, 960}} << -0.04;
    // A batch that arrives soon after the one ahead (its thread was late) was still heard after it.
    QTest::newRow("a batch right behind another is not timed before it")
        << QList<Batch>{{0.0, 0, 1600}, {0.02, 0, 320}} << 0.0;
}

void EngineTest::capturedBatchesAreJudgedPieceByPiece()
{
    QFETCH(QList<Batch>, batches);
    QFETCH(double, voiceEnds);
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    const double start = h.now;
    for (const Batch &batch : batches) {
        h.now = start + batch.at;
        QList<float> samples(batch.frames, 0.0f);
        std::fill(samples.begin() + batch.quietBefore, samples.begin() + batch.quietBefore + batch.loud, batch.value);
        h.captured(samples);
    }
    QCOMPARE(h.phase(), Engine::Phase::recognizing);
    // Silence after it, until the timeline closes the interval.
    for (int i = 1; i <= 5; ++i) {
        h.now = start + 0.1 * i;
        h.captured(QList<float>(1600, 0.0f));
    }
    QMutexLocker lock(&h.engine.timelineLock());
    QVERIFY(!h.engine.timeline().intervals.empty());
    QCOMPARE(h.engine.timeline().intervals.back().end, start + voiceEnds);
}

void EngineTest::classifierKeepsTheGateOpenForSpeech()
{
    // Without the classifier's confirmations the gate takes any loud sound for music after 10 s
    // and shuts it out. Real speech, longer than that, must stay open throughout.
    TestSound sound;
    QVERIFY(sound.isValid());
    const QString sentence = QStringLiteral(
        "Good morning everyone. Today we will talk about the quarterly results, and then we will "
        "discuss the plans for next year, the budget, the hiring, and the new office.");
    const QList<float> speech = TestSound::samples(sound.speech(sentence))
        + TestSound::samples(sound.speech(sentence));
    QVERIFY2(speech.size() > 13 * 16000, qPrintable(QString::number(speech.size())));

    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput(true);
    QVERIFY(h.hasClassifier());
    h.take();
    h.play(speech);
    const QStringList phases = h.events().filter(QStringLiteral("phase:"));
    QCOMPARE(phases.value(0), QStringLiteral("phase:recognizing"));
    // Pauses between words are shorter than the hangover: one opening, and no closing until
    // the speech ends (if it closed, it was for good; the classifier must have let it back in).
    QVERIFY2(phases.size() == 1 || phases.last() == QStringLiteral("phase:recognizing"),
             qPrintable(phases.join(u',')));
    QVERIFY(h.connected());
}

void EngineTest::fatalStops_data()
{
    QTest::addColumn<int>("refusal"); // 0: by message
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("billed");
    // Half a second was written on the open connection before the refusal: billed exactly.
    QTest::newRow("quota by message") << 0 << QStringLiteral("ElevenLabs 额度已用完。") << "billed:0.5";
    // Nothing ever reached the service: nothing is billed.
    QTest::newRow("key refused at the handshake")
        << 401 << QStringLiteral("ElevenLabs 拒绝了连接（HTTP 401），请检查密钥。") << "billed:0";
}

void EngineTest::fatalStops()
{
    QFETCH(int, refusal);
    QFETCH(QString, reason);
    QFETCH(QString, billed);
    if (refusal)
        server->mode = FakeScribeServer::Mode::refuse401;
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.take();
    h.voice(0.5);
    if (!refusal) {
        QTRY_VERIFY(h.sessionStarted());
        server->send(QJsonObject{{QStringLiteral("message_type"), QStringLiteral("quota_exceeded")}});
    }
    QTRY_VERIFY(h.hasPrefix(QStringLiteral("stopped")));
    QCOMPARE(h.events().mid(1), (QStringList{"partial:", billed, "phase:stopped", "stopped:" + reason}));
}

void EngineTest::badServerInputIsIgnored()
{
    EngineHarness h(server->address());
    QVERIFY(h.start());
    h.takeOverInput();
    h.voice(0.5);
    QTRY_VERIFY(h.sessionStarted());
    h.take();
    server->sendText(QStringLiteral("{not json"));
    server->sendText(QStringLiteral("[1,2,3]"));
    server->sendText(QStringLiteral(R"({"message_type":null})"));
    server->sendBinary(QByteArray(64 * 1024, '\xff'));
    server->sendText(QStringLiteral(R"({"message_type":"partial_transcript","words":"nope"})"));
    server->sendText(QStringLiteral(R"({"message_type":"speakers_merged","from_speaker_id":[],"to_speaker_id":{}})"));
    server->sendText(QStringLiteral(R"({"message_type":"brand_new","payload":"%1"})").arg(QString(3 * 1024 * 1024, u'z')));
    server->send(FakeScribeServer::committed(QStringLiteral("still here")));
    QTRY_VERIFY(h.has(QStringLiteral("committed:still here")));
    QCOMPARE(h.events(), (QStringList{"partial:", "partial:", "committed:still here"}));
    QVERIFY(h.connected());
}

DODEDAROV_TEST(EngineTest)
#include "EngineTest.moc"
