#include "TestMain.h"

#include "speech/AudioMixer.h"
#include "speech/AudioSource.h"

namespace {

struct Push {
    AudioMixer::Input from;
    qsizetype count;
    float value;
};

} // namespace

Q_DECLARE_METATYPE(QList<Push>)

class AudioMixerTest final : public QObject {
    Q_OBJECT

private slots:
    void push_data();
    void push();
    void keepsOrderAcrossPushes();
    void audioSourceFromRawValue_data();
    void audioSourceFromRawValue();
    void audioSourceCases();
};

void AudioMixerTest::push_data()
{
    using In = AudioMixer::Input;
    QTest::addColumn<QList<Push>>("pushes");
    // What the last push returns: its length and the value of its first and last sample.
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<float>("firstValue");
    QTest::addColumn<float>("lastValue");
    QTest::addColumn<qsizetype>("systemLeft");
    QTest::addColumn<qsizetype>("microphoneLeft");

    QTest::newRow("one stream alone waits")
        << QList<Push>{{In::system, 1000, 0.1f}} << qsizetype(0) << 0.0f << 0.0f << qsizetype(1000) << qsizetype(0);
    QTest::newRow("partner mixes the common length")
        << QList<Push>{{In::system, 1000, 0.1f}, {In::microphone, 600, 0.2f}}
        << qsizetype(600) << 0.3f << 0.3f << qsizetype(400) << qsizetype(0);
    QTest::newRow("microphone first, system catches up")
        << QList<Push>{{In::microphone, 300, 0.2f}, {In::system, 500, 0.1f}}
        << qsizetype(300) << 0.3f << 0.3f << qsizetype(200) << qsizetype(0);
    QTest::newRow("sum clamped above")
        << QList<Push>{{In::system, 10, 0.8f}, {In::microphone, 10, 0.7f}}
        << qsizetype(10) << 1.0f << 1.0f << qsizetype(0) << qsizetype(0);
    QTest::newRow("sum clamped below")
        << QList<Push>{{In::system, 10, -0.9f}, {In::microphone, 10, -0.3f}}
        << qsizetype(10) << -1.0f << -1.0f << qsizetype(0) << qsizetype(0);
    QTest::newRow("exactly maxWait still waits")
        << QList<Push>{{In::system, 4800, 0.5f}} << qsizetype(0) << 0.0f << 0.0f << qsizetype(4800) << qsizetype(0);
    QTest::newRow("one more than maxWait lets it all through unmixed, unclamped")
        << QList<Push>{{In::system, 4800, 1.5f}, {In::system, 1, 1.5f}}
        << qsizetype(4801) << 1.5f << 1.5f << qsizetype(0) << qsizetype(0);
    QTest::newRow("lone microphone released too")
        << QList<Push>{{In::microphone, 5000, -0.25f}} << qsizetype(5000) << -0.25f << -0.25f << qsizetype(0) << qsizetype(0);
    QTest::newRow("mixed part then the lone rest")
        << QList<Push>{{In::microphone, 100, 0.5f}, {In::system, 5000, 0.25f}}
        << qsizetype(5000) << 0.75f << 0.25f << qsizetype(0) << qsizetype(0);
    QTest::newRow("empty push changes nothing")
        << QList<Push>{{In::system, 0, 0.0f}} << qsizetype(0) << 0.0f << 0.0f << qsizetype(0) << qsizetype(0);
}

void AudioMixerTest::push()
{
    QFETCH(QList<Push>, pushes);
    QFETCH(qsizetype, length);
    QFETCH(float, firstValue);
    QFETCH(float, lastValue);
    QFETCH(qsizetype, systemLeft);
    QFETCH(qsizetype, microphoneLeft);

    AudioMixer mixer;
    QList<float> result;
    for (const Push &push : pushes)
        result = mixer.push(QList<float>(push.count, push.value), push.from);

    QCOMPARE(result.size(), length);
    if (length > 0) {
        QCOMPARE(result.first(), firstValue);
        QCOMPARE(result.last(), lastValue);
    }
    QCOMPARE(mixer.system.size(), systemLeft);
    QCOMPARE(mixer.microphone.size(), microphoneLeft);
}

void AudioMixerTest::keepsOrderAcrossPushes()
{
    // Samples pair by position: the n-th system sample with the n-th microphone sample.
    AudioMixer mixer;
    QList<float> system;
    QList<float> microphone;
    for (int i = 0; i < 300; ++i) {
        system.append(i / 1000.0f);
        microphone.append(i / 10000.0f);
    }
    QList<float> out = mixer.push(system.mid(0, 200), AudioMixer::Input::system);
    out += mixer.push(microphone.mid(0, 50), AudioMixer::Input::microphone);
    out += mixer.push(microphone.mid(50, 250), AudioMixer::Input::microphone);
    out += mixer.push(system.mid(200), AudioMixer::Input::system);
    QCOMPARE(out.size(), 300);
    for (int i = 0; i < 300; ++i)
        QCOMPARE(out[i], system[i] + microphone[i]);
}

void AudioMixerTest::audioSourceFromRawValue_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<std::optional<AudioSource>>("expected");
    QTest::newRow("system") << QStringLiteral("system") << std::optional(AudioSource::system);
    QTest::newRow("microphone") << QStringLiteral("microphone") << std::optional(AudioSource::microphone);
    QTest::newRow("both") << QStringLiteral("both") << std::optional(AudioSource::both);
    QTest::newRow("capital B") << QStringLiteral("Both") << std::optional<AudioSource>();
    QTest::newRow("padded") << QStringLiteral(" both") << std::optional<AudioSource>();
    QTest::newRow("empty") << QString() << std::optional<AudioSource>();
    QTest::newRow("other") << QStringLiteral("mic") << std::optional<AudioSource>();
}

void AudioMixerTest::audioSourceFromRawValue()
{
    QFETCH(QString, raw);
    QFETCH(std::optional<AudioSource>, expected);
    QCOMPARE(audioSourceFromString(raw), expected);
}

void AudioMixerTest::audioSourceCases()
{
    QCOMPARE(allAudioSources.size(), size_t(3));
    QCOMPARE(allAudioSources[0], AudioSource::system);
    QCOMPARE(allAudioSources[1], AudioSource::microphone);
    QCOMPARE(allAudioSources[2], AudioSource::both);
    for (AudioSource source : allAudioSources)
        QCOMPARE(audioSourceFromString(audioSourceToString(source)), std::optional(source));
}

DODEDAROV_TEST(AudioMixerTest)
#include "AudioMixerTest.moc"
