#include "TestMain.h"

#include "common/SerialQueue.h"
#include "fakes/NullSink.h"
#include "fakes/PrivateSoundServer.h"
#include "fakes/TestSound.h"
#include "speech/SpeechClassifier.h"
#include "speech/SystemAudioTap.h"
#include "speech/VoiceGate.h"

#include <QMutex>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <memory>
#include <pthread.h>

namespace {

// Collects what a capture delivers, from whatever thread it arrives on.
struct Recording {
    QMutex mutex;
    QList<float> samples;
    QList<qsizetype> sizes; // frames of each buffer
    AudioFormat format;
    QString threadName;
    bool offOwnerThread = true;

    std::function<void(const PcmBuffer &)> handler(QThread *owner)
    {
        return [this, owner](const PcmBuffer &buffer) {
            char name[32] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            QMutexLocker lock(&mutex);
            samples.append(buffer.samples());
            sizes.append(buffer.frameLength());
            format = buffer.format();
            threadName = QString::fromLatin1(name);
            if (QThread::currentThread() == owner)
                offOwnerThread = false;
        };
    }

    // The loud part of what arrived (the played file, without the silence around it).
    QList<float> loud()
    {
        QMutexLocker lock(&mutex);
        qsizetype first = -1;
        qsizetype last = -1;
        for (qsizetype i = 0; i < samples.size(); ++i) {
            if (std::abs(samples[i]) > 0.05f) {
                if (first < 0)
                    first = i;
                last = i;
            }
        }
        return first < 0 ? QList<float>() : samples.mid(first, last - first + 1);
    }

    qsizetype loudCount() { return loud().size(); }
};

QString testSink()
{
    return qEnvironmentVariable("DODEDAROV_TEST_SINK", QStringLiteral("dodedarov_test"));
}

} // namespace

class SystemAudioTapTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void deliversPlayedSoundAsSixteenKilohertzMono();
    void capturedSpeechOpensGateAndIsConfirmed();
    void followsChangeOfDefaultOutput();
    void restartLeavesOneStream();
    void stopWithoutStartIsHarmless();
    void failsWithoutServer();
    void failsWithoutOutputDevice();
    void errorDescription();

private:
    TestSound m_sound;
};

void SystemAudioTapTest::initTestCase()
{
    QVERIFY(m_sound.isValid());
    if (!NullSink::pactl({QStringLiteral("info")}))
        QSKIP("no PulseAudio server: run inside scripts/with-test-env");
}

void SystemAudioTapTest::cleanup()
{
    NullSink::setDefaultSink(testSink());
}

void SystemAudioTapTest::deliversPlayedSoundAsSixteenKilohertzMono()
{
    // A stereo 44.1 kHz file exercises both the rate change and the fold to one channel.
    const QString file = m_sound.sine(440, 1.5, 0.5, 44100, 2);
    QVERIFY(!file.isEmpty());

    // Declared before the tap, so an early return stops the tap before they go away.
    Recording recording;
    SerialQueue owner(QStringLiteral("test.owner"));
    SystemAudioTap tap(&owner);
    tap.onBuffer = recording.handler(owner.thread());
    std::optional<SystemAudioTap::TapError> error;
    owner.sync([&] { error = tap.start(); });
    QVERIFY2(!error, qPrintable(error ? error->localizedDescription() : QString()));

    std::unique_ptr<QProcess> player(TestSound::play(file, testSink()));
    QVERIFY(player->waitForFinished(20000));
    QTRY_VERIFY_WITH_TIMEOUT(recording.loudCount() > 22000, 10000);
    owner.sync([&] { tap.stop(); });

    QCOMPARE(recording.format, SystemAudioTap::outputFormat());
    QVERIFY(recording.offOwnerThread);
    // The OS keeps the first 15 bytes of a thread's name.
    QCOMPARE(recording.threadName, QStringLiteral("com.tessalab.dodedarov.audio-io").left(15));

    const QList<float> loud = recording.loud();
    QVERIFY2(loud.size() > 22000 && loud.size() < 26000, qPrintable(QString::number(loud.size())));
    // The sound comes in pieces of about 100 ms (a late thread may find more waiting): each
    // hand-over wakes the owner, and nothing needs smaller ones.
    QList<qsizetype> sizes = recording.sizes;
    std::sort(sizes.begin(), sizes.end());
    const qsizetype typical = sizes.at(sizes.size() / 2);
    QVERIFY2(typical >= 1200, qPrintable(QString::number(typical)));
    const QList<float> middle = loud.mid(loud.size() / 2 - 4000, 8000);
    // A sine of amplitude 0.5 has an RMS of 0.354: -9.0 dB.
    const float level = VoiceGate::levelDB(middle);
    QVERIFY2(std::abs(level - -9.03f) < 0.5f, qPrintable(QString::number(level)));
    const double pitch = TestSound::frequency(middle, 16000);
    QVERIFY2(std::abs(pitch - 440) < 2, qPrintable(QString::number(pitch)));
}

