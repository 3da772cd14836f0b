#include "TestMain.h"

#include "intelligence/SessionStats.h"

#include <QLocale>

#include <clocale>
#include <cmath>
#include <limits>

namespace {

SessionStats measured(int n, double total, double translate, double recognition)
{
    SessionStats stats;
    for (int i = 0; i < n; ++i)
        stats.addLatency(total, translate, recognition);
    return stats;
}

// 25 measured units growing slower, then 5 whose recognition delay was not measured.
SessionStats mixedMeeting()
{
    SessionStats stats;
    for (int i = 1; i <= 25; ++i)
        stats.addLatency(i * 0.2, i * 0.1, 0.2);
    for (int i = 0; i < 5; ++i)
        stats.addLatency(1.0, 0.4, std::nullopt);
    return stats;
}

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinite = std::numeric_limits<double>::infinity();

}

Q_DECLARE_METATYPE(std::optional<double>)
Q_DECLARE_METATYPE(SessionStats::Sample)
Q_DECLARE_METATYPE(SessionStats)

class SessionStatsTest final : public QObject {
    Q_OBJECT

private slots:
    void addLatencyClamps_data()
    {
        QTest::addColumn<double>("total");
        QTest::addColumn<double>("translate");
        QTest::addColumn<std::optional<double>>("recognition");
        QTest::addColumn<SessionStats::Sample>("sample");
        QTest::addColumn<QList<double>>("endToEnd");
        using S = SessionStats::Sample;
        QTest::newRow("translate longer than total") << 2.0 << 3.0 << std::optional<double>() << S{1, {}, 0.0, 2.0}
                                                     << QList<double>{};
        QTest::newRow("recognition of 5.0 counts") << 2.0 << 1.5 << std::optional(5.0) << S{1, 5.0, 0.5, 1.5}
                                                   << QList<double>{7.0};
        QTest::newRow("recognition of 5.01 dropped") << 2.0 << 1.5 << std::optional(5.01) << S{1, {}, 0.5, 1.5}
                                                     << QList<double>{};
        QTest::newRow("recognition of -0.1 dropped") << 2.0 << 1.5 << std::optional(-0.1) << S{1, {}, 0.5, 1.5}
                                                     << QList<double>{};
        QTest::newRow("negative total") << -1.0 << 0.5 << std::optional(0.0) << S{1, 0.0, 0.0, 0.0}
                                        << QList<double>{0.0};
        QTest::newRow("negative translate") << 1.0 << -0.5 << std::optional<double>() << S{1, {}, 1.0, 0.0}
                                            << QList<double>{};
        QTest::newRow("not a number counts as 0") << notANumber << infinite << std::optional(notANumber) << S{1, 0.0, 0.0, 0.0}
                                                  << QList<double>{0.0};
    }

    void addLatencyClamps()
    {
        QFETCH(double, total);
        QFETCH(double, translate);
        QFETCH(std::optional<double>, recognition);
        QFETCH(SessionStats::Sample, sample);
        QFETCH(QList<double>, endToEnd);
        SessionStats stats;
        stats.addLatency(total, translate, recognition);
        QCOMPARE(stats.samples, QList<SessionStats::Sample>{sample});
        QCOMPARE(stats.latencies, QList<double>{sample.segmentation + sample.translate});
        QCOMPARE(stats.translateLatencies, QList<double>{sample.translate});
        QCOMPARE(stats.endToEnd, endToEnd);
        QCOMPARE(stats.recognitions.size(), endToEnd.size());
        QCOMPARE(stats.parts.size(), endToEnd.size());
        QVERIFY(!stats.latencySummary()->contains(QStringLiteral("nan")));
    }

    void samplesKeepTheNewest300AndCountOn()
    {
        SessionStats stats;
        for (int i = 0; i < 301; ++i)
            stats.addLatency(1.0, 0.5, std::nullopt);
        QCOMPARE(stats.samples.size(), 300);
        QCOMPARE(stats.samples.first().id, 2);
        QCOMPARE(stats.samples.last().id, 301);
        QCOMPARE(stats.sampleCount, 301);
    }

    void seriesKeepTheNewest2000InStep()
    {
        SessionStats stats;
        for (int i = 0; i < 2001; ++i)
            stats.addLatency(i, i / 2.0, 1.0);
        QCOMPARE(stats.latencies.size(), 2000);
        QCOMPARE(stats.translateLatencies.size(), 2000);
        QCOMPARE(stats.endToEnd.size(), 2000);
        QCOMPARE(stats.recognitions.size(), 2000);
        QCOMPARE(stats.parts.size(), 2000);
        QCOMPARE(stats.latencies.first(), 1.0);
        QCOMPARE(stats.translateLatencies.first(), 0.5);
        QCOMPARE(stats.endToEnd.first(), 2.0);
        QCOMPARE(stats.parts.first(), (SessionStats::Parts{1.0, 0.5, 0.5}));
    }

