#include "TestMain.h"

#include "fakes/TestSound.h"
#include "speech/SpeechClassifier.h"
#include "speech/SystemAudioTap.h"
#include "speech/VoiceGate.h"

namespace {

constexpr qsizetype kBuffer = 320;  // 20 ms, what the system capture delivers

// Feeds samples to a classifier the way the engine does and counts its confirmations.
int confirmations(SpeechClassifier &classifier, const QList<float> &samples)
{
    int count = 0;
    classifier.onSpeech = [&count] { ++count; };
    for (qsizetype i = 0; i < samples.size(); i += kBuffer) {
        const PcmBuffer buffer(SystemAudioTap::outputFormat(), samples.mid(i, kBuffer));
        classifier.analyzer().analyze(buffer, classifier.framePosition);
        classifier.framePosition += buffer.frameLength();
    }
    classifier.onSpeech = nullptr;
    return count;
}

} // namespace

class SpeechClassifierTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void onlyForTheCaptureFormat();
    void confirmsSpeechOnly_data();
    void confirmsSpeechOnly();
    void gateWithClassifierLetsSpeechBackIn();

private:
    QList<float> sound(const QString &kind);

    TestSound m_sound;
};

void SpeechClassifierTest::initTestCase()
{
    QVERIFY(m_sound.isValid());
}