void SystemAudioTapTest::capturedSpeechOpensGateAndIsConfirmed()
{
    const QString file = m_sound.speech(QStringLiteral("Thank you all for coming, let us begin with the budget."));
    QVERIFY(!file.isEmpty());

    // Declared before the tap, so an early return stops the tap before they go away.
    Recording recording;
    SerialQueue owner(QStringLiteral("test.owner"));
    SystemAudioTap tap(&owner);
    tap.onBuffer = recording.handler(owner.thread());
    std::optional<SystemAudioTap::TapError> error;
    owner.sync([&] { error = tap.start(); });
    QVERIFY(!error);
    std::unique_ptr<QProcess> player(TestSound::play(file, testSink()));
    QVERIFY(player->waitForFinished(30000));
    QTRY_VERIFY_WITH_TIMEOUT(recording.loudCount() > 2 * 16000, 10000);
    owner.sync([&] { tap.stop(); });

    // What was captured goes through the gate and the classifier as the engine feeds them,
    // with the time taken from the audio itself.
    QList<float> captured;
    {
        QMutexLocker lock(&recording.mutex);
        captured = recording.samples;
    }
    std::unique_ptr<SpeechClassifier> classifier = SpeechClassifier::create(SystemAudioTap::outputFormat());
    QVERIFY(classifier);
    VoiceGate gate;
    int confirmations = 0;
    classifier->onSpeech = [&] {
        ++confirmations;
        gate.noteSpeech(double(classifier->framePosition) / 16000.0);
    };
    qsizetype passed = 0;
    for (qsizetype i = 0; i < captured.size(); i += 320) {
        const QList<float> samples = captured.mid(i, 320);
        classifier->analyzer().analyze(PcmBuffer(SystemAudioTap::outputFormat(), samples), classifier->framePosition);
        classifier->framePosition += samples.size();
        if (const std::optional<QList<float>> out = gate.process(samples, double(i) / 16000.0))
            passed += out->size();
    }
    QVERIFY(confirmations >= 2);
    QVERIFY(passed > 2 * 16000);
}