    void averages()
    {
        const SessionStats empty;
        QCOMPARE(empty.averageEndToEnd(), std::nullopt);
        QCOMPARE(empty.averageTranslate(), std::nullopt);
        QVERIFY(!empty.averageParts().has_value());

        SessionStats stats;
        stats.addLatency(2.0, 1.0, std::nullopt);
        QCOMPARE(stats.averageEndToEnd(), std::nullopt);
        QCOMPARE(stats.averageParts(), (SessionStats::Parts{0.0, 1.0, 1.0}));
        stats.addLatency(4.0, 1.0, 1.0);
        QCOMPARE(stats.averageEndToEnd(), std::optional(5.0));
        QCOMPARE(stats.averageTranslate(), std::optional(1.0));
        QCOMPARE(stats.averageParts(), (SessionStats::Parts{1.0, 2.0, 1.0}));
    }

    void p90EndToEnd_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<std::optional<double>>("expected");
        // Values 1, 2, ... count, in reverse order.
        QTest::newRow("4 values") << 4 << std::optional<double>();
        QTest::newRow("5 values: the largest") << 5 << std::optional(5.0);
        QTest::newRow("10 values: the 10th") << 10 << std::optional(10.0);
        QTest::newRow("20 values: the 19th") << 20 << std::optional(19.0);
    }

    void p90EndToEnd()
    {
        QFETCH(int, count);
        QFETCH(std::optional<double>, expected);
        SessionStats stats;
        for (int i = count; i >= 1; --i)
            stats.addLatency(i, 0, 0.0);
        QCOMPARE(stats.p90EndToEnd(), expected);
    }

    void spread_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QList<double>{} << "平均 0.0 秒，最慢 0.0 秒";
        QTest::newRow("9 values, no bound")
            << QList<double>{1, 1, 1, 1, 1, 1, 1, 1, 1.9} << "平均 1.1 秒，最慢 1.9 秒";
        QTest::newRow("10 values, a bound")
            << QList<double>{0.4, 0.6, 0.8, 1.0, 1.0, 1.2, 1.2, 1.4, 2.0, 3.4}
            << "平均 1.3 秒，九成在 3.4 秒 内，最慢 3.4 秒";
        QTest::newRow("20 values")
            << QList<double>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2.0, 3.4}
            << "平均 1.2 秒，九成在 2.0 秒 内，最慢 3.4 秒";
    }

    void spread()
    {
        QFETCH(QList<double>, values);
        QFETCH(QString, expected);
        QCOMPARE(SessionStats::spread(values), expected);
    }

    void latencySummary_data()
    {
        QTest::addColumn<SessionStats>("stats");
        QTest::addColumn<QString>("expected");
        QTest::newRow("25 measured, 5 not: the 2 slowest")
            << mixedMeeting()
            << "讲话停下到出字：平均 2.8 秒，九成在 4.8 秒 内，最慢 5.2 秒（量到 25 / 30 句）\n"
               "其中 识别 0.2 秒 · 断句和排队 1.3 秒 · 翻译 1.3 秒\n"
               "最慢的 2 句：识别 0.2 秒 · 断句和排队 2.5 秒 · 翻译 2.5 秒\n"
               "全部 30 句：断句和排队 1.2 秒 · 翻译 1.1 秒";
        QTest::newRow("9 measured: no slowest line")
            << measured(9, 1.0, 0.5, 0.5)
            << "讲话停下到出字：平均 1.5 秒，最慢 1.5 秒（量到 9 / 9 句）\n"
               "其中 识别 0.5 秒 · 断句和排队 0.5 秒 · 翻译 0.5 秒\n"
               "全部 9 句：断句和排队 0.5 秒 · 翻译 0.5 秒";
        SessionStats unmeasured;
        unmeasured.addLatency(1.0, 0.3, std::nullopt);
        unmeasured.addLatency(2.0, 0.5, 9.0);
        QTest::newRow("nothing measured")
            << unmeasured
            << "识别结果到出字：平均 1.5 秒，最慢 2.0 秒，共 2 句（还没量到讲话停顿）\n"
               "其中 断句和排队 1.1 秒 · 翻译 0.4 秒";
    }

    void latencySummary()
    {
        QFETCH(SessionStats, stats);
        QFETCH(QString, expected);
        QCOMPARE(stats.latencySummary(), std::optional(expected));
        QCOMPARE(SessionStats().latencySummary(), std::nullopt);
    }

    // The slowest tenth, rounded down: k = n / 10 of the measured lines, from 10 lines on.
    void slowestLines_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("line");
        QTest::newRow("9: none") << 9 << QString();
        QTest::newRow("10: the slowest 1") << 10 << "最慢的 1 句：识别 0.2 秒 · 断句和排队 6.0 秒 · 翻译 4.0 秒";
        QTest::newRow("19: still 1") << 19 << "最慢的 1 句：识别 0.2 秒 · 断句和排队 11.4 秒 · 翻译 7.6 秒";
        QTest::newRow("20: the slowest 2") << 20 << "最慢的 2 句：识别 0.2 秒 · 断句和排队 11.7 秒 · 翻译 7.8 秒";
    }

    void slowestLines()
    {
        QFETCH(int, count);
        QFETCH(QString, line);
        // Line i: i seconds from the recognition result, 0.4 i of them translation, after 0.2 s
        // of recognition.
        // Added slowest first, so a cut that keeps the first lines instead would show too.
        SessionStats stats;
        for (int i = count; i >= 1; --i)
            stats.addLatency(i * 1.0, i * 0.4, 0.2);
        const std::optional<QString> summary = stats.latencySummary();
        QVERIFY(summary);
        QString found;
        for (const QString &part : summary->split(u'\n')) {
            if (part.startsWith(QStringLiteral("最慢的")))
                found = part;
        }
        QCOMPARE(found, line);
    }

    void usageSummary_data()
    {
        QTest::addColumn<int>("prompt");
        QTest::addColumn<int>("completion");
        QTest::addColumn<int>("cached");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no tokens") << 0 << 0 << 0 << "识别 2.5 分钟 · 翻译 7 次请求";
        QTest::newRow("9999 plain") << 9999 << 12 << 0
                                    << "识别 2.5 分钟 · 翻译 7 次请求，输入 9999（缓存命中 0）/ 输出 12 词元";
        QTest::newRow("10000 in 万") << 10000 << 12345 << 5000
                                     << "识别 2.5 分钟 · 翻译 7 次请求，输入 1.0 万（缓存命中 5000）/ 输出 1.2 万 词元";
        QTest::newRow("only output tokens") << 0 << 1 << 0
                                            << "识别 2.5 分钟 · 翻译 7 次请求，输入 0（缓存命中 0）/ 输出 1 词元";
    }

    void usageSummary()
    {
        QFETCH(int, prompt);
        QFETCH(int, completion);
        QFETCH(int, cached);
        QFETCH(QString, expected);
        SessionStats stats;
        stats.requests = 7;
        stats.promptTokens = prompt;
        stats.completionTokens = completion;
        stats.cachedTokens = cached;
        QCOMPARE(stats.usageSummary(150.0), expected);
    }

    void usageSummaryOfNoNumber()
    {
        QCOMPARE(SessionStats().usageSummary(notANumber), QStringLiteral("识别 0.0 分钟 · 翻译 0 次请求"));
    }

    void extrasSummary_data()
    {
        QTest::addColumn<int>("merges");
        QTest::addColumn<int>("rechecks");
        QTest::addColumn<int>("failovers");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("none") << 0 << 0 << 0 << std::optional<QString>();
        QTest::newRow("only fail-overs") << 0 << 0 << 1 << std::optional<QString>("改用备用翻译服务 1 次");
        QTest::newRow("all three")
            << 2 << 3 << 1 << std::optional<QString>("半句合成整句重译 2 次 · 数字对不上重译 3 句 · 改用备用翻译服务 1 次");
    }

    void extrasSummary()
    {
        QFETCH(int, merges);
        QFETCH(int, rechecks);
        QFETCH(int, failovers);
        QFETCH(std::optional<QString>, expected);
        SessionStats stats;
        stats.sentenceMerges = merges;
        stats.numberRechecks = rechecks;
        stats.failovers = failovers;
        QCOMPARE(stats.extrasSummary(), expected);
    }

    void textsUseAPointWhateverTheLocale()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const char *numeric = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        const QString text = measured(1, 1.5, 0.25, 0.5).latencySummary().value_or(QString());
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(before);
        if (!numeric)
            qInfo("no de_DE locale installed; only Qt's default locale was German");
        QVERIFY2(text.startsWith(QStringLiteral("讲话停下到出字：平均 2.0 秒")), qPrintable(text));
        QVERIFY(!text.contains(u','));
    }
};

DODEDAROV_TEST(SessionStatsTest)
#include "SessionStatsTest.moc"
