#include "TestMain.h"

#include "EngineHarness.h"
#include "fakes/FakeScribeServer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>

// The engine end to end on the real audio path: speech played into the test's null sink is
// captured from its monitor, passes the gate and reaches the fake realtime service, whose
// transcripts come back through the callbacks.
class EngineAudioPathTest final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void speechReachesTheServiceAndComesBack();
    void restartsOnOutputDeviceChange();

private:
    static bool pactl(const QStringList &arguments, QString *output = nullptr);
    std::unique_ptr<FakeScribeServer> server;
    QTemporaryDir dir;
    QString m_extraSinkModule; // a second sink a test loaded, unloaded at its cleanup
};

bool EngineAudioPathTest::pactl(const QStringList &arguments, QString *output)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), arguments);
    if (!p.waitForFinished(5000) || p.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return true;
}

void EngineAudioPathTest::init()
{
    if (qEnvironmentVariableIsEmpty("DODEDAROV_TEST_SINK"))
        QSKIP("needs the test environment's sound server (scripts/with-test-env)");
    server = std::make_unique<FakeScribeServer>();
    QVERIFY(server->listen());
    QSettings settings(QStringLiteral("tessalab"), QStringLiteral("dodedarov"));
    settings.clear();
    settings.setValue(QStringLiteral("audioSource"), QStringLiteral("system"));
}

void EngineAudioPathTest::cleanup()
{
    QSettings(QStringLiteral("tessalab"), QStringLiteral("dodedarov")).clear();
    // Also after a failed check: the tests after this one play into and record the test sink.
    if (!m_extraSinkModule.isEmpty()) {
        pactl({QStringLiteral("set-default-sink"), qEnvironmentVariable("DODEDAROV_TEST_SINK")});
        pactl({QStringLiteral("unload-module"), m_extraSinkModule});
        m_extraSinkModule.clear();
    }
}

void EngineAudioPathTest::speechReachesTheServiceAndComesBack()
{
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    QCOMPARE(QProcess::execute(QStringLiteral("espeak-ng"),
                               {QStringLiteral("-w"), wav,
                                QStringLiteral("Good morning everyone. Today we look at the quarterly numbers.")}),
             0);

    EngineHarness h(server->address(), false);
    QVERIFY(h.start());
    QProcess player;
    player.start(QStringLiteral("paplay"),
                 {QStringLiteral("--device=") + qEnvironmentVariable("DODEDAROV_TEST_SINK"), wav});
    QVERIFY(player.waitForStarted());

    // The player starts, connects and plays through the sound server first: slow when busy.
    QTRY_VERIFY_WITH_TIMEOUT(h.has(QStringLiteral("phase:recognizing")), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(server->connections().size() == 1 && server->last().chunks.size() >= 10, 10000);
    server->send(FakeScribeServer::partial(
        QStringLiteral("Good morning"), {FakeScribeServer::word(QStringLiteral("Good"), QStringLiteral("speaker_0")),
                                         FakeScribeServer::spacing(),
                                         FakeScribeServer::word(QStringLiteral("morning"), QStringLiteral("speaker_0"))}));
    server->send(FakeScribeServer::committed(QStringLiteral("Good morning everyone.")));
    QTRY_VERIFY(h.has(QStringLiteral("committed:Good morning everyone.")));
    QVERIFY(h.has(QStringLiteral("partial:Good morning|1:speaker_0,1:speaker_0")));

    // When the speech ends the gate closes 1.5 s later and sends the short tail.
    QVERIFY(player.waitForFinished(15000));
    QTRY_VERIFY_WITH_TIMEOUT(h.has(QStringLiteral("phase:standby")) && h.events().lastIndexOf(QStringLiteral("phase:standby")) > 0, 8000);
    const auto &chunks = server->last().chunks;
    QVERIFY(server->last().badMessages.isEmpty());
    for (qsizetype i = 0; i + 1 < chunks.size(); ++i)
        QCOMPARE(chunks[i].size(), 3200);
    QVERIFY(chunks.last().size() <= 3200);

    // The speech left a closed loud interval on the voice timeline.
    {
        QMutexLocker lock(&h.engine.timelineLock());
        QVERIFY(!h.engine.timeline().intervals.empty());
    }
    h.engine.stop();
    QTRY_VERIFY(h.has(QStringLiteral("stopped")));
    // Billed exactly what was sent. The last chunks may still be on their way to the server
    // when the stop is reported, so wait for them before comparing.
    const QStringList billed = h.events().filter(QRegularExpression(QStringLiteral("^billed:")));
    QVERIFY(!billed.isEmpty());
    const double seconds = billed.last().mid(7).toDouble();
    QTRY_COMPARE(server->last().audio().size(), qsizetype(std::llround(seconds * 16000.0)) * 2);
}

void EngineAudioPathTest::restartsOnOutputDeviceChange()
{
    EngineHarness h(server->address(), false);
    QVERIFY(h.start());
    const int before = h.sessionID();

    QVERIFY(pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                   QStringLiteral("sink_name=dodedarov_recognition_second")}, &m_extraSinkModule));
    QVERIFY(pactl({QStringLiteral("set-default-sink"), QStringLiteral("dodedarov_recognition_second")}));
    // Capture follows the new output: a new capture run, still listening.
    QTRY_VERIFY_WITH_TIMEOUT(h.sessionID() > before, 10000);
    QVERIFY(!h.hasPrefix(QStringLiteral("stopped")));
    QCOMPARE(h.phase(), Engine::Phase::standby);
}

DODEDAROV_TEST(EngineAudioPathTest)
#include "EngineAudioPathTest.moc"
