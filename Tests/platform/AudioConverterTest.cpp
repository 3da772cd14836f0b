#include "TestMain.h"

#include "fakes/TestSound.h"
#include "platform/AudioConverter.h"
#include "speech/VoiceGate.h"

#include <cmath>

namespace {

const AudioFormat kOutput{16000, 1, false};

// Interleaved frames: channel c holds a sine of frequencies[c] (0: silence) at amplitude 0.5.
QList<float> interleavedSines(double rate, const QList<double> &frequencies, qsizetype frames)
{
    const int channels = int(frequencies.size());
    QList<float> out(frames * channels);
    for (qsizetype n = 0; n < frames; ++n) {
        for (int c = 0; c < channels; ++c)
            out[n * channels + c] = float(0.5 * std::sin(2 * M_PI * frequencies[c] * double(n) / rate));
    }
    return out;
}

} // namespace

class AudioConverterTest final : public QObject {
    Q_OBJECT

private slots:
    void converts_data();
    void converts();
    void refusesImpossibleFormats_data();
    void refusesImpossibleFormats();
    void emptyInputGivesNothing();
};

void AudioConverterTest::converts_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QList<double>>("frequencies");
    QTest::addColumn<int>("mix");
    QTest::addColumn<double>("expectedPitch");
    QTest::addColumn<float>("expectedLevel");

    const int average = int(AudioConverter::ChannelMix::average);
    const int first = int(AudioConverter::ChannelMix::firstChannel);
    QTest::newRow("48 kHz stereo, same tone both sides") << 48000.0 << QList<double>{440, 440} << average << 440.0 << -9.03f;
    QTest::newRow("44.1 kHz stereo, tone on one side is halved") << 44100.0 << QList<double>{440, 0} << average << 440.0 << -15.05f;
    QTest::newRow("16 kHz mono passes through") << 16000.0 << QList<double>{1000} << average << 1000.0 << -9.03f;
    QTest::newRow("8 kHz mono is upsampled") << 8000.0 << QList<double>{300} << first << 300.0 << -9.03f;
    QTest::newRow("first channel of four") << 48000.0 << QList<double>{500, 0, 0, 3000} << first << 500.0 << -9.03f;
    QTest::newRow("first channel, silent first") << 48000.0 << QList<double>{0, 700} << first << 0.0 << -120.0f;
}

void AudioConverterTest::converts()
{
    QFETCH(double, rate);
    QFETCH(QList<double>, frequencies);
    QFETCH(int, mix);
    QFETCH(double, expectedPitch);
    QFETCH(float, expectedLevel);

    std::unique_ptr<AudioConverter> converter = AudioConverter::create(
        rate, int(frequencies.size()), AudioConverter::ChannelMix(mix), kOutput);
    QVERIFY(converter);
    // One second in 20 ms pieces: the converter carries its state across buffers.
    const qsizetype piece = qsizetype(rate / 50);
    const QList<float> input = interleavedSines(rate, frequencies, qsizetype(rate));
    QList<float> output;
    for (qsizetype n = 0; n < qsizetype(rate); n += piece) {
        const PcmBuffer buffer = converter->convert(input.constData() + n * frequencies.size(), piece);
        if (buffer.frameLength() == 0)
            continue;
        QCOMPARE(buffer.format(), kOutput);
        QVERIFY(buffer.frameLength() <= qsizetype(16000.0 / rate * piece) + 32);
        output += buffer.samples();
    }
    QVERIFY2(std::abs(output.size() - 16000) <= 64, qPrintable(QString::number(output.size())));
    const QList<float> middle = output.mid(2000, 12000);
    const float level = VoiceGate::levelDB(middle);
    QVERIFY2(std::abs(level - expectedLevel) < 0.2f, qPrintable(QString::number(level)));
    if (expectedPitch > 0) {
        const double pitch = TestSound::frequency(middle, 16000);
        QVERIFY2(std::abs(pitch - expectedPitch) < 1, qPrintable(QString::number(pitch)));
    }
}

void AudioConverterTest::refusesImpossibleFormats_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("channels");
    QTest::newRow("no rate") << 0.0 << 2;
    QTest::newRow("negative rate") << -44100.0 << 2;
    QTest::newRow("fractional rate") << 44100.5 << 2;
    QTest::newRow("no channels") << 48000.0 << 0;
    QTest::newRow("absurd channels") << 48000.0 << 1000;
}

void AudioConverterTest::refusesImpossibleFormats()
{
    QFETCH(double, rate);
    QFETCH(int, channels);
    QVERIFY(!AudioConverter::create(rate, channels, AudioConverter::ChannelMix::average, kOutput));
}

void AudioConverterTest::emptyInputGivesNothing()
{
    std::unique_ptr<AudioConverter> converter =
        AudioConverter::create(48000, 2, AudioConverter::ChannelMix::average, kOutput);
    QVERIFY(converter);
    QCOMPARE(converter->convert(nullptr, 100).frameLength(), 0);
    const float frame[2] = {0.1f, 0.1f};
    QCOMPARE(converter->convert(frame, 0).frameLength(), 0);
}

DODEDAROV_TEST(AudioConverterTest)
#include "AudioConverterTest.moc"
