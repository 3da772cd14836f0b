#include "TestMain.h"

#include "speech/VoiceGate.h"

#include <cmath>

namespace {

constexpr float kLoud = 0.1f;     // -20 dB
constexpr float kQuiet = 0.001f;  // -60 dB

// A buffer whose samples count up from `start` by `step`, so where each sample came from can
// be checked after the gate has cut and joined them.
QList<float> ramp(qsizetype count, float start, float step)
{
    QList<float> samples(count);
    for (qsizetype i = 0; i < count; ++i)
        samples[i] = start + step * float(i);
    return samples;
}

QList<float> constant(qsizetype count, float value)
{
    return QList<float>(count, value);
}

} // namespace

class VoiceGateTest final : public QObject {
    Q_OBJECT

private slots:
    void level_data();
    void level();
    void thresholdIsStrict();
    void openGateCloses_data();
    void openGateCloses();
    void firstLoudBufferOpensWithShortPreroll();
    void emptyBufferNeverOpens();
    void reopensAfterHangoverWithTail();
    void musicWithoutSpeechIsShutOutUntilSpeech();
    void prerollStaysBounded();
    void openGatePassesInputUnchanged();
};

void VoiceGateTest::level_data()
{
    QTest::addColumn<QList<float>>("samples");
    QTest::addColumn<float>("expected");
    QTest::newRow("empty") << QList<float>() << -120.0f;
    QTest::newRow("digital silence") << constant(160, 0.0f) << -120.0f;
    QTest::newRow("full scale") << constant(160, 1.0f) << 0.0f;
    QTest::newRow("negative full scale") << constant(160, -1.0f) << 0.0f;
    QTest::newRow("-20 dB") << constant(1600, 0.1f) << -20.0f;
    QTest::newRow("-60 dB") << constant(1600, 0.001f) << -60.0f;
    QList<float> sine(16000);
    for (int i = 0; i < sine.size(); ++i)
        sine[i] = 0.5f * float(std::sin(2 * M_PI * 440 * i / 16000.0));
    QTest::newRow("sine of amplitude 0.5") << sine << -9.0309f;
}

void VoiceGateTest::level()
{
    QFETCH(QList<float>, samples);
    QFETCH(float, expected);
    QVERIFY2(std::abs(VoiceGate::levelDB(samples) - expected) < 0.001f,
             qPrintable(QString::number(VoiceGate::levelDB(samples))));
}

void VoiceGateTest::thresholdIsStrict()
{
    const QList<float> buffer = constant(1600, 0.0031622776f);
    VoiceGate gate;
    // A level exactly at the threshold is not loud.
    gate.loudThresholdDB = VoiceGate::levelDB(buffer);
    QVERIFY(!gate.process(buffer, 0.0));
    QVERIFY(!gate.isOpen);
    QCOMPARE(gate.lastLoud, -std::numeric_limits<double>::infinity());
    // The default threshold is -50 dB, and a hair above it opens.
    VoiceGate fresh;
    QCOMPARE(fresh.loudThresholdDB, -50.0f);
    QVERIFY(fresh.process(constant(1600, 0.0032f), 0.0));
    QVERIFY(fresh.isOpen);
}

void VoiceGateTest::openGateCloses_data()
{
    // The gate opens on a loud buffer at 0 s; speech may be confirmed at `speechAt`; then one
    // buffer comes at `at`. A loud buffer counts as loud before the hangover is checked, so
    // a late loud buffer finds the gate still open.
    QTest::addColumn<bool>("classifier");
    QTest::addColumn<double>("speechAt");  // negative: never
    QTest::addColumn<double>("at");
    QTest::addColumn<bool>("loud");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("trusted");

    QTest::newRow("quiet inside the hangover passes") << true << -1.0 << 1.49 << false << true << true << true;
    QTest::newRow("quiet at exactly the hangover closes") << true << -1.0 << 1.5 << false << false << false << true;
    QTest::newRow("loud after a long gap finds it still open") << true << -1.0 << 3.0 << true << true << true << true;
    QTest::newRow("loud at exactly 10 s without speech passes") << true << -1.0 << 10.0 << true << true << true << true;
    QTest::newRow("loud past 10 s without speech closes, distrusted") << true << -1.0 << 10.01 << true << false << false << false;
    QTest::newRow("confirmed speech restarts the 10 s") << true << 5.0 << 15.0 << true << true << true << true;
    QTest::newRow("10 s after the last speech closes") << true << 5.0 << 15.01 << true << false << false << false;
    QTest::newRow("speech before opening does not count") << true << -0.5 << 10.01 << true << false << false << false;
    QTest::newRow("without classifier loud never closes") << false << -1.0 << 60.0 << true << true << true << true;
    QTest::newRow("without classifier hangover still closes") << false << -1.0 << 60.0 << false << false << false << true;
}

void VoiceGateTest::openGateCloses()
{
    QFETCH(bool, classifier);
    QFETCH(double, speechAt);
    QFETCH(double, at);
    QFETCH(bool, loud);
    QFETCH(bool, passes);
    QFETCH(bool, open);
    QFETCH(bool, trusted);

    VoiceGate gate;
    gate.classifierAvailable = classifier;
    if (speechAt < 0 && speechAt > -1)
        gate.noteSpeech(speechAt);
    QVERIFY(gate.process(constant(1600, kLoud), 0.0));
    QCOMPARE(gate.openedAt, 0.0);
    if (speechAt > 0)
        gate.noteSpeech(speechAt);
    const std::optional<QList<float>> out = gate.process(constant(1600, loud ? kLoud : kQuiet), at);
    QCOMPARE(out.has_value(), passes);
    QCOMPARE(gate.isOpen, open);
    QCOMPARE(gate.trusted, trusted);
}