QList<float> SpeechClassifierTest::sound(const QString &kind)
{
    if (kind == QLatin1String("english"))
        return TestSound::samples(m_sound.speech(QStringLiteral(
            "Good morning everyone. Today we will talk about the quarterly results, and then "
            "we will discuss the plans for next year.")));
    if (kind == QLatin1String("chinese"))
        return TestSound::samples(m_sound.speech(
            QStringLiteral("大家好，今天我们讨论一下第三季度的结果，然后讨论明年的计划。"),
            QStringLiteral("cmn")));
    if (kind == QLatin1String("silence"))
        return QList<float>(6 * 16000, 0.0f);
    if (kind == QLatin1String("white noise"))
        return TestSound::samples(m_sound.synth({QStringLiteral("whitenoise"), QStringLiteral("vol"), QStringLiteral("0.5")}, 6, kind));
    if (kind == QLatin1String("pink noise"))
        return TestSound::samples(m_sound.synth({QStringLiteral("pinknoise"), QStringLiteral("vol"), QStringLiteral("0.5")}, 6, kind));
    if (kind == QLatin1String("tone"))
        return TestSound::samples(m_sound.synth({QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.5")}, 6, kind));
    if (kind == QLatin1String("chord"))
        return TestSound::samples(m_sound.synth({QStringLiteral("sine"), QStringLiteral("261.6"), QStringLiteral("sine"), QStringLiteral("329.6"),
                                                 QStringLiteral("sine"), QStringLiteral("392"), QStringLiteral("remix"), QStringLiteral("-"),
                                                 QStringLiteral("vol"), QStringLiteral("0.5")}, 6, kind));
    if (kind == QLatin1String("noise pulsing at syllable rate"))
        return TestSound::samples(m_sound.synth({QStringLiteral("whitenoise"), QStringLiteral("vol"), QStringLiteral("0.5"),
                                                 QStringLiteral("tremolo"), QStringLiteral("4"), QStringLiteral("90")}, 6, kind));
    if (kind == QLatin1String("tone pulsing at syllable rate"))
        return TestSound::samples(m_sound.synth({QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("tremolo"), QStringLiteral("4"), QStringLiteral("90")}, 6, kind));
    return {};
}

void SpeechClassifierTest::onlyForTheCaptureFormat()
{
    QVERIFY(SpeechClassifier::create(SystemAudioTap::outputFormat()));
    QVERIFY(!SpeechClassifier::create(AudioFormat{44100, 1, false}));
    QVERIFY(!SpeechClassifier::create(AudioFormat{16000, 2, false}));
}

void SpeechClassifierTest::confirmsSpeechOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("speech");
    QTest::newRow("english speech") << QStringLiteral("english") << true;
    QTest::newRow("chinese speech") << QStringLiteral("chinese") << true;
    QTest::newRow("silence") << QStringLiteral("silence") << false;
    QTest::newRow("white noise") << QStringLiteral("white noise") << false;
    QTest::newRow("pink noise") << QStringLiteral("pink noise") << false;
    QTest::newRow("loud tone") << QStringLiteral("tone") << false;
    QTest::newRow("chord") << QStringLiteral("chord") << false;
    QTest::newRow("noise pulsing at syllable rate") << QStringLiteral("noise pulsing at syllable rate") << false;
    QTest::newRow("tone pulsing at syllable rate") << QStringLiteral("tone pulsing at syllable rate") << false;
}

void SpeechClassifierTest::confirmsSpeechOnly()
{
    QFETCH(QString, kind);
    QFETCH(bool, speech);
    const QList<float> samples = sound(kind);
    QVERIFY(samples.size() > 4 * 16000);

    std::unique_ptr<SpeechClassifier> classifier = SpeechClassifier::create(SystemAudioTap::outputFormat());
    QVERIFY(classifier);
    const int count = confirmations(*classifier, samples);
    QCOMPARE(classifier->framePosition, samples.size());
    // Windows of 1 s every 0.5 s.
    const int windows = int((samples.size() - 16000) / 8000 + 1);
    if (speech)
        QVERIFY2(count >= windows / 2, qPrintable(QStringLiteral("%1 of %2").arg(count).arg(windows)));
    else
        QCOMPARE(count, 0);
}

void SpeechClassifierTest::gateWithClassifierLetsSpeechBackIn()
{
    // Loud music holds the gate open for 10 s and then shuts it; speech afterwards is
    // confirmed, which lets it in with the long pre-roll. Times follow the audio.
    std::unique_ptr<SpeechClassifier> classifier = SpeechClassifier::create(SystemAudioTap::outputFormat());
    QVERIFY(classifier);
    VoiceGate gate;
    gate.classifierAvailable = true;
    classifier->onSpeech = [&] { gate.noteSpeech(double(classifier->framePosition) / 16000.0); };

    QList<float> audio = sound(QStringLiteral("chord"));
    audio += sound(QStringLiteral("chord"));
    const qsizetype musicEnd = audio.size();
    audio += sound(QStringLiteral("english"));

    qsizetype passed = 0;
    std::optional<double> shutAt;
    std::optional<double> reopenedAt;
    qsizetype reopenSize = 0;
    for (qsizetype i = 0; i < audio.size(); i += kBuffer) {
        const QList<float> samples = audio.mid(i, kBuffer);
        const double now = double(i) / 16000.0;
        classifier->analyzer().analyze(PcmBuffer(SystemAudioTap::outputFormat(), samples), classifier->framePosition);
        classifier->framePosition += samples.size();
        const bool wasOpen = gate.isOpen;
        const std::optional<QList<float>> out = gate.process(samples, now);
        if (out)
            passed += out->size();
        if (wasOpen && !gate.isOpen && !shutAt)
            shutAt = now;
        if (!wasOpen && gate.isOpen && shutAt && !reopenedAt) {
            reopenedAt = now;
            reopenSize = out ? out->size() : 0;
        }
    }
    QVERIFY(shutAt);
    QVERIFY2(*shutAt > 10.0 && *shutAt < 10.1, qPrintable(QString::number(*shutAt)));
    QVERIFY(reopenedAt);
    QVERIFY(*reopenedAt > double(musicEnd) / 16000.0);
    QCOMPARE(reopenSize, VoiceGate::longPreroll);
    QVERIFY(gate.trusted);
    QVERIFY(passed > 10 * 16000);
}

DODEDAROV_TEST(SpeechClassifierTest)
#include "SpeechClassifierTest.moc"
