#include "TestMain.h"

#include "common/SerialQueue.h"
#include "fakes/NullSink.h"
#include "fakes/PrivateSoundServer.h"
#include "fakes/TestSound.h"
#include "speech/MicrophoneCapture.h"
#include "speech/SystemAudioTap.h"
#include "speech/VoiceGate.h"

#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

namespace {

QString testSink()
{
    return qEnvironmentVariable("DODEDAROV_TEST_SINK", QStringLiteral("dodedarov_test"));
}

} // namespace

// The "microphone" here is a null sink's monitor made the default input, so the test decides
// what it hears.
class MicrophoneCaptureTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void recordsFirstChannelOfDefaultInput();
    void reportsChangeOfDefaultInput();
    void failsWithoutServer();
    void failsWithoutInputDevice();
    void permission();

private:
    TestSound m_sound;
    QString m_defaultSource;
};

void MicrophoneCaptureTest::initTestCase()
{
    QVERIFY(m_sound.isValid());
    if (!NullSink::pactl({QStringLiteral("info")}))
        QSKIP("no PulseAudio server: run inside scripts/with-test-env");
    m_defaultSource = NullSink::defaultSource();
}

void MicrophoneCaptureTest::cleanup()
{
    NullSink::setDefaultSource(m_defaultSource);
}

void MicrophoneCaptureTest::recordsFirstChannelOfDefaultInput()
{
    NullSink mic(QStringLiteral("dodedarov_mic"));
    QVERIFY(mic.isLoaded());
    QVERIFY(NullSink::setDefaultSource(mic.monitorName()));
    // Left channel a loud 500 Hz tone, right channel silent: only the left may come through,
    // at its full level (no averaging with the silent channel).
    const QString left = m_sound.sine(500, 1.0, 0.5, 48000, 1);
    QVERIFY(!left.isEmpty());
    const QString stereo = left + QStringLiteral(".stereo.wav");
    QVERIFY(QProcess::execute(QStringLiteral("sox"), {left, stereo, QStringLiteral("remix"),
                                                      QStringLiteral("1"), QStringLiteral("0")})
            == 0);

    QMutex mutex;
    QList<float> heard;
    AudioFormat format;
    MicrophoneCapture capture;
    capture.onBuffer = [&](const PcmBuffer &buffer) {
        QMutexLocker lock(&mutex);
        heard.append(buffer.samples());
        format = buffer.format();
    };
    const std::optional<MicrophoneCapture::CaptureError> error = capture.start();
    QVERIFY2(!error, qPrintable(error ? error->message : QString()));

    std::unique_ptr<QProcess> player(TestSound::play(stereo, mic.name()));
    QVERIFY(player->waitForFinished(20000));
    const auto loudSamples = [&] {
        QMutexLocker lock(&mutex);
        QList<float> loud;
        for (float x : std::as_const(heard)) {
            if (std::abs(x) > 0.05f)
                loud.append(x);
        }
        return loud;
    };
    QTRY_VERIFY_WITH_TIMEOUT(loudSamples().size() > 12000, 10000);
    capture.stop();

    QCOMPARE(format, SystemAudioTap::outputFormat());
    QList<float> all;
    {
        QMutexLocker lock(&mutex);
        all = heard;
    }
    qsizetype first = 0;
    while (first < all.size() && std::abs(all[first]) <= 0.05f)
        ++first;
    const QList<float> middle = all.mid(first + 4000, 8000);
    const float level = VoiceGate::levelDB(middle);
    QVERIFY2(std::abs(level - -9.03f) < 0.5f, qPrintable(QString::number(level)));
    const double pitch = TestSound::frequency(middle, 16000);
    QVERIFY2(std::abs(pitch - 500) < 2, qPrintable(QString::number(pitch)));
}