void VoiceGateTest::firstLoudBufferOpensWithShortPreroll()
{
    VoiceGate gate;
    double t = 0;
    // 1.25 s of quiet: more than the short pre-roll.
    for (int i = 0; i < 20; ++i, t += 0.0625)
        QVERIFY(!gate.process(ramp(1000, -0.002f + i * 1e-5f, 1e-8f), t));
    QCOMPARE(gate.prerollCount(), 20000);
    const QList<float> before = gate.preroll();

    const QList<float> loud = ramp(1000, 0.5f, 1e-5f);
    const std::optional<QList<float>> out = gate.process(loud, t);
    QVERIFY(out);
    QCOMPARE(out->size(), VoiceGate::shortPreroll);
    // The newest 7,000 quiet samples, then the loud buffer itself.
    QCOMPARE(out->mid(0, 7000), before.mid(before.size() - 7000));
    QCOMPARE(out->mid(7000), loud);
    QVERIFY(gate.isOpen);
    QCOMPARE(gate.prerollCount(), 0);

    // Right after a start there may be less than a pre-roll: all of it comes.
    VoiceGate fresh;
    const std::optional<QList<float>> first = fresh.process(loud, 0.0);
    QVERIFY(first);
    QCOMPARE(*first, loud);
}

void VoiceGateTest::emptyBufferNeverOpens()
{
    VoiceGate gate;
    gate.loudThresholdDB = -200;  // even with a threshold below the empty level
    QVERIFY(gate.process({}, 0.0));
    VoiceGate normal;
    QVERIFY(!normal.process({}, 0.0));
    QVERIFY(!normal.isOpen);
}

void VoiceGateTest::reopensAfterHangoverWithTail()
{
    VoiceGate gate;
    QVERIFY(gate.process(constant(1600, kLoud), 0.0));
    QVERIFY(gate.process(constant(1600, kQuiet), 1.0));
    // The hangover ends: the tail heard from now on goes to the pre-roll.
    const QList<float> tail = ramp(1600, 0.0001f, 1e-8f);
    QVERIFY(!gate.process(tail, 1.5));
    QVERIFY(!gate.isOpen);
    QVERIFY(gate.trusted);
    QCOMPARE(gate.preroll(), tail);

    const QList<float> again = constant(1600, kLoud);
    const std::optional<QList<float>> out = gate.process(again, 1.6);
    QVERIFY(out);
    QCOMPARE(out->size(), 3200);
    QCOMPARE(out->mid(0, 1600), tail);
    QCOMPARE(out->mid(1600), again);
}

void VoiceGateTest::musicWithoutSpeechIsShutOutUntilSpeech()
{
    VoiceGate gate;
    gate.classifierAvailable = true;
    double t = 0;
    const QList<float> music = constant(1600, 0.3f);
    for (; t <= 10.0 + 1e-9; t += 0.1)
        QVERIFY(gate.process(music, t));
    // The first buffer more than 10 s after the opening closes it for good.
    QVERIFY(!gate.process(music, t));
    QVERIFY(!gate.isOpen);
    QVERIFY(!gate.trusted);
    for (int i = 0; i < 30; ++i) {
        t += 0.1;
        QVERIFY(!gate.process(constant(1600, 0.9f), t));
    }
    QCOMPARE(gate.prerollCount(), VoiceGate::longPreroll);

    // Confirmed speech lets the next loud buffer in, with the long pre-roll.
    gate.noteSpeech(t);
    QVERIFY(gate.trusted);
    QVERIFY(gate.useLongPreroll);
    QVERIFY(!gate.isOpen);
    t += 0.1;
    const std::optional<QList<float>> out = gate.process(music, t);
    QVERIFY(out);
    QCOMPARE(out->size(), VoiceGate::longPreroll);
    QVERIFY(!gate.useLongPreroll);

    // Confirmation while trusted only moves lastSpeech.
    gate.noteSpeech(t + 0.05);
    QCOMPARE(gate.lastSpeech, t + 0.05);
    QVERIFY(!gate.useLongPreroll);
}

void VoiceGateTest::prerollStaysBounded()
{
    VoiceGate gate;
    QList<float> heard;
    for (int i = 0; i < 100; ++i) {
        const QList<float> quiet = ramp(1000, 0.001f * i / 100.0f, 1e-9f);
        heard += quiet;
        QVERIFY(!gate.process(quiet, i * 0.0625));
        QVERIFY(gate.prerollCount() <= VoiceGate::longPreroll);
    }
    QCOMPARE(gate.preroll(), heard.mid(heard.size() - VoiceGate::longPreroll));

    // One buffer longer than the whole pre-roll keeps only its newest part.
    const QList<float> big = ramp(40000, -0.001f, 1e-8f);
    QVERIFY(!gate.process(big, 7.0));
    QCOMPARE(gate.preroll(), big.mid(40000 - VoiceGate::longPreroll));
}

void VoiceGateTest::openGatePassesInputUnchanged()
{
    VoiceGate gate;
    QVERIFY(gate.process(constant(1600, kLoud), 0.0));
    const QList<float> next = ramp(1600, 0.2f, 1e-6f);
    const std::optional<QList<float>> out = gate.process(next, 0.1);
    QVERIFY(out);
    // The same storage comes back: nothing is copied while the gate is open.
    QCOMPARE(out->constData(), next.constData());
    QCOMPARE(gate.prerollCount(), 0);
}

DODEDAROV_TEST(VoiceGateTest)
#include "VoiceGateTest.moc"