void SystemAudioTapTest::followsChangeOfDefaultOutput()
{
    NullSink other(QStringLiteral("dodedarov_tap_other"));
    QVERIFY(other.isLoaded());
    // Longer than the 0.5 s looked for: a null sink stops when its last player leaves, and the
    // monitor's last, unfinished piece waits for the next sound.
    const QString file = m_sound.sine(660, 0.8, 0.5);

    Recording recording;
    std::atomic<int> changes = 0;
    std::atomic<bool> changeOnOwner = true;
    SerialQueue owner(QStringLiteral("test.owner"));
    SystemAudioTap tap(&owner);
    tap.onBuffer = recording.handler(owner.thread());
    tap.onOutputDeviceChanged = [&] {
        if (!owner.isCurrent())
            changeOnOwner = false;
        ++changes;
    };
    std::optional<SystemAudioTap::TapError> error;
    owner.sync([&] { error = tap.start(); });
    QVERIFY(!error);

    QVERIFY(NullSink::setDefaultSink(other.name()));
    QTRY_COMPARE_WITH_TIMEOUT(changes.load(), 1, 5000);
    QVERIFY(changeOnOwner);

    // The owner's restart records the new default output's monitor.
    owner.sync([&] { error = tap.start(); });
    QVERIFY(!error);
    std::unique_ptr<QProcess> player(TestSound::play(file, other.name()));
    QVERIFY(player->waitForFinished(20000));
    QTRY_VERIFY_WITH_TIMEOUT(recording.loudCount() > 8000, 10000);
    const double pitch = TestSound::frequency(recording.loud(), 16000);
    QVERIFY2(std::abs(pitch - 660) < 3, qPrintable(QString::number(pitch)));

    // A stopped tap hears of no further changes.
    owner.sync([&] { tap.stop(); });
    const int before = changes;
    QVERIFY(NullSink::setDefaultSink(testSink()));
    QVERIFY(NullSink::pactl({QStringLiteral("info")}));
    owner.sync([] {});
    QCOMPARE(changes.load(), before);
}

void SystemAudioTapTest::restartLeavesOneStream()
{
    SerialQueue owner(QStringLiteral("test.owner"));
    const int before = NullSink::sourceOutputCount();
    {
        SystemAudioTap tap(&owner);
        owner.sync([&] {
            QVERIFY(!tap.start());
            QVERIFY(!tap.start());
        });
        QCOMPARE(NullSink::sourceOutputCount(), before + 1);
        owner.sync([&] { tap.stop(); });
        QCOMPARE(NullSink::sourceOutputCount(), before);
        owner.sync([&] { QVERIFY(!tap.start()); });
    }
    // Destruction stops a running capture.
    QCOMPARE(NullSink::sourceOutputCount(), before);
}

void SystemAudioTapTest::stopWithoutStartIsHarmless()
{
    SerialQueue owner(QStringLiteral("test.owner"));
    SystemAudioTap tap(&owner);
    tap.stop();
    tap.stop();
}

void SystemAudioTapTest::failsWithoutServer()
{
    QTemporaryDir dir;
    PrivateSoundServer::Use nowhere(QStringLiteral("unix:") + dir.filePath(QStringLiteral("missing")));
    SerialQueue owner(QStringLiteral("test.owner"));
    SystemAudioTap tap(&owner);
    const std::optional<SystemAudioTap::TapError> error = tap.start();
    QVERIFY(error);
    QCOMPARE(error->step, QStringLiteral("连接声音服务"));
    QVERIFY(error->status != 0);
    tap.stop();
}

void SystemAudioTapTest::failsWithoutOutputDevice()
{
    PrivateSoundServer server;
    QVERIFY(server.isRunning());
    PrivateSoundServer::Use use(server.address());
    SerialQueue owner(QStringLiteral("test.owner"));
    SystemAudioTap tap(&owner);
    const std::optional<SystemAudioTap::TapError> error = tap.start();
    QVERIFY(error);
    QCOMPARE(error->step, QStringLiteral("查找输出设备"));
    QCOMPARE(error->status, 0);
    QCOMPARE(error->localizedDescription(), QStringLiteral("无法采集系统音频（查找输出设备，错误码 0）"));
}

void SystemAudioTapTest::errorDescription()
{
    const SystemAudioTap::TapError error{QStringLiteral("创建录音流"), -3};
    QCOMPARE(error.localizedDescription(), QStringLiteral("无法采集系统音频（创建录音流，错误码 -3）"));
}

DODEDAROV_TEST(SystemAudioTapTest)
#include "SystemAudioTapTest.moc"