void MicrophoneCaptureTest::reportsChangeOfDefaultInput()
{
    NullSink mic(QStringLiteral("dodedarov_mic_changed"));
    QVERIFY(mic.isLoaded());
    QVERIFY(NullSink::setDefaultSource(mic.monitorName()));

    std::atomic<int> changes = 0;
    SerialQueue owner(QStringLiteral("test.owner"));
    MicrophoneCapture capture;
    // Runs on the capture thread; an owner hops to its queue before acting on it.
    capture.onDeviceChanged = [&] { owner.async([&] { ++changes; }); };
    QVERIFY(!capture.start());

    QVERIFY(NullSink::setDefaultSource(testSink() + QStringLiteral(".monitor")));
    QTRY_COMPARE_WITH_TIMEOUT(changes.load(), 1, 5000);
    capture.stop();

    // The input going away while recording is a change too.
    QVERIFY(NullSink::setDefaultSource(mic.monitorName()));
    QVERIFY(!capture.start());
    {
        NullSink doomed(QStringLiteral("dodedarov_mic_doomed"));
        QVERIFY(NullSink::setDefaultSource(doomed.monitorName()));
        capture.stop();
        // The change to the doomed input was reported by the stopped recording; its hop may
        // still wait on the owner's queue. Let it land before counting afresh.
        owner.sync([] {});
        changes = 0;
        QVERIFY(!capture.start());
    }
    QTRY_VERIFY_WITH_TIMEOUT(changes.load() >= 1, 5000);
    capture.stop();

    // Our recording stream ended by the sound server while the default input stays the same
    // (another program, or the user in the mixer, closed it): nothing is recorded any more, so
    // that is a change too.
    QVERIFY(NullSink::setDefaultSource(mic.monitorName()));
    owner.sync([] {});
    changes = 0;
    QVERIFY(!capture.start());
    QString outputs;
    QVERIFY(NullSink::pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")}, &outputs));
    const QStringList streams = outputs.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(streams.size(), 1); // ours, and only ours
    QVERIFY(NullSink::killSourceOutput(streams.first().section(u'\t', 0, 0).toUInt()));
    QTRY_VERIFY_WITH_TIMEOUT(changes.load() >= 1, 5000);
    QCOMPARE(NullSink::defaultSource(), mic.monitorName());
    capture.stop();
}

void MicrophoneCaptureTest::failsWithoutServer()
{
    QTemporaryDir dir;
    PrivateSoundServer::Use nowhere(QStringLiteral("unix:") + dir.filePath(QStringLiteral("missing")));
    MicrophoneCapture capture;
    const std::optional<MicrophoneCapture::CaptureError> error = capture.start();
    QVERIFY(error);
    QVERIFY2(error->message.startsWith(QStringLiteral("无法启动麦克风：")), qPrintable(error->message));
    QVERIFY(error->message.size() > QStringLiteral("无法启动麦克风：").size());
    QCOMPARE(error->localizedDescription(), error->message);
}

void MicrophoneCaptureTest::failsWithoutInputDevice()
{
    PrivateSoundServer server;
    QVERIFY(server.isRunning());
    PrivateSoundServer::Use use(server.address());
    MicrophoneCapture capture;
    const std::optional<MicrophoneCapture::CaptureError> error = capture.start();
    QVERIFY(error);
    QCOMPARE(error->message, QStringLiteral("找不到可用的麦克风。"));
}

void MicrophoneCaptureTest::permission()
{
    std::optional<bool> granted;
    MicrophoneCapture::ensurePermission([&](bool answer) { granted = answer; });
    // Answered at once, before ensurePermission returns.
    QCOMPARE(granted, std::optional<bool>(true));

    PrivateSoundServer server;
    QVERIFY(server.isRunning());
    PrivateSoundServer::Use use(server.address());
    granted.reset();
    MicrophoneCapture::ensurePermission([&](bool answer) { granted = answer; });
    QCOMPARE(granted, std::optional<bool>(false));
}

DODEDAROV_TEST(MicrophoneCaptureTest)
#include "MicrophoneCaptureTest.moc"
