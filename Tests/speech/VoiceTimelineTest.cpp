#include "TestMain.h"

#include "speech/VoiceTimeline.h"

#include <cmath>
#include <limits>
#include <optional>

namespace {
// Feeds one level per 10 ms step from `from` (inclusive) to `to` (exclusive).
void feedRun(VoiceTimeline &t, float level, double from, double to)
{
    for (double time = from; time < to - 1e-9; time += 0.01)
        t.feed(level, time);
}
}

class VoiceTimelineTest final : public QObject {
    Q_OBJECT
private slots:
    void loudness_data();
    void loudness();
    void shortQuietDoesNotClose();
    void stopped_data();
    void stopped();
    void oldIntervalsArePrunedWhenOneCloses();
    void peakDecaysOnlyForward();
};

void VoiceTimelineTest::loudness_data()
{
    QTest::addColumn<float>("peakLevel"); // fed just before, or NaN for none
    QTest::addColumn<float>("level");
    QTest::addColumn<bool>("loud");
    const float none = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("after silence -45 is loud") << none << -45.0f << true;
    QTest::newRow("exactly the floor is quiet") << none << -50.0f << false;
    QTest::newRow("just above the floor is loud") << none << -49.99f << true;
    QTest::newRow("below a -10 peak by more than 20 is quiet") << -10.0f << -35.0f << false;
    QTest::newRow("exactly 20 below the peak is quiet") << -10.0f << -30.0f << false;
    QTest::newRow("within 20 of the peak is loud") << -10.0f << -25.0f << true;
}

void VoiceTimelineTest::loudness()
{
    QFETCH(float, peakLevel);
    QFETCH(float, level);
    QFETCH(bool, loud);
    VoiceTimeline t;
    if (!std::isnan(peakLevel))
        t.peak = peakLevel; // a recent peak, with no earlier feed to decay it from
    t.feed(level, 5.5);
    QCOMPARE(t.openStart.has_value(), loud);
    if (loud)
        QCOMPARE(t.lastLoudAt, 5.5);
}

void VoiceTimelineTest::shortQuietDoesNotClose()
{
    VoiceTimeline t;
    feedRun(t, -20.0f, 1.0, 2.0);
    feedRun(t, -90.0f, 2.0, 2.2); // 0.2 s pause inside speech
    feedRun(t, -20.0f, 2.2, 3.0);
    QVERIFY(t.intervals.empty());
    feedRun(t, -90.0f, 3.0, 3.5);
    QCOMPARE(t.intervals.size(), size_t(1));
    QCOMPARE(t.intervals[0].start, 1.0);
    // The interval ends at the last loud reading, not at the first quiet one.
    QVERIFY(qAbs(t.intervals[0].end - 2.99) < 1e-6);
    QVERIFY(!t.openStart);
}

void VoiceTimelineTest::stopped_data()
{
    QTest::addColumn<double>("before");
    QTest::addColumn<std::optional<double>>("expected");
    // Fixture: a closed interval 10..20, then an open one from 40.
    QTest::newRow("before every interval") << 5.0 << std::optional<double>();
    QTest::newRow("inside a closed interval") << 15.0 << std::optional<double>();
    QTest::newRow("at the end of a closed interval") << 20.0 << std::optional<double>(20.0);
    QTest::newRow("10 s after the end") << 30.0 << std::optional<double>(20.0);
    QTest::newRow("10.01 s after the end") << 30.01 << std::optional<double>();
    QTest::newRow("at the open interval's start") << 40.0 << std::optional<double>();
    QTest::newRow("inside the open interval") << 45.0 << std::optional<double>();
}

void VoiceTimelineTest::stopped()
{
    QFETCH(double, before);
    QFETCH(std::optional<double>, expected);
    VoiceTimeline t;
    t.feed(-20.0f, 10.0);
    t.feed(-20.0f, 20.0);
    t.feed(-90.0f, 20.3);
    QCOMPARE(t.intervals.size(), size_t(1));
    t.feed(-20.0f, 40.0);
    QVERIFY(t.openStart);
    QCOMPARE(t.stopped(before), expected);
}

void VoiceTimelineTest::oldIntervalsArePrunedWhenOneCloses()
{
    VoiceTimeline t;
    t.feed(-20.0f, 0.0);
    t.feed(-90.0f, 1.0);
    t.feed(-20.0f, 50.0);
    t.feed(-90.0f, 51.0);
    QCOMPARE(t.intervals.size(), size_t(2));
    // 130 s later: nothing is pruned until another interval closes.
    t.feed(-20.0f, 130.0);
    QCOMPARE(t.intervals.size(), size_t(2));
    t.feed(-90.0f, 131.0);
    // The interval ending at 0 is 131 s old; the one ending at 50 is 81 s old and stays.
    QCOMPARE(t.intervals.size(), size_t(2));
    QCOMPARE(t.intervals[0].end, 50.0);
    QCOMPARE(t.intervals[1].start, 130.0);
}

void VoiceTimelineTest::peakDecaysOnlyForward()
{
    VoiceTimeline t;
    t.feed(-10.0f, 100.0);
    t.feed(-120.0f, 99.0); // time went backwards: no decay, and no growth either
    QCOMPARE(t.peak, -10.0f);
    t.feed(-120.0f, 101.0); // two seconds later than the previous feed: 12 dB down
    QCOMPARE(t.peak, -22.0f);
}

DODEDAROV_TEST(VoiceTimelineTest)
#include "VoiceTimelineTest.moc"
